#include "model/numbers.h"
#include "form/canvas_mouse.h"
#include "tests/form/dot_recorder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

using form::Control;
using model::RuntimeError;
using form::HeadlessWindow;
using testing_support::PictureOf;

namespace {

// Records the order in which labels and fields are written.
struct WriteRecorder : HeadlessWindow {
    std::vector<Control> written;
    void setText(Control c, const std::string& text) override
    {
        written.push_back(c);
        HeadlessWindow::setText(c, text);
    }
};

std::vector<std::string> labels(const HeadlessWindow& win)
{
    return {win.text(Control::lblx), win.text(Control::lbly), win.text(Control::lblpx),
            win.text(Control::lblpy)};
}

TEST(Readout, DefaultFormatterWritesThePattern)
{
    HeadlessWindow win;
    struct Case { double v; const char* text; };
    const Case cases[] = {
        {-1, "-1.0000"},     {1, "1.0000"},        {0, "0.0000"},          {-0.00004, "-0.0000"},
        {0.5, "0.5000"},     {-0.00126, "-0.0013"}, {1234.56789, "1234.5679"}, {-12.3, "-12.3000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(win.formatCoordinate(c.v), c.text) << c.v;
}

TEST(Readout, ShowsBothPlanesInOrder)
{
    struct Case { float x, y; const char *sx, *sy; };
    const Case cases[] = {
        {0, 0, "-1.0000", "1.0000"},
        {799, 799, "1.0000", "-1.0000"},
        {399, 400, "-0.0013", "-0.0013"},
        {400, 399, "0.0013", "0.0013"},
    };
    for (const Case& c : cases) {
        WriteRecorder win;
        win.run([&](form::Window& w) { form::picBasins_MouseMove(w, 0, 0, c.x, c.y); });
        // With the default ranges the parameter labels agree with the state labels.
        EXPECT_EQ(labels(win), (std::vector<std::string>{c.sx, c.sy, c.sx, c.sy})) << c.x;
        EXPECT_EQ(win.written, (std::vector<Control>{Control::lblx, Control::lbly,
                                                     Control::lblpx, Control::lblpy}));
    }
}

TEST(Readout, RangesAreReadAtEveryMoveAndNothingElseChanges)
{
    HeadlessWindow win;
    win.state().w = {1, 2, 3, 4, 5, 6};
    auto move = [&](float x, float y, int16_t button) {
        win.run([&](form::Window& w) { form::picBasins_MouseMove(w, button, 0, x, y); });
    };
    move(0, 0, 0);
    win.setText(Control::txtP0, "0");
    win.setText(Control::txtP1, "10");
    win.setText(Control::txtP2, "-3");
    win.setText(Control::txtP3, "");  // no number: that edge is 0
    move(399, 400, 2);                // a held button changes nothing
    EXPECT_EQ(labels(win), (std::vector<std::string>{"-0.0013", "-0.0013", "4.9937", "-1.5019"}));
    EXPECT_EQ(win.state().w, (model::Weights{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(win.text(Control::txtW4), "-0.9");
    EXPECT_EQ(PictureOf(win.canvas()), PictureOf(HeadlessWindow().canvas()));
}

TEST(Readout, OverflowingRangesKeepTheParameterLabels)
{
    HeadlessWindow win;
    win.run([](form::Window& w) { form::picBasins_MouseMove(w, 0, 0, 0, 0); });
    win.setText(Control::txtP2, "-1e308");
    win.setText(Control::txtP3, "1.7e308");
    win.run([](form::Window& w) { form::picBasins_MouseMove(w, 0, 0, 799, 799); });
    ASSERT_EQ(win.errors.size(), 1u);
    EXPECT_EQ(win.errors[0].kind(), RuntimeError::Kind::FloatingPoint);
    EXPECT_EQ(labels(win), (std::vector<std::string>{"1.0000", "-1.0000", "-1.0000", "1.0000"}));
}

void press(HeadlessWindow& win, int16_t button, float x, float y)
{
    win.run([&](form::Window& w) { form::picBasins_MouseDown(w, button, 0, x, y); });
}

TEST(Pick, WritesTheParameterFieldsOfBothIndices)
{
    struct Case { const char *hi, *vi; float x, y; const char* field[6]; };
    const Case cases[] = {
        {"4", "5", 0, 799, {"0.4", "1.9", "-2.7", "-4.311", "-1", "-1"}},
        {"4", "5", 799, 0, {"0.4", "1.9", "-2.7", "-4.311", "1", "1"}},
        {"0", "3", 0, 0, {"-1", "1.9", "-2.7", "1", "-0.9", "1.8"}},
        {"2", "2", 799, 799, {"0.4", "1.9", "-1", "-4.311", "-0.9", "1.8"}}, // vertical wins
        {"", "1.5", 799, 399.5f, {"1", "1.9", "0", "-4.311", "-0.9", "1.8"}}, // 1.5 -> 2
    };
    for (const Case& c : cases) {
        WriteRecorder win;
        win.setText(Control::txtIdx0, c.hi);
        win.setText(Control::txtIdx1, c.vi);
        win.written.clear();
        press(win, 2, c.x, c.y);
        ASSERT_TRUE(win.errors.empty()) << c.hi << c.vi;
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(win.text(form::txtW(i)), c.field[i]) << c.hi << c.vi << " txtW" << i;
        ASSERT_EQ(win.written.size(), 2u);
        EXPECT_EQ(win.written[0], form::txtW(model::RoundHalfEven16(model::ReadNumber(c.hi))));
    }
}

TEST(Pick, ReadsBackAsTheValueRoundedTo15Digits)
{
    // The C library's number formatting follows the locale; the pick must not.
    const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
    HeadlessWindow win;
    win.setText(Control::txtP0, "-0.123456789");
    win.setText(Control::txtP1, "3.3");
    win.setText(Control::txtP2, "1e-9");
    win.setText(Control::txtP3, "7e-7");
    for (float x : {1.0f, 123.25f, 700.0f}) {
        press(win, 2, x, x);
        const double u = x / 799.0, v = (799.0 - x) / 799.0;
        const double values[2] = {-0.123456789 + (3.3 - -0.123456789) * u, 1e-9 + (7e-7 - 1e-9) * v};
        const Control fields[2] = {Control::txtW4, Control::txtW5};
        for (int k = 0; k < 2; ++k) {
            const std::string text = win.text(fields[k]);
            EXPECT_EQ(text.find_first_of(" ,"), std::string::npos) << text;
            char rounded[40];
            std::snprintf(rounded, sizeof rounded, "%.14e", values[k]);
            for (char* p = rounded; *p; ++p)
                if (*p == ',')
                    *p = '.'; // the reference text may have come out in the locale
            EXPECT_EQ(model::ReadNumber(text), model::ReadNumber(rounded)) << text;
        }
    }
    if (german)
        std::setlocale(LC_ALL, "C");
}

TEST(Pick, BadIndicesFailWhereTheyAreFirstUsed)
{
    struct Case { const char *hi, *vi; const char *w4, *w5; RuntimeError::Kind kind; };
    const Case cases[] = {
        {"4", "6", "-1", "1.8", RuntimeError::Kind::IndexOutOfRange},  // horizontal written
        {"-1", "5", "-0.9", "1.8", RuntimeError::Kind::IndexOutOfRange}, // nothing written
        {"5.5", "4", "-0.9", "1.8", RuntimeError::Kind::IndexOutOfRange},
        {"4", "1e6", "-1", "1.8", RuntimeError::Kind::Overflow},
    };
    for (const Case& c : cases) {
        HeadlessWindow win;
        win.setText(Control::txtIdx0, c.hi);
        win.setText(Control::txtIdx1, c.vi);
        press(win, 2, 0, 799);
        ASSERT_EQ(win.errors.size(), 1u) << c.hi << c.vi;
        EXPECT_EQ(win.errors[0].kind(), c.kind);
        EXPECT_EQ(win.text(Control::txtW4), c.w4);
        EXPECT_EQ(win.text(Control::txtW5), c.w5);
    }
}

TEST(Pick, ARightPressDrawsNothingAndLeavesW)
{
    HeadlessWindow win;
    win.canvas().setDot(100, 100, model::Rgb(9, 9, 9));
    const auto before = PictureOf(win.canvas());
    win.state().w = {1, 2, 3, 4, 5, 6};
    win.state().penColor = model::Rgb(255, 0, 0);
    win.canvas().setDotWidth(7);
    press(win, 2, 300, 300);
    EXPECT_TRUE(win.errors.empty());
    EXPECT_EQ(PictureOf(win.canvas()), before);
    EXPECT_EQ(win.state().w, (model::Weights{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(win.canvas().dotWidth(), 7);
    EXPECT_EQ(win.text(Control::lblx), "-0.0000"); // labels untouched
}

TEST(MouseDown, OtherButtonsTraceTheOrbitUnderThePointer)
{
    for (int16_t button : {1, 4, 3}) {
        HeadlessWindow win;
        win.state().penColor = model::Rgb(255, 0, 0);
        press(win, button, 200, 600);
        EXPECT_TRUE(win.errors.empty());
        EXPECT_NE(PictureOf(win.canvas()), PictureOf(HeadlessWindow().canvas())) << button;
        EXPECT_EQ(win.state().w[0], 0.4); // loaded from the fields
        EXPECT_EQ(win.text(Control::txtW4), "-0.9");
    }
}

} // namespace
