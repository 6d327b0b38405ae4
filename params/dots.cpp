#include "params/dots.h"

#include "model/errors.h"
#include "model/fixed_points.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace params {

namespace {

using model::kernel::Orbit;
using Failure = DotResult::Failure;
using plots::kDotsPerPiece;

// Orbits classified together for coexisting dots: all start points of a dot.
constexpr int kCoexistingBatch = 512;

// Draws one start point: its x, then its y.
void drawStartPoint(model::RandomGenerator& random, double& x, double& y)
{
    const float r1 = random.next();
    const float r2 = random.next();
    x = StartCoordinate(r1);
    y = StartCoordinate(r2);
}

// The parameter vector of a dot whose plane values are h and v; false when
// either did not map (w is then the inputs' own).
bool placeWeights(const DotInputs& in, double h, double v, model::Weights& w)
{
    w = in.w;
    const bool mapped = std::isfinite(h) && std::isfinite(v);
    if (mapped) {
        w[in.horizontalIndex] = h;
        w[in.verticalIndex] = v;
    }
    return mapped;
}

// The kernels of the parameter plane: m orbits from (xs[k], ys[k]), orbit k
// under ws[k], one overload per kind of result.
void runOrbits(const DotInputs& in, const model::Weights* ws, const double* xs, const double* ys,
               int m, Orbit* out)
{
    model::kernel::ClassifyManyEach(ws, in.iterations, in.accuracy, xs, ys, m, false, out);
}

void runOrbits(const DotInputs& in, const model::Weights* ws, const double* xs, const double* ys,
               int m, model::kernel::LongOrbit* out)
{
    model::kernel::ClassifyLongManyEach(ws, in.iterations, in.accuracy, in.maxPeriod, xs, ys, m,
                                        out);
}

void runOrbits(const DotInputs& in, const model::Weights* ws, const double* xs, const double* ys,
               int m, model::kernel::Exponent* out)
{
    model::kernel::LyapunovManyEach(ws, in.iterations, in.lyapunovSteps, xs, ys, m, out);
}

void runOrbits(const DotInputs& in, const model::Weights* ws, const double* xs, const double* ys,
               int m, model::kernel::Spectrum* out)
{
    model::kernel::LyapunovSpectrumManyEach(ws, in.iterations, in.lyapunovSteps, xs, ys, m, out);
}

// A parameter-plane mode with one orbit per dot, from (x0, y0).
template <class Result>
void planeDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
               DotResult* out)
{
    const double h = raster.columnValue(column);
    double xs[kDotsPerPiece], ys[kDotsPerPiece];
    model::Weights ws[kDotsPerPiece];
    std::fill(xs, xs + kDotsPerPiece, in.x0);
    std::fill(ys, ys + kDotsPerPiece, in.y0);
    auto place = [&](int k, int r) { return placeWeights(in, h, raster.rowValue(r), ws[k]); };
    plots::EvaluatePieces<Result>(row, count, out, place, [&](int m, Result* results) {
        runOrbits(in, ws, xs, ys, m, results);
    });
}

// The dot of the classifications of its n start points, in order.
DotResult tally(const Orbit* orbits, int n, bool countFixpoints)
{
    DotResult dot;
    auto stop = [&](int k, Failure why) {
        dot.failure = why;
        dot.cls = static_cast<uint16_t>(k + 1);
        return dot;
    };
    std::array<int16_t, model::kFixpointClass> typeSeen{};
    std::array<model::Color, kMaxFpColors> fpColors{};
    int fpCount = 0;
    for (int k = 0; k < n; ++k) {
        const Orbit& o = orbits[k];
        if (o.failed)
            return stop(k, Failure::Orbit);
        if (o.cls != model::kFixpointClass) {
            typeSeen[o.cls] = 1;
            continue;
        }
        dot.hasFixpoint = true;
        dot.fpColor = o.fpColor;
        if (std::find(fpColors.begin(), fpColors.begin() + fpCount, o.fpColor)
            != fpColors.begin() + fpCount)
            continue;
        if (fpCount == kMaxFpColors)
            return stop(k, Failure::TooManyFixpoints);
        fpColors[fpCount++] = o.fpColor;
    }
    if (countFixpoints)
        typeSeen[1] = static_cast<int16_t>(fpCount);
    else if (fpCount > 0)
        typeSeen[1] = 1;
    for (int16_t seen : typeSeen)
        dot.cls = static_cast<uint16_t>(dot.cls + seen);
    return dot;
}

} // namespace

