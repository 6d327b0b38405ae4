#include "model/continuation.h"

#include "model/engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <set>

namespace model::continuation {

namespace {

Point step(const Weights& w, Point p)
{
    return {std::tanh((w[0] * p.x + w[1] * p.y) + w[4]),
            std::tanh((w[2] * p.x + w[3] * p.y) + w[5])};
}

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

bool before(Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

struct Refined {
    Point z;
    bool converged = false;
    double trace = 0, det = 0; // of the k-fold map's Jacobian at z, when converged
};

// The fixed point of the period-fold map near `start` by Newton's method with
// the exact Jacobian of the k-fold map; `start` itself where Newton does not
// converge close by (a cycle that is not hyperbolic, say): the classifier's
// own point is then the best there is.
Refined refine(const Weights& w, Point start, int period)
{
    Point z = start;
    for (int iteration = 0; iteration < 40; ++iteration) {
        Point f = z;
        // J = product of the step Jacobians along the orbit.
        double j00 = 1, j01 = 0, j10 = 0, j11 = 1;
        for (int i = 0; i < period; ++i) {
            const Point g = step(w, f);
            const double dx = 1 - g.x * g.x, dy = 1 - g.y * g.y;
            const double a = dx * w[0], b = dx * w[1], c = dy * w[2], d = dy * w[3];
            const double n00 = a * j00 + b * j10, n01 = a * j01 + b * j11;
            const double n10 = c * j00 + d * j10, n11 = c * j01 + d * j11;
            j00 = n00, j01 = n01, j10 = n10, j11 = n11;
            f = g;
        }
        const double rx = f.x - z.x, ry = f.y - z.y;
        if (!std::isfinite(rx) || !std::isfinite(ry))
            return {start};
        if (std::max(std::abs(rx), std::abs(ry)) < 1e-13)
            return {z, true, j00 + j11, j00 * j11 - j01 * j10};
        // (J - I) dz = -r
        const double m00 = j00 - 1, m11 = j11 - 1;
        const double det = m00 * m11 - j01 * j10;
        if (!(std::abs(det) > 1e-14))
            return {start};
        z.x += (-rx * m11 + ry * j01) / det;
        z.y += (-ry * m00 + rx * j10) / det;
        if (!finite(z) || std::max(std::abs(z.x - start.x), std::abs(z.y - start.y)) > 0.1)
            return {start};
    }
    return {start};
}

// The greatest distance from a point of `a` to the nearest point of `b`.
double oneSided(std::span<const Point> a, std::span<const Point> b)
{
    double most = 0;
    for (const Point& p : a) {
        double nearest = std::numeric_limits<double>::infinity();
        for (const Point& q : b)
            nearest = std::min(nearest, std::hypot(p.x - q.x, p.y - q.y));
        most = std::max(most, nearest);
    }
    return most;
}

// Whether two cycles of one period are the same: aligned at the point of `b`
// nearest to a's first, every point pair within kCycleTolerance.
bool sameCycle(std::span<const Point> a, std::span<const Point> b)
{
    if (a.size() != b.size() || a.empty())
        return false;
    size_t offset = 0;
    double nearest = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < b.size(); ++i)
        if (const double d = std::hypot(a[0].x - b[i].x, a[0].y - b[i].y); d < nearest) {
            nearest = d;
            offset = i;
        }
    for (size_t t = 0; t < a.size(); ++t) {
        const Point p = a[t], q = b[(offset + t) % b.size()];
        if (!(std::abs(p.x - q.x) < kCycleTolerance && std::abs(p.y - q.y) < kCycleTolerance))
            return false;
    }
    return true;
}

int64_t cellKey(int64_t cx, int64_t cy)
{
    return static_cast<int64_t>(static_cast<uint64_t>(cx) << 32 | static_cast<uint32_t>(cy));
}

int64_t cellOf(double v, double side) { return static_cast<int64_t>(std::floor(v / side)); }

// The cells of side `side` that a long orbit from `from` visits.
std::vector<int64_t> cellsOf(const Weights& w, Point from, double side)
{
    std::vector<int64_t> cells;
    for (const Point& p : OrbitSample(w, from, kCellSamplePoints))
        if (finite(p))
            cells.push_back(cellKey(cellOf(p.x, side), cellOf(p.y, side)));
    std::sort(cells.begin(), cells.end());
    cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
    return cells;
}

// Whether every point lies in a visited cell or next to one.
bool nearCells(std::span<const Point> points, const std::vector<int64_t>& cells, double side)
{
    for (const Point& p : points) {
        if (!finite(p))
            return false;
        const int64_t cx = cellOf(p.x, side), cy = cellOf(p.y, side);
        bool near = false;
        for (int64_t dx = -1; dx <= 1 && !near; ++dx)
            for (int64_t dy = -1; dy <= 1 && !near; ++dy)
                near = std::binary_search(cells.begin(), cells.end(), cellKey(cx + dx, cy + dy));
        if (!near)
            return false;
    }
    return true;
}

// What a start is compared with: its cycle, or a short sample of its orbit.
std::vector<Point> pointsOf(const Weights& w, const Landing& l)
{
    return l.period > 0 ? CycleFrom(w, l.at, l.period)
                        : OrbitSample(w, l.at, kStartSamplePoints);
}

// The first attractor (in the value's order) that the start's points fit.
int firstFit(const std::vector<Attractor>& attractors, const Landing& l,
             const std::vector<Point>& points, double matchDistance)
{
    for (size_t a = 0; a < attractors.size(); ++a) {
        const Attractor& at = attractors[a];
        if (at.period != l.period)
            continue;
        if (l.period > 0 ? sameCycle(points, at.points)
                         : nearCells(points, at.cells, matchDistance))
            return static_cast<int>(a);
    }
    return -1;
}

} // namespace

std::vector<Point> OrbitSample(const Weights& w, Point from, int count)
{
    std::vector<Point> points;
    Point p = from;
    for (int i = 0; i < count; ++i) {
        points.push_back(p);
        p = step(w, p);
    }
    return points;
}

std::vector<Point> CycleFrom(const Weights& w, Point first, int period)
{
    std::vector<Point> points = OrbitSample(w, first, period);
    const auto least = std::min_element(points.begin(), points.end(), before);
    std::rotate(points.begin(), least, points.end());
    return points;
}

Landing Describe(const Weights& w, const kernel::LongOrbit& orbit)
{
    Landing l{.period = orbit.cls, .failed = orbit.failed, .at = {orbit.x, orbit.y}};
    if (l.failed || l.period == 0)
        return l;
    const Refined r = refine(w, l.at, l.period);
    // A near return of an orbit that wanders (on a chaotic attractor, past a
    // cycle of saddle type embedded in it) is no periodic attractor: the
    // orbit is one with no period.
    if (r.converged) {
        const auto type = analysis::TypeOf(analysis::Multipliers(r.trace, r.det));
        if (type == analysis::OrbitType::Saddle || type == analysis::OrbitType::Repelling) {
            l.period = 0;
            return l;
        }
    }
    const std::vector<Point> cycle = CycleFrom(w, r.z, l.period);
    if (!finite(cycle[0])) {
        l.failed = true;
        return l;
    }
    l.at = cycle[0];
    return l;
}

int LandsOn(const Weights& w, const Value& value, const Landing& landing,
            const Settings& settings)
{
    if (landing.failed)
        return -1;
    return firstFit(value.attractors, landing, pointsOf(w, landing), settings.matchDistance);
}

Value Identify(const Weights& w, std::span<const kernel::LongOrbit> orbits,
               const Settings& settings, bool parallel)
{
    const int n = static_cast<int>(orbits.size());
    std::vector<Landing> landings(orbits.size());
    auto describe = [&](int begin, int end) {
        for (int p = begin; p < end; ++p)
            landings[p] = Describe(w, orbits[p]);
    };
    if (parallel)
        ForEachChunk(n, 64, describe);
    else
        describe(0, n);

    // The starts in the order of their descriptors, so that the attractors
    // and their order do not depend on the order of the starts: equal
    // descriptors are interchangeable.
    std::vector<int> order;
    for (int p = 0; p < n; ++p)
        if (!landings[p].failed)
            order.push_back(p);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const Landing &la = landings[a], &lb = landings[b];
        if (la.period != lb.period)
            return la.period < lb.period;
        return before(la.at, lb.at);
    });

    Value value;
    value.owner.assign(orbits.size(), -1);
    for (int p : order) {
        const Landing& l = landings[p];
        const std::vector<Point> points = pointsOf(w, l);
        int a = firstFit(value.attractors, l, points, settings.matchDistance);
        if (a < 0) {
            a = static_cast<int>(value.attractors.size());
            value.attractors.push_back(
                {.period = l.period,
                 .points = l.period > 0 ? points : OrbitSample(w, l.at, kSamplePoints),
                 .cells = l.period > 0 ? std::vector<int64_t>{}
                                       : cellsOf(w, l.at, settings.matchDistance)});
        }
        value.owner[p] = a;
        ++value.attractors[a].starts;
    }
    return value;
}

