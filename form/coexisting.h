// The coexisting-attractor plot "Coexisting".
#pragma once

#include "form/window.h"
#include "params/dots.h"

#include <cstdint>

namespace form {

// Colours every dot of the parameter plane by the number of kinds of
// attractor that a set of random start points reaches there (see
// CoexistingDots). Draws the shared start points first; with chkReshuffle
// every dot draws its own.
void cmdCoexisting_Click(Window& window);

// The start-point count of txtNumStartValues: its number rounded half to
// even (overflow error outside -32768..32767); outside 1..500 it becomes 5
// and the field is set to "5".
int16_t ReadNumStartValues(Window& window);

} // namespace form
