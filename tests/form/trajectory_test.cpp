#include "model/network.h"
#include "form/fixpoints.h"
#include "form/headless_window.h"
#include "form/trajectory.h"
#include "tests/form/dot_recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

using form::Control;
using model::Rgb;
using testing_support::DotRecorder;

namespace {

using Pixel = std::pair<int, int>; // column, row

void setWeights(form::HeadlessWindow& win, const std::vector<std::string>& w)
{
    for (int i = 0; i < 6; ++i)
        win.setText(form::txtW(i), w[i]);
}

// One step of the network, written out: both sums from the old state.
std::pair<double, double> step(const model::Weights& w, double x, double y)
{
    bool ok = true;
    const double a = (w[0] * x + w[1] * y) + w[4];
    const double b = (w[2] * x + w[3] * y) + w[5];
    return {model::kernel::Transfer(a, ok), model::kernel::Transfer(b, ok)};
}

// The pixel a state is drawn on: nearest pixel, halves upwards, row from the top.
Pixel pixelOf(double x, double y)
{
    return {static_cast<int>(std::floor(((x + 1.0) * 799.0) / 2.0 + 0.5)),
            799 - static_cast<int>(std::floor(((y + 1.0) * 799.0) / 2.0 + 0.5))};
}

std::vector<Pixel> pixelsOf(const DotRecorder& win)
{
    std::vector<Pixel> out;
    for (const auto& d : win.dots)
        out.emplace_back(d.column, d.row);
    return out;
}

TEST(Trajectory, AnAttractorOfPeriodKShowsKDots)
{
    struct Row { std::vector<std::string> w; size_t dots; };
    const Row table[] = {
        {{"0", "0", "0", "0", "0", "0"}, 1},   // everything goes to (0, 0)
        {{"0.5", "0", "0", "0.5", "0", "0"}, 1}, // slow contraction to (0, 0)
        {{"-5", "0", "0", "0", "0", "0"}, 2},  // x flips sign every step
        {{"0", "5", "-5", "0", "0", "0"}, 4},  // the four corners in turn
    };
    for (const Row& r : table) {
        DotRecorder win;
        setWeights(win, r.w);
        win.setText(Control::txtStepSize, "7");
        form::TraceTrajectory(win, 0.3, 0.8);
        ASSERT_EQ(win.dots.size(), 5000u);
        const std::vector<Pixel> px = pixelsOf(win);
        EXPECT_EQ(std::set<Pixel>(px.begin(), px.end()).size(), r.dots) << r.w[0] << r.w[1];
        for (const auto& d : win.dots)
            EXPECT_EQ(d.width, 7);
        EXPECT_EQ(win.recording.dotWidth(), 7);
        EXPECT_EQ(win.yieldCount, 0); // a trace never yields
    }
}

TEST(Trajectory, DotsEqualAPlainLoopAndStartExactlyAtTheEdges)
{
    // Start points: the pixel (X, Y) gives u = X / 799 and v = (799 - Y) / 799;
    // column 0 and row 0 are x = -1 and y = 1 exactly.
    struct Row { int column, row; const char* iterations; };
    const Row table[] = {{0, 0, "1000"}, {799, 799, "1"}, {0, 799, "3"}, {250, 600, "1"}};
    for (const Row& r : table) {
        DotRecorder win;
        win.setText(Control::txtIterations, r.iterations);
        win.state().penColor = Rgb(9, 8, 7);
        const double u = r.column / 799.0, v = (799 - r.row) / 799.0;
        form::TraceTrajectory(win, u, v);

        const model::Weights& w = win.state().w; // the default parameters
        double x = 2.0 * r.column / 799.0 - 1.0, y = 2.0 * (799 - r.row) / 799.0 - 1.0;
        if (r.column == 0) {
            EXPECT_EQ(x, -1.0);
        }
        if (r.row == 0) {
            EXPECT_EQ(y, 1.0);
        }
        const Pixel firstImage = [&] {
            auto [x1, y1] = step(w, x, y);
            return pixelOf(x1, y1);
        }();
        for (int n = 0; n < std::stoi(r.iterations); ++n)
            std::tie(x, y) = step(w, x, y);
        std::vector<Pixel> expected;
        for (int n = 0; n < form::kTraceDots; ++n) {
            std::tie(x, y) = step(w, x, y);
            expected.push_back(pixelOf(x, y));
        }
        EXPECT_EQ(pixelsOf(win), expected) << r.column << "," << r.row;
        EXPECT_EQ(win.dots.front().color, Rgb(9, 8, 7));
        if (std::string(r.iterations) == "1") { // the first dot is two steps on
            EXPECT_NE(Pixel(win.dots.front().column, win.dots.front().row), firstImage);
        }
    }
}

TEST(Trajectory, APressDuringAPlotTracesInFullAndThePlotResumesWithItsLeftovers)
{
    // "Fixpt" draws with width 1 and the weights of its start; a trace in
    // between loads other weights and leaves the width at stepSize.
    DotRecorder win;
    setWeights(win, {"0", "0", "0", "0", "0", "0"});
    win.setText(Control::txtAccuracy, "1");
    size_t plotDotsBefore = 0;
    win.onYield = [&] {
        if (win.yieldCount == 400) {
            plotDotsBefore = win.dots.size();
            win.setText(Control::txtW4, "0.3");
            form::TraceTrajectory(win, 0.5, 0.5);
        }
    };
    win.run(form::cmdFixpoints_Click);
    ASSERT_TRUE(win.errors.empty());
    EXPECT_EQ(win.yieldCount, 800);
    EXPECT_EQ(win.state().w[4], 0.3);
    EXPECT_EQ(win.recording.dotWidth(), 20);

    // The 5000 trace dots come as one block between columns 399 and 400.
    ASSERT_GT(win.dots.size(), plotDotsBefore + 5000);
    for (size_t k = 0; k < plotDotsBefore; ++k) {
        EXPECT_LT(win.dots[k].column, 400);
        EXPECT_EQ(win.dots[k].width, 1);
    }
    const Pixel tracePixel = pixelOf(std::tanh(0.3), 0.0);
    for (size_t k = plotDotsBefore; k < plotDotsBefore + 5000; ++k)
        EXPECT_EQ(Pixel(win.dots[k].column, win.dots[k].row), tracePixel) << k;

    // The rest of the plot: 20 pixels wide, with the weights the trace loaded.
    DotRecorder shifted;
    setWeights(shifted, {"0", "0", "0", "0", "0.3", "0"});
    shifted.setText(Control::txtAccuracy, "1");
    shifted.run(form::cmdFixpoints_Click);
    std::vector<Pixel> expected;
    for (const auto& d : shifted.dots)
        if (d.column >= 400)
            expected.emplace_back(d.column, d.row);
    std::vector<Pixel> resumed;
    for (size_t k = plotDotsBefore + 5000; k < win.dots.size(); ++k) {
        resumed.emplace_back(win.dots[k].column, win.dots[k].row);
        EXPECT_EQ(win.dots[k].width, 20);
    }
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(resumed, expected);
}

TEST(Trajectory, AnOverflowKeepsTheDotsDrawnAndReports)
{
    // y' = tanh(y + 1) climbs from -1 to 0, 0.76, 0.94, ...; x' = tanh(400 y)
    // overflows the exponential once y passes 0.887, at the fourth step. With
    // one transient step the second and third states are drawn first.
    DotRecorder win;
    setWeights(win, {"0", "400", "0", "1", "0", "1"});
    win.setText(Control::txtIterations, "1");
    win.run([](form::Window& w) { form::TraceTrajectory(w, 0.5, 0.0); });
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.errors[0].kind(), model::RuntimeError::Kind::FloatingPoint);
    EXPECT_EQ(win.dots.size(), 2u);
}

} // namespace
