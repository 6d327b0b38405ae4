// The tools beside the canvas: the colour picker, the legend, clear and save.
// They work on the window port only, so they run in the Qt window and in the
// headless window alike.
#pragma once

#include "form/window.h"

namespace form {

// picColorPicker's drawing area and background.
constexpr int kPickerWidth = 79;
constexpr int kPickerHeight = 311;
constexpr model::Color kPickerBackground = model::Rgb(224, 224, 224);
constexpr int kPickerDotWidth = 25;
// Centre of the dot that shows the current drawing colour.
constexpr int kCurrentColorX = 55;
constexpr int kCurrentColorY = 290;

// Paint event of picColorPicker: palette entries 0..9 down the left column,
// 10..16 down the right one, and the current drawing colour beside entry 9.
// The picker keeps no picture; its surface shows the picker's background.
void picColorPicker_Paint(Window& window, plots::Surface& picker);

// Mouse press on picColorPicker, any button: the colour shown under the
// pointer becomes penColor, and the current-colour dot shows it at once.
// picker.pixel reads the picker as it is displayed.
void picColorPicker_MouseDown(Window& window, plots::Surface& picker, int button,
                              int shift, float x, float y);

// "Legend": the six parameter fields and the two parameter-plane axes, as
// their texts stand, in eight lines at x = 700 from y = 20 down, in penColor.
void cmdLegend_Click(Window& window);

// "Clear": the canvas filled with its background, print position (0, 0).
void cmdClear_Click(Window& window);

// "Save": the canvas's 800 x 800 image as a 24-bit Windows bitmap under the
// name in txtFileName, exactly as typed; an existing file is replaced.
void cmdSave_Click(Window& window);

} // namespace form
