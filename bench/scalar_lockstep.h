// The classifier's lockstep in plain scalar code, W = 1, 2, 4 or 8 orbits
// side by side with no vector lanes: the yardstick that the vector lanes of
// the product's ClassifyMany are timed against. Bit for bit the results of
// kernel::Classify.
#pragma once

#include "model/network.h"

namespace bench {

void ClassifyScalarLockstep(int width, bool shortcut, const model::Weights& w, int iterations,
                            int accuracy, const double* x0, const double* y0, int n,
                            bool locateFp, model::kernel::Orbit* out);

} // namespace bench
