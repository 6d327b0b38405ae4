// The analyses of a render beyond its dots, run once the dots are committed:
// the bifurcation curves of the fixed points over a parameter plane, the
// basin statistics of a picture of classes, and the periodic orbits of
// cycles over its basin picture. Each is a pure pass over the committed
// picture and the job, its parallel parts writing only their own slots and
// drawn in a fixed order, so that its result is the same on any number of
// threads and processes.
#pragma once

#include "model/state.h"
#include "plots/canvas.h"
#include "render/npy.h"
#include "render/plan.h"

#include <nlohmann/json_fwd.hpp>

#include <iosfwd>

namespace render {

// The colour of a stability dot with `fixedPoints` fixed points of which
// `attracting` attract: the hue says how many attract (0 grey, 1 blue,
// 2 green, 3 orange, 4 or more red), and the more fixed points, the deeper
// the shade (1 palest, 9 the hue itself).
model::Color StabilityColour(int attracting, int fixedPoints);

// The classes of a picture as keys, row 0 at the top: the class itself, or
// for stability's four counts model::analysis::ClassKey of them.
std::vector<int64_t> ClassKeys(const NpyArray& classes);

// The analyses of the modes' rows (ModeRow::analyse):
// stability's colour scheme and bifurcation curves;
void StabilityAnalysis(const Analysis& a);
// parametric's curves, with --curves;
void ParametricAnalysis(const Analysis& a);
// the cycles of cycles, with their basin shares, markers drawn on the canvas.
void CyclesAnalysis(const Analysis& a);

// Everything a render adds after its dots, into the job record's `record`
// and, where out is given, as tables on it: the row's analysis, then --stats.
// classes holds the committed classes (needed for --stats and by a row that
// keeps them). Throws RuntimeError as the orbits of the basin picture do.
void Analyse(const Plan& plan, plots::Canvas& canvas, const NpyArray* classes,
             nlohmann::json& record, std::ostream* out);

// Whether the render needs its classes in memory, written or not.
bool KeepsClasses(const Job& job);

} // namespace render
