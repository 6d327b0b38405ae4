// The iso-periodic plot "Parametric".
#pragma once

#include "form/window.h"

namespace form {

// Colours every dot of the parameter plane by the period that the orbit from
// the fixed start point (txtX0(0), txtX0(1)) reaches with the dot's two
// parameter values in place. Leaves w(horizontal index) and w(vertical index)
// at the values of the last dot drawn.
void cmdParametric_Click(Window& window);

} // namespace form