bool PlaceWeights(const DotInputs& in, double h, double v, model::Weights& w)
{
    return placeWeights(in, h, v, w);
}

void StabilityDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
                   DotResult* out)
{
    const double h = raster.columnValue(column);
    for (int k = 0; k < count; ++k) {
        model::Weights w;
        out[k] = {};
        if (!placeWeights(in, h, raster.rowValue(row + k), w)) {
            out[k].failure = DotResult::Failure::Mapping;
            continue;
        }
        thread_local std::vector<model::analysis::FixedPoint> points;
        model::analysis::FindFixedPoints(w, points);
        const auto c = model::analysis::CountTypes(points);
        out[k].cls = model::analysis::ClassKey(c);
    }
}

void ParametricDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
                    DotResult* out)
{
    planeDots<Orbit>(in, raster, column, row, count, out);
}

void LongParametricDots(const DotInputs& in, const Raster& raster, int column, int row,
                        int count, DotResult* out)
{
    planeDots<model::kernel::LongOrbit>(in, raster, column, row, count, out);
}

void LyapunovPlaneDots(const DotInputs& in, const Raster& raster, int column, int row,
                       int count, DotResult* out)
{
    planeDots<model::kernel::Exponent>(in, raster, column, row, count, out);
}

void LyapunovSpectrumPlaneDots(const DotInputs& in, const Raster& raster, int column, int row,
                               int count, DotResult* out)
{
    planeDots<model::kernel::Spectrum>(in, raster, column, row, count, out);
}

// The dots of a batch are classified together, all start points of every
// dot in one call; the reshuffled start points are drawn in drawing order,
// the first dot of the column from `random`.
void CoexistingDots(const DotInputs& in, const Raster& raster, int column, int row, int count,
                    DotResult* out)
{
    const int n = in.startValues;
    const int batch = std::max(1, std::min(count, kCoexistingBatch / n));
    std::vector<model::Weights> ws(static_cast<size_t>(batch) * n);
    std::vector<double> xs(ws.size()), ys(ws.size());
    std::vector<Orbit> orbits(ws.size());
    std::vector<char> mapped(batch);
    model::RandomGenerator random;
    random.restore(AfterStartPoints(in.random, static_cast<uint64_t>(row) * n));
    const double h = raster.columnValue(column);
    for (int b = 0; b < count; b += batch) {
        const int m = std::min(batch, count - b);
        int e = 0;
        for (int k = 0; k < m; ++k) {
            model::Weights w;
            mapped[k] = placeWeights(in, h, raster.rowValue(row + b + k), w);
            for (int s = 0; s < n; ++s, ++e) {
                ws[e] = w;
                if (in.reshuffle) {
                    drawStartPoint(random, xs[e], ys[e]);
                } else {
                    xs[e] = in.startX[s];
                    ys[e] = in.startY[s];
                }
            }
        }
        model::kernel::ClassifyManyEach(ws.data(), in.iterations, in.accuracy, xs.data(),
                                        ys.data(), e, true, orbits.data());
        for (int k = 0; k < m; ++k) {
            out[b + k] = mapped[k] ? tally(&orbits[static_cast<size_t>(k) * n], n,
                                           in.countFixpoints)
                                   : DotResult{};
            if (!mapped[k])
                out[b + k].failure = Failure::Mapping;
        }
    }
}

void ThrowTooManyFixpoints()
{
    model::throwIndexOutOfRange("Index out of range: more than 16 different fixed points "
                                "at one point of the parameter plane.");
}

double StartCoordinate(float r) { return static_cast<double>(2.0f * r - 1.0f); }

void DrawStartPoints(model::RandomGenerator& random, int n, std::vector<double>& xs,
                     std::vector<double>& ys)
{
    xs.resize(n);
    ys.resize(n);
    for (int k = 0; k < n; ++k)
        drawStartPoint(random, xs[k], ys[k]);
}

model::RandomGenerator::State AfterStartPoints(model::RandomGenerator::State from,
                                               uint64_t points)
{
    model::RandomGenerator g;
    g.restore(from);
    g.skip(2 * points);
    return g.state();
}

} // namespace params
