// The batch renderer's core: evaluate tiles of the raster, commit them in
// drawing order.
//
// A tile is a run of whole dot columns [c0, c1). Evaluating it is pure: every
// dot becomes a DotResult, on all cores, and nothing shared is written, so
// tiles can be evaluated in any order, on any thread or machine. Committing
// walks the results in the window's drawing order (columns left to right,
// each from the bottom up) and applies exactly the side effects of the plain
// one-dot-at-a-time loop: the dot is set in the picture and its class in the
// classes array, fixpointColor follows every located fixed point, and the
// first failed dot stops the render. Tiles must be committed in order.
#pragma once

#include "model/errors.h"
#include "plots/canvas.h"
#include "render/npy.h"
#include "render/plan.h"

#include <functional>
#include <string>
#include <vector>

namespace render {

// Dot columns per tile: a bounded working set (about 64k orbits) that still
// gives every core many chunks.
int TileColumns(const Plan& plan);

// Evaluates the dots of columns [c0, c1) into out, which holds (c1 - c0) *
// plan.rows results, column by column, each column from the bottom up.
void EvaluateTile(const Plan& plan, int c0, int c1, DotResult* out);
// Evaluates dots [first, first + count) of the drawing order into out: part
// of a column too, for a caller that must be able to stop within a column.
void EvaluateDots(const Plan& plan, int64_t first, int count, DotResult* out);

// The run-time error of a failed dot: what failed, and where.
class DotFailure : public model::RuntimeError {
public:
    // start: the failed dot's cls, which a whole-column mode sets to the
    // start value that failed.
    DotFailure(const Plan& plan, int column, int row, DotResult::Failure failure,
               int start = 0);
    int pixelColumn, pixelRow;   // the dot's centre in the picture
    double horizontal, vertical; // its two plane values
};

class Committer {
public:
    // Draws into canvas (N x N); classes may be null when not wanted.
    Committer(const Plan& plan, plots::Canvas& canvas, NpyArray* classes);

    // Commits the results of columns [c0, c1), as EvaluateTile gave them.
    // Throws DotFailure at the first failed dot, with every dot before it
    // committed.
    void commit(int c0, int c1, const DotResult* results);

    // The window's fixpointColor after the dots committed so far.
    model::Color fixpointColor() const { return state_.fixpointColor; }

private:
    const Plan& plan_;
    plots::Canvas& canvas_;
    NpyArray* classes_;
    model::State state_; // what the colours read of the window's state
};

// --- The driver --------------------------------------------------------------
//
// Every render, whatever runs it (the command line, rank 0 of an MPI job, the
// Python module), evaluates the dots of a range of columns in runs, in
// drawing order, and hands every whole column to a sink as soon as it is
// evaluated. A run may end inside a column (Python keeps runs short); a mode
// evaluated a whole column at a time runs whole columns. Between two runs the
// caller is called back: for progress, to stop (Ctrl-C: it throws), or to
// serve other processes (MPI).

// Takes the results of the evaluated columns [c0, c1), column by column.
using Sink = std::function<void(int c0, int c1, const DotResult* results)>;
// Called after every run with the dots evaluated so far in the range; may throw.
using Between = std::function<void(int64_t dotsDone)>;
// The dots the next run should take, given the last run's dots and seconds
// (0 and 0 before the first) and the most a run may take. None: whole tiles.
using RunSize = std::function<int64_t(int64_t dots, double seconds, int64_t most)>;

// Evaluates columns [c0, c1) run by run into sink.
void Drive(const Plan& plan, int c0, int c1, const Sink& sink, const Between& between = {},
           const RunSize& runSize = {});

// Renders the whole picture on this process: Drive into a Committer.
void Render(const Plan& plan, plots::Canvas& canvas, NpyArray* classes,
            const Between& between = {}, const RunSize& runSize = {});

} // namespace render
