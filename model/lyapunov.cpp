#include "model/lyapunov.h"

#include "model/lanes.h"
#include "model/network.h"
#include "model/tangent.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

namespace model::kernel {

namespace {

// The tangent vector of the largest exponent (model/tangent.h).
struct Tangent {
    double vx = 1.0, vy = 0.0;
    int64_t exponent = 0;

    void carry(const double* p, double x, double y, bool&)
    {
        CarryTangent<double, int64_t>(p[0], p[1], p[2], p[3], x, y, vx, vy, exponent);
    }
    Exponent result(int steps, bool ok) const;
};

Exponent finish(double vx, double vy, int64_t exponent, int steps, bool ok)
{
    Exponent e;
    e.lambda = TangentExponent(vx, vy, exponent, steps, e.failed);
    e.failed = e.failed || !ok;
    return e;
}

Exponent Tangent::result(int steps, bool ok) const { return finish(vx, vy, exponent, steps, ok); }

// The Lyapunov lanes: kOrbitLanes orbits in the vector lanes of
// StepTangentLanes, refilled by lanes::Run, the transient cut short by an
// exact repeat as in the classifier: the steps skipped repeat steps already
// taken, so the state after the full transient, and every error, is
// unchanged. Every lane carries a tangent vector; a lane's vector starts
// afresh from (1, 0) when its transient ends, so the lanes stop there too.
// The measuring steps are all taken: the tangent vector does not repeat.
class ExponentLanes : public lanes::VectorLanes {
public:
    ExponentLanes(const Weights* w, int wStride, int iterations, int steps, const double* x0,
                  const double* y0, Exponent* out)
        : VectorLanes(w, wStride, x0, y0, iterations, steps, true), out_(out), steps_(steps)
    {
    }

    void start(int l, int k)
    {
        VectorLanes::start(l, k);
        restart(l);
    }

    void step(const int* orbit) { StepTangentLanes(b, tangent_, room(orbit, true)); }

    bool finished(int l, int k)
    {
        const int64_t t = watch(l);
        if (t == limit[l])
            restart(l); // the transient ends here: the measurement begins
        if (t != end[l])
            return false;
        out_[k] = finish(tangent_.vx[l], tangent_.vy[l], tangent_.e[l], steps_, b.bad[l] == 0.0);
        return true;
    }

private:
    void restart(int l)
    {
        tangent_.vx[l] = 1.0;
        tangent_.vy[l] = 0.0;
        tangent_.e[l] = 0;
    }

    Exponent* out_;
    int steps_;
    TangentLanes tangent_{};
};

// The growth of a vector as a product kept with its binary exponent split
// off: m * 2^e with m in [0.5, 1). Exact but for the rounding of m * f.
struct Growth {
    double m = 0.5;
    int64_t e = 1;

    void times(double f) // f > 0 and finite
    {
        int ef, em;
        const double mf = std::frexp(f, &ef);
        m = std::frexp(m * mf, &em);
        e += static_cast<int64_t>(ef) + em;
    }
    double log() const { return std::log(m) + static_cast<double>(e) * std::numbers::ln2; }
};

// Sets v to u over its length r and multiplies the growth g by r; false,
// changing nothing, when r is 0 or not finite (ok then becomes false).
inline bool normalise(double ux, double uy, double& vx, double& vy, Growth& g, bool& ok)
{
    const double n2 = ux * ux + uy * uy;
    double r;
    if (n2 >= DBL_MIN && n2 <= DBL_MAX) {
        r = std::sqrt(n2);
    } else {
        // The square underflowed or overflowed although the vector itself
        // may be fine (tiny or huge weights): the length without squaring.
        r = std::hypot(ux, uy);
        ok = ok & (r <= DBL_MAX);
        if (r == 0.0 || !ok)
            return false;
    }
    vx = ux / r;
    vy = uy / r;
    g.times(r);
    return true;
}

// Two orthonormal tangent vectors a and b, carried through the Jacobian and
// orthonormalised by Gram-Schmidt every step; the growths are r11 = |J a| and
// r22, the length of J b less its part along J a.
struct Frame {
    double ax = 1.0, ay = 0.0, bx = 0.0, by = 1.0;
    Growth g1, g2;
    int collapsed = 0; // 1: the area is mapped to 0 (lambda2 -inf); 2: every vector is

