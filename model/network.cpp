#include "model/network.h"

#include "model/errors.h"
#include "model/exp.h"
#include "model/lanes.h"
#include "model/numbers.h"
#include "model/transfer_lanes.h"

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

constexpr int kCap = kWindowPeriodCap;

std::atomic<bool> repeatShortcut{true};

} // namespace

int FirstReturn(const double* hx, const double* hy, int p, double x, double y, double eps,
                int from)
{
    for (int k = from; k <= p; ++k) {
        const double dx = x - hx[p - k];
        const double dy = y - hy[p - k];
        if (dy * dy + dx * dx < eps) // strict: a distance equal to the tolerance is no match
            return k;
    }
    return 0;
}

Orbit FinishOrbit(const double* hx, const double* hy, double x, double y, bool ok, double eps,
                  bool locateFp)
{
    Orbit result;
    if (!StartResult(result, ok, x, y))
        return result;
    result.cls = static_cast<int16_t>(FirstReturn(hx, hy, kCap, x, y, eps));
    if (locateFp && result.cls == 1) {
        result.cls = kFixpointClass;
        result.fpColor = FixpointColorOf(x, y);
    }
    return result;
}

namespace {

// The classifier's lanes: kOrbitLanes orbits in the vector lanes of
// StepLanes, refilled by lanes::Run. StepLanes runs every lane until the
// next busy lane's orbit ends (or a watching lane finds a repeat), with the
// history ring beside the steps. A lane's last kCap states are in the ring,
// so an orbit needs no recording phase: it ends kCap steps after its
// transient.
class ClassifierLanes : public lanes::VectorLanes {
public:
    static_assert(kCap == OrbitLanes::kHistory, "the history ring holds the recorded states");

    ClassifierLanes(const Weights* w, int wStride, int iterations, int accuracy,
                    const double* x0, const double* y0, bool locateFp, Orbit* out)
        : VectorLanes(w, wStride, x0, y0, iterations, kCap,
                      repeatShortcut.load(std::memory_order_relaxed)),
          locateFp_(locateFp), out_(out), eps_(Tolerance(accuracy))
    {
    }

    void step(const int* orbit) { g_ += StepLanes(b, g_, room(orbit, false)); }

    bool finished(int l, int k)
    {
        if (watch(l) != end[l])
            return false;
        double hx[kCap], hy[kCap];
        for (int j = 0; j < kCap; ++j) {
            hx[j] = b.hx[(g_ - kCap + j) & (kCap - 1)][l];
            hy[j] = b.hy[(g_ - kCap + j) & (kCap - 1)][l];
        }
        out_[k] = FinishOrbit(hx, hy, b.x[l], b.y[l], b.bad[l] == 0.0, eps_, locateFp_);
        return true;
    }

private:
    bool locateFp_;
    Orbit* out_;
    double eps_;
    int64_t g_ = 0; // global steps taken, for the history ring
};

void classify(const Weights* w, int wStride, int iterations, int accuracy, const double* x0,
              const double* y0, int n, bool locateFp, Orbit* out)
{
    if (n <= 0)
        return;
    ClassifierLanes lanes(w, wStride, iterations, accuracy, x0, y0, locateFp, out);
    lanes::Run<kOrbitLanes>(n, lanes);
}

} // namespace

// The plain classification, one step after the other with no shortcut: the
// definition that the lockstep path reproduces bit for bit.
Orbit Classify(const Weights& w, int iterations, int accuracy, double x0, double y0,
               bool locateFp)
{
    bool ok = true;
    double x = x0, y = y0;
    for (int step = 0; step < iterations; ++step)
        MapStep(w.data(), x, y, ok);
    double hx[kCap], hy[kCap]; // hx[j - 1] is X[j]
    for (int j = 0; j < kCap; ++j) {
        hx[j] = x;
        hy[j] = y;
        MapStep(w.data(), x, y, ok);
    }
    return FinishOrbit(hx, hy, x, y, ok, ok ? Tolerance(accuracy) : 0.0, locateFp);
}

void ClassifyMany(const Weights& w, int iterations, int accuracy, const double* x0,
                  const double* y0, int n, bool locateFp, Orbit* out)
{
    classify(&w, 0, iterations, accuracy, x0, y0, n, locateFp, out);
}

void ClassifyManyEach(const Weights* w, int iterations, int accuracy, const double* x0,
                      const double* y0, int n, bool locateFp, Orbit* out)
{
    classify(w, 1, iterations, accuracy, x0, y0, n, locateFp, out);
}

void SetRepeatShortcut(bool on) { repeatShortcut = on; }
bool RepeatShortcut() { return repeatShortcut; }

bool IsNearFixpoint(const Weights& w, int accuracy, double x, double y, bool& ok)
{
    const double d1 = Transfer(Sum1(w.data(), x, y), ok) - x;
    const double d2 = Transfer(Sum2(w.data(), x, y), ok) - y;
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
    if (o.cls == kFixpointClass)
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
    static constexpr Color palette[kWindowPeriodCap + 1] = {
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
    if (index == kFixpointClass)
        return st.fixpointColor;
    if (index >= 1 && index <= kWindowPeriodCap)
        return palette[index];
    return 0;
}

} // namespace model
