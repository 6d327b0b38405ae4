#include "params/plane.h"

#include "model/errors.h"
#include "model/numbers.h"

#include <cmath>
#include <string>

namespace params {

Plane ReadPlane(model::Window& window)
{
    using model::Control;
    using model::ReadNumber;
    Plane p;
    p.left = ReadNumber(window.text(Control::txtP0));
    p.right = ReadNumber(window.text(Control::txtP1));
    p.bottom = ReadNumber(window.text(Control::txtP2));
    p.top = ReadNumber(window.text(Control::txtP3));
    p.horizontalIndex = model::RoundHalfEven16(ReadNumber(window.text(Control::txtIdx0)));
    p.verticalIndex = model::RoundHalfEven16(ReadNumber(window.text(Control::txtIdx1)));
    return p;
}

double PlaneValue(double low, double high, int offset)
{
    const double v = ((high - low) * static_cast<double>(offset)) / 799.0 + low;
    // Any overflow on the way leaves an infinity or NaN behind.
    if (!std::isfinite(v))
        model::throwFloatingPoint("Floating-point overflow in the parameter plane: "
                                  "the range values are too large.");
    return v;
}

void ThrowBadIndex(int index)
{
    model::throwIndexOutOfRange("Index out of range: parameter index " + std::to_string(index)
                                + " does not exist (use 0..5).");
}

} // namespace params
