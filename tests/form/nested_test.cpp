// The engine evaluates columns ahead while a column is committed and the
// window runs its events. Events that arrive at that moment (a nested Clear, a
// second plot, a settings edit, a check box) must leave every picture and the
// final state exactly as the plain loops leave them, on every thread count.
#include "form/basins.h"
#include "form/coexisting.h"
#include "form/fixpoints.h"
#include "form/headless_window.h"
#include "form/parametric.h"
#include "model/engine.h"
#include "model/random.h"
#include "tests/reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using form::Control;
using form::HeadlessWindow;

namespace {

using Handler = std::function<void(form::Window&)>;

struct Command {
    const char* name;
    Handler engine, plain;
};

const Command kCommands[] = {
    {"Veltrane", form::cmdVeltrane_Click, [](form::Window& w) { reference::BasinPlot(w, false); }},
    {"FpBas", form::cmdFixpointBasins_Click, [](form::Window& w) { reference::BasinPlot(w, true); }},
    {"Fixpt", form::cmdFixpoints_Click, reference::FixedPointMap},
    {"Parametric", form::cmdParametric_Click, reference::Parametric},
    {"Coexisting", form::cmdCoexisting_Click, reference::Coexisting},
};

// An event run from the pause after a column; nested is the command that the
// event starts, engine or plain as the outer one.
struct Event {
    const char* name;
    std::function<void(HeadlessWindow&, const Command& nested, bool engine)> run;
};

const Event kEvents[] = {
    {"Clear", [](HeadlessWindow& w, const Command&, bool) { w.canvas().clear(); }},
    {"settings edit",
     [](HeadlessWindow& w, const Command&, bool) {
         w.setText(Control::txtIterations, w.text(Control::txtIterations) == "12" ? "9" : "12");
         w.setText(Control::txtAccuracy, "5");
         w.setText(Control::txtStepSize, w.text(Control::txtStepSize) == "23" ? "17" : "23");
     }},
    {"check boxes",
     [](HeadlessWindow& w, const Command&, bool) {
         w.setChecked(Control::chkReshuffle, !w.isChecked(Control::chkReshuffle));
         w.setChecked(Control::chkFp, !w.isChecked(Control::chkFp));
     }},
    // A second plot with other parameters: it reads w afresh (and, for
    // "Coexisting", draws random numbers), then the outer plot goes on.
    {"second plot",
     [](HeadlessWindow& w, const Command& nested, bool engine) {
         w.setText(form::txtW(1), w.text(form::txtW(1)) == "2.3" ? "1.6" : "2.3");
         w.setText(form::txtW(4), "-0.7");
         w.setText(Control::txtStepSize, "41");
         (engine ? nested.engine : nested.plain)(w);
         w.setText(Control::txtStepSize, "20");
     }},
    // The same settings: for "Coexisting" inside "Coexisting" with reshuffle
    // only the random generator's position differs afterwards.
    {"second plot, same settings",
     [](HeadlessWindow& w, const Command& nested, bool engine) {
         (engine ? nested.engine : nested.plain)(w);
     }},
};

// The defaults with a short transient; for "Coexisting" a plane where the
// number of kinds depends on the start points (two fixed points where |b1| is
// small, a slowly settling second neuron on some branches).
void setUp(HeadlessWindow& win, bool reshuffle, bool varied)
{
    const char* defaults[] = {"0.4", "1.9", "-2.7", "-4.311", "-0.9", "1.8"};
    const char* bistable[] = {"3", "0", "2", "1", "0", "0"};
    for (int i = 0; i < 6; ++i)
        win.setText(form::txtW(i), varied ? bistable[i] : defaults[i]);
    if (varied) {
        const char* plane[] = {"-2", "2", "-3", "1"};
        for (int i = 0; i < 4; ++i)
            win.setText(form::txtP(i), plane[i]);
    }
    win.setText(Control::txtStepSize, "20");
    win.setText(Control::txtIterations, varied ? "5" : "200");
    win.setText(Control::txtNumStartValues, "3");
    win.setChecked(Control::chkReshuffle, reshuffle);
    win.state().penColor = model::Rgb(1, 2, 3);
}

struct Outcome {
    std::vector<uint32_t> picture;
    model::Weights w;
    model::Color fixpointColor;
    model::RandomGenerator::State random;
    int yields;
    size_t errors;
    std::string texts;

    friend bool operator==(const Outcome&, const Outcome&) = default;
};

// Runs the outer command (engine or plain) with the event at the pauses after
// columns 3 and 7, and once more inside the nested plot's own pauses.
Outcome runWith(const Command& outer, const Event* event, const Command& nested, bool engine,
                bool reshuffle)
{
    model::ResetRandomForTests();
    HeadlessWindow win;
    setUp(win, reshuffle, &outer == &kCommands[4]);
    int pauses = 0;
    win.onYield = [&] {
        ++pauses;
        if (event && (pauses == 4 || pauses == 8 || pauses == 12))
            event->run(win, nested, engine);
    };
    win.run(engine ? outer.engine : outer.plain);
    Outcome o{{win.canvas().bits(), win.canvas().bits() + 800 * 800},
              win.state().w,
              win.state().fixpointColor,
              model::Random().state(),
              win.yieldCount,
              win.errors.size(),
              win.text(Control::txtStepSize) + win.text(Control::txtIterations)};
    return o;
}

class Nested : public ::testing::Test {
protected:
    void TearDown() override { model::SetThreadCount(0); }
};

TEST_F(Nested, EventsDuringEvaluationAheadLeaveThePlainLoopsPictureAndState)
{
    for (const Command& outer : kCommands) {
        for (bool reshuffle : {false, true}) {
            if (reshuffle && std::string(outer.name) != "Coexisting")
                continue;
            const Outcome undisturbed = runWith(outer, nullptr, outer, false, reshuffle);
            for (const Event& event : kEvents) {
                // The nested plot is a different command, and Coexisting
                // itself when the outer one draws random numbers.
                const Command& nested = reshuffle ? kCommands[4]
                                        : &outer == &kCommands[0] ? kCommands[3]
                                                                  : kCommands[0];
                const Outcome want = runWith(outer, &event, nested, false, reshuffle);
                const std::string what = std::string(outer.name) + (reshuffle ? " reshuffled" : "")
                                         + ", nested " + event.name;
                // The event must matter, or the comparison below proves little:
                // only "Coexisting" reads the check boxes, and "Fixpt" marks
                // nothing in the columns that the Clear erases.
                const bool inert = (std::string(event.name) == "check boxes"
                                    && &outer != &kCommands[4])
                                   || (std::string(event.name) == "Clear" && &outer == &kCommands[2]);
                if (!inert) {
                    EXPECT_FALSE(want == undisturbed) << what;
                }
                for (int threads : {1, 2, 3, 8}) {
                    model::SetThreadCount(threads);
                    const Outcome got = runWith(outer, &event, nested, true, reshuffle);
                    EXPECT_TRUE(got == want) << what << ", threads " << threads;
                }
                model::SetThreadCount(0);
            }
        }
    }
}

TEST_F(Nested, ClosingTheWindowStopsThePlotWithNothingLeftRunning)
{
    for (const Command& cmd : kCommands) {
        for (int threads : {2, 8}) {
            model::SetThreadCount(threads);
            HeadlessWindow win;
            setUp(win, false, false);
            win.onYield = [&] { win.closing = win.yieldCount == 5; };
            win.run(cmd.engine);
            EXPECT_EQ(win.yieldCount, 5) << cmd.name;
            EXPECT_TRUE(win.errors.empty()) << cmd.name;
        }
    }
}

} // namespace
