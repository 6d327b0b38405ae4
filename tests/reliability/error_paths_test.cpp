// Run-time errors through whole commands: each one is reported exactly once,
// with its kind, leaves everything as it stood at the failing step, and the
// window goes on: the next command runs as in a window that never failed.
#include "model/network.h"
#include "model/random.h"
#include "form/canvas_mouse.h"
#include "form/coexisting.h"
#include "form/parametric.h"
#include "form/plane.h"
#include "form/basins.h"
#include "form/fixpoints.h"
#include "form/headless_window.h"
#include "tests/reference.h"
#include "plots/bitmap.h"
#include "form/side_tools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using form::Control;
using model::RandomGenerator;
using model::RuntimeError;
using form::HeadlessWindow;
using Kind = model::RuntimeError::Kind;

namespace fs = std::filesystem;

namespace {

using Handler = void (*)(form::Window&);

const uint32_t kWhite = plots::Canvas::ToPixel(model::Rgb(255, 255, 255));

RandomGenerator::State after(RandomGenerator::State from, uint64_t count)
{
    RandomGenerator g;
    g.restore(from);
    g.skip(count);
    return g.state();
}

// Everything a command can change, taken at one moment.
struct Snapshot {
    std::vector<uint32_t> picture;
    int dotWidth = 0;
    model::Weights w{};
    model::Color fixpointColor = 0, penColor = 0;
    int stepSize = 0, iterations = 0, accuracy = 0;
    std::vector<std::string> texts;
    RandomGenerator::State random;
    int yields = 0;
};

Snapshot snapshotOf(HeadlessWindow& win)
{
    Snapshot s;
    plots::Canvas& c = win.canvas();
    s.picture.assign(c.bits(), c.bits() + c.width() * c.height());
    s.dotWidth = c.dotWidth();
    const model::State& st = win.state();
    s.w = st.w;
    s.fixpointColor = st.fixpointColor;
    s.penColor = st.penColor;
    s.stepSize = st.stepSize;
    s.iterations = st.iterations;
    s.accuracy = st.accuracy;
    for (int i = 0; i < static_cast<int>(Control::Count); ++i)
        s.texts.push_back(win.text(static_cast<Control>(i)));
    s.random = model::Random().state();
    s.yields = win.yieldCount;
    return s;
}

void expectSame(const Snapshot& a, const Snapshot& b, const std::string& what)
{
    EXPECT_TRUE(a.picture == b.picture) << what << ": picture";
    EXPECT_EQ(a.dotWidth, b.dotWidth) << what;
    EXPECT_EQ(a.w, b.w) << what;
    EXPECT_EQ(a.fixpointColor, b.fixpointColor) << what;
    EXPECT_EQ(a.penColor, b.penColor) << what;
    EXPECT_EQ(a.stepSize, b.stepSize) << what;
    EXPECT_EQ(a.iterations, b.iterations) << what;
    EXPECT_EQ(a.accuracy, b.accuracy) << what;
    EXPECT_EQ(a.texts, b.texts) << what;
    EXPECT_EQ(a.random, b.random) << what << ": generator position";
    EXPECT_EQ(a.yields, b.yields) << what << ": pauses";
}

// Runs a command in one window and its plain loop in the other, both from
// the same generator position, and leaves the generator where they end.
void runBoth(HeadlessWindow& engine, Handler command, HeadlessWindow& plain, Handler loop)
{
    const RandomGenerator::State start = model::Random().state();
    engine.run(command);
    const RandomGenerator::State end = model::Random().state();
    model::Random().restore(start);
    plain.run(loop);
    EXPECT_EQ(model::Random().state(), end) << "generator position";
}

void setFields(HeadlessWindow& win, std::initializer_list<std::pair<Control, const char*>> f)
{
    for (const auto& [c, t] : f)
        win.setText(c, t);
}

struct PlotCommand {
    const char* name;
    Handler command, loop;
};

void veltraneLoop(form::Window& w) { reference::BasinPlot(w, false); }
void fpBasLoop(form::Window& w) { reference::BasinPlot(w, true); }

const PlotCommand kPlots[] = {
    {"Veltrane", form::cmdVeltrane_Click, veltraneLoop},
    {"FpBas", form::cmdFixpointBasins_Click, fpBasLoop},
    {"Fixpt", form::cmdFixpoints_Click, reference::FixedPointMap},
    {"Parametric", form::cmdParametric_Click, reference::Parametric},
    {"Coexisting", form::cmdCoexisting_Click, reference::Coexisting},
};

const PlotCommand kPlanePlots[] = {kPlots[3], kPlots[4]};

// Fails a plot in both windows, compares them, puts the fields back and
// checks that the next run of the command matches the plain loop again and
// reports nothing new.
using Fields = std::initializer_list<std::pair<Control, const char*>>;

void failThenRecover(const PlotCommand& p, Fields bad, Kind kind, const std::string& what,
                     Fields common = {})
{
    HeadlessWindow engine, plain;
    for (HeadlessWindow* w : {&engine, &plain}) {
        w->setText(Control::txtIterations, "100");
        setFields(*w, common);
        w->canvas().setDotWidth(7);
        w->canvas().setDot(400, 400, model::Rgb(1, 2, 3)); // a picture to keep or clear
        w->state().w = {9, 9, 9, 9, 9, 9};
        w->state().fixpointColor = model::Rgb(4, 5, 6);
        setFields(*w, bad);
    }
    const std::string label = std::string(p.name) + ", " + what;
    runBoth(engine, p.command, plain, p.loop);
    ASSERT_EQ(engine.errors.size(), 1u) << label;
    ASSERT_EQ(plain.errors.size(), 1u) << label;
    EXPECT_EQ(engine.errors[0].kind(), kind) << label << ": " << engine.errors[0].what();
    EXPECT_EQ(plain.errors[0].kind(), kind) << label;
    expectSame(snapshotOf(engine), snapshotOf(plain), label);

    for (HeadlessWindow* w : {&engine, &plain})
        for (const auto& f : bad)
            w->setText(f.first, form::DefaultText(f.first));
    runBoth(engine, p.command, plain, p.loop);
    EXPECT_EQ(engine.errors.size(), 1u) << label << ": the next run reports nothing";
    EXPECT_EQ(plain.errors.size(), 1u) << label;
    expectSame(snapshotOf(engine), snapshotOf(plain), label + ", next run");
}

// --- overflow of a parameter field ---------------------------------------

// Every command that loads the parameter vector fails on the field that
// overflows: the entries before it are loaded, the others keep their values,
// nothing is drawn, and only what the command does before the loading has
// happened (clear, dot width, start points).
TEST(ParameterFieldOverflow, StopsTheLoadingAtTheFailingField)
{
    struct Command {
        const char* name;
        Handler handler;
        bool clears;
        int dotWidth; // 0: the dot size setting
        int startDraws;
    };
    const Command commands[] = {
        {"Veltrane", form::cmdVeltrane_Click, true, 0, 0},
        {"FpBas", form::cmdFixpointBasins_Click, true, 0, 0},
        {"Fixpt", form::cmdFixpoints_Click, false, 1, 0},
        {"Parametric", form::cmdParametric_Click, true, 0, 0},
        {"Coexisting", form::cmdCoexisting_Click, true, 0, 10},
        {"left press",
         [](form::Window& w) { form::picBasins_MouseDown(w, 1, 0, 200.f, 600.f); }, false, 0,
         0},
        {"middle press",
         [](form::Window& w) { form::picBasins_MouseDown(w, 4, 0, 200.f, 600.f); }, false, 0,
         0},
    };
    struct Field { int index; const char* text; };
    const Field fields[] = {{0, "1e400"}, {3, "-1.8e308"}, {5, "1e400"}};
    for (const Command& c : commands) {
        for (const Field& f : fields) {
            HeadlessWindow win;
            win.setText(Control::txtIterations, "100");
            win.canvas().setDotWidth(7);
            win.canvas().setDot(400, 400, model::Rgb(1, 2, 3));
            win.state().w = {9, 9, 9, 9, 9, 9};
            win.setText(form::txtW(f.index), f.text);
            Snapshot expected = snapshotOf(win);
            const std::string label =
                std::string(c.name) + ", txtW(" + std::to_string(f.index) + ") = " + f.text;

            win.run(c.handler);
            ASSERT_EQ(win.errors.size(), 1u) << label;
            EXPECT_EQ(win.errors[0].kind(), Kind::Overflow) << label;
            const model::Weights defaults = {0.4, 1.9, -2.7, -4.311, -0.9, 1.8};
            for (int i = 0; i < f.index; ++i)
                expected.w[i] = defaults[i];
            if (c.clears)
                std::fill(expected.picture.begin(), expected.picture.end(), kWhite);
            expected.dotWidth = c.dotWidth ? c.dotWidth : win.state().stepSize;
            expected.random = after(expected.random, c.startDraws);
            expectSame(snapshotOf(win), expected, label);

            // The window goes on: with the field put right the command runs as
            // in a fresh window.
            if (f.index != 0)
                continue;
            win.setText(form::txtW(f.index), form::DefaultText(form::txtW(f.index)));
            HeadlessWindow fresh;
            fresh.setText(Control::txtIterations, "100");
            fresh.canvas().setDotWidth(7);
            fresh.canvas().setDot(400, 400, model::Rgb(1, 2, 3));
            const RandomGenerator::State start = model::Random().state();
            win.run(c.handler);
            model::Random().restore(start);
            fresh.run(c.handler);
            EXPECT_EQ(win.errors.size(), 1u) << label << ": the next run reports nothing";
            Snapshot a = snapshotOf(win), b = snapshotOf(fresh);
            a.yields = b.yields = 0; // the failed run had none
            expectSame(a, b, label + ", next run");
        }
    }
}

// --- overflow of the transfer function -----------------------------------

// w11 = 700: the first neuron's sum passes 354.89 wherever x > 0.51 (and at
// once from the parameter plane's start point x0 = 1). Each command stops
// where the plain loop stops.
TEST(TransferOverflow, EveryRasterCommandStopsWhereThePlainLoopStops)
{
    for (const PlotCommand& p : kPlots)
        failThenRecover(p, {{Control::txtW0, "700"}}, Kind::FloatingPoint, "w11 = 700",
                        {{Control::txtIterations, "10"}, {Control::txtIdx0, "4"}});
}

// The same error when a parameter-plane plot sets w11 itself, from -1 up to
// 710: it fails halfway up the first column, whose lower half stays drawn.
TEST(TransferOverflow, RisingParameterStopsHalfwayUpTheFirstColumn)
{
    for (const PlotCommand& p : kPlanePlots)
        failThenRecover(p, {{Control::txtIdx1, "0"}, {Control::txtP3, "710"}},
                        Kind::FloatingPoint, "w11 up to 710", {{Control::txtIterations, "10"}});
}

// --- floating-point error in the plane mapping ---------------------------

TEST(PlaneMapping, ExtremeRangesFailTheParameterPlots)
{
    struct Case { const char* what; std::initializer_list<std::pair<Control, const char*>> f; };
    const Case cases[] = {
        {"horizontal -1e308..1e308", {{Control::txtP0, "-1e308"}, {Control::txtP1, "1e308"}}},
        {"vertical -1e308..1e308", {{Control::txtP2, "-1e308"}, {Control::txtP3, "1e308"}}},
        {"vertical 1e308..-1e308", {{Control::txtP2, "1e308"}, {Control::txtP3, "-1e308"}}},
    };
    for (const PlotCommand& p : kPlanePlots)
        for (const Case& c : cases)
            failThenRecover(p, c.f, Kind::FloatingPoint, c.what);
}

TEST(PlaneMapping, AFailingHorizontalAxisWritesNothingAndTheVerticalOneItsFieldOnly)
{
    HeadlessWindow win;
    const std::string defaultLabels = win.text(Control::lblpx);
    // The readout: the state labels are written, the parameter labels kept.
    win.setText(Control::txtP0, "-1e308");
    win.setText(Control::txtP1, "1e308");
    win.run([](form::Window& w) { form::picBasins_MouseMove(w, 0, 0, 0.f, 799.f); });
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.errors[0].kind(), Kind::FloatingPoint);
    EXPECT_EQ(win.text(Control::lblx), "-1.0000");
    EXPECT_EQ(win.text(Control::lbly), "-1.0000");
    EXPECT_EQ(win.text(Control::lblpx), defaultLabels);
    EXPECT_EQ(win.text(Control::lblpy), defaultLabels);

