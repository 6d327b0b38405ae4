// The basin plots "Veltrane" and "FpBas".
#pragma once

#include "model/window.h"

namespace plots {

// Colours every dot of the state plane by the period its orbit reaches.
void cmdVeltrane_Click(model::Window& window);
// The same, with every located fixed point in the colour of where it lies.
void cmdFixpointBasins_Click(model::Window& window);

} // namespace plots
