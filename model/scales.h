// Colour scales of the batch pictures beyond the period palette: a diverging
// scale for Lyapunov exponents and a sequential one for periods above 16.
#pragma once

#include "model/state.h"

#include <cstdint>
#include <vector>

namespace model {

// The default limits of the exponent scale.
constexpr double kLyapunovLow = -1.0;
constexpr double kLyapunovHigh = 0.5;

// The colour of an exponent: white at 0, towards blue as it falls to `low`,
// towards red as it rises to `high`; beyond a limit it takes the limit's
// colour. Each side is scaled by its own limit, so a value keeps its colour
// whatever the other limit, and the hue always tells the sign:
// - low >= 0: nothing below low shows, and it is pale red where low > 0;
// - high <= 0: likewise on the blue side;
// - low > high (a caller's mistake): every value shows as low.
// A NaN (no exponent) is black; -infinity takes the colour of low.
Color LyapunovColor(double lambda, double low, double high);

// A stop of the exponent scale, for a colour bar beside the picture.
struct ScaleStop {
    double value;
    Color color;
};

// The stops between which the scale is linear in each component, ascending:
// low, 0 when it lies strictly between the limits, and high.
std::vector<ScaleStop> LyapunovStops(double low, double high);

// The colour of a class of the long-period classifier: 0 (no period) black,
// 1..16 the window's palette, 17..4096 a perceptual sequential scale
// (from dark violet through teal and green to yellow), logarithmic in the
// period so that 17 and 4096 lie at its two ends whatever the cap in use.
Color LongPeriodColor(int period);

} // namespace model

namespace model {

// The colour of a pixel of the orbit diagram that `count` states out of at most
// `most` fell into: white for none; else the sequential scale above, run from
// its light end to its dark end as log(1 + count) / log(1 + most) goes from 0
// to 1, so that the more an attractor visits a pixel, the darker it shows.
Color OrbitDensityColor(uint64_t count, uint64_t most);

} // namespace model
