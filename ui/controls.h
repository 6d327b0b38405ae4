// The control inventory of frmVeltrane: every control with its kind,
// container, caption or default text, tool tip, place and size.
#pragma once

#include <span>

namespace ui {

enum class Kind { PictureBox, Label, TextField, Button, Frame, CheckBox };

struct ControlSpec {
    const char* name;      // objectName, as in the control table
    Kind kind;
    const char* container; // "" for the window's client area, else a frame's name
    const char* text;      // caption or default text ("" for none); a control of the
                           // window's state shows form::DefaultText
    const char* toolTip;   // "" for none
    int left, top, width, height;
};

// All controls, from the top of the window down.
std::span<const ControlSpec> ControlTable();

// Names of the controls that take the keyboard focus, in tab order.
std::span<const char* const> TabOrder();

constexpr int kClientWidth = 956;
constexpr int kClientHeight = 806;

} // namespace ui
