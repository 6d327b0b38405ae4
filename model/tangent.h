// The tangent step of the largest Lyapunov exponent, written once for one
// orbit and for vector lanes.
//
// The tangent vector v is carried through the Jacobian of each step,
// diag(1 - x'^2, 1 - y'^2) * W at the new point (x', y'), and then scaled by
// a power of two, 2^-e, that brings its larger component into [1, 2) (a
// subnormal one up to normal, a huge one into [1, 4)): an exact scaling, so the growth of the vector over all steps is kept whole as
// the vector's length times 2^E, E the sum of the exponents e. The exponent
// then needs one logarithm per orbit instead of one per step.
#pragma once

#include "model/exp.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace model {

namespace detail {

inline int64_t Select(bool mask, int64_t a, int64_t b) { return mask ? a : b; }

} // namespace detail

namespace kernel {

// One tangent step at the new point (x, y) under the weights w0..w3 (w11 w12
// w21 w22). A vector mapped to exactly 0 stays 0; one that turns infinite or
// NaN (a floating-point error, as the map's) stays so, which TangentExponent
// reports. D and I as for ExpForTransfer: double and int64_t, or vectors of
// each.
template <class D, class I>
inline void CarryTangent(const D& w0, const D& w1, const D& w2, const D& w3, const D& x,
                         const D& y, D& vx, D& vy, I& exponent)
{
    using detail::Select;
    constexpr int64_t kMagnitude = INT64_MAX; // all bits but the sign
    const D gx = 1.0 - x * x;
    const D gy = 1.0 - y * y;
    const D ux = gx * (w0 * vx + w1 * vy);
    const D uy = gy * (w2 * vx + w3 * vy);

    // The larger component's exponent field: the component lies in
    // [2^e, 2^(e + 1)). A zero or subnormal vector has e = -1023, and 2^1023
    // scales it up exactly; e is at most 1022 so that 2^-e stays normal.
    const I bx = std::bit_cast<I>(ux) & kMagnitude, by = std::bit_cast<I>(uy) & kMagnitude;
    const I m = Select(bx > by, bx, by);
    I e = (m >> 52) - 1023;
    e = Select(e > 1022, e - e + 1022, e);
    const D scale = std::bit_cast<D>((1023 - e) << 52);
    vx = ux * scale;
    vy = uy * scale;
    exponent = exponent + e;
}

// The exponent from the carried vector (vx, vy), the summed scaling exponent
// and the steps: (log |v| + E ln 2) / steps, -infinity for a vector mapped to
// exactly 0. failed: the vector turned infinite or NaN.
inline double TangentExponent(double vx, double vy, int64_t exponent, int steps, bool& failed)
{
    failed = !(std::fabs(vx) <= DBL_MAX && std::fabs(vy) <= DBL_MAX);
    if (vx == 0.0 && vy == 0.0)
        return -INFINITY;
    const double growth = 0.5 * std::log(vx * vx + vy * vy)
                          + static_cast<double>(exponent) * std::numbers::ln2;
    return growth / static_cast<double>(steps);
}

} // namespace kernel

} // namespace model
