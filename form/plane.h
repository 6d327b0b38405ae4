// The parameter plane: two chosen entries of the parameter vector on the two
// axes of the canvas, with their ranges, and the window's column walk over it.
#pragma once

#include "form/columns.h"
#include "form/window.h"

#include <cstdint>

namespace form {

struct Plane {
    double left = 0, right = 0, bottom = 0, top = 0;
    int16_t horizontalIndex = 0, verticalIndex = 0;
};

// Reads, in this order, txtP(0) left, txtP(1) right, txtP(2) bottom, txtP(3)
// top, txtIdx(0) and txtIdx(1); the indices rounded half to even (overflow
// error outside -32768..32767). The indices are not checked here: each plot
// checks them at their first use.
Plane ReadPlane(Window& window);

// Parameter value of a canvas offset (plots::MapOffset over low..high).
// Throws the floating-point error when the result is not finite (ranges of
// extreme size).
double PlaneValue(double low, double high, int offset);

// True when index names an entry of the parameter vector (0..5).
inline bool IsParameterIndex(int index) { return index >= 0 && index <= 5; }

// The index-out-of-range error of a plane axis index outside 0..5.
[[noreturn]] void ThrowBadIndex(int index);

// A parameter-plane plot as a column walk (see form/columns.h). A column's
// start checks the horizontal index, writes the column's value into
// w(horizontal index) and checks the vertical index; each dot, as it is
// drawn, writes its vertical value into w(vertical index). A value that
// cannot be mapped raises the floating-point error where the plain loop
// computes it, with the dots below it drawn.
class PlaneColumns : public DotColumns {
public:
    // fixed: what the dots read that stays for the whole plot (the indices,
    // the start points); readsStartPoints: the column reads chkReshuffle, the
    // generator's position and chkFp (coexisting).
    PlaneColumns(Window& window, plots::DotFunction dots, const Plane& plane,
                 const plots::DotInputs& fixed, int orbitsPerDot, bool readsStartPoints);

    Inputs begin(int c);
    bool predict(const Inputs& in, int c, int slot, Inputs& next) const;
    void commit(int slot, const Inputs& in, int c);

private:
    const plots::DotInputs fixed_;
    const bool readsStartPoints_;
};

} // namespace form
