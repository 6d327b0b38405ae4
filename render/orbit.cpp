#include "render/orbit.h"

#include "model/engine.h"
#include "model/numbers.h"
#include "model/orbit_diagram.h"
#include "render/options.h"
#include "render/tiles.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace render {

namespace {

constexpr const char* kParameterNames[] = {"w11", "w12", "w21", "w22", "b1", "b2"};

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

void putCounts(const std::vector<uint32_t>& counts, DotResult* out)
{
    for (size_t r = 0; r < counts.size(); ++r)
        out[r] = {.count = counts[r]};
}

// Runs the orbits of a column from (x, y) and writes its results; the states
// of orbit k go to states + k * points * 2 when states is not null.
void runColumn(const Plan& plan, int column, std::vector<double>& x, std::vector<double>& y,
               double* states, DotResult* out)
{
    std::vector<uint32_t> counts(static_cast<size_t>(plan.rows), 0);
    model::Weights w;
    if (!columnWeights(plan, column, w)) {
        putCounts(counts, out);
        out[0].failure = DotResult::Failure::Mapping;
        return;
    }
    const int failed = model::kernel::OrbitColumn(w, setupOf(plan), x.data(), y.data(),
                                                  static_cast<int>(x.size()), counts.data(),
                                                  states);
    putCounts(counts, out);
    if (failed >= 0) {
        out[0].failure = DotResult::Failure::Orbit;
        out[0].cls = static_cast<uint16_t>(failed);
    }
}

double* columnStates(const Plan& plan, std::vector<uint8_t>* states, size_t offset, int column)
{
    if (!states)
        return nullptr;
    const size_t perColumn = static_cast<size_t>(plan.job.startValues) * plan.job.points * 2;
    return reinterpret_cast<double*>(states->data() + offset) + perColumn * column;
}

} // namespace

const char* ParameterName(int entry) { return kParameterNames[entry]; }

uint64_t OrbitPixelMost(const Job& job)
{
    return static_cast<uint64_t>(job.startValues) * static_cast<uint64_t>(job.points);
}

void OrbitColumnDots(const Plan& plan, int column, DotResult* out)
{
    std::vector<double> x = plan.startX, y = plan.startY;
    runColumn(plan, column, x, y, nullptr, out);
}

std::string OrbitFailureText(const Plan& plan, int column, int start, bool mapping)
{
    const Job& job = plan.job;
    const std::string where =
        " At column " + std::to_string(plan.raster.pixelColumn(column)) + ", where "
        + kParameterNames[sweptEntry(job)] + " = "
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

bool OrbitsRenderedAlone(const Plan& plan, bool statesWanted)
{
    return plan.traits->evaluateColumn && (plan.job.continueOrbits || statesWanted);
}

void RenderOrbits(const Plan& plan, plots::Canvas& canvas, NpyArray* classes,
                  std::vector<uint8_t>* states,
                  const std::function<void(int64_t dotsDone)>& progress)
{
    static_assert(std::endian::native == std::endian::little, "the states are written as <f8");
    size_t offset = 0;
    if (states)
        *states = NpyFile("<f8",
                          {plan.columns, plan.job.startValues, plan.job.points, 2},
                          sizeof(double), offset);
    Committer committer(plan, canvas, classes);
    const int n = plan.job.startValues;
    std::vector<DotResult> results;
    if (!plan.job.continueOrbits) {
        // Fresh columns as tiles, each writing its own part of the states.
        const int tile = TileColumns(plan);
        results.resize(static_cast<size_t>(tile) * plan.rows);
        for (int c0 = 0; c0 < plan.columns; c0 += tile) {
            const int c1 = std::min(plan.columns, c0 + tile);
            auto body = [&](int begin, int end) {
                for (int c = begin; c < end; ++c) {
                    std::vector<double> x = plan.startX, y = plan.startY;
                    runColumn(plan, c0 + c, x, y, columnStates(plan, states, offset, c0 + c),
                              results.data() + static_cast<size_t>(c) * plan.rows);
                }
            };
            model::ForEachChunk(c1 - c0, 1, body);
            committer.commit(c0, c1, results.data());
            if (progress)
                progress(static_cast<int64_t>(c1) * plan.rows);
        }
        return;
    }
    // Continued: column after column; within one, each start value's orbit
    // runs on its own and its counts are added up after.
    std::vector<double> x = plan.startX, y = plan.startY;
    std::vector<std::vector<uint32_t>> counts(static_cast<size_t>(n));
    std::vector<int> failed(static_cast<size_t>(n));
    const auto setup = setupOf(plan);
    results.resize(static_cast<size_t>(plan.rows));
    for (int c = 0; c < plan.columns; ++c) {
        model::Weights w;
        double* at = columnStates(plan, states, offset, c);
        if (!columnWeights(plan, c, w)) {
            std::vector<uint32_t> none(static_cast<size_t>(plan.rows), 0);
            putCounts(none, results.data());
            results[0].failure = DotResult::Failure::Mapping;
            committer.commit(c, c + 1, results.data()); // throws the failure
            return;
        }
        auto body = [&](int begin, int end) {
            for (int k = begin; k < end; ++k) {
                counts[k].assign(static_cast<size_t>(plan.rows), 0);
                failed[k] = model::kernel::OrbitColumn(
                    w, setup, &x[k], &y[k], 1, counts[k].data(),
                    at ? at + static_cast<size_t>(k) * plan.job.points * 2 : nullptr);
            }
        };
        model::ForEachChunk(n, 1, body);
        std::vector<uint32_t> sum(static_cast<size_t>(plan.rows), 0);
        for (int k = 0; k < n; ++k)
            for (int r = 0; r < plan.rows; ++r)
                sum[r] += counts[k][r];
        putCounts(sum, results.data());
        const auto first = std::find(failed.begin(), failed.end(), 0);
        if (first != failed.end()) {
            results[0].failure = DotResult::Failure::Orbit;
            results[0].cls = static_cast<uint16_t>(first - failed.begin());
        }
        committer.commit(c, c + 1, results.data());
        if (progress)
            progress(static_cast<int64_t>(c + 1) * plan.rows);
    }
}

} // namespace render
