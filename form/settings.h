// Loading the parameter vector and keeping the three settings normalised.
#pragma once

#include "form/window.h"

namespace form {

// Loads w(0..5) from txtW(0..5) by the leading-number reading.
void ReadWeights(Window& window);

// The window's load handler: stepSize, iterations and accuracy from their
// fields, each rounded half to even; no range check, no write-back.
void Form_Load(Window& window);

// Change handlers of the three settings fields: floor of the number as a
// 16-bit integer, stored, replaced by the default when out of range, and
// written back as whole-number text (which raises the change once more).
void txtStepSize_Change(Window& window);
void txtIterations_Change(Window& window);
void txtAccuracy_Change(Window& window);

// The change handler bound to a field, or nullptr when it has none.
using ChangeHandler = void (*)(Window&);
ChangeHandler ChangeHandlerOf(Control c);

} // namespace form