double Hausdorff(std::span<const Point> a, std::span<const Point> b)
{
    return std::max(oneSided(a, b), oneSided(b, a));
}

std::vector<Point> Seeds(const Attractor& attractor)
{
    // A few points of a long cycle or of a sample suffice: the others are
    // their images.
    constexpr size_t kSeededPoints = 8;
    static constexpr std::array<std::array<double, 2>, 8> kDirections = {{
        {1, 0}, {-1, 0}, {0, 1}, {0, -1},
        {M_SQRT1_2, M_SQRT1_2}, {-M_SQRT1_2, M_SQRT1_2},
        {M_SQRT1_2, -M_SQRT1_2}, {-M_SQRT1_2, -M_SQRT1_2},
    }};
    std::vector<Point> seeds;
    const size_t count = std::min(kSeededPoints, attractor.points.size());
    for (size_t i = 0; i < count; ++i)
        seeds.push_back(attractor.points[i]);
    for (size_t i = 0; i < count; ++i)
        for (const auto& d : kDirections)
            seeds.push_back({attractor.points[i].x + kSeedOffset * d[0],
                             attractor.points[i].y + kSeedOffset * d[1]});
    return seeds;
}

std::vector<std::vector<int>> SeedLandings(const Weights& next, const Value& previous,
                                           const Value& nextValue, const Settings& settings)
{
    std::vector<std::vector<int>> landings(previous.attractors.size());
    auto body = [&](int begin, int end) {
        for (int i = begin; i < end; ++i) {
            const std::vector<Point> seeds = Seeds(previous.attractors[i]);
            std::vector<double> xs, ys;
            for (const Point& s : seeds) {
                xs.push_back(s.x);
                ys.push_back(s.y);
            }
            std::vector<kernel::LongOrbit> orbits(seeds.size());
            kernel::ClassifyLongMany(next, settings.iterations, settings.accuracy,
                                     settings.maxPeriod, xs.data(), ys.data(),
                                     static_cast<int>(seeds.size()), orbits.data());
            for (const auto& o : orbits)
                landings[i].push_back(LandsOn(next, nextValue, Describe(next, o), settings));
        }
    };
    ForEachChunk(static_cast<int>(previous.attractors.size()), 1, body);
    return landings;
}

