// Attractors followed across a sweep of one parameter.
//
// At each value of the sweep every start of a grid is classified (period and
// final point, by the long-period classifier); the starts whose orbits end on
// the same cycle, or, where no period is found, whose orbits stay within a
// distance of one another, belong to one attractor. Between two successive
// values the attractors are matched by seeding: each previous attractor's
// points, and the same points moved a little in eight directions, are
// iterated at the new value; the attractors they land on are its successors.
// From the successors follow the identities and the events: a birth where no
// seed arrives, a death where the seeds land on another attractor (or on
// none), a merger where the seeds of several land on one, a split where the
// seeds of one land on several, and a new identity where the one successor
// has another period. docs/manual/continuation.md says how to read the results.
//
// These are analyses: the refinement of cycles uses std::tanh. Every result
// depends on the starts as a set, never on their order, and on nothing else.
#pragma once

#include "model/cycles.h"
#include "model/long_period.h"
#include "model/state.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace model::continuation {

using analysis::Point;

// Two cycles are one where every point of one lies within this distance (in
// both coordinates) of the matching point of the other. Refined cycles agree
// to about 1e-12; this only has to keep distinct cycles apart.
constexpr double kCycleTolerance = 1e-3;
// Points in the orbit sample that stands for an attractor with no period (the
// record's), in the long sample whose cells mark where it lies, and in the
// short sample of each start that is compared with it.
constexpr int kSamplePoints = 64;
constexpr int kCellSamplePoints = 16384;
constexpr int kStartSamplePoints = 16;
// How far the seeds beside each point of an attractor lie from it.
constexpr double kSeedOffset = 1e-3;

struct Settings {
    int iterations = 1000; // the classifier's transient
    int accuracy = 8;      // its tolerance, 10^-accuracy on the squared distance
    int maxPeriod = kWindowPeriodCap;
    // Orbits with no period up to maxPeriod: an orbit is on such an attractor
    // where every point of its sample lies near the attractor's long sample:
    // in a square cell of this side (the plane cut at multiples of it) that
    // holds a point of that sample, or in one of the eight cells around such
    // a cell. Points within this distance of the sample are near; points more
    // than 2 sqrt 2 times it away are not. The setting --match-distance.
    double matchDistance = 0.1;
};

// One attractor at one value: its period (0 where none was found) and its
// points: the cycle from its point of smallest x (then y), in the order the
// map visits them; or, with no period, kSamplePoints points of one orbit on it.
struct Attractor {
    int period = 0;
    std::vector<Point> points;
    int64_t starts = 0; // the starts of the grid that end on it
    // With no period: the cells (of side matchDistance) that its long sample
    // visits, as keys (cell x in the high 32 bits, cell y in the low), sorted.
    std::vector<int64_t> cells;

    friend bool operator==(const Attractor&, const Attractor&) = default; // exact
};

// The attractors at one value, in a canonical order (by period, then by their
// first point), and the attractor of each start (-1 for a start whose orbit
// met a floating-point error).
struct Value {
    std::vector<Attractor> attractors;
    std::vector<int32_t> owner;
};

// The descriptor of one classified orbit: its period, and the cycle's
// canonical first point refined by Newton's method (or, with no period, the
// orbit's final point). CycleFrom(w, at, period) gives all the cycle's points.
// A period whose refined cycle is a saddle or repels (an orbit on a chaotic
// attractor that came back close to where it was) counts as none.
struct Landing {
    int period = 0;
    bool failed = false;
    Point at;
};
Landing Describe(const Weights& w, const kernel::LongOrbit& orbit);
std::vector<Point> CycleFrom(const Weights& w, Point first, int period);
std::vector<Point> OrbitSample(const Weights& w, Point from, int points);

// The attractor of `value` that an orbit described by `landing` ends on, or
// -1 where none fits.
int LandsOn(const Weights& w, const Value& value, const Landing& landing,
            const Settings& settings);

// The attractors of the orbits (one per start), the starts described on
// every core unless told otherwise; the same for any order of the orbits.
Value Identify(const Weights& w, std::span<const kernel::LongOrbit> orbits,
               const Settings& settings, bool parallel = true);

// The Hausdorff distance between two point sets (largest of the two one-sided
// distances; Euclidean).
double Hausdorff(std::span<const Point> a, std::span<const Point> b);

