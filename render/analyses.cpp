#include "render/analyses.h"

#include "model/basin_stats.h"
#include "model/cycles.h"
#include "model/engine.h"
#include "model/fixed_points.h"
#include "model/interrupt.h"
#include "model/numbers.h"
#include "model/skeleton.h"
#include "params/dots.h"
#include "render/cycle_curves.h"
#include "render/tiles.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>
#include <ostream>
#include <set>
#include <string>

namespace render {

namespace {

using model::analysis::Bifurcation;
using model::analysis::CurveSignature;

constexpr int kStabilityHues[][3] = {
    {110, 110, 110}, // no attracting fixed point
    {40, 90, 200},   // one
    {30, 150, 60},   // two
    {230, 120, 0},   // three
    {190, 20, 30},   // four or more
};
constexpr int kMostShaded = 9; // fixed points at which a hue is at its deepest

// The curve colours, none of them in the period palette nor among the
// stability colours: magenta, cyan and dark green.
model::Color curveColour(Bifurcation kind)
{
    switch (kind) {
    case Bifurcation::SaddleNode: return model::Rgb(255, 0, 255);
    case Bifurcation::PeriodDoubling: return model::Rgb(0, 255, 255);
    case Bifurcation::NeimarkSacker: return model::Rgb(0, 90, 0);
    }
    return 0;
}

nlohmann::json rgbOf(model::Color c)
{
    return {model::RedOf(c), model::GreenOf(c), model::BlueOf(c)};
}

nlohmann::json stabilityScheme()
{
    nlohmann::json legend = nlohmann::json::array();
    for (int a = 0; a < static_cast<int>(std::size(kStabilityHues)); ++a)
        legend.push_back({{"attracting", a == 4 ? "4 or more" : std::to_string(a)},
                          {"rgb_one_fixed_point", rgbOf(StabilityColour(a, std::max(a, 1)))},
                          {"rgb_nine_fixed_points", rgbOf(StabilityColour(a, kMostShaded))}});
    return {{"hue", "the number of attracting fixed points"},
            {"shade", "the number of fixed points: the colour is 255 - (255 - hue) * (0.45 + "
                      "0.55 * (n - 1) / 8) per component, n from 1 to 9"},
            {"classes", "the .npy holds per pixel the counts of attracting, saddle, repelling "
                        "and non-hyperbolic fixed points"},
            {"legend", legend}};
}

// --- Bifurcation curves --------------------------------------------------------

using model::analysis::CurveType;

Bifurcation kindOf(CurveType type)
{
    switch (type) {
    case CurveType::Fold: return Bifurcation::SaddleNode;
    case CurveType::Flip: return Bifurcation::PeriodDoubling;
    case CurveType::NeimarkSacker: break;
    }
    return Bifurcation::NeimarkSacker;
}

CurveType typeOf(Bifurcation kind)
{
    switch (kind) {
    case Bifurcation::SaddleNode: return CurveType::Fold;
    case Bifurcation::PeriodDoubling: return CurveType::Flip;
    case Bifurcation::NeimarkSacker: break;
    }
    return CurveType::NeimarkSacker;
}

// The colour of a curve of period k: its kind's colour at period 1, shaded
// with the period on a logarithmic scale, by 0.6 log2(k) / 6 of the way to
// black (saddle-node, period doubling) or white (the dark green of
// Neimark-Sacker), so that period 64 is the farthest.
model::Color curveColour(Bifurcation kind, int period)
{
    const model::Color c = curveColour(kind);
    if (period <= 1)
        return c;
    const double f = 0.6 * std::log2(static_cast<double>(period)) / 6;
    const int to = kind == Bifurcation::NeimarkSacker ? 255 : 0;
    auto mix = [&](int v) { return static_cast<int>(std::lround(v + (to - v) * f)); };
    return model::Rgb(mix(model::RedOf(c)), mix(model::GreenOf(c)), mix(model::BlueOf(c)));
}

// The argument of the critical multiplier of a fixed point's Neimark-Sacker
// crossing at w: that of the complex pair nearest the unit circle.
double circleArgument(const model::Weights& w)
{
    double best = INFINITY, argument = 0;
    for (const auto& p : model::analysis::FindFixedPoints(w)) {
        const auto& mu = p.multipliers[0];
        if (mu.im == 0)
            continue;
        const double off = std::fabs(std::hypot(mu.re, mu.im) - 1);
        if (off < best) {
            best = off;
            argument = std::fabs(std::atan2(mu.im, mu.re));
        }
    }
    return argument;
}

// Every crossing of the fixed points' curves between the dots of the
// parameter plane and their right and upper neighbours, located by bisection
// on the parameter; with cyclesPeriod above 1, the curves of the cycles of
// periods 2..cyclesPeriod too (render/cycle_curves.h). The cycles' points are drawn first,
// longer periods under shorter ones, the fixed points' last, on top. Returns
// the record's counts of points per kind and period; data, where given,
// receives every point's row.
nlohmann::json drawCurves(const Plan& plan, plots::Canvas& canvas, std::vector<uint8_t>* data,
                          int cyclesPeriod, const NpyArray* typeCounts = nullptr)
{
    const plots::Raster& r = plan.raster;
    const int rows = plan.rows;
    const int dots = static_cast<int>(plan.dots());
    // A dot's parameters, placed again where a segment needs them rather
    // than held for every dot of a large plane.
    const auto weightsOf = [&](int d) {
        model::Weights w;
        plan.placeDot(d, w);
        return w;
    };
    DotArray<char> mapped(static_cast<size_t>(dots));
    DotArray<CurveSignature> signatures(static_cast<size_t>(dots));
    // With the committed counts of every dot's fixed points by type (a
    // stability plane, one dot per pixel), the fixed points are sought again
    // only at dots beside a change of counts: every bifurcation moves a
    // multiplier across the unit circle, and so changes a fixed point's type
    // or the number of fixed points, between its two dots.
    std::vector<char> wanted(static_cast<size_t>(dots), 1);
    if (typeCounts && typeCounts->type() == ClassType::Counts4
        && typeCounts->columns() == plan.columns
        && typeCounts->rows() == rows) {
        const uint8_t* c = typeCounts->bytes().data() + typeCounts->dataOffset();
        auto at = [&](int d) { // the four counts of dot d, row 0 of the array at the top
            uint32_t v;
            std::memcpy(&v, c + 4 * (static_cast<size_t>(rows - 1 - d % rows) * plan.columns + d / rows), 4);
            return v;
        };
        std::fill(wanted.begin(), wanted.end(), 0);
        for (int d = 0; d < dots; ++d) {
            const int column = d / rows, row = d % rows;
            for (const int e : {column + 1 < plan.columns ? d + rows : -1, row + 1 < rows ? d + 1 : -1})
                if (e >= 0 && at(d) != at(e))
                    wanted[d] = wanted[e] = 1;
        }
    }
    auto sign = [&](int begin, int end) {
        for (int d = begin; d < end; ++d) {
            model::CheckInterrupt();
            if (!wanted[d])
                continue;
            model::Weights w;
            mapped[d] = plan.placeDot(d, w);
            if (mapped[d]) {
                thread_local std::vector<model::analysis::FixedPoint> points;
                model::analysis::FindFixedPoints(w, points);
                signatures[d] = model::analysis::SignatureOf(points);
            }
        }
    };
    model::ForEachChunk(dots, 16, sign);

    // The segments start at wanted dots only; their points are kept by
    // block of that list, so that the order is the dots' order.
    std::vector<int> starts;
    for (int d = 0; d < dots; ++d)
        if (wanted[d] && mapped[d])
            starts.push_back(d);
    constexpr int kBlock = 16;
    const int nStarts = static_cast<int>(starts.size());
    std::vector<std::vector<CurvePointRow>> found(static_cast<size_t>(model::BlocksOf(nStarts, kBlock)));
    auto cross = [&](int block, int begin, int end) {
        for (int k = begin; k < end; ++k) {
            model::CheckInterrupt();
            const int d = starts[k];
            const int column = d / rows, row = d % rows;
            auto segment = [&](int e, bool horizontal) {
                if (!mapped[d] || !mapped[e] || !wanted[d] || !wanted[e]
                    || signatures[d] == signatures[e])
                    return;
                const model::Weights wd = weightsOf(d), we = weightsOf(e);
                std::vector<model::analysis::Crossing> crossings;
                try {
                    crossings = model::analysis::FindCrossings(wd, signatures[d], we,
                                                               signatures[e]);
                } catch (const std::exception&) {
                    return; // a segment that cannot be resolved is left out
                }
                for (const auto& c : crossings) {
                    const double h = r.columnOffset(column) + (horizontal ? c.t * r.columnStep : 0);
                    const double v = r.rowOffset(row) + (horizontal ? 0 : c.t * r.rowStep);
                    CurvePointRow p;
                    p.column = static_cast<int>(std::lround(h));
                    p.row = plan.pixels - 1 - static_cast<int>(std::lround(v));
                    p.period = 1;
                    p.type = typeOf(c.kind);
                    if (data) {
                        p.h = horizontal ? std::lerp(r.columnValue(column),
                                                     r.columnValue(column + 1), c.t)
                                         : r.columnValue(column);
                        p.v = horizontal ? r.rowValue(row)
                                         : std::lerp(r.rowValue(row), r.rowValue(row + 1), c.t);
                        p.argument = c.kind == Bifurcation::PeriodDoubling ? std::numbers::pi
                                     : c.kind == Bifurcation::SaddleNode
                                         ? 0
                                         : circleArgument(model::analysis::Lerp(wd, we, c.t));
                    }
                    found[static_cast<size_t>(block)].push_back(p);
                }
            };
            if (column + 1 < plan.columns)
                segment(d + rows, true);
            if (row + 1 < rows)
                segment(d + 1, false);
        }
    };
    model::ForEachBlock(nStarts, kBlock, cross);

    std::vector<CurvePointRow> points;
    CycleCurves cycles;
    const bool withCycles = cyclesPeriod > 1;
    if (withCycles) {
        cycles = FindCycleCurves(plan, cyclesPeriod);
        points = cycles.points;
        std::stable_sort(points.begin(), points.end(),
                         [](const CurvePointRow& a, const CurvePointRow& b) {
                             return a.period > b.period;
                         });
    }
    for (const auto& dotPoints : found)
        points.insert(points.end(), dotPoints.begin(), dotPoints.end());

    // Two pixels wide on larger pictures, so that the curves stay visible.
    const int width = plan.pixels >= 400 ? 2 : 1;
    canvas.setDotWidth(1);
    std::map<std::pair<int, int>, int64_t> counts; // (kind, period) -> points
    for (const CurvePointRow& p : points) {
        const Bifurcation kind = kindOf(p.type);
        ++counts[{static_cast<int>(kind), p.period}];
        const model::Color colour = curveColour(kind, p.period);
        for (int dx = 0; dx < width; ++dx)
            for (int dy = 0; dy < width; ++dy)
                if (p.column + dx < plan.pixels && p.row + dy >= 0 && p.row + dy < plan.pixels)
                    canvas.setDot(p.column + dx, p.row + dy, colour);
    }
    if (data) {
        size_t offset = 0;
        *data = NpyFile("<f8", {static_cast<int64_t>(points.size()), 5}, sizeof(double), offset);
        for (const CurvePointRow& p : points) {
            const double row[5] = {p.h, p.v, static_cast<double>(p.period),
                                   static_cast<double>(static_cast<int>(p.type)), p.argument};
            std::memcpy(data->data() + offset, row, sizeof row);
            offset += sizeof row;
        }
    }
    nlohmann::json curves = nlohmann::json::object();
    for (Bifurcation kind : {Bifurcation::SaddleNode, Bifurcation::PeriodDoubling,
                             Bifurcation::NeimarkSacker}) {
        int64_t total = 0;
        nlohmann::json periods = nlohmann::json::object();
        for (const auto& [key, n] : counts)
            if (key.first == static_cast<int>(kind)) {
                total += n;
                periods[std::to_string(key.second)] = {
                    {"points", n}, {"rgb", rgbOf(curveColour(kind, key.second))}};
            }
        nlohmann::json entry = {{"rgb", rgbOf(curveColour(kind))}, {"points", total}};
        if (withCycles)
            entry["periods"] = periods;
        curves[model::analysis::BifurcationName(kind)] = entry;
    }
    if (withCycles)
        curves["cycles"] = {{"largest_period", cyclesPeriod},
                            {"basin_switches", cycles.basinSwitches},
                            {"newton_runs", cycles.newtonRuns},
                            {"not_converged", cycles.notConverged},
                            {"continuations_lost", cycles.lost}};
    return curves;
}

// --- Basin statistics ------------------------------------------------------------

std::string classText(const Plan& plan, int64_t key)
{
    if (plan.row->classType != ClassType::Counts4
        && plan.row->classType != ClassType::CountsByPeriod)
        return model::IntegerText(static_cast<int>(key));
    const auto c = model::analysis::CountsOfKey(key);
    return std::to_string(c.attracting) + "," + std::to_string(c.saddle) + ","
           + std::to_string(c.repelling) + "," + std::to_string(c.nonHyperbolic);
}

nlohmann::json statistics(const Plan& plan, const NpyArray& classes, std::ostream* out)
{
    const std::vector<int64_t> keys = ClassKeys(classes);
    const auto s = model::analysis::ComputeBasinStatistics(std::span<const int64_t>(keys),
                                                           classes.columns(), classes.rows(),
                                                           plan.job.statsBox);
    nlohmann::json fractions = nlohmann::json::object();
    for (const auto& [key, share] : s.fractions)
        fractions[classText(plan, key)] = share;
    if (out) {
        *out << "basin statistics, boxes of " << plan.job.statsBox << " x " << plan.job.statsBox
             << " pixels" << (plan.row->classType == ClassType::Counts4
                                  ? " (class: attracting,saddle,repelling,non-hyperbolic)" : "")
             << "\n";
        for (const auto& [key, share] : s.fractions)
            *out << "  class " << classText(plan, key) << std::string(
                        std::max<size_t>(1, 12 - classText(plan, key).size()), ' ')
                 << model::DecimalText(share) << "\n";
        *out << "  basin entropy S_b           " << model::DecimalText(s.basinEntropy) << " ("
             << s.boxes << " boxes)\n"
             << "  boundary basin entropy S_bb " << model::DecimalText(s.boundaryBasinEntropy)
             << " (" << s.boundaryBoxes << " boundary boxes)\n";
    }
    return {{"box", plan.job.statsBox},
            {"fractions", fractions},
            {"basin_entropy", s.basinEntropy},
            {"boundary_basin_entropy", s.boundaryBasinEntropy},
            {"boxes", s.boxes},
            {"boundary_boxes", s.boundaryBoxes}};
}

// --- Cycles ------------------------------------------------------------------------

using model::analysis::Cycle;
using model::analysis::OrbitType;

void step(const model::Weights& w, double& x, double& y)
{
    const double nx = std::tanh((w[0] * x + w[1] * y) + w[4]);
    const double ny = std::tanh((w[2] * x + w[3] * y) + w[5]);
    x = nx;
    y = ny;
}

// The state of the picture's pixel (column, row), row 0 at the top.
model::analysis::Point pointOf(const Plan& plan, int column, int row)
{
    const auto& g = plan.job.region;
    return {plots::MapOffset(g[0], g[1], column, plan.pixels),
            plots::MapOffset(g[2], g[3], plan.pixels - 1 - row, plan.pixels)};
}

// The attractors of the basin picture, as starts: the end of the orbit from
// pixels on a grid of about 32 x 32 that the classification found periodic.
std::vector<model::analysis::Point> attractorStarts(const Plan& plan,
                                                    const std::vector<int64_t>& keys)
{
    const int stride = std::max(1, plan.pixels / 32);
    std::vector<model::analysis::Point> starts;
    std::set<std::pair<long long, long long>> seen;
    for (int row = stride / 2; row < plan.pixels; row += stride)
        for (int column = stride / 2; column < plan.pixels; column += stride) {
            model::CheckInterrupt();
            if (keys[static_cast<size_t>(row) * plan.pixels + column] <= 0)
                continue;
            auto [x, y] = pointOf(plan, column, row);
            for (int i = 0; i < plan.job.iterations; ++i)
                step(plan.job.w, x, y);
            if (!std::isfinite(x) || !std::isfinite(y))
                continue;
            if (seen.insert({std::llround(x * 1e6), std::llround(y * 1e6)}).second)
                starts.push_back({x, y});
        }
    return starts;
}

// For every pixel the classification found periodic, the attracting cycle its
// orbit comes within 1e-7 of, within the job's iterations; the share of the
// pixels of each attracting cycle.
std::vector<double> basinShares(const Plan& plan, const std::vector<int64_t>& keys,
                                const std::vector<Cycle>& attracting)
{
    const int n = plan.pixels;
    std::vector<int> owner(static_cast<size_t>(n) * n, -1);
    auto body = [&](int begin, int end) {
        for (int p = begin; p < end; ++p) {
            model::CheckInterrupt();
            if (keys[p] <= 0)
                continue;
            auto [x, y] = pointOf(plan, p % n, p / n);
            for (int i = 0; i < plan.job.iterations && std::isfinite(x + y); ++i) {
                if (const auto c = model::analysis::CycleThrough(attracting, x, y, 1e-7)) {
                    owner[p] = static_cast<int>(*c);
                    break;
                }
                step(plan.job.w, x, y);
            }
        }
    };
    model::ForEachChunk(n * n, 256, body);
    std::vector<int64_t> counts(attracting.size(), 0);
    for (int o : owner)
        if (o >= 0)
            ++counts[o];
    std::vector<double> shares;
    for (int64_t c : counts)
        shares.push_back(static_cast<double>(c) / (static_cast<double>(n) * n));
    return shares;
}

// Draws a marker of radius r centred on (column, row): black where shape
// holds, and a white rim one pixel wide around it, so that it reads on any
// colour and covers nothing beyond its size and rim.
template <class Shape>
void drawMarker(plots::Canvas& canvas, int column, int row, int r, Shape shape)
{
    for (int dy = -r - 1; dy <= r + 1; ++dy)
        for (int dx = -r - 1; dx <= r + 1; ++dx) {
            const int c = column + dx, w = row + dy;
            if (c < 0 || w < 0 || c >= canvas.width() || w >= canvas.height())
                continue;
            if (shape(dx, dy))
                canvas.setDot(c, w, model::Rgb(0, 0, 0));
            else if (shape(dx - 1, dy) || shape(dx + 1, dy) || shape(dx, dy - 1)
                     || shape(dx, dy + 1))
                canvas.setDot(c, w, model::Rgb(255, 255, 255));
        }
}

void markCycle(const Plan& plan, plots::Canvas& canvas, const Cycle& cycle)
{
    const auto& g = plan.job.region;
    const int r = std::max(2, plan.pixels / 100);
    canvas.setDotWidth(1);
    for (const auto& p : cycle.points) {
        const double h = (p.x - g[0]) / (g[1] - g[0]) * (plan.pixels - 1);
        const double v = (p.y - g[2]) / (g[3] - g[2]) * (plan.pixels - 1);
        if (!(h > -r - 2 && h < plan.pixels + r + 2 && v > -r - 2 && v < plan.pixels + r + 2))
            continue;
        const int column = static_cast<int>(std::lround(h));
        const int row = plan.pixels - 1 - static_cast<int>(std::lround(v));
        switch (cycle.type) {
        case OrbitType::Attracting: // a filled disc
            drawMarker(canvas, column, row, r, [r](int dx, int dy) {
                return dx * dx + dy * dy <= r * r;
            });
            break;
        case OrbitType::Saddle: // a circle
            drawMarker(canvas, column, row, r, [r](int dx, int dy) {
                const int d = dx * dx + dy * dy;
                return d <= r * r && d > (r - 1) * (r - 1);
            });
            break;
        case OrbitType::Repelling: // a cross
            drawMarker(canvas, column, row, r, [r](int dx, int dy) {
                return std::abs(dx) <= r && (dx == dy || dx == -dy);
            });
            break;
        case OrbitType::NonHyperbolic: // a square outline
            drawMarker(canvas, column, row, r, [r](int dx, int dy) {
                return std::max(std::abs(dx), std::abs(dy)) == r;
            });
            break;
        }
    }
}

nlohmann::json cycles(const Plan& plan, const NpyArray& classes, plots::Canvas& canvas,
                      std::ostream* out)
{
    const Job& job = plan.job;
    const std::vector<int64_t> keys = ClassKeys(classes);
    model::analysis::CycleSearch search;
    search.maxPeriod = job.maxPeriod;
    search.seeds = job.seeds;
    search.x0 = job.region[0];
    search.x1 = job.region[1];
    search.y0 = job.region[2];
    search.y1 = job.region[3];
    search.extraStarts = attractorStarts(plan, keys);
    const auto report = model::analysis::FindCycles(job.w, search);

    std::vector<Cycle> attracting;
    for (const Cycle& c : report.cycles)
        if (c.type == OrbitType::Attracting)
            attracting.push_back(c);
    const std::vector<double> shares = basinShares(plan, keys, attracting);

    nlohmann::json list = nlohmann::json::array();
    size_t next = 0;
    if (out)
        *out << (report.cycles.empty() ? "no cycles found up to period "
                                       : std::to_string(report.cycles.size())
                                             + " cycles up to period ")
             << job.maxPeriod << " (" << report.newtonRuns << " Newton runs, "
             << report.overflowed + report.notConverged << " skipped)\n";
    if (out && !report.cycles.empty())
        *out << "period  type            basin share   multipliers                      "
                "first point\n";
    for (const Cycle& c : report.cycles) {
        nlohmann::json points = nlohmann::json::array();
        for (const auto& p : c.points)
            points.push_back({p.x, p.y});
        nlohmann::json share = nullptr;
        if (c.type == OrbitType::Attracting)
            share = shares[next++];
        list.push_back({{"period", c.period},
                        {"points", points},
                        {"multipliers",
                         {{c.multipliers[0].re, c.multipliers[0].im},
                          {c.multipliers[1].re, c.multipliers[1].im}}},
                        {"type", model::analysis::TypeName(c.type)},
                        {"basin_share", share}});
        if (out) {
            char line[256];
            auto mu = [](const model::analysis::Multiplier& m) {
                char b[64];
                std::snprintf(b, sizeof b, m.im == 0 ? "%.6g" : "%.4g%+.4gi", m.re, m.im);
                return std::string(b);
            };
            std::snprintf(line, sizeof line, "%6d  %-14s  %-12s  %-15s %-15s  (%.9g, %.9g)\n",
                          c.period, model::analysis::TypeName(c.type),
                          share.is_null() ? "-" : model::DecimalText(share.get<double>()).c_str(),
                          mu(c.multipliers[0]).c_str(), mu(c.multipliers[1]).c_str(),
                          c.points[0].x, c.points[0].y);
            *out << line;
        }
        markCycle(plan, canvas, c);
    }
    return {{"cycles", list},
            {"newton_runs", report.newtonRuns},
            {"skipped_newton_runs",
             {{"overflowed", report.overflowed}, {"not_converged", report.notConverged}}}};
}

} // namespace

model::Color StabilityColour(int attracting, int fixedPoints)
{
    if (fixedPoints <= 0)
        return model::Rgb(0, 0, 0);
    const int* hue = kStabilityHues[std::min<int>(attracting, std::size(kStabilityHues) - 1)];
    const double depth =
        0.45 + 0.55 * (std::min(fixedPoints, kMostShaded) - 1) / (kMostShaded - 1);
    auto shade = [&](int c) {
        return static_cast<int>(std::lround(255 - (255 - c) * depth));
    };
    return model::Rgb(shade(hue[0]), shade(hue[1]), shade(hue[2]));
}

std::vector<int64_t> ClassKeys(const NpyArray& classes)
{
    const size_t n = static_cast<size_t>(classes.rows()) * classes.columns();
    const uint8_t* p = classes.bytes().data() + classes.dataOffset();
    std::vector<int64_t> keys(n);
    // Counts by period: the class of a pixel is its period-1 counts, as the
    // plain stability plane's.
    const size_t periods = n ? (classes.bytes().size() - classes.dataOffset()) / (4 * n) : 0;
    for (size_t i = 0; i < n; ++i) {
        switch (classes.type()) {
        case ClassType::UInt8: keys[i] = p[i]; break;
        case ClassType::UInt16: keys[i] = p[2 * i] | p[2 * i + 1] << 8; break;
        case ClassType::Counts4:
            keys[i] = model::analysis::ClassKey(
                {p[4 * i], p[4 * i + 1], p[4 * i + 2], p[4 * i + 3]});
            break;
        case ClassType::CountsByPeriod: {
            const uint8_t* c = p + 4 * i * periods;
            keys[i] = model::analysis::ClassKey({c[0], c[periods], c[2 * periods], c[3 * periods]});
            break;
        }
        case ClassType::Float32: {
            float f;
            std::memcpy(&f, p + 4 * i, 4);
            keys[i] = static_cast<int64_t>(f);
            break;
        }
        default: // no mode with statistics writes the other kinds
            keys[i] = 0;
        }
    }
    return keys;
}

void StabilityAnalysis(const Analysis& a)
{
    a.record["colour_scheme"] = stabilityScheme();
    a.record["curves"] = drawCurves(a.plan, a.canvas, nullptr, 1, a.classes);
}

void RenderStabilityCycles(const Plan& plan, plots::Canvas& canvas, NpyArray* classes,
                           nlohmann::json& record,
                           const std::function<void(int64_t dotsDone)>& between)
{
    const Job& job = plan.job;
    const plots::Raster& raster = plan.raster;
    const int columns = plan.columns, rows = plan.rows, periods = job.cycles;
    std::vector<model::Weights> ws(static_cast<size_t>(plan.dots()));
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r)
            if (!params::PlaceWeights(plan.inputs, raster.columnValue(c), raster.rowValue(r),
                                      ws[static_cast<size_t>(c) * rows + r]))
                throw DotFailure(plan, c, r, DotResult::Failure::Mapping);