const char* EventName(EventKind kind)
{
    switch (kind) {
    case EventKind::Birth: return "birth";
    case EventKind::Death: return "death";
    case EventKind::Merger: return "merger";
    case EventKind::Split: return "split";
    case EventKind::PeriodChange: return "period change";
    }
    return "";
}

namespace {

int newIdentity(Record& record, int period, int step, std::vector<int> parents)
{
    record.identities.push_back(
        {.period = period, .first = step, .last = step, .parents = std::move(parents), .starts = {}});
    return static_cast<int>(record.identities.size()) - 1;
}

// Enters the step's starts of each identity, every identity's list padded to
// the steps so far.
void tally(Record& record, const Value& value, const std::vector<int>& ids)
{
    const size_t steps = record.identityOf.size() + 1;
    for (Identity& id : record.identities)
        id.starts.resize(steps, 0);
    for (size_t a = 0; a < ids.size(); ++a) {
        Identity& id = record.identities[ids[a]];
        id.starts[steps - 1] += value.attractors[a].starts;
        id.last = static_cast<int>(steps - 1);
    }
    record.identityOf.push_back(ids);
}

} // namespace

void Begin(Record& record, const Value& first)
{
    record = {};
    std::vector<int> ids;
    for (const Attractor& a : first.attractors)
        ids.push_back(newIdentity(record, a.period, 0, {}));
    tally(record, first, ids);
}

