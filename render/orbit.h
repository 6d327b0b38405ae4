// The orbit diagram: picture column c is the parameter vector with entry K
// at the sweep's value of c, and the states that its orbits visit, counted
// into the column's pixel rows (model/orbit_diagram.h).
//
// Orbit k of a column starts at start value k of the plan (x0, then the
// shared start points) or, with --continue, at orbit k's final state in the
// column before. Fresh columns are independent and run as tiles of columns on
// the scheduler or under MPI; continued columns run one after the other with
// their start values in parallel. Counts are whole numbers added up, so every
// order gives the same bytes.
#pragma once

#include "render/plan.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace render {

// The most states one pixel can hold: start values x points.
uint64_t OrbitPixelMost(const Job& job);

// A column: out[r].count holds the states counted in pixel row r from the
// bottom. A failed orbit marks out[0] with Failure::Orbit and the start
// value's index in cls; a column value that did not map, with
// Failure::Mapping. With --continue the orbits go on from plan.carry, which
// they leave at their final states; with plan.states, the column's raw states
// are written there.
void OrbitColumnDots(const Plan& plan, int column, DotResult* out);

// The diagram's raster (the sweep across, the bounds up), its start values,
// and with --continue the carry.
void PrepareOrbits(Plan& plan);
// Whether the columns continue one another (--continue).
bool OrbitsContinued(const Job& job);
// The colour scale the record describes.
void OrbitRecord(const Job& job, nlohmann::json& record);

// What a failure at column `column`, start value `start` says.
std::string OrbitFailureText(const Plan& plan, int column, int start, bool mapping);

// The raw states: float64, columns x start values x points x 2.
uint64_t OrbitStatesBytes(const Job& job);
constexpr uint64_t kMaxOrbitStatesBytes = 2'000'000'000;
// Throws UsageError naming the size when the states pass kMaxOrbitStatesBytes.
void CheckOrbitStatesSize(const Job& job);
// The .npy file of the raw states, zero, with plan.states pointed at its
// elements.
std::vector<uint8_t> OrbitStatesFile(Plan& plan);

} // namespace render
