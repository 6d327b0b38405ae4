// A job made ready to compute: its raster, its plane mapping and the table of
// modes that says how a dot is evaluated and how it is drawn.
//
// The raster generalises the window's 800 x 800 walk to N x N: dot columns
// k = 0, 1, ... at offsets k * step + half from the left edge, dot rows
// likewise from the bottom edge, as long as the offset before the half-dot
// shift stays below N. Dots are numbered in drawing order, the window's:
// column by column from the left, each column from the bottom up, so dot d
// lies in column d / rows, row d % rows.
#pragma once

#include "model/network.h"
#include "model/random.h"
#include "render/job.h"

#include <array>
#include <cstdint>
#include <vector>

namespace render {

// A plane coordinate of a raster offset: ((high - low) * offset) / (N - 1) +
// low, in exactly this order. At N = 800 this is the window's mapping bit for
// bit: for the state plane (high - low) is exactly 2, 2 * offset is exact, and
// adding -1 is subtracting 1; the parameter plane uses this very formula.
inline double MapOffset(double low, double high, int offset, int pixels)
{
    return ((high - low) * static_cast<double>(offset)) / static_cast<double>(pixels - 1) + low;
}

// The outcome of one dot: a plain value, so that dots can be evaluated in any
// order on any thread (or any machine) and committed later in drawing order.
struct DotResult {
    enum class Failure : uint8_t {
        None,
        Orbit,            // a floating-point error while iterating the network
        TooManyFixpoints, // a 17th distinct fixed-point colour at one dot (coexisting)
        Mapping,          // the plane mapping overflowed (range values too large)
    };
    uint16_t cls = 0;           // the class the classes array holds for the dot
    Failure failure = Failure::None;
    bool hasFixpoint = false;   // a fixed point was located; fpColor is the last one's
    model::Color fpColor = 0;
    double lambda = 0;          // lyapunov: the exponent (the classes array holds it)

    friend bool operator==(const DotResult&, const DotResult&) = default;
};

// Element type of the classes array of a mode.
enum class ClassType : uint8_t { UInt8, UInt16, Float32 };

struct Plan;

// What distinguishes the modes. Every mode is one row of a table; the raster
// walk, the commit and the writers read the row and know no mode by name.
struct ModeTraits {
    Mode mode;
    bool parameterPlane; // the axes are two entries of w; else the state plane
    bool everyPixel;     // every pixel is one dot of width 1, whatever the dot size
    int orbitsPerDot;    // 0: the job's start-point count
    ClassType classType;
    // Evaluates dots [first, first + count) of the drawing order into out.
    // Pure: reads the plan, writes only out.
    void (*evaluate)(const Plan& plan, int64_t first, int count, DotResult* out);
    // The colour of a committed dot, given the state the window would hold at
    // that moment; false for a dot that leaves the picture as it is.
    bool (*colour)(const Plan& plan, const DotResult& dot, const model::State& st,
                   model::Color& out);
};

// The row of a mode as the window has it; MakePlan picks the row of the
// whole job (lyapunov's plane, a period cap above 16).
const ModeTraits& TraitsOf(Mode mode);

struct Plan {
    Job job;
    const ModeTraits* traits = nullptr;
    int pixels = 0;             // N
    int step = 1, half = 0;     // dot size and half-dot offset (1 and 0 for every-pixel modes)
    int columns = 0, rows = 0;  // dots per axis
    // The horizontal axis runs from low to high over pixel columns 0..N-1,
    // the vertical one over pixel rows N-1..0: the region or the parameter range.
    double left = 0, right = 0, bottom = 0, top = 0;
    // Coexisting: the shared start points, drawn from a fresh generator as the
    // window's first run after start draws them, and the generator's state
    // after them, where the reshuffled draws of the dots begin.
    std::vector<double> startX, startY;
    model::RandomGenerator::State drawsStart;

    int64_t dots() const { return static_cast<int64_t>(columns) * rows; }
    int orbitsPerDot() const
    {
        return traits->orbitsPerDot ? traits->orbitsPerDot : job.startValues;
    }
    double columnValue(int column) const
    {
        return MapOffset(left, right, column * step + half, pixels);
    }
    double rowValue(int row) const { return MapOffset(bottom, top, row * step + half, pixels); }
    // Pixel position of a dot's centre; it may lie just outside the picture.
    int pixelColumn(int column) const { return column * step + half; }
    int pixelRow(int row) const { return pixels - 1 - (row * step + half); }
};

// Checks the job (UsageError) and prepares it.
Plan MakePlan(const Job& job);

} // namespace render
