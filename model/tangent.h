// The tangent step of the largest Lyapunov exponent, written once for one
// orbit and for vector lanes.
//
// The tangent vector v is carried through the Jacobian of each step,
// diag(1 - x'^2, 1 - y'^2) * W at the new point (x', y'), and then scaled by
// a power of two, 2^-e, that brings its larger component into [1, 4): an
// exact scaling, so the growth of the vector over all steps is kept whole as
// the vector's length times 2^E, E the sum of the exponents e. The exponent
// then needs one logarithm per orbit instead of one per step.
#pragma once

#include "model/exp.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace model {

namespace detail {

inline int64_t Select(bool mask, int64_t a, int64_t b) { return mask ? a : b; }

} // namespace detail

namespace kernel {

// One tangent step at the new point (x, y) under the weights w0..w3 (w11 w12
// w21 w22). bad turns NaN when the carried vector turns infinite or NaN (a
// floating-point error, as the map's); a vector mapped to exactly 0 stays 0.
// D and I as for ExpForTransfer: double and int64_t, or vectors of each.
template <class D, class I>
inline void CarryTangent(const D& w0, const D& w1, const D& w2, const D& w3, const D& x,
                         const D& y, D& vx, D& vy, I& exponent, D& bad)
{
    using detail::Select;
    constexpr int64_t kMagnitude = INT64_MAX;           // all bits but the sign
    constexpr int64_t kSmallestNormal = int64_t{1} << 52; // the bits of DBL_MIN
    const D gx = 1.0 - x * x;
    const D gy = 1.0 - y * y;
    D ux = gx * (w0 * vx + w1 * vy);
    D uy = gy * (w2 * vx + w3 * vy);
    bad = bad + ((ux - ux) + (uy - uy)); // a difference of an infinity or NaN is NaN

    // A subnormal vector first moves up by 2^64, exactly, so that its larger
    // component has an exponent field.
    I bx = std::bit_cast<I>(ux) & kMagnitude, by = std::bit_cast<I>(uy) & kMagnitude;
    const auto tiny = Select(bx > by, bx, by) < kSmallestNormal;
    const D up = Select(tiny, D{} + 0x1p64, D{} + 1.0);
    ux = ux * up;
    uy = uy * up;
    bx = std::bit_cast<I>(ux) & kMagnitude;
    by = std::bit_cast<I>(uy) & kMagnitude;
    const I m = Select(bx > by, bx, by);

    // The larger component is in [2^e, 2^(e + 1)); e = -1023 for a zero
    // vector, and at most 1022 so that 2^-e stays normal.
    I e = (m >> 52) - 1023;
    e = Select(e > 1022, e - e + 1022, e);
    const D scale = std::bit_cast<D>((1023 - e) << 52);
    vx = ux * scale;
    vy = uy * scale;
    exponent = exponent + e - Select(tiny, e - e + 64, e - e);
}

// The exponent from the carried vector (vx, vy), the summed scaling exponent
// and the steps: (log |v| + E ln 2) / steps, -infinity for a vector mapped to
// exactly 0.
inline double TangentExponent(double vx, double vy, int64_t exponent, int steps)
{
    if (vx == 0.0 && vy == 0.0)
        return -INFINITY;
    const double growth = 0.5 * std::log(vx * vx + vy * vy)
                          + static_cast<double>(exponent) * std::numbers::ln2;
    return growth / static_cast<double>(steps);
}

} // namespace kernel

} // namespace model
