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
LongOrbit finishLong(const double* hx, const double* hy, int p, double x, double y, bool ok,
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

// lanes::kWidth orbits in lockstep, each lane with a history of P points.
//
// Repeats are watched for (lanes::Transient) through the transient and the
// recording. Once the state after step s equals the one after step
// c = s - L, every state from step c on repeats with period L:
// - seen in the transient, the rest of it is skipped to the same phase, as in
//   the classifier;
// - in the recording, the rest of the history is copied: entry e equals entry
//   e - L, and the final point entry P - L, as long as e - L is a recorded
//   entry (e >= L) whose step lies at or beyond c. Both hold for every entry
//   from the current one on, once at least L entries are recorded: the
//   current entry's step is at least c + L when the repeat is seen.
//   Copies are states already reached, so no error is lost; a failed orbit
//   stays failed (its flag never rises again).
class LongLanes : public lanes::MapLanes {
public:
    LongLanes(const Weights* w, int wStride, int iterations, int accuracy, int p,
              const double* x0, const double* y0, LongOrbit* out)
        : MapLanes(w, wStride, x0, y0), out_(out), iterations_(iterations), p_(p),
          eps_(Tolerance(accuracy)), hist_(static_cast<size_t>(2 * W) * p)
    {
    }

    void start(int l, int k) { MapLanes::start(l, k, iterations_, true); }

    void step(const int* orbit)
    {
        for (int l = 0; l < W; ++l) {
            if (orbit[l] >= 0 && clock[l].done()) {
                const int j = entry(l);
                hx(l)[j] = x[l];
                hy(l)[j] = y[l];
            }
        }
        MapLanes::step(orbit);
    }

    bool finished(int l, int k)
    {
        lanes::Transient& c = clock[l];
        if (!c.done()) {
            c.stepped(x[l], y[l]);
            return false;
        }
        const int j = entry(l) + 1; // entries recorded, the step just taken included
        if (j == p_)
            return finish(k, l, x[l], y[l]);
        c.stepped(x[l], y[l]);
        const int L = c.period();
        if (L == 0 || j < L)
            return false;
        double* ex = hx(l);
        double* ey = hy(l);
        for (int e = j; e < p_; ++e) {
            ex[e] = ex[e - L];
            ey[e] = ey[e - L];
        }
        return finish(k, l, ex[p_ - L], ey[p_ - L]);
    }

private:
    double* hx(int l) { return &hist_[static_cast<size_t>(2 * l) * p_]; }
    double* hy(int l) { return hx(l) + p_; }
    // The history entry that the lane's next step starts from.
    int entry(int l) const { return clock[l].taken() - clock[l].length(); }

    bool finish(int k, int l, double fx, double fy)
    {
        out_[k] = finishLong(hx(l), hy(l), p_, fx, fy, ok[l], eps_);
        return true;
    }

    LongOrbit* out_;
    int iterations_, p_;
    double eps_;
    std::vector<double> hist_;
};

void lockstep(const Weights* w, int wStride, int iterations, int accuracy, int p,
              const double* x0, const double* y0, int n, LongOrbit* out)
{
    LongLanes lanes(w, wStride, iterations, accuracy, p, x0, y0, out);
    lanes::Run<LongLanes::W>(n, lanes);
}

} // namespace

LongOrbit ClassifyLong(const Weights& w, int iterations, int accuracy, int maxPeriod,
                       double x0, double y0)
{
    const int p = capOf(maxPeriod);
    bool ok = true;
    double x = x0, y = y0;
    for (int step = 0; step < iterations; ++step)
        MapStep(w.data(), x, y, ok);
    std::vector<double> hx(p), hy(p);
    for (int j = 0; j < p; ++j) {
        hx[j] = x;
        hy[j] = y;
        MapStep(w.data(), x, y, ok);
    }
    return finishLong(hx.data(), hy.data(), p, x, y, ok, ok ? Tolerance(accuracy) : 0.0);
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
