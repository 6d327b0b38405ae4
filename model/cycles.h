// The periodic orbits of the network map at one parameter vector, with their
// multipliers and their stability.
//
// The map is x' = tanh((w11 x + w12 y) + b1), y' = tanh((w21 x + w22 y) + b2).
// These are analyses, not pictures: they use std::tanh, and their results are
// deterministic (the same on any number of threads) but not tied bit for bit
// to the classifier's orbit.
#pragma once

#include "model/exp.h"
#include "model/state.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace model::analysis {

// One multiplier (an eigenvalue of a cycle's Jacobian), complex in general.
struct Multiplier {
    double re = 0;
    double im = 0;
    friend bool operator==(const Multiplier&, const Multiplier&) = default;
};

// The two multipliers of a 2 x 2 matrix with trace `trace` and determinant
// `det`. A real pair comes larger modulus first (the second is det / first,
// which keeps a small multiplier accurate beside a large one); a complex pair
// comes with the positive imaginary part first.
std::array<Multiplier, 2> Multipliers(double trace, double det);

// The slope of tanh at s, 1 - tanh(s)^2, computed from s so that it stays
// accurate (and positive) where tanh(s) itself rounds to +-1.
double TanhSlope(double s);

// tanh s and its slope 1 - tanh^2 s, both to a few units in the last place
// relative to themselves, without overflow, from one reduction of
// -2|s| to u = e^(-2|s|) and m = u - 1 (the project's own, so that a block of
// them in vector lanes, TanhWithSlopeLanes, gives the same bits):
// tanh |s| = -m / (1 + u) and 1 - tanh^2 s = 4 u / (1 + u)^2.
inline void TanhWithSlope(double s, double& t, double& slope)
{
    double u, m;
    ExpAndExpM1OfNonPositive(-2 * std::fabs(s), u, m);
    const double r = 1 / (1 + u);
    t = std::copysign(-m * r, s);
    slope = ((4 * u) * r) * r;
}

// How a cycle attracts, by the moduli of its multipliers.
enum class OrbitType : uint8_t {
    Attracting,    // both |mu| < 1
    Saddle,        // one |mu| < 1, one |mu| > 1
    Repelling,     // both |mu| > 1
    NonHyperbolic, // some |mu| within kNonHyperbolic of 1
};
constexpr double kNonHyperbolic = 1e-9;

OrbitType TypeOf(const std::array<Multiplier, 2>& mu);

// The modulus of a multiplier, exactly as std::hypot gives it.
double Modulus(const Multiplier& mu);

// "attracting", "saddle", "repelling" or "non-hyperbolic".
const char* TypeName(OrbitType type);

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default; // exact
};

// A periodic orbit of minimal period `period`: its points in the order the
// map visits them, the first being its point of smallest x (then smallest y).
struct Cycle {
    int period = 0;
    std::vector<Point> points;
    std::array<Multiplier, 2> multipliers{};
    OrbitType type = OrbitType::NonHyperbolic;
};

// What to search: periods 1..maxPeriod, from a seeds x seeds grid of starts
// over [x0, x1] x [y0, y1] (the corners included; one seed is the centre),
// and from the caller's own starts after them (the attractors that a basin
// classification found, say).
struct CycleSearch {
    int maxPeriod = 16;       // 1..kMaxCyclePeriod
    int seeds = 64;           // 1..kMaxCycleSeeds
    double x0 = -1, x1 = 1;   // the region of the grid of starts
    double y0 = -1, y1 = 1;
    std::vector<Point> extraStarts;
};
constexpr int kMaxCyclePeriod = 64;
constexpr int kMaxCycleSeeds = 1024;

struct CycleReport {
    // By period, then by first point (x, then y).
    std::vector<Cycle> cycles;
    // One Newton run per start and period.
    int64_t newtonRuns = 0;
    // Runs that met a non-finite number (an overflow) and runs that did not
    // converge within their iteration budget: skipped, not errors.
    int64_t overflowed = 0;
    int64_t notConverged = 0;
};

// Every periodic orbit that Newton's method finds from the starts. Throws
// RuntimeError (IndexOutOfRange) for a period or seed count out of range or a
// region that is not finite; parameters that are not finite give no cycles.
//
// Each run solves the cycle equations z_{i+1} = F(z_i) (indices modulo the
// period k), starting from the start's own orbit z_i = F^i(z_0). The Newton
// step is the one of F^k(z) - z with the exact Jacobian of the k-fold map (the
// product of the step Jacobians along the orbit), carried back along the
// orbit point by point; it is damped so that it stays within 1 in every
// coordinate and always lowers the largest defect |F(z_i) - z_{i+1}|. A run
// converges when that defect is below 1e-12: for k = 1 this is |F(z) - z|, and
// for longer cycles it is the one test that rounding does not defeat (along an
// orbit that expands by 1e8, F^k(z) - z carries rounding errors of 1e-8 even
// at the true cycle). Orbits whose minimal period is a proper divisor of k
// are left to that period; a cycle reached again (from any of its points,
// within 1e-9 plus the run's own accuracy) is listed once.
CycleReport FindCycles(const Weights& w, const CycleSearch& search);

// The cycle equations solved by the same Newton runs as FindCycles, from a
// whole orbit guessed beforehand (in map order, its length the period; the
// cycle of a nearby parameter vector, say): the converged orbit point for
// point in the guess's order, or none where the run overflowed or did not
// converge. The orbit's minimal period is the caller's to check. Where
// monodromy is given, it receives MonodromyOf(w, the orbit), the same bits,
// from the Jacobians the last Newton step evaluated anyway.
constexpr int kMaxRefinedPeriod = 1 << 16;
struct Monodromy;
std::optional<std::vector<Point>> RefineCycle(const Weights& w, const std::vector<Point>& guess,
                                              Monodromy* monodromy = nullptr);

// The product M of the step Jacobians along an orbit (the Jacobian of the
// k-fold map at its first point): its trace, its determinant as the product
// of the steps' determinants (exact where M is dominated by one large
// multiplier), and its entries [a b; c d].
struct Monodromy {
    double trace = 0, det = 0;
    double a = 1, b = 0, c = 0, d = 1;
};
Monodromy MonodromyOf(const Weights& w, const std::vector<Point>& points);

// The smallest divisor d of the orbit's length after which it repeats, each
// point within `tolerance` (the larger coordinate difference) of the one d
// steps before.
int MinimalPeriod(const std::vector<Point>& points, double tolerance);

// The index of the cycle one of whose points lies within `tolerance` of
// (x, y) in both coordinates, the nearest if several; none if no point does.
// A basin classification's attractor is matched to its cycle so.
std::optional<size_t> CycleThrough(const std::vector<Cycle>& cycles, double x, double y,
                                   double tolerance);

} // namespace model::analysis
