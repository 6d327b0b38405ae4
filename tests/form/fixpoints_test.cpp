#include "form/fixpoints.h"
#include "form/headless_window.h"
#include "plots/raster.h"
#include "tests/form/dot_recorder.h"
#include "tests/reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using form::Control;
using model::Rgb;
using form::HeadlessWindow;
using testing_support::DotRecorder;

namespace {

using testing_support::PictureOf;

void setWeights(HeadlessWindow& win, const std::vector<std::string>& w)
{
    for (int i = 0; i < 6; ++i)
        win.setText(form::txtW(i), w[i]);
}

TEST(Fixpoints, AllZeroParametersMarkOnlyThePixelsAroundTheOrigin)
{
    // With w = 0 one step takes every point to (0, 0), so a pixel is marked
    // when its own point lies within the tolerance of the origin. The nearest
    // pixels lie 1/799 from both axes: at accuracy 8 none is close enough, at
    // accuracy 5 exactly the four around the origin are.
    struct Row { const char* accuracy; std::vector<std::pair<int, int>> marked; };
    const Row table[] = {{"8", {}}, {"5", {{399, 399}, {399, 400}, {400, 399}, {400, 400}}}};
    for (const Row& row : table) {
        DotRecorder win;
        setWeights(win, {"0", "0", "0", "0", "0", "0"});
        win.setText(Control::txtAccuracy, row.accuracy);
        win.run(form::cmdFixpoints_Click);
        std::vector<std::pair<int, int>> marked;
        for (const auto& d : win.dots) {
            marked.emplace_back(d.column, d.row);
            EXPECT_EQ(d.width, 1);
            EXPECT_EQ(d.color, 0); // penColor is black before a colour is picked
        }
        std::sort(marked.begin(), marked.end());
        EXPECT_EQ(marked, row.marked) << row.accuracy;
        EXPECT_EQ(win.yieldCount, 800);
        EXPECT_TRUE(win.errors.empty());
    }
}

TEST(Fixpoints, WhenNothingPassesTheCanvasIsUnchanged)
{
    HeadlessWindow win;
    win.setText(Control::txtStepSize, "20");
    win.canvas().setDotWidth(20);
    win.canvas().setDot(400, 400, Rgb(1, 2, 3));
    const std::vector<uint32_t> before = PictureOf(win.canvas());
    setWeights(win, {"0", "0", "0", "0", "0", "0"}); // nothing passes at accuracy 8
    win.run(form::cmdFixpoints_Click);
    EXPECT_EQ(PictureOf(win.canvas()), before);
    EXPECT_EQ(win.canvas().dotWidth(), 1);
}

TEST(Fixpoints, AccuracyOneMarksTheDiscOverWhatTheCanvasShows)
{
    HeadlessWindow win;
    setWeights(win, {"0", "0", "0", "0", "0", "0"});
    win.setText(Control::txtAccuracy, "1");
    win.canvas().setDot(5, 5, Rgb(0, 200, 0)); // outside the disc: must survive
    const model::Color red = Rgb(255, 0, 0);
    win.onYield = [&] {
        if (win.yieldCount == 400)
            win.state().penColor = red; // read at every mark
    };
    win.run(form::cmdFixpoints_Click);

    int marked = 0;
    for (int c = 0; c < 800; ++c) {
        for (int row = 0; row < 800; ++row) {
            const double x = plots::StateCoordinate(c);
            const double y = plots::StateCoordinate(799 - row);
            const double d2 = x * x + y * y; // tolerant: away from the rim only
            const model::Color px = win.canvas().pixel(c, row);
            if (d2 < 0.1 - 1e-9) {
                EXPECT_EQ(px, c < 400 ? 0 : red) << c << "," << row;
            } else if (d2 > 0.1 + 1e-9) {
                EXPECT_NE(px, c < 400 ? 0 : red) << c << "," << row;
            }
            marked += (px == 0 || px == red);
        }
    }
    // pi * 0.1 / (2 / 799)^2: the disc of radius sqrt(0.1) ~ 0.316.
    EXPECT_NEAR(marked, 50140, 300);
    EXPECT_EQ(win.canvas().pixel(5, 5), Rgb(0, 200, 0));
}

TEST(Fixpoints, StepSizeDoesNotChangeTheRaster)
{
    HeadlessWindow one, twenty;
    for (HeadlessWindow* w : {&one, &twenty})
        w->setText(Control::txtAccuracy, "2");
    twenty.setText(Control::txtStepSize, "20");
    one.setText(Control::txtStepSize, "1");
    one.run(form::cmdFixpoints_Click);
    twenty.run(form::cmdFixpoints_Click);
    EXPECT_EQ(PictureOf(twenty.canvas()), PictureOf(one.canvas()));
    EXPECT_EQ(twenty.canvas().dotWidth(), 1);
    // The default parameters have near-fixed points: the comparison is not
    // between two blank canvases.
    EXPECT_NE(PictureOf(one.canvas()), PictureOf(HeadlessWindow().canvas()));
}

TEST(Fixpoints, CornerPixelsStandForTheCornersOfTheSquare)
{
    // Biases of +-20 send every point to a corner exactly; only the pixel
    // that stands for that corner is then marked.
    struct Row { const char* b1; const char* b2; int column, row; };
    const Row table[] = {{"-20", "20", 0, 0},
                         {"-20", "-20", 0, 799},
                         {"20", "20", 799, 0},
                         {"20", "-20", 799, 799}};
    for (const Row& r : table) {
        DotRecorder win;
        setWeights(win, {"0", "0", "0", "0", r.b1, r.b2});
        win.run(form::cmdFixpoints_Click);
        ASSERT_EQ(win.dots.size(), 1u) << r.b1 << r.b2;
        EXPECT_EQ(win.dots[0].column, r.column);
        EXPECT_EQ(win.dots[0].row, r.row);
    }
}

TEST(Fixpoints, ErrorInAColumnKeepsTheMarksBelowIt)
{
    // w12 = 700: the first neuron's sum overflows the exponential for
    // y > 0.507, half-way up the very first column, after marks below it.
    HeadlessWindow win, plain;
    for (HeadlessWindow* w : {&win, &plain}) {
        setWeights(*w, {"0", "700", "0", "0", "0", "0"});
        w->setText(Control::txtAccuracy, "1");
    }
    win.run(form::cmdFixpoints_Click);
    plain.run(reference::FixedPointMap);
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.errors[0].kind(), model::RuntimeError::Kind::FloatingPoint);
    ASSERT_EQ(plain.errors.size(), 1u);
    EXPECT_EQ(PictureOf(win.canvas()), PictureOf(plain.canvas()));
    EXPECT_EQ(win.yieldCount, 0);
    EXPECT_EQ(win.canvas().pixel(0, 500), 0); // y ~ -0.25: marked before the error
    EXPECT_NE(win.canvas().pixel(1, 500), 0); // the next column never came
}

TEST(Fixpoints, DefaultParametersEqualThePlainLoop)
{
    for (const char* accuracy : {"1", "3"}) {
        HeadlessWindow win, plain;
        for (HeadlessWindow* w : {&win, &plain}) {
            w->setText(Control::txtAccuracy, accuracy);
            w->state().penColor = Rgb(10, 20, 30);
        }
        win.run(form::cmdFixpoints_Click);
        plain.run(reference::FixedPointMap);
        EXPECT_EQ(PictureOf(win.canvas()), PictureOf(plain.canvas())) << accuracy;
    }
}

} // namespace
