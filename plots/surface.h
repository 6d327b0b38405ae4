// A picture that the commands draw into: dots of a chosen width, pixels read
// back, and lines of text at a print position. The canvas (plots/canvas.h)
// keeps what is drawn in a persistent image; the window's colour picker is a
// surface too.
#pragma once

#include "model/state.h"

#include <string>

namespace plots {

class Surface {
public:
    virtual ~Surface() = default;

    // Fill with the background colour; the print position becomes (0, 0).
    virtual void clear() = 0;
    virtual void setDotWidth(int width) = 0;
    virtual int dotWidth() const = 0;
    // A dot of the current width centred on pixel (column, row), clipped.
    virtual void setDot(int column, int row, model::Color color) = 0;
    virtual model::Color pixel(int column, int row) const = 0;

    // Text output: fore colour, print position and one line of text, after
    // which the print position moves to x = 0 one line lower.
    virtual void setForeColor(model::Color color) = 0;
    virtual void setPrintX(int x) = 0;
    virtual void setPrintY(int y) = 0;
    virtual int printX() const = 0;
    virtual int printY() const = 0;
    virtual void print(const std::string& line) = 0;
};

} // namespace plots
