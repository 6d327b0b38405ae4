// The coexisting-attractor plot "Coexisting".
#pragma once

#include "model/network.h"
#include "model/window.h"

#include <cstdint>

namespace params {

// Colours every dot of the parameter plane by the number of kinds of
// attractor that a set of random start points reaches there: class 0, each
// period 2..16, and the located fixed points as one kind (or, with chkFp, one
// kind per distinct fixed-point colour).
void cmdCoexisting_Click(model::Window& window);

// The start-point count of txtNumStartValues: its number rounded half to
// even (overflow error outside -32768..32767); outside 1..500 it becomes 5
// and the field is set to "5".
int16_t ReadNumStartValues(model::Window& window);

// A start coordinate 2r - 1 of a random value r, formed in single precision
// (exact for every value the generator gives).
double StartCoordinate(float r);

// Most start points one plot may use (txtNumStartValues).
constexpr int kMaxStartValues = 500;

// Most distinct fixed-point colours one dot can hold.
constexpr int kMaxFpColors = 16;

// The kinds of attractor among the classifications of one dot's start points.
struct Tally {
    int16_t count = 0; // the dot's class: number of kinds found
    // The entry at which the dot stopped (a failed orbit, or a fixed point of
    // a colour beyond the kMaxFpColors distinct ones), or -1.
    int stoppedAt = -1;
    bool tooManyFixpoints = false; // why it stopped, when it did
};

// Walks results[0..n) in order, as the plot commits a dot: every located fixed
// point writes its colour into fixpointColor (so a failure leaves the colour
// of the last one before it); with countFixpoints (chkFp) every distinct
// fixed-point colour is a kind of its own, else all of them are one kind.
Tally TallyAttractors(const model::kernel::Orbit* results, int n, bool countFixpoints,
                      model::Color& fixpointColor);

// The run-time error of a dot whose tally stopped at a 17th fixed point.
[[noreturn]] void ThrowTooManyFixpoints();

} // namespace params
