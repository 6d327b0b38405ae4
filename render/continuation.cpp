#include "render/continuation.h"

#include "model/errors.h"
#include "model/numbers.h"
#include "render/npy.h"
#include "render/plan.h"

#include <nlohmann/json.hpp>

#include <bit>
#include <cstring>

namespace render {

namespace mc = model::continuation;

namespace {

// Twelve colours that stay apart from one another, for colour-blind eyes too
// where the first eight are concerned.
constexpr model::Color kIdentityColours[] = {
    model::Rgb(0, 114, 178),   model::Rgb(230, 159, 0),   model::Rgb(0, 158, 115),
    model::Rgb(204, 121, 167), model::Rgb(86, 180, 233),  model::Rgb(213, 94, 0),
    model::Rgb(240, 228, 66),  model::Rgb(60, 60, 60),    model::Rgb(150, 90, 40),
    model::Rgb(110, 60, 170),  model::Rgb(150, 200, 80),  model::Rgb(170, 170, 170),
};

nlohmann::json rgbOf(model::Color c)
{
    return {model::RedOf(c), model::GreenOf(c), model::BlueOf(c)};
}

// The step of the parameter's order that the sweep runs as its n-th, and back.
int stepAt(const mc::Sweep& sweep, int n) { return mc::RunOrder(sweep, n); }

nlohmann::json pointsOf(const mc::Attractor& a)
{
    nlohmann::json points = nlohmann::json::array();
    for (const auto& p : a.points)
        points.push_back({p.x, p.y});
    return points;
}

} // namespace

mc::Sweep SweepOf(const Job& job)
{
    mc::Sweep s;
    s.w = job.w;
    s.entry = static_cast<int>(job.sweep[0]);
    s.from = job.sweep[1];
    s.to = job.sweep[2];
    s.steps = job.steps;
    s.reverse = job.reverse;
    s.grid = job.grid;
    s.region = job.region;
    s.settings = {.iterations = job.iterations, .accuracy = job.accuracy,
                  .maxPeriod = job.maxPeriod, .matchDistance = job.matchDistance};
    return s;
}

model::Color IdentityColour(int id)
{
    return kIdentityColours[static_cast<size_t>(id) % std::size(kIdentityColours)];
}

mc::Result RunContinuation(const Job& job, const std::function<void(int stepsDone)>& progress)
{
    const mc::Sweep sweep = SweepOf(job);
    mc::Result result = mc::RunSweep(sweep, progress);
    for (int k = 0; k < sweep.steps; ++k)
        for (size_t p = 0; p < result.identities[k].size(); ++p) {
            if (result.identities[k][p] >= 0)
                continue;
            const auto start = mc::StartOf(sweep, static_cast<int>(p));
            std::string what;
            try {
                model::ThrowOrbitFailed();
            } catch (const model::RuntimeError& e) {
                what = e.what();
            }
            throw model::RuntimeError(
                model::RuntimeError::Kind::FloatingPoint,
                what + " At " + std::string(kParameterNames[sweep.entry]) + " = "
                    + model::DecimalText(mc::ValueAt(sweep, k)) + ", from x = "
                    + model::DecimalText(start.x) + ", y = " + model::DecimalText(start.y) + ".");
        }
    return result;
}

nlohmann::json ContinuationRecord(const Job& job, const mc::Result& result)
{
    const mc::Sweep sweep = SweepOf(job);
    const double starts = static_cast<double>(sweep.grid) * sweep.grid;
    nlohmann::json values = nlohmann::json::array();
    for (int k = 0; k < sweep.steps; ++k)
        values.push_back(mc::ValueAt(sweep, k));
    auto valueOfRun = [&](int n) { return mc::ValueAt(sweep, stepAt(sweep, n)); };

    const mc::Record& rec = result.record;
    nlohmann::json identities = nlohmann::json::array();
    for (size_t id = 0; id < rec.identities.size(); ++id) {
        const mc::Identity& i = rec.identities[id];
        nlohmann::json fractions = nlohmann::json::array();
        for (int k = 0; k < sweep.steps; ++k) {
            const int n = stepAt(sweep, k); // the run's step of parameter step k
            fractions.push_back(n < static_cast<int>(i.starts.size()) ? i.starts[n] / starts : 0.0);
        }
        // Where it lies where it first appears.
        nlohmann::json points = nlohmann::json::array();
        for (const mc::Found& f : result.attractors[stepAt(sweep, i.first)])
            if (f.identity == static_cast<int>(id))
                points = pointsOf(f.attractor);
        identities.push_back({{"id", id},
                              {"period", i.period > 0 ? nlohmann::json(i.period)
                                                      : nlohmann::json("none")},
                              {"rgb", rgbOf(IdentityColour(static_cast<int>(id)))},
                              {"first", valueOfRun(i.first)},
                              {"last", valueOfRun(i.last)},
                              {"parents", i.parents},
                              {"points", points},
                              {"fractions", fractions}});
    }
    nlohmann::json events = nlohmann::json::array();
    for (const mc::Event& e : rec.events)
        events.push_back({{"kind", mc::EventName(e.kind)},
                          {"value", valueOfRun(e.step)},
                          {"previous_value", valueOfRun(e.step - 1)},
                          {"from", e.from},
                          {"to", e.to}});
    return {{"parameter", kParameterNames[sweep.entry]},
            {"axes",
             {{"horizontal", {{"what", kParameterNames[sweep.entry]},
                              {"left", sweep.from}, {"right", sweep.to}}},
              {"vertical", {{"what", "fraction of the starts"}, {"bottom", 0}, {"top", 1}}}}},
            {"values", values},
            {"direction", sweep.reverse ? "backward" : "forward"},
            {"grid", sweep.grid},
            {"starts", sweep.grid * sweep.grid},
            {"match_distance", sweep.settings.matchDistance},
            {"cycle_tolerance", mc::kCycleTolerance},
            {"picture", "the sweep from L at the left to R at the right; up each column the "
                        "basin fractions at the nearest value, stacked from the bottom in the "
                        "order of the identities, each in its rgb"},
            {"classes", "int32, steps x grid x grid: the identity of each start, the values in "
                        "the order of \"values\", row 0 at the top of the region"},
            {"identities", identities},
            {"events", events}};
}

void DrawFractions(const Job& job, const mc::Result& result, plots::Canvas& canvas)
{
    const mc::Sweep sweep = SweepOf(job);
    const int n = job.pixels;
    const int64_t starts = static_cast<int64_t>(sweep.grid) * sweep.grid;
    const auto& ids = result.record.identities;
    canvas.setDotWidth(1);
    for (int c = 0; c < n; ++c) {
        // The nearest value: step round(c (S - 1) / (N - 1)), halves up.
        const int k = static_cast<int>((2 * static_cast<int64_t>(c) * (sweep.steps - 1) + (n - 1))
                                       / (2 * static_cast<int64_t>(n - 1)));
        const int run = stepAt(sweep, k);
        // Pixel row v from the bottom shows the identity whose band holds its
        // centre: the first with (2v + 1) starts < 2 N (starts up to it).
        size_t id = 0;
        int64_t below = 0;
        for (int v = 0; v < n; ++v) {
            while (id < ids.size()
                   && (2 * static_cast<int64_t>(v) + 1) * starts
                          >= 2 * static_cast<int64_t>(n) * (below + ids[id].starts[run]))
                below += ids[id++].starts[run];
            if (id < ids.size())
                canvas.setDot(c, n - 1 - v, IdentityColour(static_cast<int>(id)));
        }
    }
}

std::vector<uint8_t> IdentityClasses(const Job& job, const mc::Result& result)
{
    static_assert(std::endian::native == std::endian::little, "the classes are written as <i4");
    size_t offset = 0;
    const int64_t g = job.grid;
    std::vector<uint8_t> bytes = NpyFile("<i4", {job.steps, g, g}, sizeof(int32_t), offset);
    for (int k = 0; k < job.steps; ++k)
        std::memcpy(bytes.data() + offset + static_cast<size_t>(k) * g * g * sizeof(int32_t),
                    result.identities[k].data(), static_cast<size_t>(g * g) * sizeof(int32_t));
    return bytes;
}

} // namespace render

