// The raster geometry: which dots a plot evaluates, where they lie in the
// picture and in the plane. One type serves the window's 800 x 800 canvas and
// the batch renderer's N x N pictures.
#pragma once

#include "model/numbers.h"
#include "model/state.h"

#include <cstdint>

namespace plots {

// The plane value of a raster offset on a picture of `pixels` pixels a side:
// ((high - low) * offset) / (pixels - 1) + low, in exactly this order. This is
// the one mapping of every plot. On the canvas over the state plane -1..1 it
// is the window's (2 * offset) / 799 - 1 bit for bit: high - low is exactly 2,
// 2.0 * offset is exact, and adding -1 is subtracting 1.
inline double MapOffset(double low, double high, int offset, int pixels = model::kCanvasSize)
{
    return ((high - low) * static_cast<double>(offset)) / static_cast<double>(pixels - 1) + low;
}

// State-plane coordinate of a canvas offset counted from the left edge (x) or
// the bottom edge (y).
inline double StateCoordinate(int offset) { return MapOffset(-1.0, 1.0, offset); }

// Half-dot offset: stepSize / 2 rounded half to even (1 -> 0, 3 -> 2, 5 -> 2).
inline int16_t HalfDot(int16_t stepSize) { return model::RoundHalfEven16(stepSize / 2.0); }

// A raster of dots on a square picture. Dot column c stands at offset
// c * columnStep + half from the left edge, dot row r at r * rowStep + half
// from the bottom edge, for c * columnStep and r * rowStep up to pixels - 1;
// the horizontal axis runs from left to right over the offsets 0..pixels-1,
// the vertical one from bottom to top. Dots are evaluated and drawn column by
// column from the left, each column from the bottom up.
struct Raster {
    int pixels = model::kCanvasSize;
    // The window walks its columns with the dot size it read at the start and
    // reads the row step afresh for every column; elsewhere both are the size.
    int columnStep = 1, rowStep = 1;
    int half = 0;
    double left = -1, right = 1, bottom = -1, top = 1; // the state plane unless told

    int columns() const { return (pixels - 1) / columnStep + 1; }
    int rows() const { return (pixels - 1) / rowStep + 1; }
    int columnOffset(int column) const { return column * columnStep + half; }
    int rowOffset(int row) const { return row * rowStep + half; }
    double columnValue(int column) const
    {
        return MapOffset(left, right, columnOffset(column), pixels);
    }
    double rowValue(int row) const { return MapOffset(bottom, top, rowOffset(row), pixels); }
    // The picture's pixel of a dot's centre (row 0 at the top); it may lie
    // just outside the picture.
    int pixelColumn(int column) const { return columnOffset(column); }
    int pixelRow(int row) const { return pixels - 1 - rowOffset(row); }
};

// The raster of dots of the given size on a picture of `pixels` pixels a side,
// over the region left..right, bottom..top.
inline Raster MakeRaster(int pixels, int size, double left = -1, double right = 1,
                         double bottom = -1, double top = 1)
{
    return {pixels, size, size, HalfDot(static_cast<int16_t>(size)), left, right, bottom, top};
}

} // namespace plots
