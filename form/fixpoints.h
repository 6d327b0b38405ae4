// The fixed-point map "Fixpt".
#pragma once

#include "form/window.h"

namespace form {

// Marks, in penColor, every pixel whose point one step of the network moves
// by a squared distance below the tolerance. Dot width 1, the canvas is not
// cleared, every one of the 800 x 800 pixels is tested; yields once a column.
void cmdFixpoints_Click(Window& window);

} // namespace form
