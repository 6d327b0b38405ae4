// The program's icon, drawn in code: a small basin picture with an orbit.
#pragma once

#include <QIcon>
#include <QImage>

namespace ui {

// The icon at one of its two sizes (32 or 16 pixels), in 16 colours.
QImage ProgramIconImage(int size);
// Both sizes together.
QIcon ProgramIcon();

} // namespace ui
