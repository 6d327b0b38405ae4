// The table of modes: one row per mode, pointing at its dot function, its
// colours, its record extras and its analyses. A new mode is a new row here.
#include "render/plan.h"

#include "model/cycles.h"
#include "model/fixed_points.h"
#include "model/long_period.h"
#include "model/scales.h"
#include "params/dots.h"
#include "render/analyses.h"
#include "render/continuation.h"
#include "render/options.h"
#include "render/orbit.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace render {

namespace {

// --- Colours -------------------------------------------------------------------

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
    const auto n = model::analysis::CountsOfKey(dot.cls);
    out = StabilityColour(n.attracting, n.attracting + n.saddle + n.repelling + n.nonHyperbolic);
    return !p.job.curvesOnly;
}

// --- Record extras ---------------------------------------------------------------

// The colour bar of the picture: the scale is linear in each colour component
// between these stops and clamped beyond the outer two.
void lyapunovRecord(const Job& job, nlohmann::json& record)
{
    nlohmann::json stops = nlohmann::json::array();
    for (const model::ScaleStop& s : model::LyapunovStops(job.scale[0], job.scale[1]))
        stops.push_back({{"value", s.value},
                         {"rgb", {model::RedOf(s.color), model::GreenOf(s.color),
                                  model::BlueOf(s.color)}}});
    record["colour_bar"] = {{"low", job.scale[0]}, {"high", job.scale[1]}, {"stops", stops}};
}

// --- Plan setup --------------------------------------------------------------------

// The shared start points, drawn from the window's generator as at program
// start; reshuffled draws begin where they end.
void drawStartPoints(Plan& p)
{
    model::RandomGenerator random;
    params::DrawStartPoints(random, p.job.startValues, p.startX, p.startY);
    p.inputs.random = random.state();
}

// --- The options each mode reads ---------------------------------------------------

constexpr OptionUse kWindowPeriods{"max-period", model::kWindowPeriodCap,
                                   model::kernel::kMaxPeriodCap};
constexpr OptionUse kVeltraneOptions[] = {{"size"}, {"iterations"}, {"accuracy"}, {"region"},
                                          kWindowPeriods, {"stats"}, {"stats-box"}};
constexpr OptionUse kFpBasOptions[] = {{"size"}, {"iterations"}, {"accuracy"}, {"region"},
                                       {"stats"}, {"stats-box"}};
constexpr OptionUse kFixptOptions[] = {{"accuracy"}, {"pen"}, {"region"}};
constexpr OptionUse kParametricOptions[] = {{"size"}, {"iterations"}, {"accuracy"},
                                            {"idx"}, {"range"}, {"x0"}, kWindowPeriods,
                                            {"stats"}, {"stats-box"}, {"curves"},
                                            {"curves-period"}, {"curves-data"}};
constexpr OptionUse kCoexistingOptions[] = {
    {"size"}, {"iterations"}, {"accuracy"}, {"idx"}, {"range"}, {"start-values"},
    {"reshuffle"}, {"fp"}, {"stats"}, {"stats-box"}};
constexpr OptionUse kLyapunovOptions[] = {
    {"size"}, {"iterations"}, {"idx"}, {"range"}, {"x0"}, {"region"},
    {"plane"}, {"lyapunov-steps"}, {"scale"}, {"spectrum"}};
bool withCycles(const Job& job) { return job.cycles > 0; }
constexpr OptionUse kStabilityOptions[] = {{"idx"}, {"range"}, {"stats"}, {"stats-box"},
                                           {"curves-only"}, {"cycles", 0, 0, withCycles},
                                           {"seeds", 0, 0, withCycles}};
constexpr OptionUse kCyclesOptions[] = {
    {"size"}, {"iterations"}, {"accuracy"}, {"region"},
    {"max-period", 1, model::analysis::kMaxCyclePeriod}, {"seeds"}, {"json"}};
constexpr OptionUse kContinuationOptions[] = {
    {"iterations"}, {"accuracy"}, {"region"}, kWindowPeriods, {"sweep"}, {"steps"}, {"grid"},
    {"reverse"}, {"match-distance"}};
