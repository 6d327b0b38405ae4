#include "render/tiles.h"

#include "model/engine.h"
#include "model/network.h"
#include "model/numbers.h"
#include "params/dots.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>

namespace render {

namespace {

constexpr int kTileOrbits = 1 << 16;

// The message of a run-time error the model or the plots would raise.
template <class Thrower>
std::string messageOf(Thrower thrower)
{
    try {
        thrower();
    } catch (const model::RuntimeError& e) {
        return e.what();
    }
    return {};
}

model::RuntimeError::Kind kindOf(DotResult::Failure f)
{
    return f == DotResult::Failure::TooManyFixpoints ? model::RuntimeError::Kind::IndexOutOfRange
                                                     : model::RuntimeError::Kind::FloatingPoint;
}

std::string failureText(const Plan& plan, int column, int row, DotResult::Failure failure,
                        int start)
{
    if (plan.row->columnFailure)
        return plan.row->columnFailure(plan, column, start,
                                       failure == DotResult::Failure::Mapping);
    std::string what;
    switch (failure) {
    case DotResult::Failure::Orbit: what = messageOf(model::ThrowOrbitFailed); break;
    case DotResult::Failure::TooManyFixpoints:
        what = messageOf(params::ThrowTooManyFixpoints);
        break;
    default:
        what = std::string("Floating-point overflow in the mapping of the plane: the ")
               + (plan.row->parameterPlane ? "range" : "region") + " values are too large.";
    }
    const bool parameters = plan.row->parameterPlane;
    const std::string hName(parameters ? kParameterNames[plan.job.idx[0]] : "x");
    const std::string vName(parameters ? kParameterNames[plan.job.idx[1]] : "y");
    const plots::Raster& r = plan.raster;
    return what + " At column " + std::to_string(r.pixelColumn(column)) + ", row "
           + std::to_string(r.pixelRow(row)) + ", where " + hName + " = "
           + model::DecimalText(r.columnValue(column)) + " and " + vName + " = "
           + model::DecimalText(r.rowValue(row)) + ".";
}

} // namespace

DotFailure::DotFailure(const Plan& plan, int column, int row, DotResult::Failure failure,
                       int start)
    : model::RuntimeError(kindOf(failure), failureText(plan, column, row, failure, start)),
      pixelColumn(plan.raster.pixelColumn(column)), pixelRow(plan.raster.pixelRow(row)),
      horizontal(plan.raster.columnValue(column)), vertical(plan.raster.rowValue(row))
{
}

int TileColumns(const Plan& plan)
{
    const int64_t perColumn = static_cast<int64_t>(plan.rows) * plan.orbitsPerDot();
    return static_cast<int>(std::clamp<int64_t>(kTileOrbits / perColumn, 1, plan.columns));
}

void EvaluateTile(const Plan& plan, int c0, int c1, DotResult* out)
{
    if (plan.row->column) {
        // One evaluation per column: its orbits, all its rows; columns that
        // go on from one another in order, on this thread.
        auto columns = [&](int begin, int end) {
            for (int c = begin; c < end; ++c)
                plan.row->column(plan, c0 + c, out + static_cast<size_t>(c) * plan.rows);
        };
        if (plan.row->sequential && plan.row->sequential(plan.job))
            columns(0, c1 - c0);
        else
            model::ForEachChunk(c1 - c0, 1, columns);
        return;
    }
    EvaluateDots(plan, static_cast<int64_t>(c0) * plan.rows, (c1 - c0) * plan.rows, out);
}

void EvaluateDots(const Plan& plan, int64_t first, int count, DotResult* out)
{
    if (plan.row->column) {
        // Whole columns only: first and count are multiples of plan.rows.
        const int c0 = static_cast<int>(first / plan.rows);
        EvaluateTile(plan, c0, c0 + count / plan.rows, out);
        return;
    }
    // Chunks of at least a few dozen orbits keep the lockstep lanes full. A
    // chunk may span columns: each column's run is evaluated with its inputs.
    const int grain = std::max(1, 64 / plan.orbitsPerDot());
    auto body = [&](int begin, int end) {
        for (int d = begin; d < end;) {
            const int column = static_cast<int>((first + d) / plan.rows);
            const int row = static_cast<int>((first + d) % plan.rows);
            const int run = std::min(end - d, plan.rows - row);
            plan.row->dots(plan.columnInputs(column), plan.raster, column, row, run,
                                  out + d);
            d += run;
        }
    };
    model::ForEachChunk(count, grain, body);
}

Committer::Committer(const Plan& plan, plots::Canvas& canvas, NpyArray* classes)
    : plan_(plan), canvas_(canvas), classes_(classes)
{
    canvas_.setDotWidth(plan.raster.columnStep);
    if (plan.orbits) { // filled in dot order, as the columns are committed
        plan.orbits->orbits.clear();
        plan.orbits->orbits.reserve(static_cast<size_t>(plan.dots()));
    }
}

void Committer::commit(int c0, int c1, const DotResult* results)
{
    const plots::Raster& raster = plan_.raster;
    const int s = raster.columnStep, h = raster.half;
    for (int column = c0; column < c1; ++column) {
        const int pc = raster.pixelColumn(column);
        for (int row = 0; row < plan_.rows; ++row) {
            const DotResult& dot = *results++;
            if (dot.failure != DotResult::Failure::None)
                throw DotFailure(plan_, column, row, dot.failure, dot.cls);
            if (dot.hasFixpoint)
                state_.fixpointColor = dot.fpColor;
            const int pr = raster.pixelRow(row);
            model::Color colour;
            if (plan_.row->colour(plan_, dot, state_, colour))
                canvas_.setDot(pc, pr, colour);
            // The class covers the pixels of the dot, as the canvas draws it.
            if (classes_)
                classes_->put(pc - h, pr + h - s + 1, pc - h + s, pr + h + 1, dot);
            if (plan_.orbits)
                plan_.orbits->orbits.push_back({.cls = static_cast<int16_t>(dot.cls),
                                                .fpColor = dot.fpColor, .x = dot.x, .y = dot.y});
        }
    }
}

void Drive(const Plan& plan, int c0, int c1, const Sink& sink, const Between& between,
           const RunSize& runSize)
{
    using Clock = std::chrono::steady_clock;
    const int64_t rows = plan.rows;
    // The results hold one tile; a run takes what fits after the part of a
    // column evaluated already.
    const int64_t most = TileColumns(plan) * rows;
    const int64_t unit = plan.row->column ? rows : 1;
    const int64_t first = c0 * rows, last = c1 * rows;
    std::vector<DotResult> results(static_cast<size_t>(most));
    int committed = c0; // columns handed on; results[0] is the first dot after them
    int64_t run = runSize ? runSize(0, 0, most) : most;
    for (int64_t next = first; next < last;) {
        const int64_t held = next - committed * rows;
        const int64_t fits = std::min(most - held, last - next);
        const int n = static_cast<int>(std::min(fits, std::max(unit, run / unit * unit)));
        const auto start = Clock::now();
        EvaluateDots(plan, next, n, results.data() + held);
        next += n;
        if (const int c = static_cast<int>(next / rows); c > committed) {
            sink(committed, c, results.data());
            // The part of the next column evaluated already moves to the front.
            std::copy_n(results.data() + (c - committed) * rows, next - c * rows, results.data());
            committed = c;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (between)
            between(next - first);
        if (runSize)
            run = runSize(n, seconds, most);
    }
}

void Render(const Plan& plan, plots::Canvas& canvas, NpyArray* classes, const Between& between,
            const RunSize& runSize)
{
    if (plan.row->whole) { // no dots to drive: the row renders itself, its record set aside
        nlohmann::json record;
        plan.row->whole(plan, canvas, classes, record, between);
        return;
    }
    Committer committer(plan, canvas, classes);
    Drive(
        plan, 0, plan.columns,
        [&](int c0, int c1, const DotResult* results) { committer.commit(c0, c1, results); },
        between, runSize);
}

} // namespace render
