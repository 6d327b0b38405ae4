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

void SetColumnParameter(const Plane& plane, model::Weights& w, int columnOffset)
{
    if (!IsParameterIndex(plane.horizontalIndex))
        ThrowBadIndex(plane.horizontalIndex);
    w[plane.horizontalIndex] = PlaneValue(plane.left, plane.right, columnOffset);
}

int ColumnRowValues(const Plane& plane, int16_t h, int16_t rowStep, double* values,
                    std::exception_ptr& stop)
{
    int n = 0;
    for (int16_t j = 0; j <= 799; j = static_cast<int16_t>(j + rowStep)) {
        if (!IsParameterIndex(plane.verticalIndex))
            ThrowBadIndex(plane.verticalIndex); // nothing of the column is drawn yet
        try {
            values[n] = PlaneValue(plane.bottom, plane.top, j + h);
        } catch (const model::RuntimeError&) {
            stop = std::current_exception();
            break;
        }
        ++n;
    }
    return n;
}

void ThrowBadIndex(int index)
{
    model::throwIndexOutOfRange("Index out of range: parameter index " + std::to_string(index)
                                + " does not exist (use 0..5).");
}

} // namespace params
