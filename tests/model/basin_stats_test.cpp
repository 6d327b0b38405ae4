// Basin fractions and entropies of small pictures computed by hand.
#include "model/basin_stats.h"
#include "model/errors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace model::analysis;

TEST(BasinStatistics, HandComputedPicture)
{
    // 6 x 5, boxes of 2: three across, two down; the bottom row is left out
    // of the boxes but counts in the fractions.
    const std::vector<uint8_t> classes = {
        1, 1, 1, 2, 3, 3, //
        1, 1, 2, 2, 3, 3, //
        1, 2, 5, 5, 7, 7, //
        3, 4, 5, 5, 7, 9, //
        9, 9, 9, 9, 9, 9, //
    };
    const BasinStatistics s = ComputeBasinStatistics<uint8_t>(classes, 6, 5, 2);
    const std::vector<std::pair<int64_t, double>> fractions = {
        {1, 6 / 30.0}, {2, 4 / 30.0}, {3, 5 / 30.0}, {4, 1 / 30.0}, {5, 4 / 30.0}, {7, 3 / 30.0}, {9, 7 / 30.0}};
    EXPECT_EQ(s.fractions, fractions);
    // Boxes: {1}, {1,2,2,2}, {3}, {1,2,3,4}, {5}, {7,7,7,9}.
    const double quarter = 0.25 * std::log(4.0) + 0.75 * std::log(4 / 3.0);
    const double mixed = 2 * quarter + std::log(4.0);
    EXPECT_EQ(s.boxes, 6);
    EXPECT_EQ(s.boundaryBoxes, 3);
    EXPECT_NEAR(s.basinEntropy, mixed / 6, 1e-15);
    EXPECT_NEAR(s.boundaryBasinEntropy, mixed / 3, 1e-15);

    // Wide keys (a stability plane's four counts), boxes of one pixel, and a
    // box larger than the picture.
    const std::vector<int64_t> wide = {int64_t{1} << 40, 7, 7, int64_t{1} << 40};
    const BasinStatistics single = ComputeBasinStatistics<int64_t>(wide, 2, 2, 1);
    EXPECT_EQ(single.fractions, (std::vector<std::pair<int64_t, double>>{{7, 0.5}, {int64_t{1} << 40, 0.5}}));
    EXPECT_EQ(single.boxes, 4);
    EXPECT_EQ(single.boundaryBoxes, 0);
    EXPECT_EQ(single.basinEntropy, 0);
    const BasinStatistics whole = ComputeBasinStatistics<int64_t>(wide, 2, 2, 2);
    EXPECT_NEAR(whole.basinEntropy, std::log(2.0), 1e-15);
    EXPECT_NEAR(whole.boundaryBasinEntropy, std::log(2.0), 1e-15);
    const BasinStatistics none = ComputeBasinStatistics<int64_t>(wide, 2, 2, 3);
    EXPECT_EQ(none.boxes, 0);
    EXPECT_EQ(none.basinEntropy, 0);
    EXPECT_EQ(none.boundaryBasinEntropy, 0);

    EXPECT_THROW(ComputeBasinStatistics<int64_t>(wide, 3, 2, 1), model::RuntimeError);
    EXPECT_THROW(ComputeBasinStatistics<int64_t>(wide, 2, 2, 0), model::RuntimeError);
}
