// The settings every plot reads: the values they start from and the ranges
// they accept. Each reader of a setting decides what becomes of a value
// outside its range: replaced by the default, or refused.
#pragma once

#include "model/state.h"

#include <array>

namespace model {

// The parameter vector w11, w12, w21, w22, b1, b2.
constexpr Weights kDefaultWeights{0.4, 1.9, -2.7, -4.311, -0.9, 1.8};

// Dot size, transient length and accuracy (the tolerance is 10^-accuracy).
constexpr int kDefaultDotSize = 20;
constexpr int kDefaultIterations = 1000;
constexpr int kDefaultAccuracy = 8;
constexpr int kMaxDotSize = 100;
constexpr int kMaxIterations = 32767;
constexpr int kMaxAccuracy = 14;

// The parameter plane: the entries of w on its two axes (b1 and b2), and its
// range left, right, bottom, top.
constexpr std::array<int, 2> kDefaultPlaneAxes{4, 5};
constexpr std::array<double, 4> kDefaultPlaneRange{-1.0, 1.0, -1.0, 1.0};

// The start point of the parametric plot's orbits.
constexpr std::array<double, 2> kDefaultStartPoint{1.0, 1.0};

// How many random start points a coexisting dot classifies.
constexpr int kDefaultStartValues = 5;

} // namespace model
