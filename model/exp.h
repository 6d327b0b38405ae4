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

inline double Exp(double a)
{
    // Clamp first so that the scaling below stays in range; a NaN passes
    // unchanged (both comparisons are false) and gives NaN.
    double c = a < -746.0 ? -746.0 : a;
    c = c > 710.0 ? 710.0 : c;

    // a = k ln 2 + r with |r| <= ln 2 / 2: k by adding and removing 1.5 * 2^52
    // (round to nearest), r by subtracting k ln 2 in two parts, the high part
    // with trailing zero bits so that k * ln2Hi is exact.
    constexpr double invLn2 = 1.4426950408889634;
    constexpr double ln2Hi = 6.93147180369123816490e-01;
    constexpr double ln2Lo = 1.90821492927058770002e-10;
    constexpr double shifter = 6755399441055744.0; // 1.5 * 2^52
    const double shifted = c * invLn2 + shifter;
    const int64_t k = std::bit_cast<int64_t>(shifted) - std::bit_cast<int64_t>(shifter);
    const double kd = shifted - shifter;
    const double hi = c - kd * ln2Hi; // exact
    const double lo = kd * ln2Lo;
    const double r = hi - lo;
    const double rLost = (hi - r) - lo; // what rounding r lost, exactly

    // e^r = 1 + r + r^2 q(r), Taylor terms to r^14 / 14!: the cut-off is
    // below 1e-19. q is evaluated in Estrin's scheme, pairs of terms side by
    // side, for a short dependency chain. 1 + r is split exactly into its
    // rounded sum and the rounding error (|r| < 1), and the part of k ln 2
    // that r could not hold is added back (e^(r + d) = e^r + d to far below
    // the last bit), so that the one rounding that matters is the last
    // addition: about half a unit in the last place.
    const double r2 = r * r;
    const double r4 = r2 * r2;
    const double r8 = r4 * r4;
    const double p0 = 1.0 / 2.0 + (1.0 / 6.0) * r;
    const double p1 = 1.0 / 24.0 + (1.0 / 120.0) * r;
    const double p2 = 1.0 / 720.0 + (1.0 / 5040.0) * r;
    const double p3 = 1.0 / 40320.0 + (1.0 / 362880.0) * r;
    const double p4 = 1.0 / 3628800.0 + (1.0 / 39916800.0) * r;
    const double p5 = 1.0 / 479001600.0 + (1.0 / 6227020800.0) * r;
    const double p6 = 1.0 / 87178291200.0;
    const double q0 = p0 + p1 * r2;
    const double q1 = p2 + p3 * r2;
    const double q2 = p4 + p5 * r2;
    const double t0 = q0 + q1 * r4;
    const double t1 = q2 + p6 * r4;
    const double q = t0 + t1 * r8;
    const double onePlusR = 1.0 + r;
    const double lost = (1.0 - onePlusR) + r; // exact
    const double er = onePlusR + ((lost + rLost) + r2 * q);

    // Times 2^k in two exact halves, 2^k1 * 2^k2 with both factors normal, so
    // that a subnormal result is rounded once, at the last multiplication.
    const int64_t k1 = ((k + 2048) >> 1) - 1024;
    const int64_t k2 = k - k1;
    const double s1 = std::bit_cast<double>(static_cast<uint64_t>(k1 + 1023) << 52);
    const double s2 = std::bit_cast<double>(static_cast<uint64_t>(k2 + 1023) << 52);
    return (er * s1) * s2;
}

} // namespace model
