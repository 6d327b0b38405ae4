#include "model/long_period.h"

#include "model/lanes.h"
#include "model/network.h"

#include <algorithm>
#include <vector>

namespace model::kernel {

namespace {

int capOf(int maxPeriod) { return std::clamp(maxPeriod, 1, kMaxPeriodCap); }

// The period search over the P recorded points hx[j], hy[j] (the point j steps
// after the transient) and the final point (x, y), P steps after it.
LongOrbit finish(const double* hx, const double* hy, int p, double x, double y, bool ok,
                 double eps)
{
    LongOrbit result;
    if (!ok) {
        result.failed = true;
        return result;
    }
    result.x = x;
    result.y = y;
    for (int k = 1; k <= p; ++k) {
        const double dx = x - hx[p - k];
        const double dy = y - hy[p - k];
        const double d = dy * dy + dx * dx;
        if (d < eps) { // strict: a distance equal to the tolerance is no match
            result.cls = static_cast<uint16_t>(k);
            break;
        }
    }
    return result;
}

inline void mapStep(const double* p, double& x, double& y, bool& ok)
{
    const double s1 = (p[0] * x + p[1] * y) + p[4];
    const double s2 = (p[2] * x + p[3] * y) + p[5];
    y = Transfer(s2, ok);
    x = Transfer(s1, ok);
}

// kWidth orbits in lockstep, each lane with a history of P points.
//
// Repeats are watched for (Brent's method, model/ENGINE.md) through the
// transient and the recording. Once the state after step s equals the one
// after step c = s - L, every state from step c on repeats with period L:
// - seen in the transient, the rest of it is skipped to the same phase, as in
//   the classifier;
// - in the recording, the rest of the history is copied: entry e equals entry
//   e - L, and the final point entry P - L, as long as e - L is a recorded
//   entry (e >= L) whose step lies at or beyond c. Both hold for every entry
//   from the current one on, once at least L entries are recorded: the
//   current entry's step is at least c + L when the repeat is seen.
//   Copies are states already reached, so no error is lost; a failed orbit
//   stays failed (its flag never rises again).
void lockstep(const Weights* w, int wStride, int iterations, int accuracy, int p,
              const double* x0, const double* y0, int n, LongOrbit* out)
{
    using lanes::kWidth;
    const double eps = Tolerance(accuracy);
    const int transient = std::max(iterations, 0);
    std::vector<double> hist(static_cast<size_t>(2 * kWidth) * p);

    double x[kWidth], y[kWidth];
    const double* wl[kWidth];
    bool ok[kWidth];
    int orbit[kWidth]; // -1 when idle
    int t[kWidth];     // transient steps taken, then entries recorded
    int limit[kWidth]; // the transient's length, shortened by a repeat
    bool recording[kWidth], watching[kWidth];
    int period[kWidth]; // the exact period once seen, else 0
    lanes::RepeatWatch watch[kWidth];

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
        wl[l] = w[static_cast<long>(k) * wStride].data();
        ok[l] = true;
        t[l] = 0;
        limit[l] = transient;
        recording[l] = transient == 0;
        watching[l] = true;
        period[l] = 0;
        watch[l].start(x[l], y[l]);
    };
    auto done = [&](int l, double fx, double fy) {
        double* hx = &hist[static_cast<size_t>(2 * l) * p];
        out[orbit[l]] = finish(hx, hx + p, p, fx, fy, ok[l], eps);
        --busy;
        load(l);
    };
    for (int l = 0; l < kWidth; ++l)
        load(l);

    while (busy > 0) {
        for (int l = 0; l < kWidth; ++l) {
            if (recording[l]) {
                double* hx = &hist[static_cast<size_t>(2 * l) * p];
                hx[t[l]] = x[l];
                hx[p + t[l]] = y[l];
            }
        }
        lanes::Step(wl, orbit, x, y, ok);
        for (int l = 0; l < kWidth; ++l) {
            if (orbit[l] < 0)
                continue;
            const int j = ++t[l];
            if (!recording[l]) {
                if (watching[l]) {
                    if (const int L = watch[l].see(j, x[l], y[l])) {
                        watching[l] = false;
                        period[l] = L;
                        limit[l] = j + (transient - j) % L;
                    }
                }
                if (j == limit[l]) {
                    recording[l] = true;
                    t[l] = 0;
                }
                continue;
            }
            if (j == p) {
                done(l, x[l], y[l]);
                continue;
            }
            if (watching[l]) {
                if (const int L = watch[l].see(transient + j, x[l], y[l])) {
                    watching[l] = false;
                    period[l] = L;
                }
            }
            const int L = period[l];
            if (L > 0 && j >= L) {
                double* hx = &hist[static_cast<size_t>(2 * l) * p];
                double* hy = hx + p;
                for (int e = j; e < p; ++e) {
                    hx[e] = hx[e - L];
                    hy[e] = hy[e - L];
                }
                done(l, hx[p - L], hy[p - L]);
            }
        }
    }
}

} // namespace

LongOrbit ClassifyLong(const Weights& w, int iterations, int accuracy, int maxPeriod,
                       double x0, double y0)
{
    const int p = capOf(maxPeriod);
    bool ok = true;
    double x = x0, y = y0;
    for (int step = 0; step < iterations; ++step)
        mapStep(w.data(), x, y, ok);
    std::vector<double> hx(p), hy(p);
    for (int j = 0; j < p; ++j) {
        hx[j] = x;
        hy[j] = y;
        mapStep(w.data(), x, y, ok);
    }
    return finish(hx.data(), hy.data(), p, x, y, ok, ok ? Tolerance(accuracy) : 0.0);
}

void ClassifyLongMany(const Weights& w, int iterations, int accuracy, int maxPeriod,
                      const double* x0, const double* y0, int n, LongOrbit* out)
{
    if (n > 0)
        lockstep(&w, 0, iterations, accuracy, capOf(maxPeriod), x0, y0, n, out);
}

void ClassifyLongManyEach(const Weights* w, int iterations, int accuracy, int maxPeriod,
                          const double* x0, const double* y0, int n, LongOrbit* out)
{
    if (n > 0)
        lockstep(w, 1, iterations, accuracy, capOf(maxPeriod), x0, y0, n, out);
}

} // namespace model::kernel
