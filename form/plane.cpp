#include "form/plane.h"

#include "model/errors.h"
#include "model/numbers.h"
#include "model/random.h"
#include "params/dots.h"

#include <cmath>
#include <string>

namespace form {

namespace {

using Failure = plots::DotResult::Failure;

// A plane value, or the floating-point error of a mapping that overflowed:
// any overflow on the way leaves an infinity or NaN behind.
double checked(double value)
{
    if (!std::isfinite(value))
        model::throwFloatingPoint("Floating-point overflow in the parameter plane: "
                                  "the range values are too large.");
    return value;
}

} // namespace

Plane ReadPlane(Window& window)
{
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
    return checked(plots::MapOffset(low, high, offset));
}

void ThrowBadIndex(int index)
{
    model::throwIndexOutOfRange("Index out of range: parameter index " + std::to_string(index)
                                + " does not exist (use 0..5).");
}

PlaneColumns::PlaneColumns(Window& window, plots::DotFunction dots, const Plane& plane,
                           const plots::DotInputs& fixed, int orbitsPerDot,
                           bool readsStartPoints)
    : DotColumns(window, dots,
                 plots::MakeRaster(model::kCanvasSize, window.state().stepSize, plane.left,
                                   plane.right, plane.bottom, plane.top),
                 orbitsPerDot),
      fixed_(fixed), readsStartPoints_(readsStartPoints)
{
}

// The plain loop writes the column's horizontal value, then checks the
// vertical index at the column's first dot: nothing happens in between.
PlaneColumns::Inputs PlaneColumns::begin(int c)
{
    if (!IsParameterIndex(fixed_.horizontalIndex))
        ThrowBadIndex(fixed_.horizontalIndex);
    st_.w[fixed_.horizontalIndex] = checked(raster_.columnValue(c));
    if (!IsParameterIndex(fixed_.verticalIndex))
        ThrowBadIndex(fixed_.verticalIndex);
    Inputs in{fixed_, st_.stepSize};
    in.dots.w = st_.w;
    in.dots.iterations = st_.iterations;
    in.dots.accuracy = st_.accuracy;
    if (readsStartPoints_) {
        in.dots.reshuffle = window_.isChecked(Control::chkReshuffle);
        if (in.dots.reshuffle)
            in.dots.random = model::Random().state(); // without reshuffle nothing is drawn
        in.dots.countFixpoints = window_.isChecked(Control::chkFp);
    }
    return in;
}

// After a whole column, w holds its last dot's vertical value and the next
// column writes its horizontal one; a reshuffled column has drawn the start
// points of all its dots. A column that stops with an error may be predicted
// wrongly: nothing comes after it.
bool PlaneColumns::predict(const Inputs& in, int c, int, Inputs& next) const
{
    const plots::Raster raster = rasterOf(in);
    const double v = raster.rowValue(raster.rows() - 1), h = raster_.columnValue(c + 1);
    if (!std::isfinite(v) || !std::isfinite(h))
        return false;
    next = in;
    next.dots.w[fixed_.verticalIndex] = v;
    next.dots.w[fixed_.horizontalIndex] = h;
    if (in.dots.reshuffle)
        next.dots.random =
            params::AfterStartPoints(in.dots.random, raster.rows() * next.dots.startValues);
    return true;
}

// Drawing order, bottom to top. The generator ends where the plain loop
// leaves it: after the start points of every dot visited, of a failed dot
// those it used.
void PlaneColumns::commit(int slot, const Inputs& in, int c)
{
    const plots::Raster raster = rasterOf(in);
    const plots::DotResult* dots = results(slot);
    const uint64_t n = static_cast<uint64_t>(in.dots.startValues);
    auto drawnUpTo = [&](uint64_t points) {
        if (in.dots.reshuffle)
            model::Random().restore(params::AfterStartPoints(in.dots.random, points));
    };
    for (int k = 0; k < raster.rows(); ++k) {
        const plots::DotResult& dot = dots[k];
        if (dot.failure == Failure::Mapping)
            drawnUpTo(k * n); // checked() below raises the mapping error
        st_.w[fixed_.verticalIndex] = checked(raster.rowValue(k));
        if (dot.hasFixpoint)
            st_.fixpointColor = dot.fpColor;
        if (dot.failure != Failure::None) {
            drawnUpTo(k * n + dot.cls);
            if (dot.failure == Failure::TooManyFixpoints)
                params::ThrowTooManyFixpoints();
            model::ThrowOrbitFailed();
        }
        window_.canvas().setDot(raster.pixelColumn(c), raster.pixelRow(k),
                                model::PeriodColor(st_, static_cast<int16_t>(dot.cls)));
    }
    drawnUpTo(raster.rows() * n);
}

} // namespace form
