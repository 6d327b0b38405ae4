#include "model/network.h"
#include "form/coexisting.h"
#include "form/plane.h"
#include "model/random.h"
#include "tests/form/dot_recorder.h"
#include "tests/reference.h"

#include <gtest/gtest.h>

#include <set>

using form::Control;
using model::RandomGenerator;
using model::Rgb;
using model::RuntimeError;
using form::HeadlessWindow;
using testing_support::PictureOf;

namespace {

std::set<uint32_t> coloursOf(plots::Canvas& c)
{
    const auto p = PictureOf(c);
    return std::set<uint32_t>(p.begin(), p.end());
}

uint32_t pixelOf(model::Color c) { return plots::Canvas::ToPixel(c); }

// The generator position after count more draws from a given state.
RandomGenerator::State after(RandomGenerator::State from, uint64_t count)
{
    RandomGenerator g;
    g.restore(from);
    g.skip(count);
    return g.state();
}

void setParameters(HeadlessWindow& win, std::initializer_list<const char*> w)
{
    int i = 0;
    for (const char* t : w)
        win.setText(form::txtW(i++), t);
}

TEST(Coexisting, StartPointCount)
{
    struct Case { const char* text; int count; const char* shown; };
    const Case cases[] = {
        {"0", 5, "5"},     {"501", 5, "5"},   {"abc", 5, "5"}, {"", 5, "5"},
        {"500", 500, "500"}, {"2.5", 2, "2.5"}, {"3.5", 4, "3.5"}, {"0.4", 5, "5"},
        {"1", 1, "1"},     {"-3", 5, "5"},
    };
    for (const Case& c : cases) {
        HeadlessWindow win;
        win.setText(Control::txtNumStartValues, c.text);
        win.setText(Control::txtStepSize, "100");
        win.setText(Control::txtIterations, "1");
        const RandomGenerator::State before = model::Random().state();
        win.run(form::cmdCoexisting_Click);
        ASSERT_TRUE(win.errors.empty()) << c.text;
        EXPECT_EQ(win.text(Control::txtNumStartValues), c.shown) << c.text;
        // Without reshuffle a run draws two numbers per start point, no more.
        EXPECT_EQ(model::Random().state(), after(before, 2 * c.count)) << c.text;
    }
}

TEST(Coexisting, AnOverflowingCountFailsBeforeTheClear)
{
    HeadlessWindow win;
    win.canvas().setDot(400, 400, Rgb(1, 2, 3));
    const auto before = PictureOf(win.canvas());
    const RandomGenerator::State state = model::Random().state();
    win.setText(Control::txtNumStartValues, "40000");
    win.run(form::cmdCoexisting_Click);
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.errors[0].kind(), RuntimeError::Kind::Overflow);
    EXPECT_EQ(PictureOf(win.canvas()), before);
    EXPECT_EQ(win.text(Control::txtNumStartValues), "40000");
    EXPECT_EQ(model::Random().state(), state);
}

TEST(Coexisting, CountsTheKindsOfAttractor)
{
    const uint32_t brown = pixelOf(Rgb(150, 75, 0)), red = pixelOf(Rgb(250, 75, 75));
    struct Case {
        const char* what;
        std::initializer_list<const char*> w;
        const char *numStart, *iterations, *left, *right, *bottom, *top;
        bool fp;
        uint32_t colour;
    };
    const Case cases[] = {
        // One start point: one kind, whatever the parameters.
        {"one start point", {"0.4", "1.9", "-2.7", "-4.311", "-0.9", "1.8"}, "1", "1000",
         "-1.0", "1.0", "-1.0", "1.0", true, brown},
        // No coupling: every start point reaches the one fixed point at once.
        {"one fixed point", {"0", "0", "0", "0", "0", "0"}, "5", "1000", "-1.0", "1.0", "-1.0",
         "1.0", false, brown},
        {"one fixed point, chkFp", {"0", "0", "0", "0", "0", "0"}, "5", "1000", "-1.0", "1.0",
         "-1.0", "1.0", true, brown},
        // A bistable first neuron: two fixed points, near x = -1 and x = 1.
        {"two fixed points", {"3", "0", "0", "0", "0", "0"}, "20", "200", "-0.1", "0.1", "-1.0",
         "1.0", false, brown},
        {"two fixed points, chkFp", {"3", "0", "0", "0", "0", "0"}, "20", "200", "-0.1", "0.1",
         "-1.0", "1.0", true, red},
        // The same neuron; the second settles fast on one branch and far too
        // slowly for one transient step on the other: a fixed point and class 0.
        {"fixed point and class 0", {"3", "0", "2", "1", "0", "-2"}, "20", "1", "-0.1", "0.1",
         "-2", "-2", false, red},
    };
    for (const Case& c : cases) {
        HeadlessWindow win, plain;
        for (HeadlessWindow* x : {&win, &plain}) {
            setParameters(*x, c.w);
            x->setText(Control::txtNumStartValues, c.numStart);
            x->setText(Control::txtIterations, c.iterations);
            x->setText(Control::txtAccuracy, "14");
            x->setText(Control::txtP0, c.left);
            x->setText(Control::txtP1, c.right);
            x->setText(Control::txtP2, c.bottom);
            x->setText(Control::txtP3, c.top);
            x->setChecked(Control::chkFp, c.fp);
        }
        const RandomGenerator::State start = model::Random().state();
        win.run(form::cmdCoexisting_Click);
        model::Random().restore(start);
        plain.run(reference::Coexisting);
        ASSERT_TRUE(win.errors.empty()) << c.what;
        EXPECT_EQ(coloursOf(win.canvas()), std::set<uint32_t>{c.colour}) << c.what;
        EXPECT_EQ(PictureOf(win.canvas()), PictureOf(plain.canvas())) << c.what;
    }
}

