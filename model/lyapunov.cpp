#include "model/lyapunov.h"

#include "model/lanes.h"
#include "model/network.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace model::kernel {

namespace {

// The tangent vector and the sum of the logarithms of its growth.
struct Tangent {
    double vx = 1.0, vy = 0.0;
    double sum = 0.0;
    bool collapsed = false; // mapped to exactly 0: the sum is -infinity for good
};

// Carries the tangent vector through the Jacobian of the step that ended at
// (x, y) under the weights p, renormalises it and adds the log of its growth.
// Shared by the plain and the lockstep forms, so both do the same operations.
inline void carry(const double* p, double x, double y, Tangent& t, bool& ok)
{
    if (t.collapsed)
        return;
    const double gx = 1.0 - x * x;
    const double gy = 1.0 - y * y;
    const double ux = gx * (p[0] * t.vx + p[1] * t.vy);
    const double uy = gy * (p[2] * t.vx + p[3] * t.vy);
    const double n2 = ux * ux + uy * uy;
    double n;
    if (n2 >= DBL_MIN && n2 <= DBL_MAX) {
        n = std::sqrt(n2);
    } else {
        // The square underflowed or overflowed although the vector itself may
        // be fine (tiny or huge weights): the length without squaring.
        n = std::hypot(ux, uy);
        if (n == 0.0) {
            t.collapsed = true;
            return;
        }
        if (!(n <= DBL_MAX)) { // infinite or NaN
            ok = false;
            return;
        }
    }
    t.sum += std::log(n);
    t.vx = ux / n;
    t.vy = uy / n;
}

Exponent finish(const Tangent& t, int steps, bool ok)
{
    Exponent e;
    e.failed = !ok;
    e.lambda = t.collapsed ? -std::numeric_limits<double>::infinity()
                           : t.sum / static_cast<double>(steps);
    return e;
}

inline void mapStep(const double* p, double& x, double& y, bool& ok)
{
    const double s1 = (p[0] * x + p[1] * y) + p[4];
    const double s2 = (p[2] * x + p[3] * y) + p[5];
    y = Transfer(s2, ok);
    x = Transfer(s1, ok);
}

// kWidth orbits in lockstep; a lane takes the next orbit as soon as its own is
// done. The transient is cut short by an exact repeat of the state, as in the
// classifier (model/ENGINE.md): the steps skipped repeat steps already taken,
// so the state after the full transient, and every error, is unchanged. The
// measuring steps are all taken: the tangent vector does not repeat.
void lockstep(const Weights* w, int wStride, int iterations, int steps, const double* x0,
              const double* y0, int n, Exponent* out)
{
    using lanes::kWidth;
    double x[kWidth], y[kWidth];
    const double* wl[kWidth];
    bool ok[kWidth];
    int orbit[kWidth]; // -1 when idle
    int t[kWidth];     // steps taken in the current phase
    int limit[kWidth]; // the transient's length, shortened by a repeat
    bool measuring[kWidth], watching[kWidth];
    lanes::RepeatWatch watch[kWidth];
    Tangent tangent[kWidth];

    int next = 0, busy = 0;
    auto load = [&](int l) {
        if (next >= n) {
            orbit[l] = -1;
            wl[l] = w[0].data();
            return;
        }
        const int k = next++;
        ++busy;
        orbit[l] = k;
        x[l] = x0[k];
        y[l] = y0[k];
        wl[l] = w[static_cast<long>(k) * wStride].data();
        ok[l] = true;
        t[l] = 0;
        limit[l] = iterations;
        measuring[l] = iterations <= 0;
        watching[l] = true;
        watch[l].start(x[l], y[l]);
        tangent[l] = Tangent{};
    };
    for (int l = 0; l < kWidth; ++l)
        load(l);

    while (busy > 0) {
        lanes::Step(wl, orbit, x, y, ok);
        for (int l = 0; l < kWidth; ++l) {
            if (orbit[l] < 0)
                continue;
            const int done = ++t[l];
            if (measuring[l]) {
                carry(wl[l], x[l], y[l], tangent[l], ok[l]);
                if (done == steps) {
                    out[orbit[l]] = finish(tangent[l], steps, ok[l]);
                    --busy;
                    load(l);
                }
                continue;
            }
            if (watching[l]) {
                if (const int period = watch[l].see(done, x[l], y[l])) {
                    watching[l] = false;
                    limit[l] = done + (iterations - done) % period;
                }
            }
            if (done == limit[l]) {
                measuring[l] = true;
                t[l] = 0;
            }
        }
    }
}

} // namespace

Exponent Lyapunov(const Weights& w, int iterations, int steps, double x0, double y0)
{
    steps = steps < 1 ? 1 : steps;
    bool ok = true;
    double x = x0, y = y0;
    for (int i = 0; i < iterations; ++i)
        mapStep(w.data(), x, y, ok);
    Tangent t;
    for (int m = 0; m < steps; ++m) {
        mapStep(w.data(), x, y, ok);
        carry(w.data(), x, y, t, ok);
    }
    return finish(t, steps, ok);
}

void LyapunovMany(const Weights& w, int iterations, int steps, const double* x0,
                  const double* y0, int n, Exponent* out)
{
    if (n > 0)
        lockstep(&w, 0, iterations, steps < 1 ? 1 : steps, x0, y0, n, out);
}

void LyapunovManyEach(const Weights* w, int iterations, int steps, const double* x0,
                      const double* y0, int n, Exponent* out)
{
    if (n > 0)
        lockstep(w, 1, iterations, steps < 1 ? 1 : steps, x0, y0, n, out);
}

} // namespace model::kernel