    void carry(const double* p, double x, double y, bool& ok);
    Spectrum result(int steps, bool ok) const;
};

void Frame::carry(const double* p, double x, double y, bool& ok)
{
    if (collapsed == 2 || !ok)
        return;
    const double gx = 1.0 - x * x;
    const double gy = 1.0 - y * y;
    const double u1x = gx * (p[0] * ax + p[1] * ay);
    const double u1y = gy * (p[2] * ax + p[3] * ay);
    if (!normalise(u1x, u1y, ax, ay, g1, ok)) {
        collapsed = 2;
        return;
    }
    if (collapsed == 1)
        return;
    const double u2x = gx * (p[0] * bx + p[1] * by);
    const double u2y = gy * (p[2] * bx + p[3] * by);
    const double r12 = ax * u2x + ay * u2y;
    if (!normalise(u2x - r12 * ax, u2y - r12 * ay, bx, by, g2, ok))
        collapsed = 1;
}

Spectrum Frame::result(int steps, bool ok) const
{
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    const double n = static_cast<double>(steps);
    Spectrum s;
    s.failed = !ok;
    s.lambda1 = collapsed == 2 ? kNone : g1.log() / n;
    s.lambda2 = collapsed >= 1 ? kNone : g2.log() / n;
    // A finite measurement may rank the two the other way round (a short one
    // from the start vectors); the larger is lambda1.
    if (s.lambda2 > s.lambda1)
        std::swap(s.lambda1, s.lambda2);
    return s;
}

// lanes::MapLanes::W orbits in lockstep carrying a Frame each, the
// transient cut short by an exact repeat as above.
class SpectrumLanes : public lanes::MapLanes {
public:
    SpectrumLanes(const Weights* w, int wStride, int iterations, int steps, const double* x0,
                  const double* y0, Spectrum* out)
        : MapLanes(w, wStride, x0, y0), out_(out), iterations_(iterations), steps_(steps)
    {
    }

    void start(int l, int k)
    {
        MapLanes::start(l, k, iterations_, iterations_ > 0);
        frame_[l] = Frame{};
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
        frame_[l].carry(wl[l], x[l], y[l], ok[l]);
        if (++measured_[l] < steps_)
            return false;
        out_[k] = frame_[l].result(steps_, ok[l]);
        return true;
    }

private:
    Spectrum* out_;
    int iterations_, steps_;
    Frame frame_[W];
    int measured_[W]; // measuring steps taken
};

int measuringSteps(int steps) { return steps < 1 ? 1 : steps; }

// The plain orbit from (x0, y0): the transient, then the measuring steps,
// each followed by the carrier's step at the new point; the carrier's result.
template <class Carrier>
auto measure(const Weights& w, int iterations, int steps, double x0, double y0)
{
    steps = measuringSteps(steps);
    Carrier c;
    bool ok = true;
    double x = x0, y = y0;
    for (int i = 0; i < iterations; ++i)
        MapStep(w.data(), x, y, ok);
    for (int m = 0; m < steps; ++m) {
        MapStep(w.data(), x, y, ok);
        c.carry(w.data(), x, y, ok);
    }
    return c.result(steps, ok);
}

// n orbits through the lanes of a kernel, orbit k under w[k * wStride].
template <class Lanes, class Result>
void runLanes(const Weights* w, int wStride, int iterations, int steps, const double* x0,
              const double* y0, int n, Result* out)
{
    Lanes lanes(w, wStride, iterations, measuringSteps(steps), x0, y0, out);
    lanes::Run<Lanes::W>(n, lanes);
}

} // namespace

Exponent Lyapunov(const Weights& w, int iterations, int steps, double x0, double y0)
{
    return measure<Tangent>(w, iterations, steps, x0, y0);
}

void LyapunovMany(const Weights& w, int iterations, int steps, const double* x0,
                  const double* y0, int n, Exponent* out)
{
    runLanes<ExponentLanes>(&w, 0, iterations, steps, x0, y0, n, out);
}

void LyapunovManyEach(const Weights* w, int iterations, int steps, const double* x0,
                      const double* y0, int n, Exponent* out)
{
    runLanes<ExponentLanes>(w, 1, iterations, steps, x0, y0, n, out);
}

Spectrum LyapunovSpectrum(const Weights& w, int iterations, int steps, double x0, double y0)
{
    return measure<Frame>(w, iterations, steps, x0, y0);
}

void LyapunovSpectrumMany(const Weights& w, int iterations, int steps, const double* x0,
                          const double* y0, int n, Spectrum* out)
{
    runLanes<SpectrumLanes>(&w, 0, iterations, steps, x0, y0, n, out);
}

void LyapunovSpectrumManyEach(const Weights* w, int iterations, int steps, const double* x0,
                              const double* y0, int n, Spectrum* out)
{
    runLanes<SpectrumLanes>(w, 1, iterations, steps, x0, y0, n, out);
}

} // namespace model::kernel
