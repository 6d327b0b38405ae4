// A job made ready to compute: its raster, what its dots read, and the table
// of modes, one row per mode, that says everything a mode adds to the
// pipeline.
//
// The raster (plots/raster.h) generalises the window's 800 x 800 walk to
// N x N; at N = 800 it is the window's. Dots are numbered in drawing order,
// the window's: column by column from the left, each column from the bottom
// up, so dot d lies in column d / rows, row d % rows.
#pragma once

#include "plots/dots.h"
#include "render/dot_arrays.h"
#include "render/job.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plots {
class Canvas;
}

namespace render {

using plots::DotResult;
using plots::MapOffset;

// Element type of the classes array of a mode, and how a dot's result is
// written into it (NpyArray::put).
// UInt8, UInt16: the dot's class. Float32: the exponent. Counts4: four counts
// per pixel (uint8 each), from the class as model::analysis::CountsOfKey reads
// it. Float32Pair: two per pixel (lambda, lambda2). UInt32: orbit counts.
// Int32Stack: a file made whole by its mode (ModeRow::whole), int32 of any
// shape, the continuation's identities. CountsByPeriod: a file made whole by
// its mode, uint8 rows x columns x 4 x K, the counts of the cycles of each
// type (attracting, saddle, repelling, non-hyperbolic) and period 1..K.
enum class ClassType : uint8_t {
    UInt8, UInt16, Float32, Counts4, Float32Pair, UInt32, Int32Stack, CountsByPeriod
};

struct Plan;
class NpyArray;

// An option a mode reads beyond those every mode reads (render/options.h),
// by its name; lo..hi, where given, narrows a whole number's range for the
// mode.
struct OptionUse {
    std::string_view name;
    int lo = 0, hi = 0; // both 0: the option's own range
    // Where not null: the option goes into the job record only where this
    // holds (an option that only another option of the mode brings into
    // play), so that the records of jobs without it stay as they were.
    bool (*recordedWhen)(const Job& job) = nullptr;
};

// What an analysis run after the commit works on: the committed picture, its
// classes (null where the job keeps none), the job record it adds to, and
// the stream its tables go to (null: none wanted).
struct Analysis {
    const Plan& plan;
    plots::Canvas& canvas;
    const NpyArray* classes;
    nlohmann::json& record;
    std::ostream* out;
    // Where the located curve points' .npy file goes (null: not wanted).
    std::vector<uint8_t>* curvesData = nullptr;
};

// One mode: everything the pipeline needs to know of it. The tiles, the
// commit, the drivers, the checks, the writers and the help read the row and
// know no mode by name. A plain per-dot mode is a kernel, a dot function and
// a row (rows in render/modes.cpp).
struct ModeRow {
    std::string_view name;               // on the command line and in the record
    std::span<const OptionUse> options;  // the options it reads beyond the common ones
    bool parameterPlane = false; // the axes are two entries of w (--idx, --range); else --region
    bool everyPixel = false;     // every pixel is one dot of width 1, whatever the dot size
    int orbitsPerDot = 1;        // 0: the job's start-point count
    ClassType classType = ClassType::UInt8;
    // The mode's one definition of a dot: a run of rows of one column.
    plots::DotFunction dots = nullptr;
    // Or, for a mode evaluated a whole column at once (the orbit diagram):
    // fills the column's rows; a failure is marked on its first row, with the
    // failing start value's index in cls.
    void (*column)(const Plan& plan, int column, DotResult* out) = nullptr;
    // The colour of a committed dot, given the state the window would hold at
    // that moment; false for a dot that leaves the picture as it is.
    bool (*colour)(const Plan& plan, const DotResult& dot, const model::State& st,
                   model::Color& out) = nullptr;
    // The row of a whole job where it differs from this one (another
    // classifier, another plane); null: this row.
    const ModeRow& (*variant)(const Job& job) = nullptr;
    // Sets up what the plan holds beyond the common raster: other axes,
    // shared start points.
    void (*prepare)(Plan& plan) = nullptr;
    // Or, for a mode that is no raster of dots (the continuation: a basin
    // raster at every value of a sweep, followed from value to value):
    // renders the whole job on this process, on every core, into the
    // picture, the classes (when not null, replaced by a file of its own) and
    // the job record; between is told the dots done, out of plan.dots(). The
    // command line, rank 0 of an MPI job and Python all call it in place of
    // the driver.
    void (*whole)(const Plan& plan, plots::Canvas& canvas, NpyArray* classes,
                  nlohmann::json& record,
                  const std::function<void(int64_t dotsDone)>& between) = nullptr;
    // Whether the job's columns must be evaluated one after the other, each
    // from the one before (then only on the process that commits them).
    bool (*sequential)(const Job& job) = nullptr;
    // What the failure of a whole-column mode's column says.
    std::string (*columnFailure)(const Plan& plan, int column, int start, bool mapping) = nullptr;
    // What the mode adds to the job record besides its options (colour bars).
    void (*record)(const Job& job, nlohmann::json& record) = nullptr;
    // The analyses run on the committed picture (curves, cycles); --stats is
    // every mode's that reads it.
    void (*analyse)(const Analysis& analysis) = nullptr;
    bool keepsClasses = false;   // the analysis reads the classes, written or not
};

// The row of a mode as the window has it; MakePlan picks the row of the
// whole job (ModeRow::variant).
const ModeRow& RowOf(Mode mode);
// Every row, in the order of AllModes.
std::span<const ModeRow> ModeRows();

// The names of the six parameters, in the order of w: the options --w11 ..
// --b2 and the places where messages name a parameter.
inline constexpr std::string_view kParameterNames[6] = {"w11", "w12", "w21", "w22", "b1", "b2"};

// The state a sequential mode carries from one column to the next: the final
// state of every orbit.
struct ColumnCarry {
    std::vector<double> x, y;
};

// The orbit of each committed dot as the window's classifier ended it, in
// dot order (column * rows + row), kept where an analysis starts from them:
// the curves of parametric's cycles refine each dot's cycle from its orbit's
// last state rather than run the orbit again.
struct CommittedOrbits {
    DotArray<model::kernel::Orbit> orbits; // those of the dots committed so far
};

struct Plan {
    Job job;
    const ModeRow* row = nullptr;
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
    // A sequential mode's state between columns (made by its prepare).
    std::shared_ptr<ColumnCarry> carry;
    // Made by the row's prepare where an analysis reads the committed orbits;
    // filled by the commit.
    std::shared_ptr<CommittedOrbits> orbits;
    // The orbit diagram's raw states, when wanted: the start of the .npy
    // file's elements, written by the columns. Set by the caller; a plan with
    // it is rendered on one process.
    double* states = nullptr;

    int64_t dots() const { return static_cast<int64_t>(columns) * rows; }
    int orbitsPerDot() const { return row->orbitsPerDot ? row->orbitsPerDot : job.startValues; }
    // Whether the plan must be rendered on the process that commits it: its
    // columns follow one another, or it writes raw states.
    bool alone() const
    {
        return states || row->whole || (row->sequential && row->sequential(job));
    }
    // The inputs of the dots of a column: reshuffled start points are drawn
    // after those of every dot before the column, as the plain loop draws them.
    plots::DotInputs columnInputs(int column) const;
    // A parameter plane's dot d (column d / rows, row d % rows): its
    // parameter vector; false where the plane's mapping gives none.
    bool placeDot(int64_t d, model::Weights& w) const;
};

// Checks the job (UsageError) and prepares it.
Plan MakePlan(const Job& job);

} // namespace render
