// The modes: how each evaluates its dots, and how a committed dot is drawn.
#include "render/plan.h"

#include "model/long_period.h"
#include "model/lyapunov.h"
#include "model/network.h"
#include "model/scales.h"
#include "params/coexisting.h"
#include "plots/raster.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace render {

namespace {

using model::kernel::Orbit;
using Failure = DotResult::Failure;

// Dots classified together: enough for the lockstep lanes of the kernel,
// small enough for the stack.
constexpr int kPiece = 64;
// Orbits of one batch of coexisting dots: all start points of a dot together.
constexpr int kCoexistingBatch = 512;

DotResult resultOf(const Orbit& o)
{
    DotResult r;
    if (o.failed) {
        r.failure = Failure::Orbit;
        return r;
    }
    r.cls = static_cast<uint16_t>(o.cls);
    r.hasFixpoint = o.cls == 17;
    r.fpColor = o.fpColor;
    return r;
}

// The plane point of dot d; false when the mapping overflowed.
bool pointOf(const Plan& p, int64_t d, double& h, double& v)
{
    h = p.columnValue(static_cast<int>(d / p.rows));
    v = p.rowValue(static_cast<int>(d % p.rows));
    return std::isfinite(h) && std::isfinite(v);
}

DotResult resultOf(const model::kernel::LongOrbit& o)
{
    DotResult r;
    r.cls = o.cls;
    if (o.failed)
        r.failure = Failure::Orbit;
    return r;
}

DotResult resultOf(const model::kernel::Exponent& e)
{
    DotResult r;
    r.lambda = e.lambda;
    if (e.failed)
        r.failure = Failure::Orbit;
    return r;
}

// The parameter vector of a parameter-plane dot: the job's, with the column's
// value in the horizontal entry and then the row's in the vertical one (the
// row's wins when both axes name the same entry, as in the window).
bool weightsOf(const Plan& p, int64_t d, model::Weights& w)
{
    double h, v;
    const bool mapped = pointOf(p, d, h, v);
    w = p.job.w;
    if (mapped) {
        w[p.job.idx[0]] = h;
        w[p.job.idx[1]] = v;
    }
    return mapped;
}

// A mode over the state plane: start point (x, y) of the dot, the job's
// weights; kernel(xs, ys, m, results) runs m orbits.
template <class Result, class Kernel>
void evaluateStatePlane(const Plan& p, int64_t first, int count, DotResult* out,
                        Kernel kernel)
{
    double xs[kPiece], ys[kPiece];
    bool mapped[kPiece];
    Result results[kPiece];
    for (int b = 0; b < count; b += kPiece) {
        const int m = std::min(kPiece, count - b);
        for (int k = 0; k < m; ++k) {
            mapped[k] = pointOf(p, first + b + k, xs[k], ys[k]);
            if (!mapped[k])
                xs[k] = ys[k] = 0; // not computed; the dot fails with the mapping
        }
        kernel(xs, ys, m, results);
        for (int k = 0; k < m; ++k) {
            out[b + k] = mapped[k] ? resultOf(results[k]) : DotResult{};
            if (!mapped[k])
                out[b + k].failure = Failure::Mapping;
        }
    }
}

// The same over the parameter plane: the start point x0, the dot's weights;
// kernel(ws, xs, ys, m, results).
template <class Result, class Kernel>
void evaluateParameterPlane(const Plan& p, int64_t first, int count, DotResult* out,
                            Kernel kernel)
{
    double xs[kPiece], ys[kPiece];
    bool mapped[kPiece];
    model::Weights ws[kPiece];
    Result results[kPiece];
    std::fill(xs, xs + kPiece, p.job.x0[0]);
    std::fill(ys, ys + kPiece, p.job.x0[1]);
    for (int b = 0; b < count; b += kPiece) {
        const int m = std::min(kPiece, count - b);
        for (int k = 0; k < m; ++k)
            mapped[k] = weightsOf(p, first + b + k, ws[k]);
        kernel(ws, xs, ys, m, results);
        for (int k = 0; k < m; ++k) {
            out[b + k] = mapped[k] ? resultOf(results[k]) : DotResult{};
            if (!mapped[k])
                out[b + k].failure = Failure::Mapping;
        }
    }
}

template <bool locateFp>
void evaluateBasins(const Plan& p, int64_t first, int count, DotResult* out)
{
    evaluateStatePlane<Orbit>(
        p, first, count, out, [&](const double* xs, const double* ys, int m, Orbit* r) {
            model::kernel::ClassifyMany(p.job.w, p.job.iterations, p.job.accuracy, xs, ys, m,
                                        locateFp, r);
        });
}

void evaluateFixpoints(const Plan& p, int64_t first, int count, DotResult* out)
{
    for (int k = 0; k < count; ++k) {
        DotResult& r = out[k];
        r = {};
        double x, y;
        if (!pointOf(p, first + k, x, y)) {
            r.failure = Failure::Mapping;
            continue;
        }
        bool ok = true;
        const bool near = model::kernel::IsNearFixpoint(p.job.w, p.job.accuracy, x, y, ok);
        r.cls = near ? 1 : 0;
        if (!ok)
            r.failure = Failure::Orbit;
    }
}

void evaluateParametric(const Plan& p, int64_t first, int count, DotResult* out)
{
    evaluateParameterPlane<Orbit>(
        p, first, count, out,
        [&](const model::Weights* ws, const double* xs, const double* ys, int m, Orbit* r) {
            model::kernel::ClassifyManyEach(ws, p.job.iterations, p.job.accuracy, xs, ys, m,
                                            false, r);
        });
}

void evaluateCoexisting(const Plan& p, int64_t first, int count, DotResult* out)
{
    const int n = p.job.startValues;
    const int batch = std::max(1, kCoexistingBatch / n);
    std::vector<model::Weights> ws(static_cast<size_t>(batch) * n);
    std::vector<double> xs(ws.size()), ys(ws.size());
    std::vector<Orbit> orbits(ws.size());
    std::vector<char> mapped(batch);
    model::RandomGenerator random;
    for (int b = 0; b < count; b += batch) {
        const int m = std::min(batch, count - b);
        // Start point k of dot d takes the pair at position 2 (d n + k) after
        // the shared start points: where the plain loop, drawing for every dot
        // in drawing order, would be.
        if (p.job.reshuffle) {
            random.restore(p.drawsStart);
            random.skip(2 * static_cast<uint64_t>(first + b) * static_cast<uint64_t>(n));
        }
        int e = 0;
        for (int k = 0; k < m; ++k) {
            model::Weights w;
            mapped[k] = weightsOf(p, first + b + k, w);
            for (int s = 0; s < n; ++s, ++e) {
                ws[e] = w;
                if (p.job.reshuffle) {
                    const float r1 = random.next();
                    const float r2 = random.next();
                    xs[e] = params::StartCoordinate(r1);
                    ys[e] = params::StartCoordinate(r2);
                } else {
                    xs[e] = p.startX[s];
                    ys[e] = p.startY[s];
                }
            }
        }
        model::kernel::ClassifyManyEach(ws.data(), p.job.iterations, p.job.accuracy, xs.data(),
                                        ys.data(), e, true, orbits.data());
        for (int k = 0; k < m; ++k) {
            DotResult& r = out[b + k];
            r = {};
            if (!mapped[k]) {
                r.failure = Failure::Mapping;
                continue;
            }
            // No colour is ever negative: -1 tells that no fixed point was met.
            model::Color last = -1;
            const params::Tally t =
                params::TallyAttractors(&orbits[static_cast<size_t>(k) * n], n, p.job.fp, last);
            if (t.stoppedAt >= 0) {
                r.failure = t.tooManyFixpoints ? Failure::TooManyFixpoints : Failure::Orbit;
                continue;
            }
            r.cls = static_cast<uint16_t>(t.count);
            r.hasFixpoint = last >= 0;
            r.fpColor = r.hasFixpoint ? last : 0;
        }
    }
}

void evaluateLongBasins(const Plan& p, int64_t first, int count, DotResult* out)
{
    evaluateStatePlane<model::kernel::LongOrbit>(
        p, first, count, out, [&](const double* xs, const double* ys, int m, auto* r) {
            model::kernel::ClassifyLongMany(p.job.w, p.job.iterations, p.job.accuracy,
                                            p.job.maxPeriod, xs, ys, m, r);
        });
}

void evaluateLongParametric(const Plan& p, int64_t first, int count, DotResult* out)
{
    evaluateParameterPlane<model::kernel::LongOrbit>(
        p, first, count, out,
        [&](const model::Weights* ws, const double* xs, const double* ys, int m, auto* r) {
            model::kernel::ClassifyLongManyEach(ws, p.job.iterations, p.job.accuracy,
                                                p.job.maxPeriod, xs, ys, m, r);
        });
}

void evaluateLyapunovState(const Plan& p, int64_t first, int count, DotResult* out)
{
    evaluateStatePlane<model::kernel::Exponent>(
        p, first, count, out, [&](const double* xs, const double* ys, int m, auto* r) {
            model::kernel::LyapunovMany(p.job.w, p.job.iterations, p.job.lyapunovSteps, xs, ys,
                                        m, r);
        });
}

void evaluateLyapunovParameter(const Plan& p, int64_t first, int count, DotResult* out)
{
    evaluateParameterPlane<model::kernel::Exponent>(
        p, first, count, out,
        [&](const model::Weights* ws, const double* xs, const double* ys, int m, auto* r) {
            model::kernel::LyapunovManyEach(ws, p.job.iterations, p.job.lyapunovSteps, xs, ys,
                                            m, r);
        });
}

bool longPeriodColour(const Plan&, const DotResult& dot, const model::State&, model::Color& out)
{
    out = model::LongPeriodColor(dot.cls);
    return true;
}

bool lyapunovColour(const Plan& p, const DotResult& dot, const model::State&, model::Color& out)
{
    out = model::LyapunovColor(dot.lambda, p.job.scale[0], p.job.scale[1]);
    return true;
}

bool periodColour(const Plan&, const DotResult& dot, const model::State& st, model::Color& out)
{
    out = model::PeriodColor(st, static_cast<int16_t>(dot.cls));
    return true;
}

bool penColour(const Plan& p, const DotResult& dot, const model::State&, model::Color& out)
{
    out = model::Rgb(p.job.pen[0], p.job.pen[1], p.job.pen[2]);
    return dot.cls == 1; // unmarked pixels keep what the picture shows
}

constexpr ModeTraits kTraits[] = {
    {Mode::Veltrane, false, false, 1, ClassType::UInt8, evaluateBasins<false>, periodColour},
    {Mode::FpBas, false, false, 1, ClassType::UInt8, evaluateBasins<true>, periodColour},
    {Mode::Fixpt, false, true, 1, ClassType::UInt8, evaluateFixpoints, penColour},
    {Mode::Parametric, true, false, 1, ClassType::UInt8, evaluateParametric, periodColour},
    {Mode::Coexisting, true, false, 0, ClassType::UInt8, evaluateCoexisting, periodColour},
    {Mode::Lyapunov, false, false, 1, ClassType::Float32, evaluateLyapunovState, lyapunovColour},
};

// The rows of a whole job beyond the window: lyapunov over the parameter
// plane, and veltrane and parametric with a period cap above 16 (at 16 they
// keep the window's classifier).
constexpr ModeTraits kLyapunovParameter = {Mode::Lyapunov, true, false, 1, ClassType::Float32,
                                           evaluateLyapunovParameter, lyapunovColour};
constexpr ModeTraits kLongVeltrane = {Mode::Veltrane, false, false, 1, ClassType::UInt16,
                                      evaluateLongBasins, longPeriodColour};
constexpr ModeTraits kLongParametric = {Mode::Parametric, true, false, 1, ClassType::UInt16,
                                        evaluateLongParametric, longPeriodColour};

const ModeTraits& traitsOf(const Job& job)
{
    if (job.mode == Mode::Lyapunov && job.parameterPlane)
        return kLyapunovParameter;
    if (job.maxPeriod > 16 && job.mode == Mode::Veltrane)
        return kLongVeltrane;
    if (job.maxPeriod > 16 && job.mode == Mode::Parametric)
        return kLongParametric;
    return TraitsOf(job.mode);
}

} // namespace

const ModeTraits& TraitsOf(Mode mode)
{
    for (const ModeTraits& t : kTraits)
        if (t.mode == mode)
            return t;
    return kTraits[0];
}

Plan MakePlan(const Job& job)
{
    Validate(job);
    Plan p;
    p.job = job;
    p.traits = &traitsOf(job);
    p.pixels = job.pixels;
    if (!p.traits->everyPixel) {
        p.step = job.size;
        p.half = plots::HalfDot(static_cast<int16_t>(job.size));
    }
    p.columns = p.rows = (p.pixels - 1) / p.step + 1;
    const auto& axes = p.traits->parameterPlane ? job.range : job.region;
    p.left = axes[0];
    p.right = axes[1];
    p.bottom = axes[2];
    p.top = axes[3];
    if (job.mode == Mode::Coexisting) {
        model::RandomGenerator random; // the window's generator as at program start
        for (int k = 0; k < job.startValues; ++k) {
            const float r1 = random.next();
            const float r2 = random.next();
            p.startX.push_back(params::StartCoordinate(r1));
            p.startY.push_back(params::StartCoordinate(r2));
        }
        p.drawsStart = random.state();
    }
    return p;
}

} // namespace render
