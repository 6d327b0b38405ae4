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

uint64_t bitsOf(double v) { return std::bit_cast<uint64_t>(v); }

} // namespace

Orbit FinishOrbit(const double* hx, const double* hy, double x, double y, bool ok, double eps,
                  bool locateFp)
{
    Orbit result;
    if (!ok) {
        result.failed = true;
        return result;
    }
    result.x = x;
    result.y = y;
    for (int k = 1; k <= kCap; ++k) {
        const double dx = x - hx[kCap - k];
        const double dy = y - hy[kCap - k];
        const double d = dy * dy + dx * dx;
        if (d < eps) { // strict: a distance equal to the tolerance is no match
            result.cls = static_cast<int16_t>(k);
            break;
        }
    }
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
// history ring and the repeat check done branch-free beside the steps
// (Brent's method, as lanes::Transient, see model/ENGINE.md). A lane's last
// kCap states are in the ring, so an orbit needs no recording phase: it ends
// limit + kCap steps after its start. Orbit k runs under w[k * wStride].
class ClassifierLanes {
public:
    static_assert(kCap == 16, "the history ring of OrbitLanes holds 16 states");
    static constexpr int64_t kIdle = INT64_MAX / 4;

    ClassifierLanes(const Weights* w, int wStride, int iterations, int accuracy,
                    const double* x0, const double* y0, bool locateFp, Orbit* out)
        : w_(w), wStride_(wStride), x0_(x0), y0_(y0), locateFp_(locateFp), out_(out),
          shortcut_(repeatShortcut.load(std::memory_order_relaxed)), eps_(Tolerance(accuracy)),
          transient_(iterations > 0 ? iterations : 0)
    {
    }

    void idle(int l)
    {
        end_[l] = kIdle;
        for (int i = 0; i < 6; ++i)
            b_.w[i][l] = 0.0;
        b_.x[l] = b_.y[l] = 0.0;
        b_.watch[l] = 0;
        b_.bad[l] = 0.0;
    }

    void start(int l, int k)
    {
        const Weights& p = w_[static_cast<long>(k) * wStride_];
        for (int i = 0; i < 6; ++i)
            b_.w[i][l] = p[i];
        b_.x[l] = x0_[k];
        b_.y[l] = y0_[k];
        b_.bad[l] = 0.0;
        b_.t[l] = 0;
        b_.cx[l] = bitsOf(b_.x[l]);
        b_.cy[l] = bitsOf(b_.y[l]);
        b_.cpos[l] = 0;
        b_.cnext[l] = 1;
        b_.watch[l] = shortcut_ && transient_ > 0 ? -1 : 0;
        limit_[l] = transient_;
        end_[l] = transient_ + kCap;
    }

    void step(const int* orbit)
    {
        int64_t room = kIdle; // steps until the next busy lane's orbit ends
        for (int l = 0; l < kOrbitLanes; ++l)
            if (orbit[l] >= 0)
                room = std::min(room, end_[l] - b_.t[l]);
        g_ += StepLanes(b_, g_, static_cast<int>(std::min<int64_t>(room, 1 << 20)));
    }

    bool finished(int l, int k)
    {
        const int64_t t = b_.t[l];
        if (b_.watch[l] && b_.cpos[l] != t && bitsOf(b_.x[l]) == b_.cx[l]
            && bitsOf(b_.y[l]) == b_.cy[l]) {
            // A repeat (not a checkpoint that has just moved to the state):
            // the state after step t is the one after step cpos, so the orbit
            // has period t - cpos from there on. Only a repeat inside the
            // transient shortens it.
            b_.watch[l] = 0;
            if (t < limit_[l]) {
                limit_[l] = t + (transient_ - t) % (t - b_.cpos[l]);
                end_[l] = limit_[l] + kCap;
            }
        } else if (t >= limit_[l]) {
            b_.watch[l] = 0; // past the transient: no more repeats to look for
        }
        if (t != end_[l])
            return false;
        double hx[kCap], hy[kCap];
        for (int j = 0; j < kCap; ++j) {
            hx[j] = b_.hx[(g_ - kCap + j) & (kCap - 1)][l];
            hy[j] = b_.hy[(g_ - kCap + j) & (kCap - 1)][l];
        }
        out_[k] = FinishOrbit(hx, hy, b_.x[l], b_.y[l], b_.bad[l] == 0.0, eps_, locateFp_);
        return true;
    }

private:
    const Weights* w_;
    int wStride_;
    const double *x0_, *y0_;
    bool locateFp_;
    Orbit* out_;
    bool shortcut_;
    double eps_;
    int64_t transient_;
    OrbitLanes b_{}; // idle lanes step zeros
    int64_t end_[kOrbitLanes];   // the step count at which the lane's orbit is classified
    int64_t limit_[kOrbitLanes]; // the transient's length, shortened by a repeat
    int64_t g_ = 0;              // global steps taken, for the history ring
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