// A plane where the number of kinds varies: a bistable first neuron (two
// fixed points where |b1| is small, one elsewhere) and a second neuron that
// settles slowly on some branches, with a short transient.
void setVariedPlane(HeadlessWindow& win)
{
    setParameters(win, {"3", "0", "2", "1", "0", "0"});
    win.setText(Control::txtP0, "-2");
    win.setText(Control::txtP1, "2");
    win.setText(Control::txtP2, "-3");
    win.setText(Control::txtP3, "1");
    win.setText(Control::txtIterations, "5");
    win.setChecked(Control::chkFp, true);
}

TEST(Coexisting, TheFirstRunDrawsTheSameStartPointsAndTheNextDiffers)
{
    auto run = [](HeadlessWindow& win) {
        win.run(form::cmdCoexisting_Click);
        return PictureOf(win.canvas());
    };
    model::ResetRandomForTests(); // as at program start
    HeadlessWindow a;
    setVariedPlane(a);
    const auto first = run(a);
    const auto second = run(a);
    model::ResetRandomForTests();
    HeadlessWindow b;
    setVariedPlane(b);
    EXPECT_EQ(run(b), first);
    EXPECT_NE(second, first);
}

TEST(Coexisting, ReshuffleDrawsTwoNumbersPerStartPointOfEveryDot)
{
    HeadlessWindow win;
    win.setText(Control::txtStepSize, "100"); // 8 x 8 dots
    win.setText(Control::txtIterations, "1");
    win.setText(Control::txtNumStartValues, "3");
    win.setChecked(Control::chkReshuffle, true);
    const RandomGenerator::State before = model::Random().state();
    win.run(form::cmdCoexisting_Click);
    ASSERT_TRUE(win.errors.empty());
    EXPECT_EQ(model::Random().state(), after(before, 2 * 3 + 64 * 2 * 3));
}

TEST(Coexisting, PicturesEqualThePlainLoop)
{
    for (bool varied : {false, true}) {
        for (bool reshuffle : {false, true}) {
            for (bool fp : {false, true}) {
                HeadlessWindow engine, plain;
                for (HeadlessWindow* w : {&engine, &plain}) {
                    if (varied)
                        setVariedPlane(*w);
                    w->setChecked(Control::chkReshuffle, reshuffle);
                    w->setChecked(Control::chkFp, fp);
                }
                const RandomGenerator::State start = model::Random().state();
                engine.run(form::cmdCoexisting_Click);
                const RandomGenerator::State end = model::Random().state();
                model::Random().restore(start);
                plain.run(reference::Coexisting);
                EXPECT_EQ(PictureOf(engine.canvas()), PictureOf(plain.canvas()))
                    << varied << reshuffle << fp;
                EXPECT_EQ(end, model::Random().state());
                EXPECT_EQ(engine.state().w, plain.state().w);
                EXPECT_EQ(engine.state().fixpointColor, plain.state().fixpointColor);
                EXPECT_EQ(engine.yieldCount, plain.yieldCount);
                if (varied)
                    EXPECT_GT(coloursOf(engine.canvas()).size(), 1u);
                else // the defaults: one kind of attractor everywhere
                    EXPECT_EQ(coloursOf(engine.canvas()).size(), 1u);
            }
        }
    }
}

