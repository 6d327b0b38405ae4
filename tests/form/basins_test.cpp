#include "model/network.h"
#include "form/basins.h"
#include "form/headless_window.h"
#include "plots/raster.h"
#include "tests/form/dot_recorder.h"
#include "tests/reference.h"

#include <gtest/gtest.h>

#include <bit>
#include <set>
#include <vector>

using form::Control;
using model::Rgb;
using form::HeadlessWindow;

namespace {

using testing_support::PictureOf;

TEST(Raster, GeometryOfEveryDotSize)
{
    struct Row { int s, h, count, first, last; };
    const Row table[] = {{1, 0, 800, 0, 799},  {2, 1, 400, 1, 799},  {3, 2, 267, 2, 800},
                         {4, 2, 200, 2, 798},  {5, 2, 160, 2, 797},  {7, 4, 115, 4, 802},
                         {20, 10, 40, 10, 790}, {99, 50, 9, 50, 842}, {100, 50, 8, 50, 750}};
    for (const Row& r : table) {
        const plots::Raster raster = plots::MakeRaster(800, r.s);
        EXPECT_EQ(raster.half, r.h) << r.s;
        EXPECT_EQ(raster.columns(), r.count) << r.s;
        EXPECT_EQ(raster.rows(), r.count) << r.s;
        EXPECT_EQ(raster.columnOffset(r.count - 1), r.last) << r.s;
        EXPECT_EQ(raster.pixelRow(r.count - 1), 799 - r.last) << r.s;
    }
    int beyond = 0;
    for (int s = 1; s <= 100; ++s) {
        const int h = plots::HalfDot(static_cast<int16_t>(s));
        EXPECT_EQ(h, s % 2 == 0 ? s / 2 : ((s - 1) / 2 % 2 == 0 ? (s - 1) / 2 : (s + 1) / 2));
        const int last = (799 / s) * s + h;
        if (last > 799)
            ++beyond;
    }
    EXPECT_EQ(beyond, 44);
    EXPECT_EQ(plots::StateCoordinate(0), -1.0);
    EXPECT_EQ(plots::StateCoordinate(799), 1.0);
    EXPECT_NEAR(plots::StateCoordinate(10), -0.97497, 1e-5);
    EXPECT_NEAR(plots::StateCoordinate(790), 0.97747, 1e-5);
    // The one mapping is, on the canvas, the state plane's own formula bit for
    // bit, at every offset a dot of any size can have.
    for (int offset = 0; offset <= 850; ++offset)
        ASSERT_EQ(std::bit_cast<uint64_t>(plots::StateCoordinate(offset)),
                  std::bit_cast<uint64_t>(static_cast<double>(2 * offset) / 799.0 - 1.0))
            << offset;
}

using testing_support::DotRecorder;

TEST(Basins, DotSize20WalksColumnsBottomUp)
{
    DotRecorder win;
    win.state().iterations = 1;
    win.run(form::cmdVeltrane_Click);
    ASSERT_EQ(win.dots.size(), 1600u);
    EXPECT_EQ(win.dots.front().column, 10);
    EXPECT_EQ(win.dots.front().row, 789);
    EXPECT_EQ(win.dots[1].row, 769);
    EXPECT_EQ(win.dots[40].column, 30);
    EXPECT_EQ(win.dots.back().column, 790);
    EXPECT_EQ(win.dots.back().row, 9);
    EXPECT_EQ(win.dots.back().width, 20);
    EXPECT_EQ(win.yieldCount, 40);
    EXPECT_EQ(win.recording.dotWidth(), 20);
}

TEST(Basins, AllZeroParametersFillTheCanvas)
{
    for (int s : {20, 3, 1}) {
        HeadlessWindow win;
        for (int i = 0; i < 6; ++i)
            win.setText(form::txtW(i), "0");
        win.setText(Control::txtStepSize, std::to_string(s));
        win.state().iterations = 1;
        win.run(form::cmdVeltrane_Click);
        std::set<uint32_t> colours(win.canvas().bits(), win.canvas().bits() + 640000);
        EXPECT_EQ(colours, std::set<uint32_t>{plots::Canvas::ToPixel(Rgb(150, 75, 0))}) << s;
        win.run(form::cmdFixpointBasins_Click);
        colours = std::set<uint32_t>(win.canvas().bits(), win.canvas().bits() + 640000);
        EXPECT_EQ(colours, std::set<uint32_t>{plots::Canvas::ToPixel(Rgb(125, 125, 150))}) << s;
        EXPECT_EQ(win.state().fixpointColor, Rgb(125, 125, 150));
    }
}

TEST(Basins, DefaultPictureEqualsThePlainLoop)
{
    for (int s : {20, 4}) {
        for (bool fp : {false, true}) {
            HeadlessWindow engine, plain;
            for (HeadlessWindow* w : {&engine, &plain})
                w->setText(Control::txtStepSize, std::to_string(s));
            engine.run(fp ? form::cmdFixpointBasins_Click : form::cmdVeltrane_Click);
            plain.run([&](form::Window& w) { reference::BasinPlot(w, fp); });
            EXPECT_EQ(PictureOf(engine.canvas()), PictureOf(plain.canvas())) << s << fp;
            EXPECT_EQ(engine.state().fixpointColor, plain.state().fixpointColor);
            EXPECT_EQ(engine.state().w, plain.state().w);
            EXPECT_EQ(engine.yieldCount, plain.yieldCount);
        }
    }
}

TEST(Basins, ClearBetweenColumnsBlanksTheEarlierColumns)
{
    HeadlessWindow win;
    win.state().iterations = 1;
    win.onYield = [&] {
        if (win.yieldCount == 10)
            win.canvas().clear(); // what "Clear" does
    };
    win.run(form::cmdVeltrane_Click);
    const uint32_t white = plots::Canvas::ToPixel(Rgb(255, 255, 255));
    for (int col : {10, 190}) // columns 1..10 were drawn before the clear
        EXPECT_EQ(win.canvas().bits()[400 * 800 + col], white) << col;
    for (int col : {210, 790})
        EXPECT_NE(win.canvas().bits()[400 * 800 + col], white) << col;
}

TEST(Basins, StepSizeEditDuringARunRespacesTheRowsOnly)
{
    DotRecorder win;
    win.state().iterations = 1;
    win.onYield = [&] {
        if (win.yieldCount == 1)
            win.setText(Control::txtStepSize, "10");
    };
    win.run(form::cmdVeltrane_Click);
    // Column 1: 40 rows; the 39 later columns: 80 rows each, still 20 apart.
    ASSERT_EQ(win.dots.size(), 40u + 39u * 80u);
    EXPECT_EQ(win.dots[40].column, 30);
    EXPECT_EQ(win.dots[40].row, 789);
    EXPECT_EQ(win.dots[41].row, 779);
    EXPECT_EQ(win.dots[41].width, 20);
    EXPECT_EQ(win.dots.back().column, 790);
    EXPECT_EQ(win.yieldCount, 40);
}

TEST(Basins, ANestedPlotRunsToItsEndAndTheFirstResumesWithItsWeights)
{
    HeadlessWindow win;
    win.state().iterations = 1;
    bool nested = false;
    win.onYield = [&] {
        if (win.yieldCount == 5 && !nested) {
            nested = true;
            win.setText(Control::txtW0, "0.123");
            win.run(form::cmdFixpointBasins_Click);
        }
    };
    win.run(form::cmdVeltrane_Click);
    EXPECT_EQ(win.yieldCount, 80);
    EXPECT_EQ(win.state().w[0], 0.123);
    // The first run's later columns were drawn with the nested run's weights.
    HeadlessWindow expected;
    expected.state().iterations = 1;
    expected.setText(Control::txtW0, "0.123");
    expected.run(form::cmdVeltrane_Click);
    for (int row = 9; row < 800; row += 20)
        EXPECT_EQ(win.canvas().pixel(790, row), expected.canvas().pixel(790, row)) << row;
}

TEST(Basins, AFailingClassificationKeepsTheDotsBefore)
{
    HeadlessWindow win, plain;
    for (HeadlessWindow* w : {&win, &plain}) {
        w->setText(Control::txtW0, "700");
        w->state().iterations = 10;
    }
    win.run(form::cmdVeltrane_Click);
    plain.run([](form::Window& w) { reference::BasinPlot(w, false); });
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.errors[0].kind(), model::RuntimeError::Kind::FloatingPoint);
    EXPECT_EQ(PictureOf(win.canvas()), PictureOf(plain.canvas()));
    EXPECT_EQ(win.yieldCount, plain.yieldCount);
    // The left half is drawn, the right half is not.
    const uint32_t white = plots::Canvas::ToPixel(Rgb(255, 255, 255));
    EXPECT_NE(win.canvas().bits()[400 * 800 + 10], white);
    EXPECT_EQ(win.canvas().bits()[400 * 800 + 790], white);
    // The window goes on: the next command runs normally.
    win.setText(Control::txtW0, "0.4");
    win.run(form::cmdVeltrane_Click);
    EXPECT_EQ(win.errors.size(), 1u);
    EXPECT_NE(win.canvas().bits()[400 * 800 + 790], white);
}

} // namespace