    // The pick: nothing written for the horizontal axis.
    const Snapshot before = snapshotOf(win);
    win.run([](form::Window& w) { form::picBasins_MouseDown(w, 2, 0, 0.f, 799.f); });
    ASSERT_EQ(win.errors.size(), 2u);
    EXPECT_EQ(win.errors[1].kind(), Kind::FloatingPoint);
    expectSame(snapshotOf(win), before, "pick, horizontal range");

    // Vertical range overflows: the horizontal field is already written.
    win.setText(Control::txtP0, "-1");
    win.setText(Control::txtP1, "1");
    win.setText(Control::txtP2, "1e308");
    win.setText(Control::txtP3, "-1e308");
    win.run([](form::Window& w) { form::picBasins_MouseDown(w, 2, 0, 799.f, 0.f); });
    ASSERT_EQ(win.errors.size(), 3u);
    EXPECT_EQ(win.errors[2].kind(), Kind::FloatingPoint);
    EXPECT_EQ(win.text(Control::txtW4), "1");
    EXPECT_EQ(win.text(Control::txtW5), "1.8");

    // The window goes on: with the ranges put right, move and pick work.
    win.setText(Control::txtP2, "-1");
    win.setText(Control::txtP3, "1");
    win.run([](form::Window& w) { form::picBasins_MouseMove(w, 0, 0, 799.f, 799.f); });
    win.run([](form::Window& w) { form::picBasins_MouseDown(w, 2, 0, 0.f, 799.f); });
    EXPECT_EQ(win.errors.size(), 3u);
    EXPECT_EQ(win.text(Control::lblpx), "1.0000");
    EXPECT_EQ(win.text(Control::lblpy), "-1.0000");
    EXPECT_EQ(win.text(Control::txtW4), "-1");
    EXPECT_EQ(win.text(Control::txtW5), "-1");
}

