#include "model/network.h"

#include "model/errors.h"
#include "model/numbers.h"

#include <cfloat>
#include <cmath>

namespace model {

namespace kernel {

double Transfer(double s, bool& ok)
{
    const double a = s + s;
    const double e = std::exp(a);
    // s + s overflows only past +-DBL_MAX/2, the exponential past about 709.78;
    // both leave a non-finite value behind. Underflow of e to 0 is no error.
    ok = ok & (std::fabs(a) <= DBL_MAX) & (e <= DBL_MAX);
    return (e - 1.0) / (e + 1.0);
}

double Tolerance(int accuracy)
{
    const double ln10 = std::log(10.0);
    return std::exp(static_cast<double>(-accuracy) * ln10);
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
    Orbit result;
    if (!ok) {
        result.failed = true;
        return result;
    }
    const double eps = Tolerance(accuracy);
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

void ClassifyMany(const Weights& w, int iterations, int accuracy, const double* x0,
                  const double* y0, int n, bool locateFp, Orbit* out)
{
    for (int k = 0; k < n; ++k)
        out[k] = Classify(w, iterations, accuracy, x0[k], y0[k], locateFp);
}

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
