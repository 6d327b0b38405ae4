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

// Renders the whole picture tile by tile; progress, when given, is told the
// number of dots done after every tile.
void Render(const Plan& plan, plots::Canvas& canvas, NpyArray* classes,
            const std::function<void(int64_t dotsDone)>& progress = {});

} // namespace render