// --- index out of range --------------------------------------------------

TEST(PlaneIndex, BadIndicesFailBothParameterPlotsAsThePlainLoop)
{
    struct Case { const char *hi, *vi; Kind kind; };
    const Case cases[] = {
        {"6", "5", Kind::IndexOutOfRange},    {"4", "6", Kind::IndexOutOfRange},
        {"-1", "5", Kind::IndexOutOfRange},   {"4", "-1", Kind::IndexOutOfRange},
        {"5.5", "5", Kind::IndexOutOfRange},  {"4", "5.5", Kind::IndexOutOfRange},
        {"40000", "5", Kind::Overflow},       {"4", "40000", Kind::Overflow},
        {"-0.5", "-0.6", Kind::IndexOutOfRange}, // -0.5 rounds to 0, -0.6 to -1
    };
    for (const PlotCommand& p : kPlanePlots)
        for (const Case& c : cases)
            failThenRecover(p, {{Control::txtIdx0, c.hi}, {Control::txtIdx1, c.vi}}, c.kind,
                            std::string("indices ") + c.hi + ", " + c.vi);
}

TEST(PlaneIndex, BadIndicesStopThePickAtTheAxisThatUsesThem)
{
    struct Case { const char *hi, *vi; Kind kind; bool horizontalWritten; };
    const Case cases[] = {
        {"6", "5", Kind::IndexOutOfRange, false},  {"4", "6", Kind::IndexOutOfRange, true},
        {"-1", "5", Kind::IndexOutOfRange, false}, {"4", "5.5", Kind::IndexOutOfRange, true},
        {"40000", "5", Kind::Overflow, false},     {"4", "40000", Kind::Overflow, true},
    };
    for (const Case& c : cases) {
        HeadlessWindow win;
        win.setText(Control::txtIdx0, c.hi);
        win.setText(Control::txtIdx1, c.vi);
        Snapshot expected = snapshotOf(win);
        win.run([](form::Window& w) { form::picBasins_MouseDown(w, 2, 0, 0.f, 799.f); });
        const std::string label = std::string(c.hi) + ", " + c.vi;
        ASSERT_EQ(win.errors.size(), 1u) << label;
        EXPECT_EQ(win.errors[0].kind(), c.kind) << label;
        if (c.horizontalWritten)
            expected.texts[static_cast<int>(Control::txtW4)] = "-1";
        expectSame(snapshotOf(win), expected, label);

        win.setText(Control::txtIdx0, "0");
        win.setText(Control::txtIdx1, "3");
        win.run([](form::Window& w) { form::picBasins_MouseDown(w, 2, 0, 799.f, 0.f); });
        EXPECT_EQ(win.errors.size(), 1u) << label;
        EXPECT_EQ(win.text(Control::txtW0), "1") << label;
        EXPECT_EQ(win.text(Control::txtW3), "1") << label;
    }
}

