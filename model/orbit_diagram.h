// The orbit diagram: the states that orbits visit under one parameter vector,
// counted into the pixel rows of one picture column.
//
// Each orbit takes `iterations` transient steps, then `points` more; the state
// after each of those `points` steps is counted. The shown neuron's value v
// lands in the row floor(((v - low) * rows) / (high - low)), counted from the
// bottom; v = high lands in the top row, and a value outside [low, high] is
// not counted. The steps are the classifier's, bit for bit.
#pragma once

#include "model/state.h"

#include <cstdint>

namespace model::kernel {

constexpr int kMaxOrbitPoints = 100000;

struct OrbitColumnSetup {
    int iterations = 1000; // transient steps
    int points = 1000;     // counted steps
    bool showY = false;    // which neuron runs up the picture
    double low = -1, high = 1;
    int rows = 800;        // pixel rows of the picture
};

// The row (from the bottom) of the value v, or -1 when it is not counted.
int OrbitRow(const OrbitColumnSetup& setup, double v);

// Runs n orbits under w, orbit k from (x[k], y[k]); x and y are left holding
// the final states. Adds every counted state to counts[row] (rows entries,
// from the bottom). When states is not null, orbit k's counted states go to
// states[(k * points + j) * 2 + {0, 1}]. Returns the first orbit that met a
// floating-point error, or -1; the counts then hold what was counted before it.
int OrbitColumn(const Weights& w, const OrbitColumnSetup& setup, double* x, double* y, int n,
                uint32_t* counts, double* states);

} // namespace model::kernel
