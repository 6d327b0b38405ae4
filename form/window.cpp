#include "form/window.h"

#include <charconv>
#include <iterator>

namespace form {

namespace {

Control member(Control first, int count, int index, const char* group)
{
    if (index < 0 || index >= count)
        model::throwIndexOutOfRange(std::string("Index out of range: there is no field ") + group
                             + "(" + std::to_string(index) + ").");
    return static_cast<Control>(static_cast<int>(first) + index);
}

} // namespace

Control txtW(int index) { return member(Control::txtW0, 6, index, "txtW"); }
Control txtP(int index) { return member(Control::txtP0, 4, index, "txtP"); }
Control txtIdx(int index) { return member(Control::txtIdx0, 2, index, "txtIdx"); }
Control txtX0(int index) { return member(Control::txtX00, 2, index, "txtX0"); }

std::string Window::formatCoordinate(double v) const
{
    // Fixed notation with four decimals, independent of the C locale; the
    // sign of a negative value that rounds to zero is kept.
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
    return std::string(buf, r.ptr);
}

namespace {

// Every field and label the commands read or write: its name in the control
// table and its text when the window opens.
struct ControlText {
    const char* name;
    const char* text;
};

constexpr ControlText kControlTexts[] = {
    {"txtW(0)", "0.4"},   {"txtW(1)", "1.9"},   {"txtW(2)", "-2.7"},
    {"txtW(3)", "-4.311"}, {"txtW(4)", "-0.9"}, {"txtW(5)", "1.8"},
    {"txtP(0)", "-1.0"},  {"txtP(1)", "1.0"},   {"txtP(2)", "-1.0"},  {"txtP(3)", "1.0"},
    {"txtIdx(0)", "4"},   {"txtIdx(1)", "5"},
    {"txtX0(0)", "1.0"},  {"txtX0(1)", "1.0"},
    {"txtNumStartValues", "5"},
    {"txtFileName", "basin01.bmp"},
    {"txtStepSize", "20"}, {"txtIterations", "1000"}, {"txtAccuracy", "8"},
    {"chkReshuffle", ""}, {"chkFp", ""},
    {"lblx", "-0.0000"},  {"lbly", "-0.0000"},  {"lblpx", "-0.0000"}, {"lblpy", "-0.0000"},
};
static_assert(std::size(kControlTexts) == static_cast<size_t>(Control::Count));

} // namespace

const char* ControlName(Control c) { return kControlTexts[static_cast<int>(c)].name; }

const char* DefaultText(Control c) { return kControlTexts[static_cast<int>(c)].text; }

} // namespace form