// --- more than 16 fixed-point colours at one dot ------------------------

// With w = identity through the transfer function, one transient step and
// the coarsest tolerance, every start point counts as a fixed point where its
// slow drift has taken it, so nearly every start point brings a colour of its
// own. Both axes on b1 with the range 0..0 give every dot the same
// parameters, so the first dot decides. The run fails exactly when the first
// dot's start points give more than 16 distinct colours, at the start point
// that brings the seventeenth, before anything is drawn.
TEST(FixpointColours, TheSeventeenthDistinctColourAtOneDotIsOutOfRange)
{
    // Every count draws its start points from the same position, so each count
    // adds one start point to those of the count before.
    const RandomGenerator::State start = model::Random().state();
    bool sawSixteen = false, sawSeventeen = false;
    for (int n = 10; n <= 30; ++n) {
        model::Random().restore(start);
        HeadlessWindow win;
        setFields(win, {{Control::txtW0, "1"}, {Control::txtW1, "0"}, {Control::txtW2, "0"},
                        {Control::txtW3, "1"}, {Control::txtW4, "0"}, {Control::txtW5, "0"},
                        {Control::txtIdx0, "4"}, {Control::txtIdx1, "4"},
                        {Control::txtP0, "0"}, {Control::txtP1, "0"}, {Control::txtP2, "0"},
                        {Control::txtP3, "0"}, {Control::txtIterations, "1"},
                        {Control::txtAccuracy, "1"}, {Control::txtStepSize, "100"}});
        win.setText(Control::txtNumStartValues, std::to_string(n));

        // The distinct colours the first dot's start points bring, in order.
        RandomGenerator g;
        g.restore(start);
        model::State st = win.state();
        st.w = {1, 0, 0, 1, 0, 0};
        std::vector<model::Color> distinct;
        for (int k = 0; k < n; ++k) {
            const float r1 = g.next(), r2 = g.next();
            const double x = 2.0f * r1 - 1.0f, y = 2.0f * r2 - 1.0f;
            ASSERT_EQ(model::ClassifyOrbitFp(st, x, y), 17);
            if (std::find(distinct.begin(), distinct.end(), st.fixpointColor) == distinct.end())
                distinct.push_back(st.fixpointColor);
        }

        win.run(form::cmdCoexisting_Click);
        const std::string label = "n = " + std::to_string(n) + ", "
                                  + std::to_string(distinct.size()) + " colours";
        EXPECT_EQ(model::Random().state(), after(start, 2 * n)) << label;
        const plots::Canvas& c = win.canvas();
        const std::set<uint32_t> shown(c.bits(), c.bits() + 800 * 800);
        if (distinct.size() <= 16) {
            sawSixteen |= distinct.size() == 16;
            EXPECT_TRUE(win.errors.empty()) << label;
            EXPECT_EQ(shown, std::set<uint32_t>{plots::Canvas::ToPixel(
                                 model::PeriodColor(win.state(), 1))})
                << label;
            continue;
        }
        sawSeventeen |= distinct.size() == 17;
        ASSERT_EQ(win.errors.size(), 1u) << label;
        EXPECT_EQ(win.errors[0].kind(), Kind::IndexOutOfRange) << label;
        EXPECT_EQ(shown, std::set<uint32_t>{kWhite}) << label << ": nothing drawn";
        EXPECT_EQ(win.state().fixpointColor, distinct[16]) << label;
        EXPECT_EQ(win.state().w, (model::Weights{1, 0, 0, 1, 0, 0})) << label;

        // The window goes on: fewer start points draw the picture.
        win.setText(Control::txtNumStartValues, "3");
        win.run(form::cmdCoexisting_Click);
        EXPECT_EQ(win.errors.size(), 1u) << label;
        EXPECT_EQ(win.canvas().pixel(50, 749), model::PeriodColor(win.state(), 1)) << label;
    }
    EXPECT_TRUE(sawSixteen) << "no start-point count gave exactly 16 colours";
    EXPECT_TRUE(sawSeventeen) << "no start-point count gave exactly 17 colours";
}

