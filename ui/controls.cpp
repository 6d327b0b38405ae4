#include "ui/controls.h"

#include "form/window.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

namespace ui {

namespace {

constexpr const char* kSameForY = "As above, but for y-axis.";
// The text of a control that the window's state knows: form::DefaultText.
constexpr const char* kModel = nullptr;

constexpr ControlSpec kControls[] = {
    {"picBasins", Kind::PictureBox, "", "",
     "Click left to start a trajectory, click right to use this point as system parameters.",
     8, 0, 802, 802},
    {"Label1(0)", Kind::Label, "", "x =", "", 824, 8, 17, 17},
    {"lblx", Kind::Label, "", kModel, "", 840, 8, 41, 17},
    {"lblpx", Kind::Label, "", kModel, "", 888, 8, 57, 17},
    {"Label1(1)", Kind::Label, "", "y =", "", 824, 24, 17, 17},
    {"lbly", Kind::Label, "", kModel, "", 840, 24, 41, 17},
    {"lblpy", Kind::Label, "", kModel, "", 888, 24, 57, 17},
    {"picColorPicker", Kind::PictureBox, "", "",
     "Color Picker. International resistor code (1 brown, 2 red, 3 orange, ...).",
     824, 40, 81, 313},
    {"txtFileName", Kind::TextField, "", kModel, "", 824, 360, 121, 19},
    {"cmdLegend", Kind::Button, "", "Legend", "Insert legend into graphics.", 824, 384, 57, 25},
    {"cmdSave", Kind::Button, "", "Save", "Save graphics as seen.", 888, 384, 57, 25},
    {"Frame2", Kind::Frame, "", "weights", "", 824, 416, 121, 65},
    {"txtW(0)", Kind::TextField, "Frame2", kModel, "w11", 8, 16, 49, 19},
    {"txtW(1)", Kind::TextField, "Frame2", kModel, "w12", 64, 16, 49, 19},
    {"txtW(2)", Kind::TextField, "Frame2", kModel, "w21", 8, 40, 49, 19},
    {"txtW(3)", Kind::TextField, "Frame2", kModel, "w22", 64, 40, 49, 19},
    {"Frame1", Kind::Frame, "", "bias", "", 824, 488, 65, 65},
    {"txtW(4)", Kind::TextField, "Frame1", kModel, "b1", 8, 16, 49, 19},
    {"txtW(5)", Kind::TextField, "Frame1", kModel, "b2", 8, 40, 49, 19},
    {"Frame4", Kind::Frame, "", "x0", "", 896, 488, 49, 65},
    {"txtX0(0)", Kind::TextField, "Frame4", kModel, "Start value (parametric plot).", 8, 16, 33, 19},
    {"txtX0(1)", Kind::TextField, "Frame4", kModel, "As above.", 8, 40, 33, 19},
    {"Frame3", Kind::Frame, "", "parametric", "", 824, 560, 121, 65},
    {"txtP(0)", Kind::TextField, "Frame3", kModel, "Left border of x-axis.", 8, 16, 33, 19},
    {"txtP(1)", Kind::TextField, "Frame3", kModel, "Right border of x-axis.", 48, 16, 33, 19},
    {"txtIdx(0)", Kind::TextField, "Frame3", kModel,
     "Index for x-axis: 0..3 for weight, 4..5 for bias (left to right, top to down).",
     88, 16, 25, 19},
    {"txtP(2)", Kind::TextField, "Frame3", kModel, kSameForY, 8, 40, 33, 19},
    {"txtP(3)", Kind::TextField, "Frame3", kModel, kSameForY, 48, 40, 33, 19},
    {"txtIdx(1)", Kind::TextField, "Frame3", kModel, kSameForY, 88, 40, 25, 19},
    {"cmdParametric", Kind::Button, "", "Parametric", "Iso-periodic plot.", 872, 632, 73, 17},
    {"chkReshuffle", Kind::CheckBox, "", kModel,
     "Check this, to use new random start values for each pixel.", 821, 640, 17, 17},
    {"txtNumStartValues", Kind::TextField, "", kModel,
     "Number of different start values to test for co-existing attractors.", 840, 651, 25, 19},
    {"chkFp", Kind::CheckBox, "", kModel,
     "Check this, to count the multiplicity of coexistent fixed points.", 821, 656, 17, 17},
    {"cmdCoexisting", Kind::Button, "", "Coexisting",
     "Draw number of co-existing types of attractors.", 872, 656, 73, 17},
    {"Label1(3)", Kind::Label, "", "Iterations", "", 840, 683, 49, 17},
    {"txtIterations", Kind::TextField, "", kModel, "Number of iterations per point.", 896, 680,
     49, 19},
    {"Label1(4)", Kind::Label, "", "Accuracy", "", 840, 704, 49, 17},
    {"txtAccuracy", Kind::TextField, "", kModel,
     "Accuracy for deciding if points are equal (8 stands for 1E-8).", 896, 704, 49, 19},
    {"cmdClear", Kind::Button, "", "Clear", "Clear graphics.", 824, 720, 41, 17},
    {"Label1(2)", Kind::Label, "", "Size", "", 880, 732, 25, 17},
    {"txtStepSize", Kind::TextField, "", kModel,
     "Drawing size of points, orbits, and the like. Use 1 for beautiful pictures which take "
     "long time.",
     912, 728, 33, 19},
    {"cmdFixpoints", Kind::Button, "", "Fixpt",
     "Draw Points with low dx/dt (uses Accuracy setting).", 824, 744, 41, 17},
    {"cmdVeltrane", Kind::Button, "", "Veltrane",
     "Draws Basins (co-existent fixpoints all have brown basins).", 872, 752, 73, 33},
    {"cmdFixpointBasins", Kind::Button, "", "FpBas",
     "Use different colors for basins of different fixed points.", 824, 768, 41, 17},
};

constexpr const char* kTabOrder[] = {
    "picBasins", "cmdVeltrane", "txtStepSize", "txtW(4)", "txtW(5)", "txtW(0)", "txtW(1)",
    "txtW(2)", "txtW(3)", "cmdClear", "txtIterations", "txtAccuracy", "picColorPicker",
    "cmdSave", "txtFileName", "cmdLegend", "txtP(0)", "txtP(1)", "txtP(2)", "txtP(3)",
    "txtIdx(0)", "txtIdx(1)", "cmdParametric", "cmdFixpoints", "txtX0(0)", "txtX0(1)",
    "cmdCoexisting", "txtNumStartValues", "chkReshuffle", "cmdFixpointBasins", "chkFp",
};

} // namespace

std::span<const ControlSpec> ControlTable()
{
    static const std::array<ControlSpec, std::size(kControls)> table = [] {
        std::array<ControlSpec, std::size(kControls)> t;
        std::copy(std::begin(kControls), std::end(kControls), t.begin());
        for (ControlSpec& entry : t) {
            if (entry.text != kModel)
                continue;
            for (int c = 0; c < static_cast<int>(form::Control::Count); ++c) {
                const auto control = static_cast<form::Control>(c);
                if (std::string_view(form::ControlName(control)) == entry.name)
                    entry.text = form::DefaultText(control);
            }
        }
        return t;
    }();
    return table;
}
std::span<const char* const> TabOrder() { return kTabOrder; }

} // namespace ui