// Stops in the middle of a column: the picture, w, fixpointColor and the
// generator position are those the plain loop leaves.
TEST(Coexisting, FailuresStopWhereThePlainLoopStops)
{
    struct Case {
        const char* what;
        std::initializer_list<const char*> w;
        const char *numStart, *vertical, *bottom, *top, *iterations, *accuracy;
        RuntimeError::Kind kind;
    };
    const Case cases[] = {
        // w11 grows up the column until the transfer function overflows.
        {"orbit", {"0.4", "1.9", "-2.7", "-4.311", "-0.9", "1.8"}, "5", "0", "0", "800", "20",
         "8", RuntimeError::Kind::FloatingPoint},
        // The mapping itself overflows above offset 179.
        {"mapping", {"0.4", "1.9", "-2.7", "-4.311", "-0.9", "1.8"}, "5", "5", "-1e306", "0",
         "20", "8", RuntimeError::Kind::FloatingPoint},
        // Slow drift with a coarse tolerance: every start point is a "fixed
        // point" of its own colour, and a seventeenth colour is out of range.
        // Both axes on b1, held at 0.
        {"17 colours", {"1", "0", "0", "1", "0", "0"}, "100", "4", "0", "0", "1", "1",
         RuntimeError::Kind::IndexOutOfRange},
    };
    for (const Case& c : cases) {
        for (bool reshuffle : {false, true}) {
            HeadlessWindow engine, plain;
            for (HeadlessWindow* x : {&engine, &plain}) {
                setParameters(*x, c.w);
                x->setText(Control::txtNumStartValues, c.numStart);
                x->setText(Control::txtIdx1, c.vertical);
                x->setText(Control::txtP2, c.bottom);
                x->setText(Control::txtP3, c.top);
                x->setText(Control::txtIterations, c.iterations);
                x->setText(Control::txtAccuracy, c.accuracy);
                x->setChecked(Control::chkReshuffle, reshuffle);
            }
            const RandomGenerator::State start = model::Random().state();
            engine.run(form::cmdCoexisting_Click);
            const RandomGenerator::State end = model::Random().state();
            model::Random().restore(start);
            plain.run(reference::Coexisting);
            ASSERT_EQ(engine.errors.size(), 1u) << c.what << reshuffle;
            ASSERT_EQ(plain.errors.size(), 1u) << c.what << reshuffle;
            EXPECT_EQ(engine.errors[0].kind(), c.kind) << c.what;
            EXPECT_EQ(plain.errors[0].kind(), c.kind) << c.what;
            EXPECT_EQ(PictureOf(engine.canvas()), PictureOf(plain.canvas())) << c.what;
            EXPECT_EQ(end, model::Random().state()) << c.what << reshuffle;
            EXPECT_EQ(engine.state().w, plain.state().w) << c.what;
            EXPECT_EQ(engine.state().fixpointColor, plain.state().fixpointColor) << c.what;
        }
    }
}

TEST(Coexisting, BadIndicesFailAfterTheClear)
{
    struct Case { const char *hi, *vi; bool horizontalSet; };
    for (const Case& c : {Case{"6", "5", false}, Case{"4", "-1", true}}) {
        HeadlessWindow win;
        win.canvas().setDot(400, 400, Rgb(1, 2, 3));
        win.setText(Control::txtIdx0, c.hi);
        win.setText(Control::txtIdx1, c.vi);
        win.setChecked(Control::chkReshuffle, true);
        const RandomGenerator::State before = model::Random().state();
        win.run(form::cmdCoexisting_Click);
        ASSERT_EQ(win.errors.size(), 1u);
        EXPECT_EQ(win.errors[0].kind(), RuntimeError::Kind::IndexOutOfRange);
        EXPECT_EQ(win.canvas().bits()[400 * 800 + 400], testing_support::kWhite);
        EXPECT_EQ(win.state().w[4], c.horizontalSet ? form::PlaneValue(-1.0, 1.0, 10) : -0.9);
        EXPECT_EQ(model::Random().state(), after(before, 10)); // only the run's start points
    }
}

} // namespace
