#include "ui/side_tools.h"

#include "model/network.h"
#include "plots/canvas.h"
#include "plots/bitmap.h"

#include <cmath>
#include <string>

namespace ui {

void picColorPicker_Paint(model::Window& window, model::Surface& picker)
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

void picColorPicker_MouseDown(model::Window& window, model::Surface& picker, int /*button*/,
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

void cmdLegend_Click(model::Window& window)
{
    using model::Control;
    model::Surface& canvas = window.canvas();
    canvas.setForeColor(window.state().penColor);
    canvas.setPrintY(20);
    auto axis = [&](int k) {
        return "p(" + window.text(model::txtIdx(k)) + ") =" + window.text(model::txtP(2 * k))
               + " .. " + window.text(model::txtP(2 * k + 1));
    };
    const std::string lines[] = {
        "w11 = " + window.text(model::txtW(0)), "w12 = " + window.text(model::txtW(1)),
        "w21 = " + window.text(model::txtW(2)), "w22 = " + window.text(model::txtW(3)),
        "b1 = " + window.text(model::txtW(4)),  "b2 = " + window.text(model::txtW(5)),
        axis(0),                                axis(1),
    };
    for (const std::string& line : lines) {
        canvas.setPrintX(700);
        canvas.print(line);
    }
}

void cmdClear_Click(model::Window& window)
{
    window.canvas().clear();
}

void cmdSave_Click(model::Window& window)
{
    const std::vector<uint8_t> bytes =
        plots::EncodeBitmap(window.canvas(), plots::kCanvasSize, plots::kCanvasSize);
    plots::WriteFileReplacing(window.text(model::Control::txtFileName), bytes);
}

} // namespace ui
