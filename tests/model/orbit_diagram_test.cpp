#include "model/orbit_diagram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using model::kernel::OrbitColumn;
using model::kernel::OrbitColumnSetup;
using model::kernel::OrbitRow;

TEST(OrbitDiagram, RowsFollowTheFormulaWithTheTopEdgeInAndTheOutsideOut)
{
    OrbitColumnSetup setup;
    setup.low = -1;
    setup.high = 1;
    setup.rows = 10;
    struct Case {
        double v;
        int row;
    } cases[] = {{-1.0, 0}, {-0.75, 1}, {-0.61, 1}, {0.0, 5}, {0.999, 9}, {1.0, 9},
                 {1.0000001, -1}, {-1.0000001, -1}, {NAN, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(OrbitRow(setup, c.v), c.row) << c.v;
}

// Decoupled neurons x' = tanh(2x), y' = tanh(-2y): x settles on the fixed
// point s = tanh(2s) (its sign that of the start), y on the 2-cycle +-c with
// c = tanh(2c) = s. Every counted state of an orbit lands in one row for x,
// and in two rows, half each, for y.
TEST(OrbitDiagram, AFixedPointLightsOneRowAndATwoCycleTwo)
{
    double s = 0.9;
    for (int i = 0; i < 200; ++i)
        s = std::tanh(2 * s);
    const model::Weights w{2, 0, 0, -2, 0, 0};
    OrbitColumnSetup setup;
    setup.iterations = 500;
    setup.points = 100;
    setup.rows = 400;
    for (bool showY : {false, true}) {
        setup.showY = showY;
        std::vector<uint32_t> counts(setup.rows);
        std::vector<double> states(2 * setup.points * 2);
        double x[2] = {0.3, -0.2}, y[2] = {0.1, 0.4};
        ASSERT_EQ(OrbitColumn(w, setup, x, y, 2, counts.data(), states.data()), -1);
        std::vector<int> lit;
        for (int r = 0; r < setup.rows; ++r)
            if (counts[r])
                lit.push_back(r);
        const int up = OrbitRow(setup, s), down = OrbitRow(setup, -s);
        if (!showY) {
            ASSERT_EQ(lit, (std::vector<int>{down, up}));
            EXPECT_EQ(counts[up], 100u);
            EXPECT_EQ(counts[down], 100u);
        } else {
            ASSERT_EQ(lit, (std::vector<int>{down, up}));
            EXPECT_EQ(counts[up], 100u);
        }
        // The final states continue the recorded ones, and the raw states are
        // those counted.
        EXPECT_EQ(states[(0 * 100 + 99) * 2], x[0]);
        EXPECT_EQ(states[(1 * 100 + 99) * 2 + 1], y[1]);
    }
}

TEST(OrbitDiagram, AnOverflowingOrbitNamesItsStart)
{
    const model::Weights w{1e308, 1e308, 0, 0, 1e308, 0};
    OrbitColumnSetup setup;
    std::vector<uint32_t> counts(setup.rows);
    double x[2] = {0.5, 0.5}, y[2] = {0.5, 0.5};
    EXPECT_EQ(OrbitColumn(w, setup, x, y, 2, counts.data(), nullptr), 0);
}

} // namespace