namespace render {

void CheckSweepSize(const Job& job)
{
    const uint64_t bytes = static_cast<uint64_t>(job.steps) * static_cast<uint64_t>(job.grid)
                           * static_cast<uint64_t>(job.grid) * sizeof(int32_t);
    if (bytes > 2'000'000'000)
        throw UsageError("--grid: the identities of " + std::to_string(job.steps) + " steps of "
                         + std::to_string(job.grid) + " x " + std::to_string(job.grid)
                         + " starts would take " + std::to_string(bytes)
                         + " bytes, more than 2 GB; give fewer --steps or a smaller --grid.");
}

void PrepareContinuation(Plan& plan)
{
    const Job& job = plan.job;
    CheckSweepSize(job);
    plan.raster = plots::MakeRaster(job.pixels, 1, job.sweep[1], job.sweep[2], 0, 1);
}

void RenderContinuation(const Plan& plan, plots::Canvas& canvas, NpyArray* classes,
                        nlohmann::json& record,
                        const std::function<void(int64_t dotsDone)>& between)
{
    const Job& job = plan.job;
    const int64_t dots = plan.dots();
    const mc::Result result = RunContinuation(job, [&](int done) {
        if (between)
            between(dots * done / job.steps);
    });
    DrawFractions(job, result, canvas);
    record["continuation"] = ContinuationRecord(job, result);
    if (classes) {
        std::vector<uint8_t> file = IdentityClasses(job, result);
        const size_t offset = 10 + (file[8] | file[9] << 8);
        *classes = NpyArray(std::move(file), offset, job.grid, job.grid);
    }
}

} // namespace render
