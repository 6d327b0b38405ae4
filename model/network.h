// The network map, the orbit classifiers and the period palette.
//
// The kernel functions (namespace model::kernel) are pure: they take the
// parameters and settings by value and report a floating-point error through
// their result instead of throwing, so that many orbits can be evaluated at
// once on any thread. The named procedures below them read and write the
// window's state and throw the run-time error.
#pragma once

#include "model/map.h"
#include "model/state.h"

#include <cstdint>

namespace model {

namespace kernel {

// One classification: the class, and for a located fixed point its colour.
struct Orbit {
    int16_t cls = 0;      // 0..kWindowPeriodCap, or kFixpointClass for a located fixed point
    Color fpColor = 0;    // valid when cls == kFixpointClass
    bool failed = false;  // a floating-point error happened; cls is meaningless
    // The point after iterations + kWindowPeriodCap steps, bit for bit; meaningless when failed.
    double x = 0, y = 0;

    friend bool operator==(const Orbit&, const Orbit&) = default;
};

// tanh(s) as (e - 1) / (e + 1) with e = exp(s + s). ok becomes false on
// overflow of s + s or of the exponential (or a NaN input); it is never set
// back to true.
double Transfer(double s, bool& ok);

// One step of the map from (x, y) under the parameter vector p: both sums,
// then the transfer of each. ok as for Transfer.
inline void MapStep(const double* p, double& x, double& y, bool& ok)
{
    const double s1 = Sum1(p, x, y);
    const double s2 = Sum2(p, x, y);
    y = Transfer(s2, ok);
    x = Transfer(s1, ok);
}

// Tolerance 10^-accuracy, computed as exp(-accuracy * ln 10).
double Tolerance(int accuracy);

// Classifies the orbit from (x0, y0): iterations transient steps,
// kWindowPeriodCap recorded steps, then the smallest period 1..kWindowPeriodCap
// whose squared distance is below the tolerance (strictly), else 0. With
// locateFp a period-1 result becomes kFixpointClass
// with the colour that encodes where the fixed point lies.
Orbit Classify(const Weights& w, int iterations, int accuracy, double x0, double y0,
               bool locateFp);

// The period search: the smallest k = from..p (from >= 1) for which the
// squared distance between the final point (x, y) and the point k steps
// before it, hx[p - k], hy[p - k], is below eps (strictly), else 0.
int FirstReturn(const double* hx, const double* hy, int p, double x, double y, double eps,
                int from = 1);

// The common start of a finished classification: a failed orbit, or one that
// ends at (x, y). Returns whether the search for a period goes on.
template <class Result>
bool StartResult(Result& result, bool ok, double x, double y)
{
    result.failed = !ok;
    if (ok) {
        result.x = x;
        result.y = y;
    }
    return ok;
}

// The end of a classification: the period search over the kWindowPeriodCap
// recorded points hx[j - 1], hy[j - 1] (the point j - 1 steps after the
// transient) and the final point (x, y); ok false gives a failed result.
Orbit FinishOrbit(const double* hx, const double* hy, double x, double y, bool ok, double eps,
                  bool locateFp);

// Classifies n orbits from (x0[k], y0[k]) into out[k]; bit for bit the same
// results as n calls of Classify, computed together: several orbits are
// stepped in lockstep, and a transient whose state repeats exactly is cut
// short (see model/ENGINE.md).
void ClassifyMany(const Weights& w, int iterations, int accuracy, const double* x0,
                  const double* y0, int n, bool locateFp, Orbit* out);

// As ClassifyMany, but orbit k runs under its own parameter vector w[k]: the
// parameter-plane plots, whose weights change from dot to dot of a column.
void ClassifyManyEach(const Weights* w, int iterations, int accuracy, const double* x0,
                      const double* y0, int n, bool locateFp, Orbit* out);

// The exact repeat shortcut of ClassifyMany (on by default), switchable for
// tests and benchmarks; it changes no result.
void SetRepeatShortcut(bool on);
bool RepeatShortcut();

// Colour of a fixed point (x, y) as the fixed-point classifier stores it.
Color FixpointColorOf(double x, double y);

// Whether one step moves (x, y) by a squared distance below the tolerance.
// ok becomes false on a floating-point error.
bool IsNearFixpoint(const Weights& w, int accuracy, double x, double y, bool& ok);

} // namespace kernel

// The floating-point error of an orbit that could not be iterated.
[[noreturn]] void ThrowOrbitFailed();

// The window's procedures. Each throws RuntimeError on a floating-point error.
double Transfer(double s);
int16_t ClassifyOrbit(const State& st, double x, double y);
int16_t ClassifyOrbitFp(State& st, double x, double y); // writes fixpointColor on kFixpointClass
bool IsNearFixpoint(const State& st, double x, double y);
Color PeriodColor(const State& st, int16_t index);

} // namespace model
