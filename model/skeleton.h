// The bifurcation skeleton of the cycles: where, between two parameter
// vectors, a cycle followed by continuation loses or changes its stability,
// and where, along one parameter, an attracting cycle doubles its period
// again and again.
//
// A cycle of period k is followed from one parameter vector to the next by
// Newton's method on the cycle equations (RefineCycle), started from the
// cycle found at the previous step: the step is halved where the run fails,
// where the orbit moves by more than kMaxMove or where its minimal period
// drops, and doubled after each success. Where the last two steps predict a
// fold ahead (the fold test goes as the square root of the distance), the
// fold is approached instead, each step most of the way, from the cycle
// guessed on the parabola of the branch. Along the way the monodromy matrix
// M (the Jacobian of the k-fold map) gives three test functions, each zero
// exactly where a multiplier reaches a critical value:
//   fold: (1 - mu1)(1 - mu2) = 1 - tr M + det M   (a multiplier at +1)
//   flip: (1 + mu1)(1 + mu2) = 1 + tr M + det M   (a multiplier at -1)
//   circle: det M - 1, where the pair is complex  (|mu| = 1, mu not real)
// A change of sign between two steps is located by bisection on the
// segment's parameter, each midpoint solved by Newton from the nearer end.
// A branch that cannot be continued ends at a fold (the continuation would
// have to turn back, where the cycle meets a saddle cycle), or, where the
// orbit collapses onto one of half its period, at the flip of that cycle.
#pragma once

#include "model/cycles.h"
#include "model/state.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace model::analysis {

// A cycle as continuation carries it: its points in map order (not
// rotated, so that the points of two steps correspond one to one) and its
// monodromy matrix.
struct TrackedCycle {
    std::vector<Point> points;
    Monodromy monodromy;
    std::array<Multiplier, 2> multipliers{};
    OrbitType type = OrbitType::NonHyperbolic;
    int period() const { return static_cast<int>(points.size()); }
};

// A cycle of minimal period guess.size() at w, refined from the guess; none
// where Newton's method does not converge or the orbit repeats earlier.
std::optional<TrackedCycle> SolveCycle(const Weights& w, const std::vector<Point>& guess);

// The attracting cycle that the orbit from (x, y) reaches after `iterations`
// steps, of minimal period at most maxPeriod: the smallest period p for which
// the orbit's last state comes back within 1e-6 after p steps, refined by
// Newton from the last p states. None where no such period is seen or the
// refined cycle does not attract.
std::optional<TrackedCycle> AttractingCycle(const Weights& w, double x, double y,
                                            int iterations, int maxPeriod);

// The parameter vector at t of the segment from `from` to `to`, entry by
// entry (exactly `to` at t = 1).
Weights Lerp(const Weights& from, const Weights& to, double t);

// Whether two orbits of the same length are one cycle: some rotation of b
// lies within `tolerance` of a, point for point.
bool SameCycle(const std::vector<Point>& a, const std::vector<Point>& b, double tolerance);

// The kinds of bifurcation curve, numbered as in the curves' data file.
enum class CurveType : uint8_t { Fold = 1, Flip = 2, NeimarkSacker = 3 };

// One crossing of a curve on the segment w(t) = lerp(from, to, t), t in
// [0, 1]: the period of the cycle that bifurcates (for a flip, the cycle whose
// period doubles), and the argument of its critical multiplier (0 at a fold,
// pi at a flip, in (0, pi) on the circle).
struct CycleCrossing {
    double t = 0;
    int period = 0;
    CurveType type = CurveType::Fold;
    double argument = 0;
};

struct Continuation {
    std::vector<CycleCrossing> crossings; // by t
    // Whether the cycle reached t = 1, and where it did, the cycle there.
    bool reached = false;
    TrackedCycle end;
    // Where it did not: the last t it was followed to.
    double lastT = 0;
    // The branch ended without a multiplier near +1 or a collapse: the
    // continuation was lost (a jump, an overflow), not a bifurcation.
    bool lost = false;
    int newtonRuns = 0;
};

constexpr double kMaxMove = 0.1;           // of an orbit point in one accepted step
constexpr double kSegmentResolution = 1e-9; // of the segment's length

// Follows `start`, a cycle at `from`, along the segment to `to`, reporting
// every crossing to within `resolution` of the segment's length. Where the
// orbit collapses onto a cycle of half its period shorter than
// smallestPeriod, the branch ends there, at a flip the caller does not want,
// without locating it (neither reached nor lost).
Continuation ContinueCycle(const Weights& from, const Weights& to, const TrackedCycle& start,
                           double resolution = kSegmentResolution, int smallestPeriod = 1);

// The parameter values along one entry of w (index 0..5, from `from` towards
// `to`) where the attracting cycle, followed from the one the orbit from
// (x0, y0) reaches at `from`, flips: period k -> 2k -> 4k ..., each located to
// `tolerance` in the parameter, until the flipping period would exceed
// maxPeriod, the cycle is lost or the sweep ends.
struct FlipPoint {
    int period = 0; // the period that flips
    double value = 0;
};
struct FlipCascade {
    std::vector<FlipPoint> flips;   // in sweep order
    std::vector<double> ratios;     // (v[i+1] - v[i]) / (v[i+2] - v[i+1])
    int startPeriod = 0;            // 0: no attracting cycle at the start
};
FlipCascade FindFlipCascade(const Weights& w, int index, double from, double to, double x0,
                            double y0, int iterations, int maxPeriod = 4096,
                            double tolerance = 1e-12);

// The cycles of every dot of a plane of parameter vectors (dot d = column *
// rows + row, its neighbours the dots beside, below and above it), each
// dot's own search (FindCycles) joined by the cycles of its neighbours,
// continued to it by Newton's method from the neighbour's cycle, so that a
// cycle found at one dot is followed across the plane as far as Newton's
// method carries it.
//
// The continuation runs in sweeps until no dot gains a cycle: a sweep
// continues, at every dot beside a dot that gained cycles in the sweep before
// (the first: its own search), those new cycles, and every dot reads only
// what the sweeps before it left. The cycles of a dot therefore depend on the
// plane alone, not on the threads or the order of the dots.
struct PlaneCycles {
    // By dot; each dot's by period, then by first point (x, then y), each
    // cycle rotated to start at its point of smallest x, as FindCycles lists.
    std::vector<std::vector<Cycle>> cycles;
    int64_t newtonRuns = 0;   // the searches' and the continuations'
    int64_t notConverged = 0; // of those: runs that did not converge
    int64_t overflowed = 0;   // the searches' runs that met a non-finite number
    int64_t continued = 0;    // cycles that a dot owes to continuation alone
    int sweeps = 0;           // continuation sweeps that found something
};
// Most cycles one dot holds; a continuation beyond is dropped.
constexpr size_t kMaxDotCycles = 4096;
// Two orbits of the same period closer than this, point for point after some
// rotation, are one cycle.
constexpr double kSameDotCycle = 1e-7;

// Most cycle points the whole plane may hold (2 GB of them): beyond, a
// RuntimeError (OutOfMemory) rather than memory exhausted.
constexpr int64_t kMaxPlaneCyclePoints = int64_t{1} << 27;

// No cycles at all where dots is not columns x rows parameter vectors.
// between (if any) is called on the calling thread, between runs of dots, with
// the dots whose own search is done; an exception it throws ends the call.
PlaneCycles FollowPlaneCycles(const std::vector<Weights>& dots, int columns, int rows,
                              const CycleSearch& search,
                              const std::function<void(int64_t dotsDone)>& between = {},
                              int64_t maxPoints = kMaxPlaneCyclePoints);

} // namespace model::analysis
