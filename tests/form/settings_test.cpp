#include "form/headless_window.h"
#include "form/settings.h"
#include "model/defaults.h"
#include "model/numbers.h"

#include <gtest/gtest.h>

#include <bit>

using form::Control;
using model::RuntimeError;
using form::HeadlessWindow;

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
    form::Form_Load(loading);
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
    form::ReadWeights(win);
    EXPECT_EQ(win.state().w, (model::Weights{0.4, 1.9, -2.7, -4.311, -0.9, 1.8}));
    win.setText(Control::txtW0, "1,5");
    win.setText(Control::txtW1, "");
    win.setText(Control::txtW2, "x");
    form::ReadWeights(win);
    EXPECT_EQ(win.state().w[0], 1);
    EXPECT_EQ(win.state().w[1], 0);
    EXPECT_EQ(win.state().w[2], 0);
    EXPECT_EQ(win.text(Control::txtW0), "1,5");

    win.setText(Control::txtW3, "1e400");
    EXPECT_THROW(form::ReadWeights(win), RuntimeError);
    EXPECT_EQ(win.state().w[2], 0); // entries before the failing one were loaded
}

// The batch renderer starts from the named defaults; the window from its
// fields' texts. Each text, read as the window reads that field, must give
// its default bit for bit, or a batch job and the window would start apart.
TEST(Defaults, EveryDesignTimeTextReadsAsItsNamedDefault)
{
    struct Case {
        Control field;
        double (*reading)(const std::string&);
        double value;
    };
    auto number = [](const std::string& t) { return model::ReadNumber(t); };
    auto rounded = [](const std::string& t) {
        return static_cast<double>(model::RoundHalfEven16(model::ReadNumber(t)));
    };
    auto floored = [](const std::string& t) {
        return static_cast<double>(model::Floor16(model::ReadNumber(t)));
    };
    const auto& w = model::kDefaultWeights;
    const auto& range = model::kDefaultPlaneRange;
    const Case cases[] = {
        {Control::txtW0, number, w[0]},   {Control::txtW1, number, w[1]},
        {Control::txtW2, number, w[2]},   {Control::txtW3, number, w[3]},
        {Control::txtW4, number, w[4]},   {Control::txtW5, number, w[5]},
        {Control::txtP0, number, range[0]}, {Control::txtP1, number, range[1]},
        {Control::txtP2, number, range[2]}, {Control::txtP3, number, range[3]},
        {Control::txtIdx0, rounded, double{model::kDefaultPlaneAxes[0]}},
        {Control::txtIdx1, rounded, double{model::kDefaultPlaneAxes[1]}},
        {Control::txtX00, number, model::kDefaultStartPoint[0]},
        {Control::txtX01, number, model::kDefaultStartPoint[1]},
        {Control::txtNumStartValues, rounded, double{model::kDefaultStartValues}},
        {Control::txtStepSize, rounded, double{model::kDefaultDotSize}},
        {Control::txtIterations, floored, double{model::kDefaultIterations}},
        {Control::txtAccuracy, floored, double{model::kDefaultAccuracy}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::bit_cast<uint64_t>(c.reading(form::DefaultText(c.field))),
                  std::bit_cast<uint64_t>(c.value))
            << form::ControlName(c.field);
}

} // namespace

namespace {

TEST(Guard, RunningOutOfMemoryIsReportedAndTheWindowGoesOn)
{
    HeadlessWindow win;
    win.run([](form::Window&) { throw std::bad_alloc(); });
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.errors[0].kind(), RuntimeError::Kind::OutOfMemory);
    win.setText(Control::txtAccuracy, "3");
    EXPECT_EQ(win.state().accuracy, 3);
}

} // namespace
