// The parameter plane: two chosen entries of the parameter vector on the two
// axes of the canvas, with their ranges.
#pragma once

#include "model/window.h"

#include <cstdint>
#include <exception>

namespace params {

struct Plane {
    double left = 0, right = 0, bottom = 0, top = 0;
    int16_t horizontalIndex = 0, verticalIndex = 0;
};

// Reads, in this order, txtP(0) left, txtP(1) right, txtP(2) bottom, txtP(3)
// top, txtIdx(0) and txtIdx(1); the indices rounded half to even (overflow
// error outside -32768..32767). The indices are not checked here: each plot
// checks them at their first use.
Plane ReadPlane(model::Window& window);

// Parameter value of a raster offset: ((high - low) * offset) / 799 + low,
// evaluated in exactly this order. Throws the floating-point error when the
// result is not finite (ranges of extreme size).
double PlaneValue(double low, double high, int offset);

// Starts a column of a parameter-plane plot at raster offset column + h:
// checks the horizontal index (index-out-of-range error) and writes
// w(horizontal index), throwing the floating-point error of the mapping.
void SetColumnParameter(const Plane& plane, model::Weights& w, int columnOffset);

// The vertical parameter values of a column's dots, rows j = 0, rowStep, ...
// up to 799 at offsets j + h, into values; returns how many. The vertical
// index is checked at the first dot (index-out-of-range error). A mapping
// error at a dot ends the list there and is handed back in stop, so that the
// dots below it can still be drawn before it is raised.
int ColumnRowValues(const Plane& plane, int16_t h, int16_t rowStep, double* values,
                    std::exception_ptr& stop);

// True when index names an entry of the parameter vector (0..5).
inline bool IsParameterIndex(int index) { return index >= 0 && index <= 5; }

// The index-out-of-range error of a plane axis index outside 0..5.
[[noreturn]] void ThrowBadIndex(int index);

} // namespace params
