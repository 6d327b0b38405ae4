#include "render/cycle_curves.h"

#include "render/dot_arrays.h"

#include "model/engine.h"
#include "model/fixed_point_lanes.h"
#include "model/interrupt.h"
#include "model/network.h"
#include "params/dots.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace render {

namespace {

using model::analysis::Continuation;
using model::analysis::CurveType;
using model::analysis::CycleCrossing;
using model::analysis::OrbitType;
using model::analysis::TrackedCycle;

// Two crossings of one curve found on a segment: the same point where they
// lie this close on it (each is located to 1e-9).
constexpr double kSameCrossing = 1e-6;
// Two cycles closer than this, point for point, are one.
constexpr double kSameCycle = 1e-7;
// How far short of the shorter cycle's flip (of the segment) the doubled cycle
// is followed: its two halves are still some 1e-2 apart there.
constexpr double kShortOfFlip = 1e-3;

// What a segment needs to know of a dot before any Newton run: the period of
// the attracting cycle its orbit reached and a short summary of that cycle,
// taken from one more period of the orbit.
struct DotCycle {
    double x = 0, y = 0;   // the orbit's last state
    // The orbit's point of smallest x (then y) over one period, and whether
    // the orbit closed within kReturn and both multipliers of its Jacobian
    // lie inside the circle of radius 1 - kClear: a cycle that attracts
    // clearly, summarised well enough to be recognised at the next dot.
    model::analysis::Point first{};
    // The refined cycle, where a segment needs it: held apart, so that the
    // dots of a large plane take little memory.
    std::unique_ptr<TrackedCycle> cycle;
    int period = 0;        // the orbit's period, 2..maxPeriod; 0: none sought
    bool mapped = false;
    bool clear = false;
    bool needed = false;   // some segment continues the dot's cycle
    bool notConverged = false;
};
// The fields in this order leave no padding: 48 bytes a dot.
static_assert(sizeof(DotCycle) <= 48);

// A cycle found for a dot, held apart; none of period 1 (the fixed points'
// pass draws those).
std::unique_ptr<TrackedCycle> HeldBeyondOne(std::optional<TrackedCycle>&& c)
{
    if (!c || c->period() == 1)
        return nullptr;
    return std::make_unique<TrackedCycle>(std::move(*c));
}

// An orbit closes within this after its period (the refinement's own test).
constexpr double kReturn = 1e-4;
// Multipliers this far inside the unit circle at both ends of a segment, the
// cycle's summary points this close: one cycle, attracting all along, and no
// curve is sought there. A crossing would take a curve in and out again
// within one dot.
constexpr double kClear = 0.2;
constexpr double kSameSummary = 0.02;

// A dot whose orbit awaits its summary, with its parameters.
struct Pending {
    DotCycle* dc;
    const model::Weights* w;
};

// The summaries of the orbits at the dots' last states, each over its dot's
// `period` steps, with the product of the steps' Jacobians taken along the
// way. The dots run side by side, both neurons of every dot in vector lanes
// (the bits of one dot at a time), so that the steps' tanh take whole
// vectors rather than one latency after another.
void Summarise(const Pending* pending, int n)
{
    struct Walk {
        model::analysis::Point z, first;
        double a = 1, b = 0, c = 0, d = 1, det = 1; // the product [a b; c d]
    };
    thread_local std::vector<Walk> walks;
    thread_local std::vector<int> active;
    thread_local std::vector<double> s, t, slope;
    walks.assign(static_cast<size_t>(n), Walk{});
    int longest = 0;
    for (int j = 0; j < n; ++j) {
        walks[j].z = walks[j].first = {pending[j].dc->x, pending[j].dc->y};
        longest = std::max(longest, pending[j].dc->period);
    }
    const size_t lanes = static_cast<size_t>(model::analysis::PaddedLanes(2 * n));
    s.assign(lanes, 0.0);
    t.resize(lanes);
    slope.resize(lanes);
    for (int i = 0; i < longest; ++i) {
        active.clear();
        for (int j = 0; j < n; ++j) {
            if (pending[j].dc->period <= i)
                continue;
            Walk& k = walks[j];
            if (k.z.x < k.first.x || (k.z.x == k.first.x && k.z.y < k.first.y))
                k.first = k.z;
            const model::Weights& w = *pending[j].w;
            const size_t m = 2 * active.size();
            s[m] = (w[0] * k.z.x + w[1] * k.z.y) + w[4];
            s[m + 1] = (w[2] * k.z.x + w[3] * k.z.y) + w[5];
            active.push_back(j);
        }
        const int m = static_cast<int>(active.size());
        std::fill(s.begin() + 2 * m, s.begin() + model::analysis::PaddedLanes(2 * m), 0.0);
        model::analysis::TanhWithSlopeLanes(s.data(), t.data(), slope.data(),
                                            model::analysis::PaddedLanes(2 * m));
        for (int l = 0; l < m; ++l) {
            Walk& k = walks[active[l]];
            const model::Weights& w = *pending[active[l]].w;
            const double dx = slope[2 * l], dy = slope[2 * l + 1];
            const double ja = dx * w[0], jb = dx * w[1], jc = dy * w[2], jd = dy * w[3];
            const double na = ja * k.a + jb * k.c, nb = ja * k.b + jb * k.d;
            const double nc = jc * k.a + jd * k.c, nd = jc * k.b + jd * k.d;
            k.a = na, k.b = nb, k.c = nc, k.d = nd;
            k.det *= ja * jd - jb * jc;
            k.z = {t[2 * l], t[2 * l + 1]};
        }
    }
    for (int j = 0; j < n; ++j) {
        DotCycle& dc = *pending[j].dc;
        const Walk& k = walks[j];
        if (!(std::max(std::fabs(k.z.x - dc.x), std::fabs(k.z.y - dc.y)) <= kReturn))
            continue;
        dc.first = k.first;
        const auto mu = model::analysis::Multipliers(k.a + k.d, k.det);
        double largest = 0;
        for (const auto& u : mu)
            largest = std::max(largest, model::analysis::Modulus(u));
        dc.clear = largest < 1 - kClear;
    }
}

// The period each dot's orbit reaches (2..maxPeriod), from the plane's own
// classification (up to the window's cap), with its summary; beyond the cap,
// where the curves go beyond it, the cycle itself, refined by Newton's method.
// The orbits are those the commit kept, where it kept every dot's; else they
// are run again, the same bits.
void FindDotCycles(const Plan& plan, int maxPeriod, int begin, int end, DotArray<DotCycle>& out)
{
    const CommittedOrbits* kept = plan.orbits.get();
    const bool reuse = kept && static_cast<int64_t>(kept->orbits.size()) == plan.dots();
    constexpr int kBatch = 256;
    model::Weights ws[kBatch];
    double xs[kBatch], ys[kBatch];
    model::kernel::Orbit orbits[kBatch];
    int index[kBatch];
    Pending pending[kBatch];
    for (int first = begin; first < end; first += kBatch) {
        int m = 0, summaries = 0;
        for (int d = first; d < std::min(end, first + kBatch); ++d) {
            DotCycle& dc = out[d];
            dc.mapped = plan.placeDot(d, ws[m]);
            if (!dc.mapped)
                continue;
            if (reuse)
                orbits[m] = kept->orbits[static_cast<size_t>(d)];
            xs[m] = plan.inputs.x0;
            ys[m] = plan.inputs.y0;
            index[m++] = d;
        }
        if (!reuse)
            model::kernel::ClassifyManyEach(ws, plan.inputs.iterations, plan.inputs.accuracy, xs,
                                            ys, m, false, orbits);
        for (int k = 0; k < m; ++k) {
            const model::kernel::Orbit& o = orbits[k];
            DotCycle& dc = out[index[k]];
            const model::Weights& w = ws[k];
            if (o.failed || o.cls == 1 || o.cls == model::kFixpointClass || o.cls > maxPeriod)
                continue;
            dc.x = o.x;
            dc.y = o.y;
            if (o.cls != 0) {
                dc.period = static_cast<int>(o.cls);
                pending[summaries++] = {&dc, &w};
                continue;
            }
            // Class 0: no period up to the window's cap; a longer one is
            // sought only where the curves go beyond it.
            if (maxPeriod <= model::kWindowPeriodCap)
                continue;
            dc.cycle = HeldBeyondOne(model::analysis::AttractingCycle(w, o.x, o.y, 0, maxPeriod));
            if (dc.cycle) {
                dc.period = dc.cycle->period();
                dc.x = dc.cycle->points[0].x;
                dc.y = dc.cycle->points[0].y;
                pending[summaries++] = {&dc, &w};
            }
        }
        Summarise(pending, summaries);
    }
}

// Whether the segment between two dots holds nothing to seek: neither has a
// cycle, or (unless every segment is followed) both have the same clearly
// attracting one.
bool Quiet(const DotCycle& a, const DotCycle& b, bool everySegment)
{
    if (!a.mapped || !b.mapped || (a.period == 0 && b.period == 0))
        return true;
    return !everySegment && a.period == b.period && a.clear && b.clear
           && std::max(std::fabs(a.first.x - b.first.x), std::fabs(a.first.y - b.first.y))
                  <= kSameSummary;
}

// The cycle of a dot that some segment continues, refined by Newton's method
// from the orbit (already refined beyond the window's cap).
void RefineDotCycle(DotCycle& dc, const model::Weights& w)
{
    std::optional<TrackedCycle> c = model::analysis::AttractingCycle(w, dc.x, dc.y, 0, dc.period);
    dc.notConverged = !c;
    dc.cycle = HeldBeyondOne(std::move(c));
}

bool Attracting(const TrackedCycle& c)
{
    return c.type == OrbitType::Attracting;
}

} // namespace