    // The cycles lie in the state plane's square: tanh maps every state into it.
    model::analysis::CycleSearch search;
    search.maxPeriod = periods;
    search.seeds = job.seeds;
    const model::analysis::PlaneCycles found =
        model::analysis::FollowPlaneCycles(ws, columns, rows, search, between);

    // The counts, row 0 of the array at the top of the picture.
    size_t offset = 0;
    const int n = plan.pixels;
    std::vector<uint8_t> file =
        NpyFile("|u1", {n, n, 4, periods}, 1, offset);
    canvas.setDotWidth(raster.columnStep);
    const int s = raster.columnStep, h = raster.half;
    for (int c = 0; c < columns; ++c) {
        const int pc = raster.pixelColumn(c);
        for (int r = 0; r < rows; ++r) {
            std::vector<uint8_t> counts(static_cast<size_t>(4) * periods, 0);
            for (const Cycle& cycle : found.cycles[static_cast<size_t>(c) * rows + r]) {
                uint8_t& count = counts[static_cast<size_t>(cycle.type) * periods + cycle.period - 1];
                if (count < 255)
                    ++count;
            }
            const int pr = raster.pixelRow(r);
            if (!job.curvesOnly) {
                const int attracting = counts[0];
                const int all = attracting + counts[static_cast<size_t>(periods)]
                                + counts[2 * static_cast<size_t>(periods)]
                                + counts[3 * static_cast<size_t>(periods)];
                canvas.setDot(pc, pr, StabilityColour(attracting, all));
            }
            // The counts cover the pixels of the dot, as the canvas draws it.
            for (int y = std::max(0, pr + h - s + 1); y < std::min(n, pr + h + 1); ++y)
                for (int x = std::max(0, pc - h); x < std::min(n, pc - h + s); ++x)
                    for (int t = 0; t < 4; ++t)
                        for (int k = 0; k < periods; ++k)
                            file[offset + ((static_cast<size_t>(y) * n + x) * 4 + t) * periods + k] =
                                counts[static_cast<size_t>(t) * periods + k];
        }
    }
    record["cycle_search"] = {{"periods", periods},
                              {"seeds", job.seeds},
                              {"newton_runs", found.newtonRuns},
                              {"not_converged", found.notConverged},
                              {"overflowed", found.overflowed},
                              {"continued_cycles", found.continued},
                              {"sweeps", found.sweeps}};
    if (classes)
        *classes = NpyArray(std::move(file), offset, n, n, ClassType::CountsByPeriod);
}

