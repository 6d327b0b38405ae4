// The basin plots "Veltrane" and "FpBas".
#pragma once

#include "form/window.h"

namespace form {

// Colours every dot of the state plane by the period its orbit reaches.
void cmdVeltrane_Click(Window& window);
// The same, with every located fixed point in the colour of where it lies.
void cmdFixpointBasins_Click(Window& window);

} // namespace form
