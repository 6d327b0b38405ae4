// The second equation of the fixed points, sampled: g(p) and its first two
// derivatives at many p at once, in vector lanes where the processor has
// them; and the same lanes for tanh with its slope, the step of the cycles'
// Newton runs. One formula serves one sample and a block of them, with the
// project's own exponential and only additions, multiplications, divisions,
// comparisons and bit operations, so that every sample has the same bits
// whether it is taken alone or in a block, on every machine.
#pragma once

#include "model/exp.h"

#include <cmath>

namespace model::analysis {

// The weights of one elimination: y(p) = ((p - a tanh p) - e) / b, and
// g(p) = tanh((c tanh p + d y(p)) + f) - y(p), y clamped to [-1, 1]; the
// division by b is a multiplication by its reciprocal, taken once.
struct Elimination {
    Elimination(double a, double b, double c, double d, double e, double f)
        : a(a), c(c), d(d), e(e), f(f), overB(1 / b)
    {
    }
    double a, c, d, e, f, overB;
};

// tanh s and its slope 1 - tanh^2 s from one exponential u = exp(-2|s|) and
// one division: tanh|s| = (1 - u) / (1 + u), within a few units of 1e-16 of
// the true value
// (not relative to it: enough for the signs and brackets of the sampled
// equation, whose roots are polished with std::tanh afterwards), and
// 1 - tanh^2 s = 4 u / (1 + u)^2. Below u = 2^-54 the tanh is 1 exactly,
// whatever tiny u the exponential clamps to.
inline void TanhAndSlopeOf(double s, double& t, double& slope)
{
    const double u = ExpForTransfer(-2 * std::fabs(s));
    const double r = 1 / (1 + u);
    t = std::copysign((1 - u) * r, s);
    slope = ((4 * u) * r) * r;
}

// g, g' and g'' at p: with X = tanh p, Y = y(p), s = (c X + d Y) + f and
// T = tanh s: X' = 1 - X^2, X'' = -2 X X', Y' = (1 - a X') / b,
// Y'' = -a X'' / b, T' = (1 - T^2) s' and T'' = (1 - T^2) (s'' - 2 T s'^2).
inline void SampleOf(const Elimination& w, double p, double& g, double& slope, double& curve)
{
    double x, dx;
    TanhAndSlopeOf(p, x, dx);
    const double ddx = -2 * x * dx;
    double y = ((p - w.a * x) - w.e) * w.overB;
    y = y < -1.0 ? -1.0 : y;
    y = y > 1.0 ? 1.0 : y;
    const double dy = (1 - w.a * dx) * w.overB, ddy = -w.a * ddx * w.overB;
    const double s = (w.c * x + w.d * y) + w.f, ds = w.c * dx + w.d * dy,
                 dds = w.c * ddx + w.d * ddy;
    double t, dt;
    TanhAndSlopeOf(s, t, dt);
    g = t - y;
    slope = dt * ds - dy;
    curve = dt * (dds - 2 * t * ds * ds) - ddy;
}

// The first equation's left side less its bias, p - a tanh p - e, with the
// sampled tanh.
inline double PhiOf(double a, double e, double p)
{
    double x, dx;
    TanhAndSlopeOf(p, x, dx);
    return (p - a * x) - e;
}

constexpr int kSampleLanes = 16;

// The signs of a block of samples as bits, lane i in bit i: where g, g' and
// g'' lie below and above 0, and where g is 0 (a NaN sets none of them).
struct SampleSigns {
    unsigned gNeg = 0, gPos = 0, slopeNeg = 0, slopePos = 0, curveNeg = 0, curvePos = 0, gZero = 0;
};

// SampleOf at p[i] for i < kSampleLanes, the same bits as one at a time, and
// the samples' signs.
void SampleLanes(const Elimination& w, const double* p, double* g, double* slope, double* curve,
                 SampleSigns& signs);

// The vector instructions a lane function may take, for a test that runs
// every variant this processor supports; SampleLanes takes the widest.
enum class LaneIsa { Avx512, Avx2, Baseline };
// SampleLanes with the given instructions; false (nothing computed) where
// the processor lacks them.
bool SampleLanesWith(LaneIsa isa, const Elimination& w, const double* p, double* g,
                     double* slope, double* curve, SampleSigns& signs);

// PhiOf(a, e, p[i]) for i < kSampleLanes, the same bits as one at a time.
void PhiLanes(double a, double e, const double* p, double* phi);

// TanhWithSlope(s[i], t[i], slope[i]) for i < n, in vector lanes, the same
// bits as one at a time: the network's step over a whole orbit in the
// cycles' Newton runs.
void TanhWithSlopeLanes(const double* s, double* t, double* slope, int n);

// TanhWithSlopeLanes takes whole vectors over any multiple of this many
// lanes; other counts leave their last lanes to scalar code, about as slow per
// lane as a whole vector. Callers pad their lanes to PaddedLanes(n).
constexpr int kTanhLaneBlock = 8;
constexpr int PaddedLanes(int n) { return (n + kTanhLaneBlock - 1) / kTanhLaneBlock * kTanhLaneBlock; }

} // namespace model::analysis