void Follow(Record& record, const Value& previous, const Value& next,
            const std::vector<std::vector<int>>& landings)
{
    const int step = static_cast<int>(record.identityOf.size());
    const std::vector<int>& before = record.identityOf.back();
    const size_t np = previous.attractors.size(), nn = next.attractors.size();
    std::vector<std::set<int>> successors(np), parents(nn);
    for (size_t i = 0; i < np && i < landings.size(); ++i)
        for (int j : landings[i])
            if (j >= 0 && static_cast<size_t>(j) < nn)
                successors[i].insert(j);

    // An attractor none of whose seeds reached a known attractor (they stay on
    // a set that is no longer attracting, as on the line x = 0 past a
    // pitchfork) hands its identity to the attractors that no seed reached
    // and that took most of their starts from its basin.
    if (previous.owner.size() == next.owner.size()) {
        std::vector<int64_t> flow(np * nn, 0);
        for (size_t p = 0; p < next.owner.size(); ++p)
            if (previous.owner[p] >= 0 && next.owner[p] >= 0)
                ++flow[static_cast<size_t>(previous.owner[p]) * nn + next.owner[p]];
        std::vector<char> reached(nn, 0), seeded(np, 0);
        for (size_t i = 0; i < np; ++i) {
            seeded[i] = !successors[i].empty();
            for (int j : successors[i])
                reached[j] = 1;
        }
        for (size_t j = 0; j < nn; ++j) {
            if (reached[j])
                continue;
            for (size_t i = 0; i < np; ++i)
                if (!seeded[i] && 2 * flow[i * nn + j] > next.attractors[j].starts)
                    successors[i].insert(static_cast<int>(j));
        }
    }
    for (size_t i = 0; i < np; ++i)
        for (int j : successors[i])
            parents[j].insert(static_cast<int>(i));

    // Several previous attractors landing on one. Those of its kind (its
    // period, or none for none) are its candidates, all of them where none is;
    // where one candidate alone is of its kind, or lies clearly nearest (at
    // less than half the distance of every other candidate), it goes on there
    // and the others have died into it; else the candidates merged and the
    // others died into the merger.
    std::vector<std::set<int>> diedInto(np);
    for (size_t j = 0; j < nn; ++j) {
        if (parents[j].size() < 2)
            continue;
        std::set<int> candidates;
        for (int i : parents[j])
            if (previous.attractors[i].period == next.attractors[j].period)
                candidates.insert(i);
        if (candidates.empty())
            candidates = parents[j];
        if (candidates.size() > 1) {
            int nearest = -1;
            std::vector<double> d(np, 0);
            for (int i : candidates) {
                d[i] = Hausdorff(previous.attractors[i].points, next.attractors[j].points);
                if (nearest < 0 || d[i] < d[nearest])
                    nearest = i;
            }
            bool clear = true;
            for (int i : candidates)
                if (i != nearest && !(2 * d[nearest] < d[i]))
                    clear = false;
            if (clear)
                candidates = {nearest};
        }
        for (int i : parents[j])
            if (!candidates.contains(i)) {
                successors[i].erase(static_cast<int>(j));
                diedInto[i].insert(static_cast<int>(j));
            }
        parents[j] = candidates;
    }

    std::vector<int> ids(nn, -1);
    std::vector<size_t> deaths;
    for (size_t i = 0; i < np; ++i) {
        const int from = before[i];
        if (successors[i].empty()) {
            deaths.push_back(i);
            continue;
        }
        if (successors[i].size() == 1) {
            const int j = *successors[i].begin();
            if (parents[j].size() != 1)
                continue; // a merger, below
            if (next.attractors[j].period == record.identities[from].period) {
                ids[j] = from;
            } else {
                ids[j] = newIdentity(record, next.attractors[j].period, step, {from});
                record.events.push_back({EventKind::PeriodChange, step, {from}, {ids[j]}});
            }
            continue;
        }
        // Its successors that other attractors land on too are mergers, below.
        Event split{EventKind::Split, step, {from}, {}};
        for (int j : successors[i])
            if (parents[j].size() == 1) {
                ids[j] = newIdentity(record, next.attractors[j].period, step, {from});
                split.to.push_back(ids[j]);
            }
        if (!split.to.empty())
            record.events.push_back(split);
    }
    for (size_t j = 0; j < nn; ++j) {
        if (ids[j] >= 0)
            continue;
        std::vector<int> from;
        for (int i : parents[j])
            from.push_back(before[i]);
        ids[j] = newIdentity(record, next.attractors[j].period, step, from);
        record.events.push_back({from.empty() ? EventKind::Birth : EventKind::Merger, step,
                                 from, {ids[j]}});
    }
    for (size_t i : deaths) {
        std::set<int> to;
        for (int j : diedInto[i])
            to.insert(ids[j]);
        if (i < landings.size())
            for (int j : landings[i])
                if (j >= 0 && static_cast<size_t>(j) < nn)
                    to.insert(ids[j]);
        record.events.push_back({EventKind::Death, step, {before[i]}, {to.begin(), to.end()}});
    }
    tally(record, next, ids);
}

} // namespace model::continuation

