// What a dot is, for every mode: one pure evaluation per mode over a raster.
//
// A mode's dot function evaluates a run of dots of one raster column into
// plain values. It reads only its arguments, writes only its output and never
// throws, so that dots can be evaluated in any order, on any thread or
// machine, and committed later in drawing order. The window's column commands
// (form/columns.h) and the batch renderer both call these functions; the
// window's canvas is the raster of 800 pixels a side, so both compute the
// same picture by construction. The state-plane modes are defined here, the
// parameter-plane modes in params/dots.h.
#pragma once

#include "model/long_period.h"
#include "model/lyapunov.h"
#include "model/network.h"
#include "model/random.h"
#include "model/state.h"
#include "plots/raster.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace plots {

// The outcome of one dot.
struct DotResult {
    enum class Failure : uint8_t {
        None,
        Orbit,            // a floating-point error while iterating the network
        TooManyFixpoints, // a 17th distinct fixed-point colour at one dot (coexisting)
        Mapping,          // the plane mapping overflowed (range values too large)
    };
    // The dot's class. For a failed coexisting dot: how many of its start
    // points were classified, the failing one included.
    uint16_t cls = 0;
    Failure failure = Failure::None;
    bool hasFixpoint = false; // a fixed point was located; fpColor is the last one's
    model::Color fpColor = 0;
    double lambda = 0;        // lyapunov: the exponent (the largest)
    float lambda2 = 0;        // lyapunov with the spectrum: the second exponent
    uint32_t count = 0;       // orbit: the states counted in the dot's pixel
    double x = 0, y = 0;      // the window's classifier: the orbit's last state

    friend bool operator==(const DotResult&, const DotResult&) = default;
};

// Everything a dot reads besides its place in the raster. A mode reads only
// its own fields; the others keep their defaults.
struct DotInputs {
    model::Weights w{};
    int iterations = 0, accuracy = 0;
    int maxPeriod = model::kWindowPeriodCap; // the long-period classifier's cap
    int lyapunovSteps = 0;
    // The parameter plane: the entries of w on the two axes (0..5), and the
    // start point of its one orbit per dot.
    int horizontalIndex = 0, verticalIndex = 0;
    double x0 = 0, y0 = 0;
    // Coexisting: the start points of every dot (startValues of them), or with
    // reshuffle new ones drawn from the generator at `random`, the position
    // where the first dot of the column draws.
    int startValues = 1;
    const double *startX = nullptr, *startY = nullptr;
    bool reshuffle = false;
    bool countFixpoints = false; // every distinct fixed-point colour is a kind (chkFp)
    model::RandomGenerator::State random{};

    // Bit for bit: +0 and -0 differ, a NaN equals the same NaN.
    friend bool operator==(const DotInputs& a, const DotInputs& b)
    {
        auto bits = [](double v) { return std::bit_cast<uint64_t>(v); };
        return model::SameBits(a.w, b.w) && a.iterations == b.iterations
               && a.accuracy == b.accuracy && a.maxPeriod == b.maxPeriod
               && a.lyapunovSteps == b.lyapunovSteps && a.horizontalIndex == b.horizontalIndex
               && a.verticalIndex == b.verticalIndex && bits(a.x0) == bits(b.x0)
               && bits(a.y0) == bits(b.y0) && a.startValues == b.startValues
               && a.startX == b.startX && a.startY == b.startY && a.reshuffle == b.reshuffle
               && a.countFixpoints == b.countFixpoints && a.random == b.random;
    }
};
// A field added above must be compared in operator== too.
static_assert(sizeof(DotInputs) == 128);

// A mode's definition of a dot: evaluates rows [row, row + count) of column
// `column` of the raster into out[0..count).
using DotFunction = void (*)(const DotInputs& in, const Raster& raster, int column, int row,
                             int count, DotResult* out);

// The state-plane modes: the dot's start point is its place, w the inputs'.
void VeltraneDots(const DotInputs&, const Raster&, int column, int row, int count, DotResult*);
// As Veltrane, with the located fixed point as class kFixpointClass.
void FpBasDots(const DotInputs&, const Raster&, int column, int row, int count, DotResult*);
// Class 1 where one step of the map moves the point by a squared distance
// below the tolerance, else 0 (the window runs it on every pixel).
void FixptDots(const DotInputs&, const Raster&, int column, int row, int count, DotResult*);
// Veltrane with the period cap maxPeriod.
void LongPeriodDots(const DotInputs&, const Raster&, int column, int row, int count,
                    DotResult*);
// The largest Lyapunov exponent of the orbit from the dot's place.
void LyapunovDots(const DotInputs&, const Raster&, int column, int row, int count, DotResult*);
// Both exponents of the orbit from the dot's place: lambda and lambda2.
void LyapunovSpectrumDots(const DotInputs&, const Raster&, int column, int row, int count,
                          DotResult*);

// The dot of a classification.
DotResult ResultOf(const model::kernel::Orbit& o);
DotResult ResultOf(const model::kernel::LongOrbit& o);
DotResult ResultOf(const model::kernel::Exponent& e);
DotResult ResultOf(const model::kernel::Spectrum& s);

// Dots evaluated together by one kernel call: a whole part of a window's
// column, so that the lockstep lanes stay full to near the end, and small
// enough for the stack.
constexpr int kDotsPerPiece = 512;

// The frame of the modes with one orbit per dot: for each piece of the run,
// place(k, row) readies entry k of the kernel's inputs for the dot of that row
// and says whether its plane values mapped; run(m, results) classifies the
// m entries. A dot whose mapping overflowed fails with Failure::Mapping.
template <class Result, class Place, class Run>
void EvaluatePieces(int row, int count, DotResult* out, Place place, Run run)
{
    bool mapped[kDotsPerPiece];
    Result results[kDotsPerPiece];
    const int pieces = (count + kDotsPerPiece - 1) / kDotsPerPiece; // of near-equal length
    for (int piece = 0; piece < pieces; ++piece) {
        const int b = count * piece / pieces, m = count * (piece + 1) / pieces - b;
        for (int k = 0; k < m; ++k)
            mapped[k] = place(k, row + b + k);
        run(m, results);
        for (int k = 0; k < m; ++k) {
            out[b + k] = mapped[k] ? ResultOf(results[k]) : DotResult{};
            if (!mapped[k])
                out[b + k].failure = DotResult::Failure::Mapping;
        }
    }
}

} // namespace plots
