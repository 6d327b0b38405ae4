#include "model/settings.h"
#include "plots/headless_window.h"

#include <gtest/gtest.h>

using model::Control;
using model::RuntimeError;
using plots::HeadlessWindow;

namespace {

TEST(FormLoad, ReadsTheDesignTimeSettingsRoundedHalfToEven)
{
    HeadlessWindow win;
    EXPECT_EQ(win.state().stepSize, 20);
    EXPECT_EQ(win.state().iterations, 1000);
    EXPECT_EQ(win.state().accuracy, 8);
    EXPECT_EQ(win.state().w, model::Weights{}); // not read at load
    EXPECT_EQ(win.state().fixpointColor, 0);
    EXPECT_EQ(win.state().penColor, 0);

    // At load "2.9" rounds to 3 (an edit would take the floor, 2).
    win.setText(Control::txtStepSize, "2.9");
    EXPECT_EQ(win.state().stepSize, 2);
    // Load reads the field as it stands; with a design text of "2.9":
    struct Loading : HeadlessWindow {
        std::string text(Control c) const override
        {
            return c == Control::txtStepSize ? "2.9" : HeadlessWindow::text(c);
        }
    } loading;
    model::Form_Load(loading);
    EXPECT_EQ(loading.state().stepSize, 3);
}

struct Edit {
    Control field;
    const char* typed;
    int setting;
    const char* shown;
};

int settingOf(HeadlessWindow& win, Control field)
{
    switch (field) {
    case Control::txtStepSize: return win.state().stepSize;
    case Control::txtIterations: return win.state().iterations;
    default: return win.state().accuracy;
    }
}

TEST(SettingsChange, NormalisesStoresAndWritesBack)
{
    const Edit edits[] = {
        {Control::txtAccuracy, "", 8, "8"},
        {Control::txtStepSize, "", 20, "20"},
        {Control::txtIterations, "", 1000, "1000"},
        {Control::txtStepSize, "2.9", 2, "2"},
        {Control::txtStepSize, "2.", 2, "2"},
        {Control::txtAccuracy, "-0.5", 8, "8"},
        {Control::txtAccuracy, "0.5", 8, "8"},
        {Control::txtAccuracy, "14.9", 14, "14"},
        {Control::txtAccuracy, "15", 8, "8"},
        {Control::txtStepSize, "100", 100, "100"},
        {Control::txtStepSize, "101", 20, "20"},
        {Control::txtStepSize, "0", 20, "20"},
        {Control::txtAccuracy, "08", 8, "8"},
        {Control::txtAccuracy, " 12 ", 12, "12"},
        {Control::txtAccuracy, "1e1", 10, "10"},
        {Control::txtAccuracy, "abc", 8, "8"},
        {Control::txtIterations, "32767", 32767, "32767"},
        {Control::txtIterations, "-5", 1000, "1000"},
        {Control::txtIterations, "1", 1, "1"},
        {Control::txtStepSize, "&H10", 16, "16"},
    };
    for (const Edit& e : edits) {
        HeadlessWindow win;
        win.setText(e.field, e.typed);
        EXPECT_EQ(settingOf(win, e.field), e.setting) << e.typed;
        EXPECT_EQ(win.text(e.field), e.shown) << e.typed;
        EXPECT_TRUE(win.errors.empty()) << e.typed;
    }
}

TEST(SettingsChange, OverflowKeepsSettingAndTypedText)
{
    for (const char* typed : {"32768", "40000", "-32769", "1e400"}) {
        HeadlessWindow win;
        win.setText(Control::txtIterations, "500");
        win.setText(Control::txtIterations, typed);
        EXPECT_EQ(win.state().iterations, 500) << typed;
        EXPECT_EQ(win.text(Control::txtIterations), typed);
        ASSERT_EQ(win.errors.size(), 1u) << typed;
        EXPECT_EQ(win.errors[0].kind(), RuntimeError::Kind::Overflow);
    }
}

// Counts the change events of one field, as a real text field raises them.
struct CountingWindow : HeadlessWindow {
    int changes = 0;
    void setText(Control c, const std::string& t) override
    {
        if (c == Control::txtAccuracy && text(c) != t)
            ++changes;
        HeadlessWindow::setText(c, t);
    }
};

TEST(SettingsChange, TheWriteBackRaisesAtMostOneMoreChange)
{
    CountingWindow win;
    win.setText(Control::txtAccuracy, "08"); // typed, then "8" written back
    EXPECT_EQ(win.changes, 2);
    win.changes = 0;
    win.setText(Control::txtAccuracy, "9"); // already normal: no write-back change
    EXPECT_EQ(win.changes, 1);
    EXPECT_EQ(win.state().accuracy, 9);
}

TEST(ReadWeights, LoadsAllSixFieldsWithoutWritingBack)
{
    HeadlessWindow win;
    model::ReadWeights(win);
    EXPECT_EQ(win.state().w, (model::Weights{0.4, 1.9, -2.7, -4.311, -0.9, 1.8}));
    win.setText(Control::txtW0, "1,5");
    win.setText(Control::txtW1, "");
    win.setText(Control::txtW2, "x");
    model::ReadWeights(win);
    EXPECT_EQ(win.state().w[0], 1);
    EXPECT_EQ(win.state().w[1], 0);
    EXPECT_EQ(win.state().w[2], 0);
    EXPECT_EQ(win.text(Control::txtW0), "1,5");

    win.setText(Control::txtW3, "1e400");
    EXPECT_THROW(model::ReadWeights(win), RuntimeError);
    EXPECT_EQ(win.state().w[2], 0); // entries before the failing one were loaded
}

} // namespace

namespace {

TEST(Guard, RunningOutOfMemoryIsReportedAndTheWindowGoesOn)
{
    HeadlessWindow win;
    win.run([](model::Window&) { throw std::bad_alloc(); });
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.errors[0].kind(), RuntimeError::Kind::OutOfMemory);
    win.setText(Control::txtAccuracy, "3");
    EXPECT_EQ(win.state().accuracy, 3);
}

} // namespace
