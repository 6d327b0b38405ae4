// The mouse on the canvas picBasins: a press traces an orbit or picks a point
// of the parameter plane, a move updates the four coordinate labels.
#pragma once

#include "form/window.h"

#include <cstdint>

namespace form {

// Button 2 (right) takes the point under the pointer as the two parameters
// of the parameter plane; every other button traces the orbit from the point
// of the state plane under the pointer. Shift is not used.
void picBasins_MouseDown(Window& window, int16_t button, int16_t shift, float X, float Y);

// Writes lblx, lbly (state plane) and lblpx, lblpy (parameter plane), in this
// order; the range fields are read at every move. Button and shift are not
// used.
void picBasins_MouseMove(Window& window, int16_t button, int16_t shift, float X, float Y);

// The parameter pick at the relative pointer position u = X / 799,
// v = (799 - Y) / 799: writes the decimal text of the horizontal value into
// txtW(horizontal index), then that of the vertical value into
// txtW(vertical index). Nothing else changes.
void PickParameters(Window& window, double u, double v);

} // namespace form
