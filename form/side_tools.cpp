#include "form/side_tools.h"

#include "model/network.h"
#include "plots/bitmap.h"
#include "plots/canvas.h"

#include <cmath>
#include <string>

namespace form {

void picColorPicker_Paint(Window& window, plots::Surface& picker)
{
    const model::State& st = window.state();
    picker.setDotWidth(kPickerDotWidth);
    for (int16_t i = 0; i <= 9; ++i)
        picker.setDot(20, 30 * i + 20, model::PeriodColor(st, i));
    for (int16_t i = 10; i <= model::kWindowPeriodCap; ++i)
        picker.setDot(55, 30 * (i - 10) + 20, model::PeriodColor(st, i));
    picker.setDot(kCurrentColorX, kCurrentColorY, st.penColor);
    // The dot width stays 25, so the press handler draws a dot of the same size.
}

void picColorPicker_MouseDown(Window& window, plots::Surface& picker, int /*button*/,
                              int /*shift*/, float x, float y)
{
    // The pixel that contains the pointer position; a position far outside
    // (or not a number) reads the background like any pixel off the strip.
    auto pixelIndex = [](float v) {
        return std::isfinite(v) && std::fabs(v) < 1e6f ? static_cast<int>(std::floor(v)) : -1;
    };
    const int column = pixelIndex(x);
    const int row = pixelIndex(y);
    model::State& st = window.state();
    st.penColor = picker.pixel(column, row);
    picker.setDot(kCurrentColorX, kCurrentColorY, st.penColor);
}

void cmdLegend_Click(Window& window)
{
    plots::Surface& canvas = window.canvas();
    canvas.setForeColor(window.state().penColor);
    canvas.setPrintY(20);
    auto axis = [&](int k) {
        return "p(" + window.text(txtIdx(k)) + ") =" + window.text(txtP(2 * k))
               + " .. " + window.text(txtP(2 * k + 1));
    };
    const std::string lines[] = {
        "w11 = " + window.text(txtW(0)), "w12 = " + window.text(txtW(1)),
        "w21 = " + window.text(txtW(2)), "w22 = " + window.text(txtW(3)),
        "b1 = " + window.text(txtW(4)),  "b2 = " + window.text(txtW(5)),
        axis(0),                         axis(1),
    };
    for (const std::string& line : lines) {
        canvas.setPrintX(700);
        canvas.print(line);
    }
}

void cmdClear_Click(Window& window)
{
    window.canvas().clear();
}

void cmdSave_Click(Window& window)
{
    const std::vector<uint8_t> bytes =
        plots::EncodeBitmap(window.canvas(), plots::kCanvasSize, plots::kCanvasSize);
    plots::WriteFileReplacing(window.text(Control::txtFileName), bytes);
}

} // namespace form
