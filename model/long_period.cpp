#include "model/long_period.h"

#include "model/lanes.h"
#include "model/network.h"

#include <algorithm>
#include <vector>

namespace model::kernel {

namespace {

int capOf(int maxPeriod) { return std::clamp(maxPeriod, 1, kMaxPeriodCap); }

// The states of an orbit from the end of its transient: S(j) for j < P the
// recorded points hx[j], hy[j], S(P) the final point, and beyond it the
// states of one more stretch, made on demand in `more` (2 doubles a state):
// stepped on from the final point, or, where the orbit is known to repeat
// exactly with a period L <= P from before S(P - L) on, copied from L states
// before. The copies are the bits the steps would give, and the steps repeat
// steps already taken, so they raise no new error either.
class States {
public:
    States(const double* hx, const double* hy, int p, double x, double y, const double* w,
           int exactPeriod, std::vector<double>& more)
        : hx_(hx), hy_(hy), p_(p), x_(x), y_(y), w_(w),
          period_(exactPeriod <= p ? exactPeriod : 0), more_(more)
    {
    }

    // S(j) for j <= 2P, stepping on as far as needed; false on a
    // floating-point error of a step.
    bool at(int j, double& x, double& y)
    {
        if (made_ < j - p_ && more_.size() < 2 * static_cast<size_t>(p_))
            more_.resize(2 * static_cast<size_t>(p_)); // a candidate needs them
        while (made_ < j - p_) {
            double nx = x_, ny = y_;
            if (period_ > 0) {
                at(p_ + made_ + 1 - period_, nx, ny);
            } else {
                if (made_ > 0) {
                    nx = more_[2 * (made_ - 1)];
                    ny = more_[2 * (made_ - 1) + 1];
                }
                MapStep(w_, nx, ny, ok_);
            }
            more_[2 * made_] = nx;
            more_[2 * made_ + 1] = ny;
            ++made_;
        }
        if (j < p_) {
            x = hx_[j];
            y = hy_[j];
        } else if (j == p_) {
            x = x_;
            y = y_;
        } else {
            x = more_[2 * (j - p_ - 1)];
            y = more_[2 * (j - p_ - 1) + 1];
        }
        return ok_;
    }

    // Whether S(i) and S(j) lie closer than the tolerance: the squared
    // distance below eps, strictly.
    bool near(int i, int j, double eps, bool& ok)
    {
        double xi, yi, xj, yj;
        ok = at(i, xi, yi) && at(j, xj, yj);
        const double dx = xi - xj;
        const double dy = yi - yj;
        return dy * dy + dx * dx < eps;
    }

private:
    const double *hx_, *hy_;
    int p_;
    double x_, y_;
    const double* w_;
    int period_;
    std::vector<double>& more_;
    int made_ = 0; // states made beyond S(P)
    bool ok_ = true;
};

// The period search: the smallest k = 1..P whose state k steps before the
// final point lies within the tolerance of it. With a cap P above the
// window's, that one return is not enough: the orbit must repeat for one
// whole cycle more, each of the k states after the final point within the
// tolerance of the state k steps before it. At the window's cap the search
// is the window classifier's, bit for bit. The
// cycle is stepped on only for such a candidate, and a chance return of a
// chaotic orbit fails within a few steps, which costs less than recording 2P
// states for every orbit. A floating-point error of those steps fails the
// orbit.
LongOrbit finishLong(const double* hx, const double* hy, int p, double x, double y, bool ok,
                     double eps, States& s)
{
    LongOrbit result;
    if (!StartResult(result, ok, x, y))
        return result;
    for (int k = FirstReturn(hx, hy, p, x, y, eps); k > 0;
         k = FirstReturn(hx, hy, p, x, y, eps, k + 1)) {
        bool cycle = true, sound = true;
        for (int i = 1; cycle && i <= k && p > kWindowPeriodCap; ++i) {
            cycle = s.near(p + i, p + i - k, eps, sound);
            if (!sound) {
                result.failed = true;
                return result;
            }
        }
        if (cycle) {
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
        States states(hx(l), hy(l), p_, fx, fy, wl[l], clock[l].period(), more_);
        out_[k] = finishLong(hx(l), hy(l), p_, fx, fy, ok[l], eps_, states);
        return true;
    }

    LongOrbit* out_;
    int iterations_, p_;
    double eps_;
    std::vector<double> hist_;
    std::vector<double> more_; // the states beyond the final point, for States
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
    std::vector<double> more;
    States states(hx.data(), hy.data(), p, x, y, w.data(), 0, more);
    return finishLong(hx.data(), hy.data(), p, x, y, ok, ok ? Tolerance(accuracy) : 0.0, states);
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
