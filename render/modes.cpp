// The table of modes: each row points at the mode's dot function and says how
// a committed dot is drawn.
#include "render/plan.h"

#include "model/scales.h"
#include "params/dots.h"
#include "render/analyses.h"
#include "render/orbit.h"

namespace render {

namespace {

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

bool orbitColour(const Plan& p, const DotResult& dot, const model::State&, model::Color& out)
{
    out = model::OrbitDensityColor(dot.count, OrbitPixelMost(p.job));
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

// A stability dot in the colour of its fixed-point structure; with
// --curves-only the dots leave the picture white for the curves.
bool stabilityColour(const Plan& p, const DotResult& dot, const model::State&, model::Color& out)
{
    out = StabilityColour(dot.cls >> 12, (dot.cls >> 12) + ((dot.cls >> 8) & 0xF)
                                             + ((dot.cls >> 4) & 0xF) + (dot.cls & 0xF));
    return !p.job.curvesOnly;
}

constexpr ModeTraits kTraits[] = {
    {Mode::Veltrane, false, false, 1, ClassType::UInt8, plots::VeltraneDots, periodColour},
    {Mode::FpBas, false, false, 1, ClassType::UInt8, plots::FpBasDots, periodColour},
    {Mode::Fixpt, false, true, 1, ClassType::UInt8, plots::FixptDots, penColour},
    {Mode::Parametric, true, false, 1, ClassType::UInt8, params::ParametricDots, periodColour},
    {Mode::Coexisting, true, false, 0, ClassType::UInt8, params::CoexistingDots, periodColour},
    {Mode::Lyapunov, false, false, 1, ClassType::Float32, plots::LyapunovDots, lyapunovColour},
    {Mode::Orbit, true, true, 1, ClassType::UInt32, nullptr, orbitColour, OrbitColumnDots},
    {Mode::Stability, true, true, 1, ClassType::Counts4, params::StabilityDots, stabilityColour},
    // The continuation's picture is drawn from its record as a whole
    // (render/continuation.h); its row only names its raster.
    {Mode::Continuation, false, true, 1, ClassType::UInt8, nullptr, nullptr},
    // The basin picture of cycles is veltrane's.
    {Mode::Cycles, false, false, 1, ClassType::UInt8, plots::VeltraneDots, periodColour},
};

// The rows of a whole job beyond the window: lyapunov over the parameter
// plane, and veltrane and parametric with a period cap above 16 (at 16 they
// keep the window's classifier).
constexpr ModeTraits kLyapunovParameter = {Mode::Lyapunov, true, false, 1, ClassType::Float32,
                                           params::LyapunovPlaneDots, lyapunovColour};
constexpr ModeTraits kLongVeltrane = {Mode::Veltrane, false, false, 1, ClassType::UInt16,
                                      plots::LongPeriodDots, longPeriodColour};
constexpr ModeTraits kLongParametric = {Mode::Parametric, true, false, 1, ClassType::UInt16,
                                        params::LongParametricDots, longPeriodColour};

// Lyapunov with both exponents, over either plane.
constexpr ModeTraits kSpectrumState = {Mode::Lyapunov, false, false, 1, ClassType::Float32Pair,
                                       plots::LyapunovSpectrumDots, lyapunovColour};
constexpr ModeTraits kSpectrumParameter = {Mode::Lyapunov, true, false, 1,
                                           ClassType::Float32Pair,
                                           params::LyapunovSpectrumPlaneDots, lyapunovColour};

const ModeTraits& traitsOf(const Job& job)
{
    if (job.mode == Mode::Lyapunov && job.spectrum)
        return job.parameterPlane ? kSpectrumParameter : kSpectrumState;
    if (job.mode == Mode::Lyapunov && job.parameterPlane)
        return kLyapunovParameter;
    if (job.maxPeriod > model::kWindowPeriodCap && job.mode == Mode::Veltrane)
        return kLongVeltrane;
    if (job.maxPeriod > model::kWindowPeriodCap && job.mode == Mode::Parametric)
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

plots::DotInputs Plan::columnInputs(int column) const
{
    plots::DotInputs in = inputs;
    in.startX = startX.data();
    in.startY = startY.data();
    if (in.reshuffle)
        in.random = params::AfterStartPoints(
            inputs.random, static_cast<uint64_t>(column) * rows * job.startValues);
    return in;
}

Plan MakePlan(const Job& job)
{
    Validate(job);
    Plan p;
    p.job = job;
    p.traits = &traitsOf(job);
    const auto& axes = p.traits->parameterPlane ? job.range : job.region;
    p.raster = plots::MakeRaster(job.pixels, p.traits->everyPixel ? 1 : job.size, axes[0],
                                 axes[1], axes[2], axes[3]);
    if (job.mode == Mode::Orbit) // the sweep across, the bounds up
        p.raster = plots::MakeRaster(job.pixels, 1, job.sweep[1], job.sweep[2], job.bounds[0],
                                     job.bounds[1]);
    if (job.mode == Mode::Continuation) // the sweep across, the fractions 0..1 up
        p.raster = plots::MakeRaster(job.pixels, 1, job.sweep[1], job.sweep[2], 0, 1);
    p.pixels = job.pixels;
    p.columns = p.raster.columns();
    p.rows = p.raster.rows();
    p.inputs = {.w = job.w, .iterations = job.iterations, .accuracy = job.accuracy,
                .maxPeriod = job.maxPeriod, .lyapunovSteps = job.lyapunovSteps,
                .horizontalIndex = job.idx[0], .verticalIndex = job.idx[1], .x0 = job.x0[0],
                .y0 = job.x0[1], .startValues = job.startValues, .reshuffle = job.reshuffle,
                .countFixpoints = job.fp};
    if (job.mode == Mode::Coexisting) {
        model::RandomGenerator random; // the window's generator as at program start
        params::DrawStartPoints(random, job.startValues, p.startX, p.startY);
        p.inputs.random = random.state();
    }
    if (job.mode == Mode::Orbit) {
        model::RandomGenerator random; // as for coexisting, after x0
        params::DrawStartPoints(random, job.startValues - 1, p.startX, p.startY);
        p.startX.insert(p.startX.begin(), job.x0[0]);
        p.startY.insert(p.startY.begin(), job.x0[1]);
    }
    return p;
}

} // namespace render
