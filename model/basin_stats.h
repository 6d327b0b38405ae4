// Statistics of a picture of classes: how much of it each class takes, and
// how mixed its basins are (the basin entropy S_b and the boundary basin
// entropy S_bb).
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace model::analysis {

struct BasinStatistics {
    // Each class that occurs, ascending, with its share of all the pixels.
    std::vector<std::pair<int64_t, double>> fractions;
    // The mean box entropy over all boxes, and over the boundary boxes (those
    // holding more than one class); 0 where there are no such boxes.
    double basinEntropy = 0;
    double boundaryBasinEntropy = 0;
    int64_t boxes = 0;
    int64_t boundaryBoxes = 0;
};

// The statistics of a width x height picture of classes, row by row from the
// top row (classes[row * width + column]). Boxes of box x box pixels tile it
// from its top-left corner; the rows and columns of a remainder at the right
// or bottom edge belong to no box. A box's entropy is the sum over its classes
// of p log(1/p), p being the class's share of the box (natural log). The sums
// run in a fixed order (boxes row by row, classes ascending), so the result
// depends on the picture alone. Throws RuntimeError (IndexOutOfRange) where the
// sizes do not fit the data or box < 1.
template <class Class>
BasinStatistics ComputeBasinStatistics(std::span<const Class> classes, int width, int height,
                                       int box);

extern template BasinStatistics ComputeBasinStatistics(std::span<const uint8_t>, int, int, int);
extern template BasinStatistics ComputeBasinStatistics(std::span<const int16_t>, int, int, int);
extern template BasinStatistics ComputeBasinStatistics(std::span<const uint16_t>, int, int, int);
extern template BasinStatistics ComputeBasinStatistics(std::span<const int32_t>, int, int, int);
extern template BasinStatistics ComputeBasinStatistics(std::span<const uint32_t>, int, int, int);
extern template BasinStatistics ComputeBasinStatistics(std::span<const int64_t>, int, int, int);

} // namespace model::analysis
