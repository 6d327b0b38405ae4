// Orbit classification with a period cap above 16.
//
// The classifier of model/network.h with the history widened from 16 to P
// points: `iterations` transient steps, P recorded steps, then the smallest
// period k = 1..P, in this order, whose squared distance between the final
// point and the point k steps before it is below the tolerance (strictly),
// else 0. For P = 16 the class is exactly kernel::Classify's.
#pragma once

#include "model/state.h"

#include <cstdint>

namespace model::kernel {

constexpr int kMaxPeriodCap = 4096;

struct LongOrbit {
    uint16_t cls = 0;    // 0 (no period up to P) or the period 1..P
    bool failed = false; // a floating-point error happened; cls is meaningless
    // The point after iterations + P steps, bit for bit; meaningless when failed.
    double x = 0, y = 0;

    friend bool operator==(const LongOrbit&, const LongOrbit&) = default; // exact
};

// The plain classification, one step after the other: the definition. The cap
// maxPeriod is taken into 1..kMaxPeriodCap.
LongOrbit ClassifyLong(const Weights& w, int iterations, int accuracy, int maxPeriod,
                       double x0, double y0);

// Classifies n orbits from (x0[k], y0[k]) into out[k]; bit for bit the results
// of n calls of ClassifyLong, computed together in lockstep. An exact repeat
// of the state cuts the transient short, and, once the cycle is known, the
// rest of the history is copied from its first turn instead of stepped.
void ClassifyLongMany(const Weights& w, int iterations, int accuracy, int maxPeriod,
                      const double* x0, const double* y0, int n, LongOrbit* out);

// As ClassifyLongMany, but orbit k runs under its own parameter vector w[k].
void ClassifyLongManyEach(const Weights* w, int iterations, int accuracy, int maxPeriod,
                          const double* x0, const double* y0, int n, LongOrbit* out);

} // namespace model::kernel
