// The decimal text of any finite value has no blanks, uses "." and at most 15
// significant digits, and reads back as the value rounded to 15 digits.
#include "model/numbers.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < sizeof(double))
        return 0;
    double v;
    std::memcpy(&v, data, sizeof v);
    if (!std::isfinite(v))
        return 0;
    const std::string text = model::DecimalText(v);
    int digits = 0;
    bool inExponent = false, leading = true;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == '\t')
            std::abort();
        if (c == 'E')
            inExponent = true;
        if (!inExponent && c >= '0' && c <= '9') {
            if (c != '0')
                leading = false;
            if (!leading)
                ++digits;
        }
    }
    if (digits > 15)
        std::abort();
    // Rounded to 15 digits (the largest magnitudes, which would round past the
    // double range, are cut instead).
    char buf[64];
    const double limit = 1.79769313486231e308;
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v) > limit ? std::copysign(limit, v) : v);
    const double expected = std::strtod(buf, nullptr);
    const double back = model::ReadNumber(text);
    if (back != expected)
        std::abort();
    return 0;
}