constexpr OptionUse kOrbitOptions[] = {
    {"iterations"}, {"x0"}, {"start-values"}, {"sweep"}, {"show"}, {"bounds"}, {"points"},
    {"continue"}, {"orbits"}, {"flip-points"}};

// --- Plans -------------------------------------------------------------------------

// parametric with the curves of its cycles, on the window's classifier:
// the commit keeps every dot's orbit for them.
void keepOrbitsForCycles(Plan& plan)
{
    if (plan.job.curves && plan.job.curvesPeriod > 1
        && plan.job.maxPeriod <= model::kWindowPeriodCap)
        plan.orbits = std::make_shared<CommittedOrbits>();
}

// --- The rows ------------------------------------------------------------------------

const ModeRow& veltraneOf(const Job& job);
const ModeRow& parametricOf(const Job& job);
const ModeRow& lyapunovOf(const Job& job);
const ModeRow& stabilityOf(const Job& job);

constexpr ModeRow kVeltrane{.name = "veltrane", .options = kVeltraneOptions,
                            .dots = plots::VeltraneDots, .colour = periodColour,
                            .variant = veltraneOf};
constexpr ModeRow kParametric{.name = "parametric", .options = kParametricOptions,
                              .parameterPlane = true, .dots = params::ParametricDots,
                              .colour = periodColour, .variant = parametricOf,
                              .prepare = keepOrbitsForCycles, .analyse = ParametricAnalysis};
constexpr ModeRow kLyapunov{.name = "lyapunov", .options = kLyapunovOptions,
                            .classType = ClassType::Float32, .dots = plots::LyapunovDots,
                            .colour = lyapunovColour, .variant = lyapunovOf,
                            .record = lyapunovRecord};

constexpr ModeRow kRows[] = {
    kVeltrane,
    {.name = "fpbas", .options = kFpBasOptions, .dots = plots::FpBasDots,
     .colour = periodColour},
    {.name = "fixpt", .options = kFixptOptions, .everyPixel = true, .dots = plots::FixptDots,
     .colour = penColour},
    kParametric,
    {.name = "coexisting", .options = kCoexistingOptions, .parameterPlane = true,
     .orbitsPerDot = 0, .dots = params::CoexistingDots, .colour = periodColour,
     .prepare = drawStartPoints},
    kLyapunov,
    {.name = "stability", .options = kStabilityOptions, .parameterPlane = true,
     .everyPixel = true, .classType = ClassType::Counts4, .dots = params::StabilityDots,
     .colour = stabilityColour, .variant = stabilityOf, .analyse = StabilityAnalysis,
     .keepsClasses = true},
    // The basin picture of cycles is veltrane's.
    {.name = "cycles", .options = kCyclesOptions, .dots = plots::VeltraneDots,
     .colour = periodColour, .analyse = CyclesAnalysis, .keepsClasses = true},
    {.name = "orbit", .options = kOrbitOptions, .parameterPlane = true, .everyPixel = true,
     .classType = ClassType::UInt32, .column = OrbitColumnDots, .colour = orbitColour,
     .prepare = PrepareOrbits, .sequential = OrbitsContinued,
     .columnFailure = OrbitFailureText, .record = OrbitRecord, .analyse = OrbitAnalysis},
    // Attractors followed over a sweep: picture, record and classes made
    // whole from the sweep (render/continuation.h).
    {.name = "continuation", .options = kContinuationOptions, .everyPixel = true,
     .classType = ClassType::Int32Stack, .prepare = PrepareContinuation,
     .whole = RenderContinuation},
};

// A row of the same mode with another classifier or plane.
constexpr ModeRow variantOf(ModeRow base, ClassType type, plots::DotFunction dots,
                            decltype(ModeRow::colour) colour, bool parameterPlane)
{
    ModeRow r = base;
    r.classType = type;
    r.dots = dots;
    r.colour = colour;
    r.parameterPlane = parameterPlane;
    r.variant = nullptr;
    return r;
}

// Veltrane and parametric with a period cap above 16 (at 16 they keep the
// window's classifier); lyapunov over the parameter plane, and with both
// exponents over either plane.
constexpr ModeRow kLongVeltrane =
    variantOf(kVeltrane, ClassType::UInt16, plots::LongPeriodDots, longPeriodColour, false);
