#include "model/window.h"

#include <charconv>

namespace model {

namespace {

Control member(Control first, int count, int index, const char* group)
{
    if (index < 0 || index >= count)
        throwIndexOutOfRange(std::string("Index out of range: there is no field ") + group
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

const char* ControlName(Control c)
{
    static constexpr const char* names[] = {
        "txtW(0)", "txtW(1)", "txtW(2)", "txtW(3)", "txtW(4)", "txtW(5)",
        "txtP(0)", "txtP(1)", "txtP(2)", "txtP(3)",
        "txtIdx(0)", "txtIdx(1)",
        "txtX0(0)", "txtX0(1)",
        "txtNumStartValues",
        "txtFileName",
        "txtStepSize", "txtIterations", "txtAccuracy",
        "chkReshuffle", "chkFp",
        "lblx", "lbly", "lblpx", "lblpy",
    };
    static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(Control::Count));
    return names[static_cast<int>(c)];
}

const char* DefaultText(Control c)
{
    static constexpr const char* texts[] = {
        "0.4", "1.9", "-2.7", "-4.311", "-0.9", "1.8",
        "-1.0", "1.0", "-1.0", "1.0",
        "4", "5",
        "1.0", "1.0",
        "5",
        "basin01.bmp",
        "20", "1000", "8",
        "", "",
        "-0.0000", "-0.0000", "-0.0000", "-0.0000",
    };
    static_assert(sizeof texts / sizeof texts[0] == static_cast<size_t>(Control::Count));
    return texts[static_cast<int>(c)];
}

} // namespace model
