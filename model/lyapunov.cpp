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

// lanes::kWidth orbits in lockstep. The transient is cut short by an exact
// repeat of the state (lanes::Transient): the steps skipped repeat steps
// already taken, so the state after the full transient, and every error, is
// unchanged. The measuring steps are all taken: the tangent vector does not
// repeat.
class ExponentLanes : public lanes::MapLanes {
public:
    ExponentLanes(const Weights* w, int wStride, int iterations, int steps, const double* x0,
                  const double* y0, Exponent* out)
        : MapLanes(w, wStride, x0, y0), out_(out), iterations_(iterations), steps_(steps)
    {
    }

    void start(int l, int k)
    {
        MapLanes::start(l, k, iterations_, iterations_ > 0);
        tangent_[l] = Tangent{};
        measured_[l] = 0;
    }

    bool finished(int l, int k)
    {
        lanes::Transient& c = clock[l];
        if (!c.done()) {
            c.stepped(x[l], y[l]);
            if (c.done())
                c.stopWatching();
            return false;
        }
        carry(wl[l], x[l], y[l], tangent_[l], ok[l]);
        if (++measured_[l] < steps_)
            return false;
        out_[k] = finish(tangent_[l], steps_, ok[l]);
        return true;
    }

private:
    Exponent* out_;
    int iterations_, steps_;
    Tangent tangent_[W];
    int measured_[W]; // measuring steps taken
};

void lockstep(const Weights* w, int wStride, int iterations, int steps, const double* x0,
              const double* y0, int n, Exponent* out)
{
    ExponentLanes lanes(w, wStride, iterations, steps, x0, y0, out);
    lanes::Run<ExponentLanes::W>(n, lanes);
}

} // namespace

Exponent Lyapunov(const Weights& w, int iterations, int steps, double x0, double y0)
{
    steps = steps < 1 ? 1 : steps;
    bool ok = true;
    double x = x0, y = y0;
    for (int i = 0; i < iterations; ++i)
        MapStep(w.data(), x, y, ok);
    Tangent t;
    for (int m = 0; m < steps; ++m) {
        MapStep(w.data(), x, y, ok);
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
