// The coexisting-attractor plot "Coexisting".
#pragma once

#include "model/window.h"

#include <cstdint>

namespace params {

// Colours every dot of the parameter plane by the number of kinds of
// attractor that a set of random start points reaches there: class 0, each
// period 2..16, and the located fixed points as one kind (or, with chkFp, one
// kind per distinct fixed-point colour).
void cmdCoexisting_Click(model::Window& window);

// The start-point count of txtNumStartValues: its number rounded half to
// even (overflow error outside -32768..32767); outside 1..500 it becomes 5
// and the field is set to "5".
int16_t ReadNumStartValues(model::Window& window);

// Most distinct fixed-point colours one dot can hold.
constexpr int kMaxFpColors = 16;

} // namespace params