constexpr ModeRow kLongParametric =
    variantOf(kParametric, ClassType::UInt16, params::LongParametricDots, longPeriodColour, true);
constexpr ModeRow kLyapunovParameter =
    variantOf(kLyapunov, ClassType::Float32, params::LyapunovPlaneDots, lyapunovColour, true);
constexpr ModeRow kSpectrumState = variantOf(kLyapunov, ClassType::Float32Pair,
                                             plots::LyapunovSpectrumDots, lyapunovColour, false);
constexpr ModeRow kSpectrumParameter = variantOf(
    kLyapunov, ClassType::Float32Pair, params::LyapunovSpectrumPlaneDots, lyapunovColour, true);

// Stability with the cycles counted: the cycles of a dot follow from its
// neighbours', so the plane is made whole on one process.
constexpr ModeRow kStabilityCycles{
    .name = "stability", .options = kStabilityOptions, .parameterPlane = true,
    .everyPixel = true, .classType = ClassType::CountsByPeriod,
    .whole = RenderStabilityCycles, .analyse = StabilityCyclesAnalysis, .keepsClasses = true};

const ModeRow& stabilityOf(const Job& job)
{
    return job.cycles > 0 ? kStabilityCycles : RowOf(job.mode);
}

const ModeRow& veltraneOf(const Job& job)
{
    return job.maxPeriod > model::kWindowPeriodCap ? kLongVeltrane : RowOf(job.mode);
}

const ModeRow& parametricOf(const Job& job)
{
    return job.maxPeriod > model::kWindowPeriodCap ? kLongParametric : RowOf(job.mode);
}

const ModeRow& lyapunovOf(const Job& job)
{
    if (job.spectrum)
        return job.parameterPlane ? kSpectrumParameter : kSpectrumState;
    return job.parameterPlane ? kLyapunovParameter : RowOf(job.mode);
}

} // namespace

std::span<const ModeRow> ModeRows() { return kRows; }

const ModeRow& RowOf(Mode mode) { return kRows[mode.index < std::size(kRows) ? mode.index : 0]; }

const char* ModeName(Mode mode) { return RowOf(mode).name.data(); }

Mode ModeOf(std::string_view name)
{
    for (size_t i = 0; i < std::size(kRows); ++i)
        if (name == kRows[i].name)
            return Mode{static_cast<uint8_t>(i)};
    throw UsageError("unknown mode " + Quoted(name) + " (use one of " + ModeNames() + ").");
}

std::string ModeNames()
{
    std::string names;
    for (const ModeRow& r : kRows)
        names += (names.empty() ? "" : ", ") + std::string(r.name);
    return names;
}

std::span<const Mode> AllModes()
{
    static const std::vector<Mode> modes = [] {
        std::vector<Mode> all;
        for (size_t i = 0; i < std::size(kRows); ++i)
            all.push_back(Mode{static_cast<uint8_t>(i)});
        return all;
    }();
    return modes;
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

bool Plan::placeDot(int64_t d, model::Weights& w) const
{
    return params::PlaceWeights(inputs, raster.columnValue(static_cast<int>(d / rows)),
                                raster.rowValue(static_cast<int>(d % rows)), w);
}

Plan MakePlan(const Job& job)
{
    Validate(job);
    Plan p;
    p.job = job;
    const ModeRow& row = RowOf(job.mode);
    p.row = row.variant ? &row.variant(job) : &row;
    const auto& axes = p.row->parameterPlane ? job.range : job.region;
    p.raster = plots::MakeRaster(job.pixels, p.row->everyPixel ? 1 : job.size, axes[0],
                                 axes[1], axes[2], axes[3]);
    p.inputs = {.w = job.w, .iterations = job.iterations, .accuracy = job.accuracy,
                .maxPeriod = job.maxPeriod, .lyapunovSteps = job.lyapunovSteps,
                .horizontalIndex = job.idx[0], .verticalIndex = job.idx[1], .x0 = job.x0[0],
                .y0 = job.x0[1], .startValues = job.startValues, .reshuffle = job.reshuffle,
                .countFixpoints = job.fp};
    if (p.row->prepare)
        p.row->prepare(p);
    p.pixels = job.pixels;
    p.columns = p.raster.columns();
    p.rows = p.raster.rows();
    return p;
}

} // namespace render
