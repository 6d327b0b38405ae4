// The continuation: attractors followed over one parameter, with the share of
// the grid of starts that each one's basin takes at every value
// (model/continuation.h does the mathematics).
//
// The picture has the sweep across, L at the left and R at the right, and up
// each column the basin fractions at the nearest value, stacked from the
// bottom in the order of the identities, each identity in its own colour over
// the whole sweep. The record's "continuation" says per identity its period,
// colour, first and last value, ancestry and fractions, and lists the events.
// The classes are int32, steps x grid x grid: the identity of each start at
// each value, the values in the parameter's order (L first), row 0 at the top.
//
// The sweep runs on one process (under MPI, rank 0), each value's starts on
// every core. Every
// value's attractors depend on its starts as a set, and the matching runs in
// a fixed order, so the bytes are the same on any number of threads.
#pragma once

#include "model/continuation.h"
#include "plots/canvas.h"
#include "render/plan.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <functional>
#include <vector>

namespace render {

// The sweep a job asks for.
model::continuation::Sweep SweepOf(const Job& job);

// The colour of identity `id`: a palette of twelve colours, repeated.
model::Color IdentityColour(int id);

// The record of a finished sweep: {"parameter", "values", "direction", ...,
// "identities": [...], "events": [...]}.
nlohmann::json ContinuationRecord(const Job& job, const model::continuation::Result& result);

// Draws the stacked fractions of a finished sweep onto canvas (N x N).
void DrawFractions(const Job& job, const model::continuation::Result& result,
                   plots::Canvas& canvas);

// The classes as a whole .npy file: int32, steps x grid x grid.
std::vector<uint8_t> IdentityClasses(const Job& job, const model::continuation::Result& result);

// Runs the sweep of a continuation job. Throws RuntimeError (floating point)
// naming the value and the start of the first orbit, in the parameter's order
// and then the grid's, that met a floating-point error.
model::continuation::Result RunContinuation(const Job& job,
                                            const std::function<void(int stepsDone)>& progress);

// The identities of every start at every value are held until the sweep
// ends; like the orbit diagram's raw states, they are refused beyond 2 GB
// (UsageError naming the sizes).
void CheckSweepSize(const Job& job);

// The mode's row (render/modes.cpp): its raster has the sweep across and the
// fractions 0..1 up; its render is the sweep, on this process (ModeRow::whole).
void PrepareContinuation(Plan& plan);
void RenderContinuation(const Plan& plan, plots::Canvas& canvas, NpyArray* classes,
                        nlohmann::json& record,
                        const std::function<void(int64_t dotsDone)>& between);

} // namespace render
