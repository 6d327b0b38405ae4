#include "render/cycle_curves.h"

#include "model/engine.h"
#include "model/network.h"
#include "params/dots.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace render {

namespace {

using model::analysis::Continuation;
using model::analysis::CycleCrossing;
using model::analysis::OrbitType;
using model::analysis::TrackedCycle;

// Two crossings of one curve found from both ends of a segment: the same
// point where they lie this close on the segment (both are located to 1e-9).
constexpr double kSameCrossing = 1e-6;
// Two cycles closer than this, point for point, are one.
constexpr double kSameCycle = 1e-7;

struct DotCycle {
    bool mapped = false;
    model::Weights w{};
    std::optional<TrackedCycle> cycle;
    bool notConverged = false;
};

// The attracting cycle of period 2..maxPeriod that the dot's orbit reaches:
// the plane's own classification gives the period (up to the window's cap)
// and the orbit's last state; Newton's method refines it.
void FindDotCycles(const Plan& plan, int maxPeriod, int begin, int end, std::vector<DotCycle>& out)
{
    const plots::Raster& r = plan.raster;
    constexpr int kBatch = 256;
    model::Weights ws[kBatch];
    double xs[kBatch], ys[kBatch];
    model::kernel::Orbit orbits[kBatch];
    int index[kBatch];
    for (int first = begin; first < end; first += kBatch) {
        int m = 0;
        for (int d = first; d < std::min(end, first + kBatch); ++d) {
            DotCycle& dc = out[d];
            dc.mapped = params::PlaceWeights(plan.inputs, r.columnValue(d / plan.rows),
                                             r.rowValue(d % plan.rows), dc.w);
            if (!dc.mapped)
                continue;
            ws[m] = dc.w;
            xs[m] = plan.inputs.x0;
            ys[m] = plan.inputs.y0;
            index[m++] = d;
        }
        model::kernel::ClassifyManyEach(ws, plan.inputs.iterations, plan.inputs.accuracy, xs, ys,
                                        m, false, orbits);
        for (int k = 0; k < m; ++k) {
            const model::kernel::Orbit& o = orbits[k];
            DotCycle& dc = out[index[k]];
            if (o.failed || o.cls == 1 || o.cls == model::kFixpointClass)
                continue;
            // Class 0: no period up to the window's cap; a longer one is
            // sought only where the curves go beyond it.
            if (o.cls == 0 && maxPeriod <= model::kWindowPeriodCap)
                continue;
            const int period = o.cls == 0 ? maxPeriod : std::min<int>(o.cls, maxPeriod);
            if (o.cls > maxPeriod)
                continue;
            dc.cycle = model::analysis::AttractingCycle(dc.w, o.x, o.y, 0, period);
            if (dc.cycle && dc.cycle->period() == 1)
                dc.cycle.reset();
            else if (!dc.cycle && o.cls != 0)
                dc.notConverged = true;
        }
    }
}

bool Attracting(const TrackedCycle& c)
{
    return c.type == OrbitType::Attracting;
}

} // namespace

CycleCurves FindCycleCurves(const Plan& plan, int maxPeriod)
{
    const plots::Raster& r = plan.raster;
    const int rows = plan.rows;
    const int dots = static_cast<int>(plan.dots());
    std::vector<DotCycle> cycles(static_cast<size_t>(dots));
    auto find = [&](int begin, int end) { FindDotCycles(plan, maxPeriod, begin, end, cycles); };
    model::ForEachChunk(dots, 64, find);

    struct DotFindings {
        std::vector<CurvePointRow> points;
        int64_t switches = 0, lost = 0, runs = 0;
    };
    std::vector<DotFindings> found(static_cast<size_t>(dots));
    auto cross = [&](int begin, int end) {
        for (int d = begin; d < end; ++d) {
            const int column = d / rows, row = d % rows;
            DotFindings& f = found[d];
            auto segment = [&](int e, bool horizontal) {
                const DotCycle& a = cycles[d];
                const DotCycle& b = cycles[e];
                if (!a.mapped || !b.mapped || (!a.cycle && !b.cycle))
                    return;
                std::vector<CycleCrossing> crossings;
                std::optional<Continuation> forward, backward;
                if (a.cycle) {
                    forward = model::analysis::ContinueCycle(a.w, b.w, *a.cycle);
                    f.runs += forward->newtonRuns;
                    f.lost += forward->lost;
                    crossings = forward->crossings;
                }
                // The neighbour's cycle is followed back even where the
                // forward continuation arrived at it: at a pitchfork the
                // forward one may slide from the branch it followed onto the
                // neighbour's without a multiplier crossing +1 on either,
                // while the neighbour's own branch crosses it.
                if (b.cycle) {
                    backward = model::analysis::ContinueCycle(b.w, a.w, *b.cycle);
                    f.runs += backward->newtonRuns;
                    f.lost += backward->lost;
                    for (CycleCrossing c : backward->crossings) {
                        c.t = 1 - c.t;
                        const bool seen = std::any_of(
                            crossings.begin(), crossings.end(), [&](const CycleCrossing& o) {
                                return o.type == c.type && o.period == c.period
                                       && std::fabs(o.t - c.t) <= kSameCrossing;
                            });
                        if (!seen)
                            crossings.push_back(c);
                    }
                }
                if (forward && backward && forward->reached && backward->reached
                    && crossings.empty() && Attracting(forward->end) && Attracting(backward->end)
                    && !model::analysis::SameCycle(forward->end.points, b.cycle->points,
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
    model::ForEachChunk(dots, 16, cross);

    CycleCurves result;
    for (const DotCycle& c : cycles)
        result.notConverged += c.notConverged;
    for (DotFindings& f : found) {
        result.points.insert(result.points.end(), f.points.begin(), f.points.end());
        result.basinSwitches += f.switches;
        result.lost += f.lost;
        result.newtonRuns += f.runs;
    }
    return result;
}

} // namespace render
