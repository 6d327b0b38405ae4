#include "form/canvas_mouse.h"

#include "form/trajectory.h"
#include "model/numbers.h"

#include <cmath>

namespace form {

namespace {

double readRange(Window& window, Control c) { return model::ReadNumber(window.text(c)); }

// low + (high - low) * t, in this order: the difference, times t, added to
// the low end. Ranges of extreme size overflow: floating-point error.
double along(double low, double high, double t)
{
    const double value = low + (high - low) * t;
    if (!std::isfinite(value))
        model::throwFloatingPoint("Floating-point overflow in the parameter plane: "
                                  "the range values are too large.");
    return value;
}

void checkPointer(double u, double v)
{
    if (!std::isfinite(u) || !std::isfinite(v))
        model::throwFloatingPoint("Floating-point error: the pointer position is not a number.");
}

} // namespace

void PickParameters(Window& window, double u, double v)
{
    const double right = readRange(window, Control::txtP1);
    const double left = readRange(window, Control::txtP0);
    const Control horizontal =
        txtW(model::RoundHalfEven16(model::ReadNumber(window.text(Control::txtIdx0))));
    window.setText(horizontal, model::DecimalText(along(left, right, u)));

    const double top = readRange(window, Control::txtP3);
    const double bottom = readRange(window, Control::txtP2);
    const Control vertical =
        txtW(model::RoundHalfEven16(model::ReadNumber(window.text(Control::txtIdx1))));
    window.setText(vertical, model::DecimalText(along(bottom, top, v)));
}

void picBasins_MouseDown(Window& window, int16_t button, int16_t /*shift*/, float X, float Y)
{
    const double u = static_cast<double>(X) / model::kLastCanvasIndex;
    const double v = (model::kLastCanvasIndex - static_cast<double>(Y)) / model::kLastCanvasIndex;
    if (button == 2) {
        checkPointer(u, v);
        PickParameters(window, u, v);
        return;
    }
    TraceTrajectory(window, u, v);
}

void picBasins_MouseMove(Window& window, int16_t /*button*/, int16_t /*shift*/, float X,
                         float Y)
{
    const double u = static_cast<double>(X) / model::kLastCanvasIndex;
    const double v = (model::kLastCanvasIndex - static_cast<double>(Y)) / model::kLastCanvasIndex;
    checkPointer(u, v);
    window.setText(Control::lblx, window.formatCoordinate(2.0 * u - 1.0));
    window.setText(Control::lbly, window.formatCoordinate(2.0 * v - 1.0));

    const double right = readRange(window, Control::txtP1);
    const double left = readRange(window, Control::txtP0);
    const double horizontal = along(left, right, u);
    const double top = readRange(window, Control::txtP3);
    const double bottom = readRange(window, Control::txtP2);
    const double vertical = along(bottom, top, v);
    window.setText(Control::lblpx, window.formatCoordinate(horizontal));
    window.setText(Control::lblpy, window.formatCoordinate(vertical));
}

} // namespace form
