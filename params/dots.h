// What a dot is over the parameter plane: the dot functions of the modes
// whose axes are two entries of the parameter vector (see plots/dots.h).
//
// The raster's horizontal value goes into w(horizontalIndex), then its
// vertical value into w(verticalIndex), so the vertical one wins when both
// axes name the same entry, as in the window. The indices must be 0..5.
#pragma once

#include "model/random.h"
#include "plots/dots.h"

#include <cstdint>
#include <vector>

namespace params {

using plots::DotInputs;
using plots::DotResult;
using plots::Raster;

// The period the orbit from (x0, y0) reaches under the dot's parameters.
void ParametricDots(const DotInputs&, const Raster&, int column, int row, int count,
                    DotResult*);
// The same with the period cap maxPeriod.
void LongParametricDots(const DotInputs&, const Raster&, int column, int row, int count,
                        DotResult*);
// The largest Lyapunov exponent of the orbit from (x0, y0).
void LyapunovPlaneDots(const DotInputs&, const Raster&, int column, int row, int count,
                       DotResult*);
// Both exponents of the orbit from (x0, y0): lambda and lambda2.
void LyapunovSpectrumPlaneDots(const DotInputs&, const Raster&, int column, int row, int count,
                               DotResult*);

// The fixed points under the dot's parameters, counted by type: the class
// holds the attracting, saddle, repelling and non-hyperbolic counts as four
// 4-bit fields, attracting in the highest (model::analysis::ClassKey).
void StabilityDots(const DotInputs&, const Raster&, int column, int row, int count,
                   DotResult*);
// The parameter vector of a dot of the parameter plane at plane values h, v;
// false (w is then the inputs' own) when either is not finite.
bool PlaceWeights(const DotInputs& in, double h, double v, model::Weights& w);

// The number of kinds of attractor that the dot's start points reach: class
// 0, each period 2..16, and the located fixed points as one kind (with
// countFixpoints, one kind per distinct fixed-point colour). The start points
// are classified in order, and the first failed orbit or 17th distinct
// fixed-point colour stops the dot; hasFixpoint and fpColor tell the last
// fixed point located up to there, the failing start point included.
void CoexistingDots(const DotInputs&, const Raster&, int column, int row, int count,
                    DotResult*);

// Most distinct fixed-point colours one coexisting dot can hold.
constexpr int kMaxFpColors = 16;

// The run-time error of a coexisting dot stopped at a 17th fixed point.
[[noreturn]] void ThrowTooManyFixpoints();

// A start coordinate 2r - 1 of a random value r, formed in single precision
// (exact for every value the generator gives).
double StartCoordinate(float r);

// Draws n start points (x then y of each) from random into xs and ys.
void DrawStartPoints(model::RandomGenerator& random, int n, std::vector<double>& xs,
                     std::vector<double>& ys);

// The generator's position after `points` start points drawn from `from`.
model::RandomGenerator::State AfterStartPoints(model::RandomGenerator::State from,
                                               uint64_t points);

} // namespace params