// The seeds of an attractor: each of its points, then the same point moved by
// kSeedOffset in each of eight directions.
std::vector<Point> Seeds(const Attractor& attractor);

// What happened between two values.
enum class EventKind : uint8_t { Birth, Death, Merger, Split, PeriodChange };
const char* EventName(EventKind kind); // "birth", "death", "merger", "split", "period change"

struct Event {
    EventKind kind;
    int step;                 // the first step (in the sweep's order) that shows the change
    std::vector<int> from;    // identities before (none for a birth)
    std::vector<int> to;      // identities after (for a death: where its seeds went, if anywhere)

    friend bool operator==(const Event&, const Event&) = default;
};

struct Identity {
    int period = 0;           // 0: none found
    int first = 0, last = 0;  // steps in the sweep's order
    std::vector<int> parents; // the identities it descends from (split, merger, period change)
    std::vector<int64_t> starts; // per step of the sweep, the starts that end on it

    friend bool operator==(const Identity&, const Identity&) = default;
};

// The identities followed so far, and the events between them.
struct Record {
    std::vector<Identity> identities;
    std::vector<Event> events;
    // Per step, the identity of each attractor of that step.
    std::vector<std::vector<int>> identityOf;
};

// The successors of each previous attractor, found by seeding: landings[i]
// holds the attractors of `next` that the seeds of previous attractor i land
// on (-1 for none), one per seed.
std::vector<std::vector<int>> SeedLandings(const Weights& next, const Value& previous,
                                           const Value& nextValue, const Settings& settings);

// Appends the step `next` to the record. landings as SeedLandings gives them;
// previousOwner and the value's owner are over the same starts, so that an
// attractor none of whose seeds lands on a known attractor passes its identity
// to the new attractors that its basin went to.
void Follow(Record& record, const Value& previous, const Value& next,
            const std::vector<std::vector<int>>& landings);
void Begin(Record& record, const Value& first);

// A whole sweep: entry `entry` (0..5) of w takes `steps` values from `from` to
// `to` (value k is ((to - from) * k) / (steps - 1) + from; with one step, `from`),
// run from the first to the last or, reversed, from the last to the first.
// At each value the starts are a grid x grid raster over the region
// (x0 x1 y0 y1), start p = row * grid + column, row 0 at the top (y1).
struct Sweep {
    Weights w{};
    int entry = 0;
    double from = 0, to = 1;
    int steps = 101;
    bool reverse = false;
    int grid = 100;
    std::array<double, 4> region{-1, 1, -1, 1};
    Settings settings;
};

// The value of the k-th step in the parameter's order, and the parameter
// vector there.
double ValueAt(const Sweep& sweep, int k);
Weights WeightsAt(const Sweep& sweep, int k);
// The step of the parameter's order that the sweep runs as its n-th.
inline int RunOrder(const Sweep& sweep, int n) { return sweep.reverse ? sweep.steps - 1 - n : n; }
// The start points of the grid.
Point StartOf(const Sweep& sweep, int p);

// Classifies the starts of the grid at step k (parameter order), on every
// core unless told otherwise: each orbit is the long-period classifier's,
// bit for bit.
std::vector<kernel::LongOrbit> ClassifyGrid(const Sweep& sweep, int k, bool parallel = true);

// Everything a sweep finds: per step in the parameter's order, the attractors
// and each start's identity (-1 where its orbit failed); the record follows
// the sweep's own order (steps in it count in that order).
struct Found {
    int identity = 0;
    Attractor attractor;
};
struct Result {
    Record record;
    std::vector<std::vector<int32_t>> identities; // [k][p]
    std::vector<std::vector<Found>> attractors;   // [k], in the value's order
};

// Runs a sweep. The values are classified and identified in parallel, a
// block of them at a time (one per thread, while their starts stay within
// kStartsAtOnce; a single value's starts on every core), and then followed
// one after the other in the sweep's direction. Each value's attractors are
// those of its starts alone, so the result is the same on any number of
// threads. progress, when given, is told the steps done.
constexpr int64_t kStartsAtOnce = int64_t{1} << 22;
Result RunSweep(const Sweep& sweep, const std::function<void(int stepsDone)>& progress = {});

} // namespace model::continuation