CycleCurves FindCycleCurves(const Plan& plan, int maxPeriod, bool everySegment)
{
    const plots::Raster& r = plan.raster;
    const int rows = plan.rows;
    const int dots = static_cast<int>(plan.dots());
    DotArray<DotCycle> cycles(static_cast<size_t>(dots));
    auto find = [&](int begin, int end) { FindDotCycles(plan, maxPeriod, begin, end, cycles); };
    model::ForEachChunk(dots, 64, find);
    // Only the cycles of segments that are not quiet are refined and followed.
    for (int d = 0; d < dots; ++d) {
        const int column = d / rows, row = d % rows;
        for (const int e : {column + 1 < plan.columns ? d + rows : -1, row + 1 < rows ? d + 1 : -1})
            if (e >= 0 && !Quiet(cycles[d], cycles[e], everySegment))
                cycles[d].needed = cycles[e].needed = true;
    }
    auto refine = [&](int begin, int end) {
        for (int d = begin; d < end; ++d) {
            model::CheckInterrupt();
            DotCycle& dc = cycles[d];
            model::Weights w;
            if (dc.needed && dc.period != 0 && !dc.cycle && plan.placeDot(d, w))
                RefineDotCycle(dc, w);
        }
    };
    model::ForEachChunk(dots, 64, refine);

    // What the segments of a block of dots found.
    constexpr int kBlock = 16;
    struct BlockFindings {
        std::vector<CurvePointRow> points;
        int64_t switches = 0, lost = 0, runs = 0;
    };
    std::vector<BlockFindings> found(static_cast<size_t>(model::BlocksOf(dots, kBlock)));
    auto cross = [&](int block, int begin, int end) {
        BlockFindings& f = found[static_cast<size_t>(block)];
        for (int d = begin; d < end; ++d) {
            const int column = d / rows, row = d % rows;
            auto segment = [&](int e, bool horizontal) {
                const DotCycle& a = cycles[d];
                const DotCycle& b = cycles[e];
                if (Quiet(a, b, everySegment) || (!a.cycle && !b.cycle))
                    return;
                // The shorter period first: where the other end's cycle has
                // twice its period and the first one flips on the way, the
                // longer cycle is followed only to just short of that flip,
                // where it would collapse onto the shorter one; finding the
                // collapse again would take more Newton runs than the rest
                // of the segment.
                const bool bFirst = b.cycle && (!a.cycle || b.period < a.period);
                const DotCycle& one = bFirst ? b : a;
                const DotCycle& other = bFirst ? a : b;
                model::Weights wOne, wOther;
                plan.placeDot(bFirst ? e : d, wOne);
                plan.placeDot(bFirst ? d : e, wOther);
                // Follows x's cycle towards y over the part `reach` of the
                // segment next to x, the crossings in the segment's own t.
                auto follow = [&](const DotCycle& x, const model::Weights& xw,
                                  const model::Weights& yw, bool fromA, double reach) {
                    const model::Weights to = reach < 1 ? model::analysis::Lerp(xw, yw, reach) : yw;
                    Continuation c = model::analysis::ContinueCycle(
                        xw, to, *x.cycle, model::analysis::kSegmentResolution / reach, 2);
                    for (CycleCrossing& k : c.crossings)
                        k.t = fromA ? k.t * reach : 1 - k.t * reach;
                    f.runs += c.newtonRuns;
                    f.lost += c.lost;
                    return c;
                };
                // Each crossing once: found from both ends, or twice by one
                // continuation that meets a fold, turns and meets it again.
                std::vector<CycleCrossing> crossings;
                auto add = [&](const std::vector<CycleCrossing>& found) {
                    for (const CycleCrossing& c : found) {
                        const bool seen = std::any_of(
                            crossings.begin(), crossings.end(), [&](const CycleCrossing& o) {
                                return o.type == c.type && o.period == c.period
                                       && std::fabs(o.t - c.t) <= kSameCrossing;
                            });
                        if (!seen)
                            crossings.push_back(c);
                    }
                };
                std::optional<Continuation> first, second;
                if (one.cycle) {
                    first = follow(one, wOne, wOther, !bFirst, 1);
                    add(first->crossings);
                }
                // The other end's cycle is followed back even where the
                // first continuation arrived at it: at a pitchfork the first
                // may slide from the branch it followed onto the other's
                // without a multiplier crossing +1 on either, while the
                // other's own branch crosses it.
                if (other.cycle) {
                    double reach = 1;
                    if (first && other.period == 2 * one.period)
                        for (const CycleCrossing& c : first->crossings)
                            if (c.type == CurveType::Flip && c.period == one.period)
                                reach = std::min(reach, (bFirst ? c.t : 1 - c.t) - kShortOfFlip);
                    if (reach > kShortOfFlip) {
                        second = follow(other, wOther, wOne, bFirst, reach);
                        add(second->crossings);
                    }
                }
                if (first && second && first->reached && second->reached && crossings.empty()
                    && Attracting(first->end) && Attracting(second->end)
                    && !model::analysis::SameCycle(first->end.points, other.cycle->points,
                                                   kSameCycle))
                    ++f.switches;
                std::stable_sort(crossings.begin(), crossings.end(),
                                 [](const CycleCrossing& p, const CycleCrossing& q) {
                                     return p.t < q.t;
                                 });
                for (const CycleCrossing& c : crossings) {
                    if (c.period < 2)
                        continue; // the fixed points' pass draws period 1
                    CurvePointRow p;
                    const double h = r.columnOffset(column) + (horizontal ? c.t * r.columnStep : 0);
                    const double v = r.rowOffset(row) + (horizontal ? 0 : c.t * r.rowStep);
                    p.column = static_cast<int>(std::lround(h));
                    p.row = plan.pixels - 1 - static_cast<int>(std::lround(v));
                    p.h = horizontal ? std::lerp(r.columnValue(column), r.columnValue(column + 1), c.t)
                                     : r.columnValue(column);
                    p.v = horizontal ? r.rowValue(row)
                                     : std::lerp(r.rowValue(row), r.rowValue(row + 1), c.t);
                    p.period = c.period;
                    p.type = c.type;
                    p.argument = c.argument;
                    f.points.push_back(p);
                }
            };
            if (column + 1 < plan.columns)
                segment(d + rows, true);
            if (row + 1 < rows)
                segment(d + 1, false);
        }
    };
    model::ForEachBlock(dots, kBlock, cross);

    CycleCurves result;
    for (const DotCycle& c : cycles)
        result.notConverged += c.notConverged;
    for (BlockFindings& f : found) {
        result.points.insert(result.points.end(), f.points.begin(), f.points.end());
        result.basinSwitches += f.switches;
        result.lost += f.lost;
        result.newtonRuns += f.runs;
    }
    return result;
}

} // namespace render
