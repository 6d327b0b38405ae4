// The orbit diagram: picture column c is the parameter vector with entry K
// at the sweep's value of c, and the states that its orbits visit, counted
// into the column's pixel rows (model/orbit_diagram.h).
//
// Orbit k of a column starts at start value k of the plan (x0, then the
// shared start points) or, with --continue, at orbit k's final state in the
// column before. Fresh columns are independent and run as tiles of columns
// through EvaluateTile, on the scheduler or under MPI; continued columns run
// one after the other with their start values in parallel. Counts are whole
// numbers added up, so every order gives the same bytes.
#pragma once

#include "plots/canvas.h"
#include "render/npy.h"
#include "render/plan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace render {

// The most states one pixel can hold: start values x points.
uint64_t OrbitPixelMost(const Job& job);

// A fresh column: out[r].count holds the states counted in pixel row r from
// the bottom. A failed orbit marks out[0] with Failure::Orbit and the start
// value's index in cls; a column value that did not map, with Failure::Mapping.
void OrbitColumnDots(const Plan& plan, int column, DotResult* out);

// What a failure at column `column`, start value `start` says.
std::string OrbitFailureText(const Plan& plan, int column, int start, bool mapping);

// The raw states: float64, columns x start values x points x 2.
uint64_t OrbitStatesBytes(const Job& job);
constexpr uint64_t kMaxOrbitStatesBytes = 2'000'000'000;
// Throws UsageError naming the size when the states pass kMaxOrbitStatesBytes.
void CheckOrbitStatesSize(const Job& job);

// The name of entry 0..5 of the parameter vector ("w11" .. "b2").
const char* ParameterName(int entry);

// Whether the diagram must be rendered by RenderOrbits on one process: it
// continues its orbits, or its raw states are wanted.
bool OrbitsRenderedAlone(const Plan& plan, bool statesWanted);

// Renders the diagram on this process; states, when not null, receives the
// raw states as a .npy file.
void RenderOrbits(const Plan& plan, plots::Canvas& canvas, NpyArray* classes,
                  std::vector<uint8_t>* states,
                  const std::function<void(int64_t dotsDone)>& progress);

} // namespace render