// --- errors raised between two columns of a running plot ----------------

// Hostile edits and a failed save in the pauses of a running plot: each is
// reported once, none disturbs the plot, and an overflowing parameter field
// fails only the next command that loads the parameters.
TEST(ErrorsDuringAPlot, AreReportedOnceAndLeaveThePlotAsIfUndisturbed)
{
    const fs::path dir = fs::temp_directory_path()
                         / ("veltrane-errors-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string kept = (dir / "kept.bmp").string();
    const std::vector<char> old = {'o', 'l', 'd'};
    std::ofstream(kept, std::ios::binary).write(old.data(), std::ssize(old));

    HeadlessWindow quiet, win;
    for (HeadlessWindow* w : {&quiet, &win})
        w->setText(Control::txtIterations, "40");
    quiet.run(form::cmdFixpointBasins_Click);
    ASSERT_TRUE(quiet.errors.empty());

    struct Edit { int atPause; Control field; const char* text; bool fails; };
    const Edit edits[] = {
        {3, Control::txtIterations, "40000", true},
        {5, Control::txtStepSize, "1e400", true},
        {7, Control::txtAccuracy, "-32769", true},
        {9, Control::txtW2, "1e400", false},  // no handler reads it now
        {11, Control::txtFileName, nullptr, true}, // then Save into a missing folder
    };
    std::vector<size_t> errorsAfter;
    win.onYield = [&] {
        for (const Edit& e : edits) {
            if (win.yieldCount != e.atPause)
                continue;
            const size_t before = win.errors.size();
            if (e.text) {
                win.setText(e.field, e.text);
            } else {
                win.setText(e.field, (dir / "missing" / "x.bmp").string());
                win.run(form::cmdSave_Click);
            }
            EXPECT_EQ(win.errors.size(), before + (e.fails ? 1 : 0)) << win.yieldCount;
        }
    };
    win.run(form::cmdFixpointBasins_Click);
    win.onYield = nullptr;
    ASSERT_EQ(win.errors.size(), 4u);
    EXPECT_EQ(win.errors[0].kind(), Kind::Overflow);
    EXPECT_EQ(win.errors[1].kind(), Kind::Overflow);
    EXPECT_EQ(win.errors[2].kind(), Kind::Overflow);
    EXPECT_EQ(win.errors[3].kind(), Kind::FileNotWritten);
    Snapshot expected = snapshotOf(quiet);
    expected.texts[static_cast<int>(Control::txtIterations)] = "40000";
    expected.texts[static_cast<int>(Control::txtStepSize)] = "1e400";
    expected.texts[static_cast<int>(Control::txtAccuracy)] = "-32769";
    expected.texts[static_cast<int>(Control::txtW2)] = "1e400";
    expected.texts[static_cast<int>(Control::txtFileName)] = win.text(Control::txtFileName);
    expected.random = model::Random().state();
    expectSame(snapshotOf(win), expected, "plot with hostile edits");
    std::ifstream in(kept, std::ios::binary);
    EXPECT_EQ(std::vector<char>(std::istreambuf_iterator<char>(in), {}), old);

    // The next command that loads the parameters fails on txtW(2)...
    win.run(form::cmdVeltrane_Click);
    ASSERT_EQ(win.errors.size(), 5u);
    EXPECT_EQ(win.errors[4].kind(), Kind::Overflow);
    EXPECT_EQ(win.state().w, (model::Weights{0.4, 1.9, -2.7, -4.311, -0.9, 1.8}));
    // ...and saving over the kept file works again.
    win.setText(Control::txtFileName, kept);
    win.run(form::cmdSave_Click);
    EXPECT_EQ(win.errors.size(), 5u);
    std::ifstream saved(kept, std::ios::binary);
    const std::vector<char> bytes(std::istreambuf_iterator<char>(saved), {});
    const std::vector<uint8_t> encoded = plots::EncodeBitmap(win.canvas(), 800, 800);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), encoded.begin(), encoded.end(),
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
    fs::remove_all(dir);
}

} // namespace