namespace model::continuation {

double ValueAt(const Sweep& sweep, int k)
{
    if (sweep.steps <= 1)
        return sweep.from;
    return ((sweep.to - sweep.from) * static_cast<double>(k)) / static_cast<double>(sweep.steps - 1)
           + sweep.from;
}

Weights WeightsAt(const Sweep& sweep, int k)
{
    Weights w = sweep.w;
    w[sweep.entry] = ValueAt(sweep, k);
    return w;
}

Point StartOf(const Sweep& sweep, int p)
{
    const int g = sweep.grid, row = p / g, column = p % g;
    auto at = [g](double low, double high, int offset) {
        return g <= 1 ? low
                      : ((high - low) * static_cast<double>(offset)) / static_cast<double>(g - 1)
                            + low;
    };
    const auto& r = sweep.region;
    return {at(r[0], r[1], column), at(r[2], r[3], g - 1 - row)};
}

std::vector<kernel::LongOrbit> ClassifyGrid(const Sweep& sweep, int k, bool parallel)
{
    const int n = sweep.grid * sweep.grid;
    const Weights w = WeightsAt(sweep, k);
    std::vector<kernel::LongOrbit> orbits(static_cast<size_t>(n));
    auto body = [&](int begin, int end) {
        std::vector<double> xs, ys;
        for (int p = begin; p < end; ++p) {
            const Point s = StartOf(sweep, p);
            xs.push_back(s.x);
            ys.push_back(s.y);
        }
        const Settings& s = sweep.settings;
        kernel::ClassifyLongMany(w, s.iterations, s.accuracy, s.maxPeriod, xs.data(), ys.data(),
                                 end - begin, orbits.data() + begin);
    };
    if (parallel) {
        ForEachChunk(n, 256, body);
    } else {
        for (int begin = 0; begin < n; begin += 256)
            body(begin, std::min(n, begin + 256));
    }
    return orbits;
}

Result RunSweep(const Sweep& sweep, const std::function<void(int stepsDone)>& progress)
{
    Result result;
    result.identities.resize(static_cast<size_t>(sweep.steps));
    result.attractors.resize(static_cast<size_t>(sweep.steps));
    const int64_t starts = static_cast<int64_t>(sweep.grid) * sweep.grid;
    const int block = static_cast<int>(
        std::clamp<int64_t>(kStartsAtOnce / std::max<int64_t>(starts, 1), 1, ThreadCount()));
    Value previous;
    for (int n0 = 0; n0 < sweep.steps; n0 += block) {
        const int n1 = std::min(sweep.steps, n0 + block);
        std::vector<Value> values(static_cast<size_t>(n1 - n0));
        auto identify = [&](int begin, int end) {
            const bool alone = n1 - n0 == 1; // then its starts take every core
            for (int i = begin; i < end; ++i) {
                const int k = RunOrder(sweep, n0 + i);
                values[i] = Identify(WeightsAt(sweep, k), ClassifyGrid(sweep, k, alone),
                                     sweep.settings, alone);
            }
        };
        ForEachChunk(n1 - n0, 1, identify);
        for (int n = n0; n < n1; ++n) {
            const int k = RunOrder(sweep, n);
            Value& value = values[n - n0];
            if (n == 0)
                Begin(result.record, value);
            else
                Follow(result.record, previous, value,
                       SeedLandings(WeightsAt(sweep, k), previous, value, sweep.settings));
            const std::vector<int>& ids = result.record.identityOf.back();
            auto& out = result.identities[k];
            out.resize(value.owner.size());
            for (size_t p = 0; p < value.owner.size(); ++p)
                out[p] = value.owner[p] < 0 ? -1 : ids[value.owner[p]];
            for (size_t a = 0; a < ids.size(); ++a)
                result.attractors[k].push_back({ids[a], value.attractors[a]});
            previous = std::move(value);
            if (progress)
                progress(n + 1);
        }
    }
    return result;
}

} // namespace model::continuation
