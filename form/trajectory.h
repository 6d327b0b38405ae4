// Tracing the orbit from a point of the state plane under the mouse.
#pragma once

#include "form/window.h"

namespace form {

// Traces the orbit from the relative pointer position (u, v), u = X / 799 and
// v = (799 - Y) / 799: iterations undrawn steps, then 5000 dots of width
// stepSize in penColor. Does not yield.
void TraceTrajectory(Window& window, double u, double v);

// Number of dots a trace draws after its transient.
constexpr int kTraceDots = 5000;

} // namespace form
