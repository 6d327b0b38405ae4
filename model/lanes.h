// Shared pieces of the lockstep kernels of the exponent and the long-period
// classifier: several orbits step side by side, both sums of every orbit go
// through the vector lanes of the transfer function at once, and each orbit
// keeps exactly its own operations in its own order.
#pragma once

#include "model/transfer_lanes.h"

#include <bit>
#include <climits>
#include <cstdint>

namespace model::kernel::lanes {

// Orbits per lockstep batch: two sums each fill the transfer's lanes.
constexpr int kWidth = kTransferLanes / 2;

// One step of the map for every lane l with orbit[l] >= 0, under the weights
// wl[l]: the same sums in the same order as the classifier, and the transfer
// with the same bits. An idle lane computes a harmless 0 and keeps its state.
inline void Step(const double* const* wl, const int* orbit, double* x, double* y, bool* ok)
{
    double s[kTransferLanes], t[kTransferLanes], bad[kTransferLanes];
    for (int l = 0; l < kWidth; ++l) {
        const double* p = wl[l];
        const bool idle = orbit[l] < 0;
        s[2 * l] = idle ? 0.0 : (p[0] * x[l] + p[1] * y[l]) + p[4];
        s[2 * l + 1] = idle ? 0.0 : (p[2] * x[l] + p[3] * y[l]) + p[5];
    }
    TransferLanes(s, t, bad);
    for (int l = 0; l < kWidth; ++l) {
        if (orbit[l] < 0)
            continue;
        y[l] = t[2 * l + 1];
        x[l] = t[2 * l];
        ok[l] = ok[l] & (bad[2 * l] == 0.0) & (bad[2 * l + 1] == 0.0);
    }
}

// Brent's detection of an exact repeat of the state (see model/ENGINE.md):
// the state is compared, bit for bit, with a checkpoint that moves to the
// current state whenever the step count reaches a power of two. Bits, not
// values, so that +0 and -0, which the map tells apart, are two states.
class RepeatWatch {
public:
    void start(double x, double y)
    {
        cx_ = std::bit_cast<uint64_t>(x);
        cy_ = std::bit_cast<uint64_t>(y);
        cpos_ = 0;
        cnext_ = 1;
    }

    // Takes the state after `step` steps (counted from the start); returns the
    // period L when it equals the state after step - L, else 0.
    int see(int step, double x, double y)
    {
        const uint64_t bx = std::bit_cast<uint64_t>(x), by = std::bit_cast<uint64_t>(y);
        if (bx == cx_ && by == cy_)
            return step - cpos_;
        if (step == cnext_) {
            cx_ = bx;
            cy_ = by;
            cpos_ = step;
            cnext_ = step > INT_MAX / 2 ? INT_MAX : 2 * step;
        }
        return 0;
    }

private:
    uint64_t cx_ = 0, cy_ = 0;
    int cpos_ = 0, cnext_ = 1;
};

} // namespace model::kernel::lanes
