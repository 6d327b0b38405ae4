#include "model/network.h"

#include "model/errors.h"
#include "model/exp.h"
#include "model/transfer_lanes.h"
#include "model/numbers.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>

namespace model {

namespace kernel {

double Transfer(double s, bool& ok)
{
    const double a = s + s;
    const double e = ExpForTransfer(a);
    // s + s overflows only past +-DBL_MAX/2, the exponential past about 709.78;
    // both leave a non-finite value behind. Underflow of e to 0 is no error.
    ok = ok & (std::fabs(a) <= DBL_MAX) & (e <= DBL_MAX);
    return (e - 1.0) / (e + 1.0);
}

double Tolerance(int accuracy)
{
    const double ln10 = std::log(10.0);
    return Exp(static_cast<double>(-accuracy) * ln10);
}

Color FixpointColorOf(double x, double y)
{
    const double u = (((y + y) + x) + 3.0) / 6.0;
    const double v = (((x + x) - y) + 3.0) / 6.0;
    const int red = RoundHalfEven16(u * 250.0);
    const int green = RoundHalfEven16((1.0 - u) * 250.0);
    const int blue = RoundHalfEven16(v * 100.0 + 100.0);
    return Rgb(red, green, blue);
}

namespace {

// The end of a classification: the period search over the 16 recorded points
// hx[j - 1], hy[j - 1] = X[j], Y[j] and the final point (x, y).
Orbit finishOrbit(const double* hx, const double* hy, double x, double y, bool ok,
                  double eps, bool locateFp)
{
    Orbit result;
    if (!ok) {
        result.failed = true;
        return result;
    }
    result.x = x;
    result.y = y;
    for (int k = 1; k <= 16; ++k) {
        const double dx = x - hx[16 - k];
        const double dy = y - hy[16 - k];
        const double d = dy * dy + dx * dx;
        if (d < eps) { // strict: a distance equal to the tolerance is no match
            result.cls = static_cast<int16_t>(k);
            break;
        }
    }
    if (locateFp && result.cls == 1) {
        result.cls = 17;
        result.fpColor = FixpointColorOf(x, y);
    }
    return result;
}

std::atomic<bool> repeatShortcut{true};
std::atomic<int> lockstepWidth{kOrbitLanes};

uint64_t bitsOf(double v) { return std::bit_cast<uint64_t>(v); }

// W orbits in lockstep, each lane taking the next orbit as soon as its own is
// classified, so that the lanes stay busy although the repeat shortcut ends
// transients at different steps. Orbit k runs under w[k * wStride].
//
// The shortcut: during the transient the state is compared, bit for bit, with
// a checkpoint that moves to the current state whenever the step count reaches
// a power of two (Brent's cycle detection). The map is deterministic, so once
// the state after step t equals the one after step c, every later state
// repeats with period L = t - c, and the state after the full transient is the
// one after step t + (iterations - t) mod L. The steps skipped are repeats of
// steps already taken, so they could raise no error that has not already been
// raised; an orbit that failed (a NaN state) is failed whatever follows.
template <int W>
void classifyLockstep(const Weights* w, int wStride, int iterations, int accuracy,
                      const double* x0, const double* y0, int n, bool locateFp, Orbit* out)
{
    const bool shortcut = repeatShortcut.load(std::memory_order_relaxed);
    const double eps = Tolerance(accuracy);

    double x[W], y[W];
    const double* wl[W];
    bool ok[W];
    int orbit[W];       // the orbit a lane steps, -1 when it is idle
    int t[W];           // steps taken in the current phase
    int limit[W];       // the transient's length, shortened by a repeat
    bool recording[W];  // past the transient: filling the history
    bool watching[W];   // still looking for a repeat
    uint64_t cx[W], cy[W];
    int cpos[W], cnext[W];
    double hx[W][16], hy[W][16];

    int next = 0, busy = 0;
    auto load = [&](int l) {
        if (next >= n) {
            orbit[l] = -1;
            wl[l] = w[0].data();
            recording[l] = false;
            return;
        }
        const int k = next++;
        ++busy;
        orbit[l] = k;
        x[l] = x0[k];
        y[l] = y0[k];
        wl[l] = w[k * wStride].data();
        ok[l] = true;
        t[l] = 0;
        limit[l] = iterations;
        recording[l] = iterations <= 0;
        watching[l] = shortcut;
        cx[l] = bitsOf(x[l]);
        cy[l] = bitsOf(y[l]);
        cpos[l] = 0;
        cnext[l] = 1;
    };
    for (int l = 0; l < W; ++l)
        load(l);

    while (busy > 0) {
        for (int l = 0; l < W; ++l) {
            if (recording[l]) {
                hx[l][t[l]] = x[l];
                hy[l][t[l]] = y[l];
            }
        }
        if constexpr (2 * W == kTransferLanes) {
            // Both sums of every lane through the vector lanes at once; an
            // idle lane computes a harmless 0.
            double s[kTransferLanes], tr[kTransferLanes], bad[kTransferLanes];
            for (int l = 0; l < W; ++l) {
                const double* p = wl[l];
                const bool idle = orbit[l] < 0;
                s[2 * l] = idle ? 0.0 : (p[0] * x[l] + p[1] * y[l]) + p[4];
                s[2 * l + 1] = idle ? 0.0 : (p[2] * x[l] + p[3] * y[l]) + p[5];
            }
            TransferLanes(s, tr, bad);
            for (int l = 0; l < W; ++l) {
                if (orbit[l] < 0)
                    continue;
                y[l] = tr[2 * l + 1];
                x[l] = tr[2 * l];
                ok[l] = ok[l] & (bad[2 * l] == 0.0) & (bad[2 * l + 1] == 0.0);
            }
        } else {
            for (int l = 0; l < W; ++l) {
                if (orbit[l] < 0)
                    continue; // an idle lane costs no exponential
                const double* p = wl[l];
                const double s1 = (p[0] * x[l] + p[1] * y[l]) + p[4];
                const double s2 = (p[2] * x[l] + p[3] * y[l]) + p[5];
                y[l] = Transfer(s2, ok[l]);
                x[l] = Transfer(s1, ok[l]);
            }
        }
        for (int l = 0; l < W; ++l) {
            if (orbit[l] < 0)
                continue;
            const int steps = ++t[l];
            if (recording[l]) {
                if (steps == 16) {
                    out[orbit[l]] = finishOrbit(hx[l], hy[l], x[l], y[l], ok[l], eps, locateFp);
                    --busy;
                    load(l);
                }
            } else if (steps == limit[l]) {
                recording[l] = true;
                t[l] = 0;
            } else if (watching[l]) {
                const uint64_t bx = bitsOf(x[l]), by = bitsOf(y[l]);
                if (bx == cx[l] && by == cy[l]) {
                    watching[l] = false;
                    limit[l] = steps + (iterations - steps) % (steps - cpos[l]);
                    if (limit[l] == steps) {
                        recording[l] = true;
                        t[l] = 0;
                    }
                } else if (steps == cnext[l]) {
                    cx[l] = bx;
                    cy[l] = by;
                    cpos[l] = steps;
                    cnext[l] = 2 * steps;
                }
            }
        }
    }
}

// kOrbitLanes orbits in the vector lanes of StepLanes, each lane taking the
// next orbit as soon as its own is classified. The same orbits, steps and
// repeat shortcut as classifyLockstep, with the bookkeeping moved out of the
// step: StepLanes runs every lane until the next lane ends (or finds a
// repeat), with the history and the repeat check done branch-free beside
// the steps. A lane's last 16 states are in the history ring, so an orbit
// needs no recording phase: it ends limit + 16 steps after its start.
void classifyLanes(const Weights* w, int wStride, int iterations, int accuracy, const double* x0,
                   const double* y0, int n, bool locateFp, Orbit* out)
{
    constexpr int L = kOrbitLanes;
    constexpr int64_t kIdle = INT64_MAX / 4;
    const bool shortcut = repeatShortcut.load(std::memory_order_relaxed);
    const double eps = Tolerance(accuracy);
    const int64_t transient = iterations > 0 ? iterations : 0;

    OrbitLanes b{}; // idle lanes step zeros
    int orbit[L];     // the orbit a lane steps, -1 when it is idle
    int64_t end[L];   // the step count at which the lane's orbit is classified
    int64_t limit[L]; // the transient's length, shortened by a repeat
    int next = 0, busy = 0;
    auto load = [&](int l) {
        if (next >= n) {
            orbit[l] = -1;
            end[l] = kIdle;
            for (int i = 0; i < 6; ++i)
                b.w[i][l] = 0.0;
            b.x[l] = b.y[l] = 0.0;
            b.watch[l] = 0;
            b.bad[l] = 0.0;
            return;
        }
        const int k = next++;
        ++busy;
        orbit[l] = k;
        const Weights& p = w[k * wStride];
        for (int i = 0; i < 6; ++i)
            b.w[i][l] = p[i];
        b.x[l] = x0[k];
        b.y[l] = y0[k];
        b.bad[l] = 0.0;
        b.t[l] = 0;
        b.cx[l] = bitsOf(b.x[l]);
        b.cy[l] = bitsOf(b.y[l]);
        b.cpos[l] = 0;
        b.cnext[l] = 1;
        b.watch[l] = shortcut && transient > 0 ? -1 : 0;
        limit[l] = transient;
        end[l] = transient + 16;
    };
    for (int l = 0; l < L; ++l)
        load(l);

    int64_t g = 0; // global steps taken, for the history ring
    while (busy > 0) {
        int64_t room = kIdle; // steps until the next busy lane's orbit ends
        for (int l = 0; l < L; ++l)
            if (orbit[l] >= 0)
                room = std::min(room, end[l] - b.t[l]);
        const int taken = StepLanes(b, g, static_cast<int>(std::min<int64_t>(room, 1 << 20)));
        g += taken;
        for (int l = 0; l < L; ++l) {
            if (orbit[l] < 0)
                continue;
            const int64_t t = b.t[l];
            if (b.watch[l] && b.cpos[l] != t && bitsOf(b.x[l]) == b.cx[l]
                && bitsOf(b.y[l]) == b.cy[l]) {
                // A repeat (not a checkpoint that has just moved to the
                // state): the state after step t is the one after step cpos,
                // so the orbit has period t - cpos from there on. Only a
                // repeat inside the transient shortens it.
                b.watch[l] = 0;
                if (t < limit[l]) {
                    limit[l] = t + (transient - t) % (t - b.cpos[l]);
                    end[l] = limit[l] + 16;
                }
            } else if (t >= limit[l]) {
                b.watch[l] = 0; // past the transient: no more repeats to look for
            }
            if (t == end[l]) {
                double hx[16], hy[16];
                for (int j = 0; j < 16; ++j) {
                    hx[j] = b.hx[(g - 16 + j) & 15][l];
                    hy[j] = b.hy[(g - 16 + j) & 15][l];
                }
                out[orbit[l]] = finishOrbit(hx, hy, b.x[l], b.y[l], b.bad[l] == 0.0, eps, locateFp);
                --busy;
                load(l);
            }
        }
    }
}

void classifyDispatch(const Weights* w, int wStride, int iterations, int accuracy,
                      const double* x0, const double* y0, int n, bool locateFp, Orbit* out)
{
    if (n <= 0)
        return;
    switch (LockstepWidth()) {
    case kOrbitLanes:
        return classifyLanes(w, wStride, iterations, accuracy, x0, y0, n, locateFp, out);
    case 8:
        return classifyLockstep<8>(w, wStride, iterations, accuracy, x0, y0, n, locateFp, out);
    case 4:
        return classifyLockstep<4>(w, wStride, iterations, accuracy, x0, y0, n, locateFp, out);
    case 2:
        return classifyLockstep<2>(w, wStride, iterations, accuracy, x0, y0, n, locateFp, out);
    default:
        return classifyLockstep<1>(w, wStride, iterations, accuracy, x0, y0, n, locateFp, out);
    }
}

} // namespace

// The plain classification, one step after the other with no shortcut: the
// definition that the lockstep path reproduces bit for bit.
Orbit Classify(const Weights& w, int iterations, int accuracy, double x0, double y0,
               bool locateFp)
{
    bool ok = true;
    double x = x0, y = y0;
    for (int step = 0; step < iterations; ++step) {
        const double s1 = (w[0] * x + w[1] * y) + w[4];
        const double s2 = (w[2] * x + w[3] * y) + w[5];
        y = Transfer(s2, ok);
        x = Transfer(s1, ok);
    }
    double hx[16], hy[16]; // hx[j - 1] is X[j]
    for (int j = 0; j < 16; ++j) {
        hx[j] = x;
        hy[j] = y;
        const double s1 = (w[0] * x + w[1] * y) + w[4];
        const double s2 = (w[2] * x + w[3] * y) + w[5];
        y = Transfer(s2, ok);
        x = Transfer(s1, ok);
    }
    return finishOrbit(hx, hy, x, y, ok, ok ? Tolerance(accuracy) : 0.0, locateFp);
}

void ClassifyMany(const Weights& w, int iterations, int accuracy, const double* x0,
                  const double* y0, int n, bool locateFp, Orbit* out)
{
    classifyDispatch(&w, 0, iterations, accuracy, x0, y0, n, locateFp, out);
}

void ClassifyManyEach(const Weights* w, int iterations, int accuracy, const double* x0,
                      const double* y0, int n, bool locateFp, Orbit* out)
{
    classifyDispatch(w, 1, iterations, accuracy, x0, y0, n, locateFp, out);
}

void SetRepeatShortcut(bool on) { repeatShortcut = on; }
bool RepeatShortcut() { return repeatShortcut; }

void SetLockstepWidth(int width)
{
    lockstepWidth = width >= kOrbitLanes ? kOrbitLanes
                    : width >= 8        ? 8
                    : width >= 4        ? 4
                    : width >= 2        ? 2
                                        : 1;
}
int LockstepWidth() { return lockstepWidth.load(std::memory_order_relaxed); }

bool IsNearFixpoint(const Weights& w, int accuracy, double x, double y, bool& ok)
{
    const double s1 = (w[0] * x + w[1] * y) + w[4];
    const double d1 = Transfer(s1, ok) - x;
    const double s2 = (w[2] * x + w[3] * y) + w[5];
    const double d2 = Transfer(s2, ok) - y;
    const double eps = Tolerance(accuracy);
    const double r = d2 * d2 + d1 * d1;
    // x and y may lie anywhere; a difference or square of huge values overflows.
    ok = ok & (r <= DBL_MAX);
    return r < eps;
}

} // namespace kernel

double Transfer(double s)
{
    bool ok = true;
    const double t = kernel::Transfer(s, ok);
    if (!ok)
        throwFloatingPoint("Floating-point overflow in the transfer function "
                           "(a neuron's input sum is too large).");
    return t;
}

void ThrowOrbitFailed()
{
    throwFloatingPoint("Floating-point overflow while iterating the network "
                       "(a neuron's input sum is too large).");
}

int16_t ClassifyOrbit(const State& st, double x, double y)
{
    const kernel::Orbit o = kernel::Classify(st.w, st.iterations, st.accuracy, x, y, false);
    if (o.failed)
        ThrowOrbitFailed();
    return o.cls;
}

int16_t ClassifyOrbitFp(State& st, double x, double y)
{
    const kernel::Orbit o = kernel::Classify(st.w, st.iterations, st.accuracy, x, y, true);
    if (o.failed)
        ThrowOrbitFailed();
    if (o.cls == 17)
        st.fixpointColor = o.fpColor;
    return o.cls;
}

bool IsNearFixpoint(const State& st, double x, double y)
{
    bool ok = true;
    const bool near = kernel::IsNearFixpoint(st.w, st.accuracy, x, y, ok);
    if (!ok)
        ThrowOrbitFailed();
    return near;
}

Color PeriodColor(const State& st, int16_t index)
{
    static constexpr Color palette[17] = {
        Rgb(0, 0, 0),       // 0: no period found
        Rgb(150, 75, 0),    // 1 brown
        Rgb(250, 75, 75),   // 2 red
        Rgb(250, 150, 50),  // 3 orange
        Rgb(250, 250, 50),  // 4 yellow
        Rgb(50, 200, 50),   // 5 green
        Rgb(75, 75, 250),   // 6 blue
        Rgb(200, 0, 250),   // 7 violet
        Rgb(150, 150, 150), // 8 grey
        Rgb(250, 250, 250), // 9 white
        Rgb(200, 200, 200), // 10 light grey
        Rgb(190, 90, 0),    // 11 light brown
        Rgb(250, 150, 150), // 12 light red
        Rgb(250, 190, 30),  // 13 light orange
        Rgb(250, 250, 190), // 14 light yellow
        Rgb(150, 230, 150), // 15 light green
        Rgb(190, 190, 250), // 16 light blue
    };
    if (index == 17)
        return st.fixpointColor;
    if (index >= 1 && index <= 16)
        return palette[index];
    return 0;
}

} // namespace model