void StabilityCyclesAnalysis(const Analysis& a)
{
    nlohmann::json scheme = stabilityScheme();
    scheme["hue"] = "the number of attracting fixed points that the cycle search found";
    scheme["classes"] = "the .npy holds per pixel, for each type (attracting, saddle, repelling, "
                        "non-hyperbolic) and each period 1..K, the number of cycles of that "
                        "minimal period found at the dot, at most 255";
    a.record["colour_scheme"] = scheme;
    a.record["curves"] = drawCurves(a.plan, a.canvas, nullptr, 1, nullptr);
}

void ParametricAnalysis(const Analysis& a)
{
    if (a.plan.job.curves)
        a.record["curves"] = drawCurves(a.plan, a.canvas, a.curvesData, a.plan.job.curvesPeriod);
}

void CyclesAnalysis(const Analysis& a)
{
    if (a.classes)
        a.record.update(cycles(a.plan, *a.classes, a.canvas, a.out));
}

// The flip cascade of the attracting cycle along the sweep, listed in sweep
// order with the ratios of successive intervals, and marked on the diagram by
// a tick in the period-doubling curves' colour at the top and bottom of each
// flip's column.
void OrbitAnalysis(const Analysis& a)
{
    const Job& job = a.plan.job;
    if (!job.flipPoints)
        return;
    const int index = static_cast<int>(job.sweep[0]);
    const double left = job.sweep[1], right = job.sweep[2];
    const model::analysis::FlipCascade cascade = model::analysis::FindFlipCascade(
        job.w, index, left, right, job.x0[0], job.x0[1], job.iterations);
    nlohmann::json flips = nlohmann::json::array();
    for (const auto& f : cascade.flips)
        flips.push_back({{"period", f.period}, {"value", f.value}});
    a.record["flip_points"] = flips;
    a.record["flip_ratios"] = cascade.ratios;
    a.record["flip_start_period"] = cascade.startPeriod;

    const int n = a.plan.pixels;
    const int tick = std::max(2, n / 30);
    a.canvas.setDotWidth(1);
    for (const auto& f : cascade.flips) {
        const int column = static_cast<int>(std::lround((f.value - left) / (right - left) * (n - 1)));
        if (column < 0 || column >= n)
            continue;
        for (int r = 0; r < tick; ++r) {
            a.canvas.setDot(column, r, curveColour(Bifurcation::PeriodDoubling));
            a.canvas.setDot(column, n - 1 - r, curveColour(Bifurcation::PeriodDoubling));
        }
    }
    if (!a.out)
        return;
    std::ostream& out = *a.out;
    if (cascade.startPeriod == 0) {
        out << "no attracting cycle of period up to " << model::analysis::kMaxCyclePeriod
            << " at the start of the sweep\n";
        return;
    }
    out << "flips of the attracting cycle of period " << cascade.startPeriod << " from "
        << model::DecimalText(left) << " towards " << model::DecimalText(right) << " (parameter "
        << kParameterNames[index] << ")\n";
    out << "period  value               ratio of the intervals before\n";
    for (size_t i = 0; i < cascade.flips.size(); ++i) {
        const std::string period = std::to_string(cascade.flips[i].period);
        const std::string value = model::DecimalText(cascade.flips[i].value);
        out << std::string(6 - std::min<size_t>(6, period.size()), ' ') << period << "  " << value;
        if (i >= 2)
            out << std::string(20 - std::min<size_t>(18, value.size()), ' ')
                << model::DecimalText(cascade.ratios[i - 2]);
        out << "\n";
    }
}

void Analyse(const Plan& plan, plots::Canvas& canvas, const NpyArray* classes,
             nlohmann::json& record, std::ostream* out, std::vector<uint8_t>* curvesData)
{
    if (plan.row->analyse) {
        Analysis a{plan, canvas, classes, record, out};
        a.curvesData = curvesData;
        plan.row->analyse(a);
    }
    if (plan.job.stats && classes)
        record["statistics"] = statistics(plan, *classes, out);
}

bool KeepsClasses(const Job& job) { return job.stats || RowOf(job.mode).keepsClasses; }

} // namespace render
