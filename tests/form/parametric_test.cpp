#include "model/network.h"
#include "form/parametric.h"
#include "form/plane.h"
#include "tests/form/dot_recorder.h"
#include "tests/reference.h"

#include <gtest/gtest.h>

#include <set>

using form::Control;
using model::RuntimeError;
using form::HeadlessWindow;
using testing_support::DotRecorder;
using testing_support::PictureOf;

namespace {

TEST(Parametric, DotSize1PutsTheRangeEndsExactlyOnTheEdges)
{
    DotRecorder win;
    win.setText(Control::txtStepSize, "1");
    win.setText(Control::txtIterations, "1");
    win.setText(Control::txtP0, "-0.3");
    win.setText(Control::txtP1, "0.7");
    win.setText(Control::txtP2, "2.25");
    win.setText(Control::txtP3, "-1.5");
    win.run(form::cmdParametric_Click);
    ASSERT_TRUE(win.errors.empty());
    ASSERT_EQ(win.dots.size(), 640000u);
    const auto& first = win.dots.front();
    EXPECT_EQ(first.column, 0);
    EXPECT_EQ(first.row, 799);
    EXPECT_EQ(first.w[4], -0.3); // exact: the left value
    EXPECT_EQ(first.w[5], 2.25); // exact: the bottom value
    const auto& last = win.dots.back();
    EXPECT_EQ(last.column, 799);
    EXPECT_EQ(last.row, 0);
    EXPECT_EQ(last.w[4], form::PlaneValue(-0.3, 0.7, 799));
    EXPECT_NEAR(last.w[4], 0.7, 1e-15);
    EXPECT_NEAR(last.w[5], -1.5, 1e-15);
    EXPECT_EQ(win.yieldCount, 800);
}

TEST(Parametric, DotSize20MapsDotCentresAndLeavesTheLastDotsValues)
{
    DotRecorder win;
    win.run(form::cmdParametric_Click);
    ASSERT_EQ(win.dots.size(), 1600u);
    EXPECT_EQ(win.dots.front().column, 10);
    EXPECT_EQ(win.dots.front().row, 789);
    EXPECT_NEAR(win.dots.front().w[4], -0.97497, 1e-5);
    EXPECT_NEAR(win.dots.front().w[5], -0.97497, 1e-5);
    EXPECT_EQ(win.dots.back().column, 790);
    EXPECT_EQ(win.dots.back().row, 9);
    EXPECT_NEAR(win.dots.back().w[4], 0.97747, 1e-5);
    // After the run w holds the values of column 790 and row 9, the other
    // four entries those of the fields.
    const model::Weights& w = win.state().w;
    EXPECT_EQ(w[4], ((1.0 - -1.0) * 790) / 799.0 + -1.0);
    EXPECT_EQ(w[5], ((1.0 - -1.0) * 790) / 799.0 + -1.0);
    EXPECT_EQ(w[0], 0.4);
    EXPECT_EQ(w[3], -4.311);
    EXPECT_EQ(win.recording.dotWidth(), 20);
    EXPECT_EQ(win.yieldCount, 40);
    // Every dot of a column has that column's horizontal value.
    for (const auto& d : win.dots)
        EXPECT_EQ(d.w[4], form::PlaneValue(-1.0, 1.0, d.column));
}

TEST(Parametric, AxisChoicesAndDirections)
{
    {   // equal indices: the row value wins, every column looks the same
        DotRecorder win;
        win.setText(Control::txtIdx1, "4");
        win.run(form::cmdParametric_Click);
        for (const auto& d : win.dots)
            EXPECT_EQ(d.w[4], form::PlaneValue(-1.0, 1.0, 799 - d.row));
        EXPECT_EQ(win.state().w[5], 1.8); // untouched b2 from its field
        for (int row = 9; row < 800; row += 20)
            for (int column = 30; column < 800; column += 20)
                EXPECT_EQ(win.canvas().pixel(column, row), win.canvas().pixel(10, row));
    }
    {   // left greater than right: the axis runs from right to left
        DotRecorder win;
        win.setText(Control::txtP0, "1");
        win.setText(Control::txtP1, "-1");
        win.setText(Control::txtIterations, "1");
        win.run(form::cmdParametric_Click);
        EXPECT_NEAR(win.dots.front().w[4], 0.97497, 1e-5);
        EXPECT_NEAR(win.dots.back().w[4], -0.97747, 1e-5);
    }
    {   // 4.5 rounds half to even to 4
        DotRecorder win;
        win.setText(Control::txtIdx0, "4.5");
        win.setText(Control::txtIdx1, "0");
        win.setText(Control::txtIterations, "1");
        win.run(form::cmdParametric_Click);
        ASSERT_TRUE(win.errors.empty());
        EXPECT_EQ(win.state().w[4], form::PlaneValue(-1.0, 1.0, 790));
        EXPECT_EQ(win.state().w[0], form::PlaneValue(-1.0, 1.0, 790));
        EXPECT_EQ(win.state().w[5], 1.8);
    }
}

TEST(Parametric, BadIndicesFailAtTheirFirstUseAfterTheClear)
{
    struct Case {
        const char *horizontal, *vertical;
        RuntimeError::Kind kind;
        bool horizontalSet;
    };
    const Case cases[] = {
        {"4", "5.5", RuntimeError::Kind::IndexOutOfRange, true},
        {"6", "5", RuntimeError::Kind::IndexOutOfRange, false},
        {"-1", "9", RuntimeError::Kind::IndexOutOfRange, false},
        {"4", "40000", RuntimeError::Kind::Overflow, false},
    };
    for (const Case& c : cases) {
        DotRecorder win;
        win.canvas().setDot(400, 400, model::Rgb(1, 2, 3)); // something to be cleared
        win.dots.clear();
        win.setText(Control::txtIdx0, c.horizontal);
        win.setText(Control::txtIdx1, c.vertical);
        win.state().w = {9, 9, 9, 9, 9, 9};
        win.run(form::cmdParametric_Click);
        ASSERT_EQ(win.errors.size(), 1u) << c.horizontal << c.vertical;
        EXPECT_EQ(win.errors[0].kind(), c.kind);
        EXPECT_TRUE(win.dots.empty());
        EXPECT_EQ(win.canvas().bits()[400 * 800 + 400], testing_support::kWhite);
        EXPECT_EQ(win.state().w[0], 0.4); // ReadWeights ran
        EXPECT_EQ(win.state().w[4], c.horizontalSet ? form::PlaneValue(-1.0, 1.0, 10) : -0.9);
        EXPECT_EQ(win.yieldCount, 0);
    }
}

TEST(Parametric, DefaultPicturesEqualThePlainLoop)
{
    for (int s : {20, 4}) {
        HeadlessWindow engine, plain;
        for (HeadlessWindow* w : {&engine, &plain})
            w->setText(Control::txtStepSize, std::to_string(s));
        engine.run(form::cmdParametric_Click);
        plain.run(reference::Parametric);
        EXPECT_EQ(PictureOf(engine.canvas()), PictureOf(plain.canvas())) << s;
        EXPECT_EQ(engine.state().w, plain.state().w);
        EXPECT_EQ(engine.state().fixpointColor, plain.state().fixpointColor);
        EXPECT_EQ(engine.yieldCount, plain.yieldCount);
        // Not a blank or single-coloured picture.
        const auto picture = PictureOf(engine.canvas());
        EXPECT_GT(std::set<uint32_t>(picture.begin(), picture.end()).size(), 2u);
    }
}

// Failures in the middle of a column: the dots below are drawn and w holds
// what the plain loop leaves.
TEST(Parametric, FailuresInsideAColumnStopWhereThePlainLoopStops)
{
    struct Case {
        const char *vertical, *bottom, *top;
    };
    const Case cases[] = {
        {"5", "-1e306", "0"}, // the mapping overflows above offset 179
        {"0", "0", "800"},    // w11 large enough overflows the transfer function
    };
    for (const Case& c : cases) {
        HeadlessWindow engine, plain;
        for (HeadlessWindow* w : {&engine, &plain}) {
            w->setText(Control::txtIdx1, c.vertical);
            w->setText(Control::txtP2, c.bottom);
            w->setText(Control::txtP3, c.top);
            w->setText(Control::txtIterations, "20");
        }
        engine.run(form::cmdParametric_Click);
        plain.run(reference::Parametric);
        ASSERT_EQ(engine.errors.size(), 1u) << c.top;
        ASSERT_EQ(plain.errors.size(), 1u);
        EXPECT_EQ(engine.errors[0].kind(), RuntimeError::Kind::FloatingPoint);
        EXPECT_EQ(PictureOf(engine.canvas()), PictureOf(plain.canvas()));
        EXPECT_EQ(engine.state().w, plain.state().w);
        EXPECT_EQ(engine.yieldCount, plain.yieldCount);
        EXPECT_NE(engine.canvas().bits()[789 * 800 + 10], testing_support::kWhite);
        EXPECT_EQ(engine.canvas().bits()[9 * 800 + 10], testing_support::kWhite);
    }
}

TEST(Parametric, ANestedRunLeavesWForTheResumedColumns)
{
    HeadlessWindow win, plain;
    for (HeadlessWindow* w : {&win, &plain}) {
        w->setText(Control::txtIterations, "50");
        w->onYield = [w] {
            if (w->yieldCount == 3)
                w->state().w[0] = 0.9; // what a nested command leaves behind
        };
    }
    win.run(form::cmdParametric_Click);
    plain.run(reference::Parametric);
    EXPECT_EQ(win.state().w[0], 0.9);
    EXPECT_EQ(PictureOf(win.canvas()), PictureOf(plain.canvas()));
}

} // namespace
