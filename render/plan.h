// A job made ready to compute: its raster, what its dots read, and the table
// of modes that says which dot function evaluates a dot and how it is drawn.
//
// The raster (plots/raster.h) generalises the window's 800 x 800 walk to
// N x N; at N = 800 it is the window's. Dots are numbered in drawing order,
// the window's: column by column from the left, each column from the bottom
// up, so dot d lies in column d / rows, row d % rows.
#pragma once

#include "plots/dots.h"
#include "render/job.h"

#include <cstdint>
#include <vector>

namespace render {

using plots::DotResult;
using plots::MapOffset;

// Element type of the classes array of a mode.
// Counts4: four counts per pixel (uint8 each), packed in a dot's class as
// four 4-bit fields, the first in the highest. Float32Pair: two per pixel
// (lambda, lambda2); UInt32: orbit counts.
enum class ClassType : uint8_t { UInt8, UInt16, Float32, Counts4, Float32Pair, UInt32 };

struct Plan;

// What distinguishes the modes. Every mode is one row of a table; the tiles,
// the commit and the writers read the row and know no mode by name.
struct ModeTraits {
    Mode mode;
    bool parameterPlane; // the axes are two entries of w; else the state plane
    bool everyPixel;     // every pixel is one dot of width 1, whatever the dot size
    int orbitsPerDot;    // 0: the job's start-point count
    ClassType classType;
    plots::DotFunction evaluate; // the mode's one definition of a dot
    // The colour of a committed dot, given the state the window would hold at
    // that moment; false for a dot that leaves the picture as it is.
    bool (*colour)(const Plan& plan, const DotResult& dot, const model::State& st,
                   model::Color& out);
    // Set for a mode whose evaluation is a whole column at once (the orbit
    // diagram): it fills the column's rows results; the dot function is unused.
    void (*evaluateColumn)(const Plan& plan, int column, DotResult* out) = nullptr;
};

// The row of a mode as the window has it; MakePlan picks the row of the
// whole job (lyapunov's plane, a period cap above 16).
const ModeTraits& TraitsOf(Mode mode);

struct Plan {
    Job job;
    const ModeTraits* traits = nullptr;
    plots::Raster raster;      // N, the dot size and the region or parameter range
    int pixels = 0;            // the raster's N,
    int columns = 0, rows = 0; // and its dots per axis
    // What every dot reads. Coexisting: the shared start points, drawn from a
    // fresh generator as the window's first run after start draws them, and in
    // inputs.random the generator's state after them, where the reshuffled
    // draws of the first dot begin.
    plots::DotInputs inputs;
    // Coexisting: the shared start points; orbit: x0, then the shared ones.
    std::vector<double> startX, startY;

    int64_t dots() const { return static_cast<int64_t>(columns) * rows; }
    int orbitsPerDot() const
    {
        return traits->orbitsPerDot ? traits->orbitsPerDot : job.startValues;
    }
    // The inputs of the dots of a column: reshuffled start points are drawn
    // after those of every dot before the column, as the plain loop draws them.
    plots::DotInputs columnInputs(int column) const;
};

// Checks the job (UsageError) and prepares it.
Plan MakePlan(const Job& job);

} // namespace render
