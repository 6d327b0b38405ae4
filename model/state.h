// The little state the window keeps between events.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace model {

// A 24-bit colour held in 32 bits: red + 256 * green + 65536 * blue.
using Color = int32_t;

constexpr Color Rgb(int red, int green, int blue)
{
    return red + 256 * green + 65536 * blue;
}
constexpr int RedOf(Color c) { return c & 0xFF; }
constexpr int GreenOf(Color c) { return (c >> 8) & 0xFF; }
constexpr int BlueOf(Color c) { return (c >> 16) & 0xFF; }

// The canvas: kCanvasSize x kCanvasSize pixels, offsets 0..kLastCanvasIndex
// from the left and from the bottom edge.
constexpr int kCanvasSize = 800;
constexpr int kLastCanvasIndex = kCanvasSize - 1;
// The window's classifier looks for periods 1..kWindowPeriodCap; with the
// fixed point located, a period-1 orbit takes the class kFixpointClass.
constexpr int kWindowPeriodCap = 16;
constexpr int kFixpointClass = kWindowPeriodCap + 1;

// Parameter vector: w11, w12, w21, w22, b1, b2.
using Weights = std::array<double, 6>;

// Exact comparison of two parameter vectors, bit for bit: +0 and -0 differ
// (the map can tell them apart), and a NaN equals the same NaN.
inline bool SameBits(const Weights& a, const Weights& b)
{
    return std::bit_cast<std::array<uint64_t, 6>>(a) == std::bit_cast<std::array<uint64_t, 6>>(b);
}

struct State {
    Weights w{};            // all zero until the first ReadWeights
    int16_t stepSize = 0;   // 1..100 after start-up
    int16_t iterations = 0; // 1..32767 after start-up
    int16_t accuracy = 0;   // 1..14 after start-up
    Color fixpointColor = 0;
    Color penColor = 0;
};

} // namespace model
