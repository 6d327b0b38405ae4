// The exponential the network map uses: the project's own, so that every
// path (one orbit at a time, several in lockstep, in vector lanes) and every
// machine and compiler give the same bits. Only additions, multiplications,
// comparisons and bit operations, branch-free, so a loop of them vectorises.
//
// Accurate to within 1 ulp over the whole double range; overflows to +inf
// above about 709.78, underflows to 0 (through the subnormals) below about
// -745.13, and gives NaN for NaN.
#pragma once

#include <bit>
#include <cstdint>

namespace model {

namespace detail {

// The clamp of a lane: a when mask is false. Vector types supply their own.
inline double Select(bool mask, double a, double b) { return mask ? a : b; }

// The reduction of a = k ln 2 + r with |r| <= ln 2 / 2: k stored, r, what
// rounding r lost (rLost, exact) and r^2 q(r), where
// e^r = 1 + r + r^2 q(r). c must lie in [-746, 710]. D is double and I
// int64_t, or a vector of each of the same length (the compiler's vector
// extension), whose lanes then take exactly the operations of the scalar.
template <class D, class I>
inline void Reduce(D c, I& k, D& r, D& rLost, D& r2q)
{
    // k by adding and removing 1.5 * 2^52 (round to nearest), r by
    // subtracting k ln 2 in two parts, the high part with trailing zero bits
    // so that k * ln2Hi is exact.
    constexpr double invLn2 = 1.4426950408889634;
    constexpr double ln2Hi = 6.93147180369123816490e-01;
    constexpr double ln2Lo = 1.90821492927058770002e-10;
    constexpr double shifter = 6755399441055744.0; // 1.5 * 2^52
    const D shifted = c * invLn2 + shifter;
    k = std::bit_cast<I>(shifted) - std::bit_cast<int64_t>(shifter);
    const D kd = shifted - shifter;
    const D hi = c - kd * ln2Hi; // exact
    const D lo = kd * ln2Lo;
    r = hi - lo;
    rLost = (hi - r) - lo; // what rounding r lost, exactly

    // Taylor terms to r^14 / 14!: the cut-off is below 1e-19. q is evaluated
    // in Estrin's scheme, pairs of terms side by side, for a short dependency
    // chain.
    const D r2 = r * r;
    const D r4 = r2 * r2;
    const D r8 = r4 * r4;
    const D p0 = 1.0 / 2.0 + (1.0 / 6.0) * r;
    const D p1 = 1.0 / 24.0 + (1.0 / 120.0) * r;
    const D p2 = 1.0 / 720.0 + (1.0 / 5040.0) * r;
    const D p3 = 1.0 / 40320.0 + (1.0 / 362880.0) * r;
    const D p4 = 1.0 / 3628800.0 + (1.0 / 39916800.0) * r;
    const D p5 = 1.0 / 479001600.0 + (1.0 / 6227020800.0) * r;
    constexpr double p6 = 1.0 / 87178291200.0;
    const D q0 = p0 + p1 * r2;
    const D q1 = p2 + p3 * r2;
    const D q2 = p4 + p5 * r2;
    const D t0 = q0 + q1 * r4;
    const D t1 = q2 + p6 * r4;
    const D q = t0 + t1 * r8;
    r2q = r2 * q;
}

// e^r for the reduced argument of a, the value for r returned and k stored;
// c, D and I as for Reduce.
template <class D, class I>
inline D ExpReduced(D c, I& k)
{
    D r, rLost, r2q;
    Reduce<D, I>(c, k, r, rLost, r2q);
    // 1 + r is split exactly into its rounded sum and the rounding error
    // (|r| < 1), and the part of k ln 2 that r could not hold is added back
    // (e^(r + d) = e^r + d to far below the last bit), so that the one
    // rounding that matters is the last addition: about half a unit in the
    // last place.
    const D onePlusR = 1.0 + r;
    const D lost = (1.0 - onePlusR) + r; // exact
    return onePlusR + ((lost + rLost) + r2q);
}

} // namespace detail

inline double Exp(double a)
{
    // Clamp first so that the scaling below stays in range; a NaN passes
    // unchanged (both comparisons are false) and gives NaN.
    double c = a < -746.0 ? -746.0 : a;
    c = c > 710.0 ? 710.0 : c;
    int64_t k;
    const double er = detail::ExpReduced<double, int64_t>(c, k);

    // Times 2^k in two exact halves, 2^k1 * 2^k2 with both factors normal, so
    // that a subnormal result is rounded once, at the last multiplication.
    const int64_t k1 = ((k + 2048) >> 1) - 1024;
    const int64_t k2 = k - k1;
    const double s1 = std::bit_cast<double>(static_cast<uint64_t>(k1 + 1023) << 52);
    const double s2 = std::bit_cast<double>(static_cast<uint64_t>(k2 + 1023) << 52);
    return (er * s1) * s2;
}

// The exponential inside the transfer function (e - 1) / (e + 1): the bits of
// Exp(a) wherever a >= -707 (e^a >= 2^-1020, a normal result), one scaling
// instead of two. Below, it returns e^-707 instead of the tiny or subnormal
// Exp(a): any e below 2^-54 gives the transfer value -1 exactly, so the
// transfer's bits are the same for every a. Overflow and NaN as Exp.
//
// D and I as for detail::ExpReduced: a vector runs the scalar's operations in
// every lane.
template <class D = double, class I = int64_t>
inline D ExpForTransfer(D a)
{
    const D low = D{} + -707.0, high = D{} + 710.0; // a NaN passes both clamps unchanged
    using detail::Select;
    D c = Select(a < -707.0, low, a);
    c = Select(c > 710.0, high, c);
    I k;
    const D er = detail::ExpReduced<D, I>(c, k);
    // k lies in -1020..1024; 2^(k - 1) is normal, er + er exact, so the one
    // rounding is the multiplication, as in Exp for a normal result.
    const D half = std::bit_cast<D>((k + 1022) << 52);
    return (er + er) * half;
}

// For a <= 0, both u = e^a and m = e^a - 1, each to about a unit in the last
// place relative to itself, however near 0 a is: from one reduction,
// u = 2^k e^r and m = (2^k - 1) + 2^k (e^r - 1). Below -708 u is 0 and m
// -1 (a normal u down to there; m is -1 below about -37.5 anyway). NaN
// gives NaN for both. D and I as for ExpForTransfer.
template <class D = double, class I = int64_t>
inline void ExpAndExpM1OfNonPositive(D a, D& u, D& m)
{
    using detail::Select;
    const D low = D{} + -708.0, zero = D{};
    const D c = Select(a < -708.0, low, a); // a NaN passes unchanged
    I k;
    D r, rLost, r2q;
    detail::Reduce<D, I>(c, k, r, rLost, r2q);
    const D onePlusR = 1.0 + r;
    const D lost = (1.0 - onePlusR) + r; // exact
    const D er = onePlusR + ((lost + rLost) + r2q);
    const D em1r = r + (rLost + r2q);
    // k lies in -1022..0: 2^k is normal, and 2^k - 1 exact down to 2^-53.
    const D scale = std::bit_cast<D>((k + 1023) << 52);
    u = Select(a < -708.0, zero, er * scale);
    m = (scale - 1.0) + scale * em1r;
}

} // namespace model
