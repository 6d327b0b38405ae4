// Geometry of the canvas: the state-plane mapping and the raster walk.
#pragma once

#include "model/numbers.h"

#include <cstdint>

namespace plots {

// The most dots a column of the raster can hold (dot size 1).
constexpr int kCanvasRows = 800;
// Dots a worker takes at a time while a column is evaluated.
constexpr int kDotsPerChunk = 8;

// Half-dot offset: stepSize / 2 rounded half to even (1 -> 0, 3 -> 2, 5 -> 2).
inline int16_t HalfDot(int16_t stepSize) { return model::RoundHalfEven16(stepSize / 2.0); }

// State-plane coordinate of a raster offset counted from the left edge (x) or
// the bottom edge (y): (2 * offset) / 799 - 1, the integer product formed
// exactly, then divided by 799 and reduced by 1 in double precision.
inline double StateCoordinate(int offset)
{
    return static_cast<double>(2 * offset) / 799.0 - 1.0;
}

// Offsets 0, step, 2 step, ... up to 799: how many there are.
inline int RasterCount(int step) { return 799 / step + 1; }

} // namespace plots
