// A long seeded sequence of random actions, at top level and nested inside
// the pauses of running plots: plots, clear, hostile field edits, mouse
// presses and moves anywhere, colour picks, legend, save and the check boxes.
// After every action the settings are in range, the labels well formed, no
// exception has escaped, and an action reported at most one error of its own
// (exactly one where the outcome is known beforehand).
#include "model/engine.h"
#include "model/errors.h"
#include "model/numbers.h"
#include "model/random.h"
#include "form/canvas_mouse.h"
#include "form/coexisting.h"
#include "form/parametric.h"
#include "form/basins.h"
#include "form/fixpoints.h"
#include "form/headless_window.h"
#include "form/side_tools.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using form::Control;
using model::RuntimeError;

namespace fs = std::filesystem;

namespace {

constexpr int kActions = 10000;

// Counts each reported error against the innermost action that is running.
struct StressWindow : form::HeadlessWindow {
    std::vector<int> ownErrors;
    int strayErrors = 0;
    void reportError(const RuntimeError& e) override
    {
        HeadlessWindow::reportError(e);
        if (ownErrors.empty())
            ++strayErrors;
        else
            ++ownErrors.back();
    }
};

// "-?\d+\.\d{4}"
bool wellFormedLabel(const std::string& s)
{
    size_t i = s.starts_with('-') ? 1 : 0;
    const size_t digits = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
        ++i;
    if (i == digits || i + 5 != s.size() || s[i] != '.')
        return false;
    for (++i; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

struct SettingField {
    Control field;
    int16_t model::State::*setting;
    int lo, hi, replacement;
};
const SettingField kSettings[] = {
    {Control::txtStepSize, &model::State::stepSize, 1, 100, 20},
    {Control::txtIterations, &model::State::iterations, 1, 32767, 1000},
    {Control::txtAccuracy, &model::State::accuracy, 1, 14, 8},
};

class Stress {
public:
    explicit Stress(const fs::path& dir) : dir_(dir)
    {
        win_.onYield = [this] {
            if (pick(100) < 40)
                act();
        };
    }

    void runTopLevel(int total)
    {
        while (actions_ < total && !::testing::Test::HasFailure())
            act();
    }

    int actions() const { return actions_; }
    int nested() const { return nested_; }
    int failed() const { return failed_; }
    int plots() const { return plots_; }
    int deepest() const { return deepest_; }
    int strayErrors() const { return win_.strayErrors; }

private:
    static constexpr int kMaxPlotDepth = 3;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    double uniform(double lo, double hi)
    {
        return std::uniform_real_distribution<double>(lo, hi)(rng_);
    }
    float coordinate(double lo, double hi)
    {
        const double v = uniform(lo, hi);
        return static_cast<float>(pick(2) ? std::floor(v) : v); // whole or fractional
    }

    std::string hostileText()
    {
        static const char* const pieces[] = {
            "1e400", "-1e400", "1e308", "-1e308", "1.7976931348623157e308", "40000", "32767",
            "32768", "-32768", "-32769", "1e1", "2.5", "0.5", "-0.5", "14.9", "0", "", " ",
            "&H", "&HFFFF", "&H7FFF", "&O", "&O77777", "&HFFFFFFFFFFFFFFFFFFFF", "1d5", "1D-3",
            " 12 ", "1,5", "1;5", "1:5", "\t7\n", "abc", "-", "+", ".", "..", "1e", "e5",
            "1.2.3", "--1", "+-1", "0x10", "NaN", "inf", "1e-400", "4.5", "5.5", "6", "-1",
            "\xc3\xa9", "\xff"};
        std::string t;
        const int n = 1 + pick(3);
        for (int k = 0; k < n; ++k) {
            switch (pick(8)) {
            case 0: t += std::to_string(pick(65536) - 32768); break;
            case 1: t += model::DecimalText(uniform(-5, 5)); break;
            case 2: t += std::string(1 + pick(400), static_cast<char>('0' + pick(10))); break;
            case 3: t += std::string(1 + pick(30), " ,.-eE&H"[pick(8)]); break;
            case 4: t += static_cast<char>(pick(256)); break; // a zero byte too
            default: t += pieces[pick(std::size(pieces))]; break;
            }
        }
        if (pick(50) == 0)
            t += std::string(2000, '9');
        return t;
    }

    std::string fieldText(Control c)
    {
        if (pick(3) == 0)
            return hostileText();
        switch (c) {
        case Control::txtIdx0:
        case Control::txtIdx1: return std::to_string(pick(8) - 1);
        case Control::txtNumStartValues: return std::to_string(1 + pick(4));
        case Control::txtStepSize: return std::to_string(10 + pick(91));
        case Control::txtIterations: return std::to_string(1 + pick(30));
        case Control::txtAccuracy: return std::to_string(1 + pick(14));
        default: return model::DecimalText(uniform(-6, 6));
        }
    }

    // What a settings edit must report: the overflow error exactly when the
    // floor of the typed number leaves -32768..32767 (or the number the
    // double range), nothing otherwise.
    static bool editOverflows(const std::string& typed)
    {
        try {
            const double v = model::ReadNumber(typed);
            model::Floor16(v);
            return false;
        } catch (const RuntimeError&) {
            return true;
        }
    }

    void editField(Control c, const std::string& typed)
    {
        const std::string before = win_.text(c);
        const model::State st = win_.state();
        begin();
        win_.setText(c, typed);
        const int errors = end();
        for (const SettingField& s : kSettings) {
            if (s.field != c)
                continue;
            const bool changes = typed != before;
            const bool overflows = changes && editOverflows(typed);
            EXPECT_EQ(errors, overflows ? 1 : 0) << describe(c, typed);
            if (overflows) {
                EXPECT_EQ(win_.state().*s.setting, st.*s.setting) << describe(c, typed);
                EXPECT_EQ(win_.text(c), typed) << describe(c, typed);
            } else if (changes) {
                EXPECT_EQ(win_.text(c), model::IntegerText(win_.state().*s.setting))
                    << describe(c, typed);
            }
            return;
        }
        EXPECT_EQ(errors, 0) << describe(c, typed);
        EXPECT_EQ(win_.text(c), typed) << describe(c, typed);
    }

    // Keeps the sequence fast: the settings and the start-point count go
    // back to small work whenever an edit has made them large.
    void tame()
    {
        if (win_.state().iterations > 30)
            editField(Control::txtIterations, std::to_string(1 + pick(30)));
        if (win_.state().stepSize < 10)
            editField(Control::txtStepSize, std::to_string(10 + pick(91)));
        try {
            if (model::ReadNumber(win_.text(Control::txtNumStartValues)) > 4.5)
                editField(Control::txtNumStartValues, std::to_string(1 + pick(4)));
        } catch (const RuntimeError&) {
        }
    }

    static std::string describe(Control c, const std::string& typed)
    {
        return std::string(form::ControlName(c)) + " <- \"" + typed.substr(0, 60) + "\"";
    }

    void begin()
    {
        ++actions_;
        if (!win_.ownErrors.empty())
            ++nested_;
        win_.ownErrors.push_back(0);
    }

    // Ends the innermost action and checks the invariants.
    int end()
    {
        const int errors = win_.ownErrors.back();
        win_.ownErrors.pop_back();
        if (errors > 0)
            ++failed_;
        EXPECT_LE(errors, 1) << "action " << actions_;
        const model::State& st = win_.state();
        EXPECT_TRUE(st.stepSize >= 1 && st.stepSize <= 100)
            << st.stepSize << " after action " << actions_;
        EXPECT_TRUE(st.iterations >= 1 && st.iterations <= 32767)
            << st.iterations << " after action " << actions_;
        EXPECT_TRUE(st.accuracy >= 1 && st.accuracy <= 14)
            << st.accuracy << " after action " << actions_;
        for (Control l : {Control::lblx, Control::lbly, Control::lblpx, Control::lblpy})
            EXPECT_TRUE(wellFormedLabel(win_.text(l)))
                << form::ControlName(l) << " = \"" << win_.text(l).substr(0, 60)
                << "\" after action " << actions_;
        return errors;
    }

    // Runs a handler as the window's binding does, as one action.
    template <class Handler>
    int command(Handler&& handler)
    {
        begin();
        try {
            win_.run(handler);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "an exception escaped: " << e.what();
        } catch (...) {
            ADD_FAILURE() << "an exception escaped";
        }
        return end();
    }

    void plot()
    {
        using Handler = void (*)(form::Window&);
        static const Handler kinds[] = {
            form::cmdVeltrane_Click, form::cmdFixpointBasins_Click,
            form::cmdParametric_Click, form::cmdCoexisting_Click};
        // The fixed-point map tests every pixel whatever the dot size: rare.
        const Handler h = pick(60) == 0 ? form::cmdFixpoints_Click : kinds[pick(4)];
        ++plots_;
        ++depth_;
        deepest_ = std::max(deepest_, depth_);
        command(h);
        --depth_;
    }

    void act()
    {
        const int r = pick(100);
        if (r < 12 && depth_ < kMaxPlotDepth) {
            plot();
        } else if (r < 17) {
            command(form::cmdClear_Click);
        } else if (r < 50) {
            static const Control fields[] = {
                Control::txtW0, Control::txtW1, Control::txtW2, Control::txtW3,
                Control::txtW4, Control::txtW5, Control::txtP0, Control::txtP1,
                Control::txtP2, Control::txtP3, Control::txtIdx0, Control::txtIdx1,
                Control::txtX00, Control::txtX01, Control::txtNumStartValues,
                Control::txtStepSize, Control::txtIterations, Control::txtAccuracy};
            const Control c = fields[pick(std::size(fields))];
            editField(c, fieldText(c));
            tame();
        } else if (r < 65) {
            static const int16_t buttons[] = {1, 2, 4};
            const int16_t button = buttons[pick(3)];
            const int16_t shift = static_cast<int16_t>(pick(8));
            const bool off = pick(10) == 0;
            const float x = coordinate(off ? -100 : 0, off ? 900 : 799);
            const float y = coordinate(off ? -100 : 0, off ? 900 : 799);
            command([&](form::Window& w) { form::picBasins_MouseDown(w, button, shift, x, y); });
        } else if (r < 80) {
            const bool off = pick(10) == 0;
            const float x = coordinate(off ? -100 : 0, off ? 900 : 799);
            const float y = coordinate(off ? -100 : 0, off ? 900 : 799);
            command([&](form::Window& w) {
                form::picBasins_MouseMove(w, static_cast<int16_t>(pick(8)), 0, x, y);
            });
        } else if (r < 87) {
            colourPick();
        } else if (r < 91) {
            const size_t lines = win_.canvas().printedLines().size();
            EXPECT_EQ(command(form::cmdLegend_Click), 0);
            EXPECT_EQ(win_.canvas().printedLines().size(), lines + 8);
        } else if (r < 93) {
            save();
        } else if (r < 97) {
            win_.setChecked(pick(2) ? Control::chkFp : Control::chkReshuffle, pick(2));
        } else {
            editField(Control::txtFileName, fileName());
        }
    }

    std::string fileName()
    {
        switch (pick(4)) {
        case 0: return (dir_ / "missing" / "x.bmp").string();
        case 1: return (dir_ / "b.bmp").string();
        default: return (dir_ / "a.bmp").string();
        }
    }

    void save()
    {
        // Only names inside the test's folder are ever saved to.
        const std::string name = fileName();
        editField(Control::txtFileName, name);
        const bool missing = name.find("missing") != std::string::npos;
        EXPECT_EQ(command(form::cmdSave_Click), missing ? 1 : 0) << name;
        if (!missing) {
            EXPECT_EQ(fs::file_size(name), 54u + 800u * 2400u);
        }
    }

    void colourPick()
    {
        plots::Canvas picker(form::kPickerWidth, form::kPickerHeight, form::kPickerBackground);
        EXPECT_EQ(command([&](form::Window& w) { form::picColorPicker_Paint(w, picker); }), 0);
        const float x = coordinate(-5, form::kPickerWidth + 5);
        const float y = coordinate(-5, form::kPickerHeight + 5);
        const model::Color shown = picker.pixel(static_cast<int>(std::floor(x)),
                                                static_cast<int>(std::floor(y)));
        EXPECT_EQ(command([&](form::Window& w) {
                      form::picColorPicker_MouseDown(w, picker, 1 + pick(4), 0, x, y);
                  }),
                  0);
        EXPECT_EQ(win_.state().penColor, shown) << x << ", " << y;
    }

    fs::path dir_;
    StressWindow win_;
    std::mt19937 rng_{20240611u};
    int actions_ = 0, nested_ = 0, failed_ = 0, plots_ = 0, depth_ = 0, deepest_ = 0;
};

TEST(Stress, TenThousandRandomActionsKeepTheWindowSound)
{
    const fs::path dir =
        fs::temp_directory_path() / ("veltrane-stress-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);

    // The same sequence in every run, whatever ran before in this process.
    model::ResetRandomForTests();
    // One thread: the sequence's thousands of short columns exercise the
    // handlers, not the engine's sharing of work, which waits on every core
    // at every column and is slow on a busy machine.
    model::SetThreadCount(1);
    const auto start = std::chrono::steady_clock::now();
    Stress stress(dir);
    stress.runTopLevel(kActions);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d actions (%d nested, %d plots, nesting depth %d, %d failed) in %.2f s\n",
                stress.actions(), stress.nested(), stress.plots(), stress.deepest(),
                stress.failed(), seconds);

    EXPECT_GE(stress.actions(), kActions);
    EXPECT_EQ(stress.strayErrors(), 0) << "an error reported outside any action";
    // The sequence really exercises what it claims.
    EXPECT_GT(stress.nested(), stress.actions() / 10);
    EXPECT_GT(stress.failed(), stress.actions() / 50);
    EXPECT_GE(stress.deepest(), 2);
    model::SetThreadCount(0);
    fs::remove_all(dir);
}

} // namespace
