// The column engine's pictures and final state against the plain loops, for
// several thread counts, with and without the repeat shortcut.
#include "model/engine.h"
#include "model/network.h"
#include "plots/basins.h"
#include "plots/fixpoints.h"
#include "plots/headless_window.h"
#include "tests/reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using model::Control;
using plots::HeadlessWindow;

namespace {

struct Case {
    const char* name;
    std::vector<const char*> w;
    const char* stepSize;
    const char* accuracy;
};

const Case kCases[] = {
    {"defaults", {"0.4", "1.9", "-2.7", "-4.311", "-0.9", "1.8"}, "20", "8"},
    {"chaotic", {"4.0", "5.5", "-7.7", "4.6", "-2.1", "1.3"}, "16", "8"},
    {"slowly converging", {"1", "0", "0", "1", "0", "0"}, "20", "3"},
    {"saturated", {"0", "-30", "30", "0", "0.5", "-19.5"}, "21", "8"}, // dots past the edge
    {"exact cycles", {"-5", "6", "-6", "-5", "0", "0"}, "20", "8"},
    // Sums past 354.89 from y > 0.507: the first column fails half-way up.
    {"failing mid-column", {"0", "700", "0", "0", "0.3", "0"}, "20", "1"},
};

void setUp(HeadlessWindow& win, const Case& c)
{
    for (int i = 0; i < 6; ++i)
        win.setText(model::txtW(i), c.w[i]);
    win.setText(Control::txtStepSize, c.stepSize);
    win.setText(Control::txtAccuracy, c.accuracy);
    win.state().penColor = model::Rgb(1, 2, 3);
    win.state().fixpointColor = model::Rgb(4, 5, 6);
}

void expectSameRun(HeadlessWindow& got, HeadlessWindow& want, const std::string& what)
{
    EXPECT_EQ(std::memcmp(got.canvas().bits(), want.canvas().bits(), 800 * 800 * 4), 0) << what;
    EXPECT_EQ(got.state().w, want.state().w) << what;
    EXPECT_EQ(got.state().fixpointColor, want.state().fixpointColor) << what;
    EXPECT_EQ(got.yieldCount, want.yieldCount) << what;
    EXPECT_EQ(got.canvas().dotWidth(), want.canvas().dotWidth()) << what;
    ASSERT_EQ(got.errors.size(), want.errors.size()) << what;
    for (size_t k = 0; k < got.errors.size(); ++k)
        EXPECT_EQ(got.errors[k].kind(), want.errors[k].kind()) << what;
}

class Engine : public ::testing::Test {
protected:
    void TearDown() override
    {
        model::SetThreadCount(0);
        model::kernel::SetRepeatShortcut(true);
    }
};

TEST_F(Engine, PicturesAndStateEqualThePlainLoopOnEveryThreadCount)
{
    struct Command {
        const char* name;
        void (*engine)(model::Window&);
        std::function<void(model::Window&)> plain;
    };
    const Command commands[] = {
        {"Veltrane", plots::cmdVeltrane_Click, [](model::Window& w) { reference::BasinPlot(w, false); }},
        {"FpBas", plots::cmdFixpointBasins_Click, [](model::Window& w) { reference::BasinPlot(w, true); }},
        {"Fixpt", plots::cmdFixpoints_Click, reference::FixedPointMap},
    };
    for (const Case& c : kCases) {
        for (const Command& cmd : commands) {
            HeadlessWindow plain;
            setUp(plain, c);
            plain.run(cmd.plain);
            for (int threads : {1, 2, 3, 8}) {
                for (bool shortcut : {false, true}) {
                    model::SetThreadCount(threads);
                    model::kernel::SetRepeatShortcut(shortcut);
                    HeadlessWindow win;
                    setUp(win, c);
                    win.run(cmd.engine);
                    expectSameRun(win, plain, std::string(c.name) + " " + cmd.name + " threads "
                                                  + std::to_string(threads)
                                                  + (shortcut ? " shortcut" : ""));
                }
            }
        }
    }
}

TEST_F(Engine, TheFailingCaseFailsHalfWayUpTheFirstColumn)
{
    // Guards the case table: the failure must fall inside a column, after
    // dots that were committed, for the comparison above to mean anything.
    HeadlessWindow win;
    setUp(win, kCases[5]);
    win.run(plots::cmdFixpointBasins_Click);
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.yieldCount, 0);
    EXPECT_NE(win.canvas().pixel(10, 789), plots::Canvas::FromPixel(0xFFFFFFFF)); // bottom dot
    EXPECT_EQ(win.canvas().pixel(10, 9), win.canvas().background());             // top dot
    EXPECT_NE(win.state().fixpointColor, model::Rgb(4, 5, 6)); // set by dots before the failure
}

TEST_F(Engine, ThreadCountFollowsTheMachineUnlessSet)
{
    model::SetThreadCount(0);
    const int machine = model::ThreadCount();
    EXPECT_GE(machine, 1);
    model::SetThreadCount(3);
    EXPECT_EQ(model::ThreadCount(), 3);
    std::vector<int> hits(1000, 0);
    auto body = [&](int b, int e) {
        for (int k = b; k < e; ++k)
            ++hits[k];
    };
    model::ForEachChunk(1000, 7, body);
    EXPECT_EQ(hits, std::vector<int>(1000, 1)); // every index exactly once
    model::SetThreadCount(0);
    EXPECT_EQ(model::ThreadCount(), machine);
}

TEST_F(Engine, ARunHoldsItsThreadsAndLeavesTheProcessCountAlone)
{
    model::SetThreadCount(3);
    for (const int threads : {1, 2}) {
        model::RunThreads run(threads);
        std::vector<int> seen(256, 0);
        model::LargestTeam();
        run.run([&] {
            auto body = [&](int b, int e) {
                for (int k = b; k < e; ++k)
                    seen[k] = model::ThreadCount(); // on the run's workers too
            };
            model::ForEachChunk(256, 1, body);
        });
        EXPECT_EQ(seen, std::vector<int>(256, threads));
        EXPECT_LE(model::LargestTeam(), threads);
        EXPECT_EQ(model::ThreadCount(), 3);
        EXPECT_THROW(run.run([] { throw std::runtime_error("stopped"); }), std::runtime_error);
        EXPECT_EQ(model::ThreadCount(), 3);
    }
    model::SetThreadCount(0);
}

} // namespace
