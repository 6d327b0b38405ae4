// Shared pieces of the lockstep kernels: several orbits step side by side,
// each lane taking the next orbit as soon as its own is done, and each orbit
// keeps exactly its own operations in its own order, so that a lockstep
// result is bit for bit the plain one-orbit-at-a-time result.
#pragma once

#include "model/map.h"
#include "model/state.h"
#include "model/transfer_lanes.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>

namespace model::kernel::lanes {

// The lane refill, written once. W lanes carry orbits 0..n-1; a lane takes
// the next orbit as soon as its own is done, so that the lanes stay busy
// although orbits end at different steps. The kernel k provides:
//   void start(int lane, int orbit)   load the orbit into the lane;
//   void idle(int lane)               no orbit is left: the lane may step on
//                                     harmless values, its results unused;
//   void step(const int* orbit)       advance the lanes (orbit[lane] < 0 for
//                                     an idle one) by one or more steps;
//   bool finished(int lane, int orbit) after a step: true when the lane's
//                                     orbit is done and its result written.
//
// A kernel with a width() uses only its first width() (at most W) lanes.
template <int W, class Kernel>
void Run(int n, Kernel& k)
{
    int orbit[W];
    int width = W;
    if constexpr (requires { k.width(); })
        width = std::clamp(k.width(), 1, W);
    for (int l = width; l < W; ++l)
        orbit[l] = -1;
    int next = 0, busy = 0;
    auto load = [&](int l) {
        if (next < n) {
            orbit[l] = next++;
            ++busy;
            k.start(l, orbit[l]);
        } else {
            orbit[l] = -1;
            k.idle(l);
        }
    };
    for (int l = 0; l < width; ++l)
        load(l);
    while (busy > 0) {
        k.step(orbit);
        for (int l = 0; l < width; ++l) {
            if (orbit[l] >= 0 && k.finished(l, orbit[l])) {
                --busy;
                load(l);
            }
        }
    }
}

// Orbits per lockstep batch of Step: two sums each fill the transfer's lanes.
constexpr int kWidth = kTransferLanes / 2;

// One step of the map for every lane l with orbit[l] >= 0, under the weights
// wl[l]: the sums of map.h, and the transfer with the same bits as
// Transfer. An idle lane computes a harmless 0 and keeps its state.
inline void Step(const double* const* wl, const int* orbit, double* x, double* y, bool* ok)
{
    double s[kTransferLanes], t[kTransferLanes], bad[kTransferLanes];
    for (int l = 0; l < kWidth; ++l) {
        const bool idle = orbit[l] < 0;
        s[2 * l] = idle ? 0.0 : Sum1(wl[l], x[l], y[l]);
        s[2 * l + 1] = idle ? 0.0 : Sum2(wl[l], x[l], y[l]);
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

// The steps of one lane's orbit from its start, and its transient cut short
// by an exact repeat of the state. The map is deterministic, so once the
// state after step j equals the one after step j - L, every later state
// repeats with period L, and the state after the full transient is the one
// after step j + (iterations - j) mod L. The steps skipped repeat steps
// already taken, so they could raise no error that has not been raised; an
// orbit that failed (a NaN state) stays failed whatever follows.
class Transient {
public:
    // A new orbit from (x, y) with `iterations` transient steps (none below
    // 1); watch: whether to look for a repeat at all.
    void start(int iterations, bool watch, double x, double y)
    {
        length_ = std::max(iterations, 0);
        taken_ = 0;
        period_ = 0;
        watching_ = watch;
        watch_.start(x, y);
    }

    // Counts a step that ended at (x, y). A repeat seen within the transient
    // shortens it to the same phase; one seen later only records the period.
    void stepped(double x, double y)
    {
        ++taken_;
        if (!watching_)
            return;
        if (const int L = watch_.see(taken_, x, y)) {
            watching_ = false;
            period_ = L;
            if (taken_ < length_)
                length_ = taken_ + (length_ - taken_) % L;
        }
    }

    // Stops looking for a repeat.
    void stopWatching() { watching_ = false; }

    bool done() const { return taken_ >= length_; } // the transient is over
    int taken() const { return taken_; }            // steps since the start
    int length() const { return length_; }          // the transient, as shortened
    int period() const { return period_; }          // the exact period seen, else 0

private:
    int length_ = 0, taken_ = 0, period_ = 0;
    bool watching_ = false;
    RepeatWatch watch_;
};

// The orbits of a lockstep kernel stepped by Step, one per lane: the point,
// the weights, the error flag and the transient's clock. Orbit k starts from
// (x0[k], y0[k]) under w[k * wStride]. A kernel derives from it and adds its
// own per-lane state and its `finished` for Run.
class MapLanes {
public:
    static constexpr int W = kWidth;

    MapLanes(const Weights* w, int wStride, const double* x0, const double* y0)
        : w_(w), wStride_(wStride), x0_(x0), y0_(y0)
    {
    }

    void idle(int l) { wl[l] = w_[0].data(); }

    // Loads orbit k into lane l with `iterations` transient steps; watch: cut
    // the transient short by an exact repeat.
    void start(int l, int k, int iterations, bool watch)
    {
        x[l] = x0_[k];
        y[l] = y0_[k];
        wl[l] = w_[static_cast<long>(k) * wStride_].data();
        ok[l] = true;
        clock[l].start(iterations, watch, x[l], y[l]);
    }

    void step(const int* orbit) { Step(wl, orbit, x, y, ok); }

    double x[W], y[W];
    const double* wl[W];
    bool ok[W];
    Transient clock[W];

private:
    const Weights* w_;
    long wStride_;
    const double *x0_, *y0_;
};

// The orbits of a kernel on the vector lanes of StepLanes (OrbitLanes), one
// per lane. StepLanes does the repeat check of the transient branch-free
// beside the steps (Brent's method, as Transient); a repeat found shortens
// the transient here. Orbit k starts from (x0[k], y0[k]) under
// w[k * wStride] and ends `tail` steps after its transient.
class VectorLanes {
public:
    static constexpr int W = kOrbitLanes;
    static constexpr int64_t kIdle = INT64_MAX / 4;

    VectorLanes(const Weights* w, int wStride, const double* x0, const double* y0, int iterations,
                int64_t tail, bool shortcut)
        : w_(w), wStride_(wStride), x0_(x0), y0_(y0), transient_(std::max(iterations, 0)),
          tail_(tail), shortcut_(shortcut), width_(StepLanesWidth())
    {
    }

    // The lanes the vector step takes; the others stay idle.
    int width() const { return width_; }

    void idle(int l)
    {
        busy_ &= ~(uint64_t{1} << l);
        b.active = std::max(1, static_cast<int>(std::bit_width(busy_)));
        end[l] = limit[l] = kIdle;
        for (int i = 0; i < 6; ++i)
            b.w[i][l] = 0.0; // idle lanes step zeros
        b.x[l] = b.y[l] = 0.0;
        b.watch[l] = 0;
        b.bad[l] = 0.0;
    }

    void start(int l, int k)
    {
        busy_ |= uint64_t{1} << l;
        b.active = std::max(1, static_cast<int>(std::bit_width(busy_)));
        const Weights& p = w_[static_cast<long>(k) * wStride_];
        for (int i = 0; i < 6; ++i)
            b.w[i][l] = p[i];
        b.x[l] = x0_[k];
        b.y[l] = y0_[k];
        b.bad[l] = 0.0;
        b.t[l] = 0;
        b.cx[l] = std::bit_cast<uint64_t>(b.x[l]);
        b.cy[l] = std::bit_cast<uint64_t>(b.y[l]);
        b.cpos[l] = 0;
        b.cnext[l] = 1;
        b.watch[l] = shortcut_ && transient_ > 0 ? -1 : 0;
        limit[l] = transient_;
        end[l] = transient_ + tail_;
    }

    // The steps every lane may take before the next event of a busy lane:
    // the end of its orbit, and with transients also the end of its
    // transient.
    int room(const int* orbit, bool transients) const
    {
        int64_t r = kIdle;
        for (int l = 0; l < W; ++l) {
            if (orbit[l] < 0)
                continue;
            r = std::min(r, end[l] - b.t[l]);
            if (transients && b.t[l] < limit[l])
                r = std::min(r, limit[l] - b.t[l]);
        }
        return static_cast<int>(std::min<int64_t>(r, 1 << 20));
    }

    // After a step of lane l: a repeat found within the transient shortens
    // it to the same phase. Returns the lane's steps since its start.
    int64_t watch(int l)
    {
        const int64_t t = b.t[l];
        if (b.watch[l] && b.cpos[l] != t && std::bit_cast<uint64_t>(b.x[l]) == b.cx[l]
            && std::bit_cast<uint64_t>(b.y[l]) == b.cy[l]) {
            // A repeat (not a checkpoint that has just moved to the state):
            // the state after step t is the one after step cpos, so the orbit
            // has period t - cpos from there on.
            b.watch[l] = 0;
            if (t < limit[l]) {
                limit[l] = t + (transient_ - t) % (t - b.cpos[l]);
                end[l] = limit[l] + tail_;
            }
        } else if (t >= limit[l]) {
            b.watch[l] = 0; // past the transient: no more repeats to look for
        }
        return t;
    }

protected:
    OrbitLanes b{};
    int64_t end[W];   // the step count at which the lane's orbit ends
    int64_t limit[W]; // the transient's length, shortened by a repeat

private:
    const Weights* w_;
    long wStride_;
    const double *x0_, *y0_;
    int64_t transient_, tail_;
    bool shortcut_;
    int width_;
    uint64_t busy_ = 0; // the lanes that carry an orbit
    static_assert(W <= 64, "busy_ has a bit per lane");
};

} // namespace model::kernel::lanes
