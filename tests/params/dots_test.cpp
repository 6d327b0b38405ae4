// Every mode's dot function gives the same dots however a column is cut into
// runs: the window evaluates a column in parts, the renderer in chunks that
// start at any row, and both commit as if the column were one run.
#include "params/dots.h"
#include "plots/dots.h"

#include <gtest/gtest.h>

#include <bit>
#include <set>
#include <tuple>
#include <vector>

namespace {

using plots::DotResult;

auto key(const DotResult& d)
{
    return std::tuple(d.cls, d.failure, d.hasFixpoint, d.fpColor,
                      std::bit_cast<uint64_t>(d.lambda)); // exact
}

TEST(Dots, EveryCutOfAColumnGivesTheSameDots)
{
    struct Mode {
        const char* name;
        plots::DotFunction dots;
        bool reshuffle;
    };
    const Mode modes[] = {
        {"veltrane", plots::VeltraneDots, false},
        {"fpbas", plots::FpBasDots, false},
        {"fixpt", plots::FixptDots, false},
        {"long period", plots::LongPeriodDots, false},
        {"lyapunov", plots::LyapunovDots, false},
        {"parametric", params::ParametricDots, false},
        {"long parametric", params::LongParametricDots, false},
        {"lyapunov plane", params::LyapunovPlaneDots, false},
        {"coexisting", params::CoexistingDots, false},
        {"coexisting reshuffled", params::CoexistingDots, true},
    };
    model::RandomGenerator random;
    std::vector<double> startX, startY;
    params::DrawStartPoints(random, 4, startX, startY);
    // A region and a range with several classes and fixed points.
    const plots::Raster raster = plots::MakeRaster(81, 2, -1.2, 1.2, -1.2, 1.2);
    for (const Mode& m : modes) {
        const plots::DotInputs in{.w = {0.4, 1.9, -2.7, -4.311, -0.9, 1.8},
                                  .iterations = 40, .accuracy = 1, .maxPeriod = 40,
                                  .lyapunovSteps = 30, .horizontalIndex = 0, .verticalIndex = 4,
                                  .x0 = 0.5, .y0 = -0.25, .startValues = 4,
                                  .startX = startX.data(), .startY = startY.data(),
                                  .reshuffle = m.reshuffle, .countFixpoints = true,
                                  .random = random.state()};
        std::set<decltype(key(DotResult{}))> seen;
        for (int c = 0; c < raster.columns(); ++c) {
            std::vector<DotResult> whole(raster.rows()), cut(raster.rows());
            m.dots(in, raster, c, 0, raster.rows(), whole.data());
            for (int row = 0, run = 1; row < raster.rows(); row += run, run = run % 5 + 1)
                m.dots(in, raster, c, row, std::min(run, raster.rows() - row), &cut[row]);
            for (int r = 0; r < raster.rows(); ++r) {
                ASSERT_EQ(key(cut[r]), key(whole[r]))
                    << m.name << ", column " << c << ", row " << r;
                seen.insert(key(whole[r]));
            }
        }
        EXPECT_GE(seen.size(), 2u) << m.name; // the comparison saw different dots
    }
}

} // namespace
