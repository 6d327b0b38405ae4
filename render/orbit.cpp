#include "render/orbit.h"

#include "model/engine.h"
#include "model/errors.h"
#include "model/numbers.h"
#include "model/orbit_diagram.h"
#include "model/random.h"
#include "model/scales.h"
#include "params/dots.h"
#include "render/npy.h"
#include "render/options.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace render {

namespace {

int sweptEntry(const Job& job) { return static_cast<int>(job.sweep[0]); }

model::kernel::OrbitColumnSetup setupOf(const Plan& plan)
{
    const Job& job = plan.job;
    return {.iterations = job.iterations, .points = job.points, .showY = job.showY,
            .low = job.bounds[0], .high = job.bounds[1], .rows = plan.rows};
}

// The column's parameter vector; false when its value did not map.
bool columnWeights(const Plan& plan, int column, model::Weights& w)
{
    w = plan.job.w;
    w[sweptEntry(plan.job)] = plan.raster.columnValue(column);
    return std::isfinite(w[sweptEntry(plan.job)]);
}

double* columnStates(const Plan& plan, int column)
{
    if (!plan.states)
        return nullptr;
    return plan.states + static_cast<size_t>(plan.job.startValues) * plan.job.points * 2 * column;
}

// A continued column: each start value's orbit goes on from its state in the
// column before and runs on its own; the counts are added up after. Returns
// the first start value that failed, or -1.
int continuedCounts(const Plan& plan, const model::Weights& w, double* states,
                    std::vector<uint32_t>& sum)
{
    const int n = plan.job.startValues;
    std::vector<double>& x = plan.carry->x;
    std::vector<double>& y = plan.carry->y;
    std::vector<std::vector<uint32_t>> counts(static_cast<size_t>(n));
    std::vector<int> failed(static_cast<size_t>(n));
    const auto setup = setupOf(plan);
    auto body = [&](int begin, int end) {
        for (int k = begin; k < end; ++k) {
            counts[k].assign(static_cast<size_t>(plan.rows), 0);
            failed[k] = model::kernel::OrbitColumn(
                w, setup, &x[k], &y[k], 1, counts[k].data(),
                states ? states + static_cast<size_t>(k) * plan.job.points * 2 : nullptr);
        }
    };
    model::ForEachChunk(n, 1, body);
    for (int k = 0; k < n; ++k)
        for (int r = 0; r < plan.rows; ++r)
            sum[r] += counts[k][r];
    const auto first = std::find(failed.begin(), failed.end(), 0);
    return first == failed.end() ? -1 : static_cast<int>(first - failed.begin());
}

} // namespace

uint64_t OrbitPixelMost(const Job& job)
{
    return static_cast<uint64_t>(job.startValues) * static_cast<uint64_t>(job.points);
}

void OrbitColumnDots(const Plan& plan, int column, DotResult* out)
{
    std::vector<uint32_t> counts(static_cast<size_t>(plan.rows), 0);
    model::Weights w;
    const bool mapped = columnWeights(plan, column, w);
    int failed = -1;
    if (mapped && plan.carry) {
        failed = continuedCounts(plan, w, columnStates(plan, column), counts);
    } else if (mapped) {
        std::vector<double> x = plan.startX, y = plan.startY;
        failed = model::kernel::OrbitColumn(w, setupOf(plan), x.data(), y.data(),
                                            static_cast<int>(x.size()), counts.data(),
                                            columnStates(plan, column));
    }
    for (size_t r = 0; r < counts.size(); ++r)
        out[r] = {.count = counts[r]};
    if (!mapped) {
        out[0].failure = DotResult::Failure::Mapping;
    } else if (failed >= 0) {
        out[0].failure = DotResult::Failure::Orbit;
        out[0].cls = static_cast<uint16_t>(failed);
    }
}

void PrepareOrbits(Plan& plan)
{
    const Job& job = plan.job;
    plan.raster = plots::MakeRaster(job.pixels, 1, job.sweep[1], job.sweep[2], job.bounds[0],
                                    job.bounds[1]);
    model::RandomGenerator random; // as for coexisting, after x0
    params::DrawStartPoints(random, job.startValues - 1, plan.startX, plan.startY);
    plan.startX.insert(plan.startX.begin(), job.x0[0]);
    plan.startY.insert(plan.startY.begin(), job.x0[1]);
    if (job.continueOrbits)
        plan.carry = std::make_shared<ColumnCarry>(ColumnCarry{plan.startX, plan.startY});
}

bool OrbitsContinued(const Job& job) { return job.continueOrbits; }

// The orbit diagram's scale: white for no state, else the colour at
// t = log(1 + count) / log(1 + most) along the sequential scale from its light
// end (t = 0) to its dark end (t = 1: every state of the column's orbits in
// one pixel), with the colours of a few counts.
void OrbitRecord(const Job& job, nlohmann::json& record)
{
    const uint64_t most = OrbitPixelMost(job);
    nlohmann::json stops = nlohmann::json::array();
    for (const uint64_t count : {uint64_t{1}, most / 64, most / 8, most}) {
        if (count == 0)
            continue;
        const model::Color c = model::OrbitDensityColor(count, most);
        stops.push_back({{"count", count},
                         {"rgb", {model::RedOf(c), model::GreenOf(c), model::BlueOf(c)}}});
    }
    record["colour_scale"] = {{"kind", "log"}, {"zero", "white"}, {"most", most},
                              {"position", "log(1 + count) / log(1 + most)"}, {"stops", stops}};
}

std::string OrbitFailureText(const Plan& plan, int column, int start, bool mapping)
{
    const Job& job = plan.job;
    const std::string where =
        " At column " + std::to_string(plan.raster.pixelColumn(column)) + ", where "
        + std::string(kParameterNames[sweptEntry(job)]) + " = "
        + model::DecimalText(plan.raster.columnValue(column));
    if (mapping)
        return "Floating-point overflow in the mapping of the sweep: its values are too large."
               + where + ".";
    std::string from = job.continueOrbits && column > 0
                           ? "continued from column " + std::to_string(column - 1)
                           : "from x = " + model::DecimalText(plan.startX[start])
                                 + ", y = " + model::DecimalText(plan.startY[start]);
    std::string what;
    try {
        model::ThrowOrbitFailed();
    } catch (const model::RuntimeError& e) {
        what = e.what();
    }
    return what + where + ", start value " + std::to_string(start + 1) + " of "
           + std::to_string(job.startValues) + " (" + from + ").";
}

uint64_t OrbitStatesBytes(const Job& job)
{
    return static_cast<uint64_t>(job.pixels) * static_cast<uint64_t>(job.startValues)
           * static_cast<uint64_t>(job.points) * 2 * sizeof(double);
}

void CheckOrbitStatesSize(const Job& job)
{
    const uint64_t bytes = OrbitStatesBytes(job);
    if (bytes > kMaxOrbitStatesBytes)
        throw UsageError("--orbits: the states would take " + std::to_string(bytes)
                         + " bytes, more than 2 GB (" + std::to_string(kMaxOrbitStatesBytes)
                         + "); give fewer --pixels, --start-values or --points.");
}

std::vector<uint8_t> OrbitStatesFile(Plan& plan)
{
    static_assert(std::endian::native == std::endian::little, "the states are written as <f8");
    size_t offset = 0;
    std::vector<uint8_t> file = NpyFile(
        "<f8", {plan.columns, plan.job.startValues, plan.job.points, 2}, sizeof(double), offset);
    plan.states = reinterpret_cast<double*>(file.data() + offset);
    return file;
}

} // namespace render
