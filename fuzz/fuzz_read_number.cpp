// Any text read as a number gives a finite value or the overflow error, and
// a character that cannot continue a number never changes the value.
#include "model/errors.h"
#include "model/numbers.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    double v = 0;
    try {
        v = model::ReadNumber(text);
    } catch (const model::RuntimeError& e) {
        if (e.kind() != model::RuntimeError::Kind::Overflow)
            std::abort();
        return 0;
    }
    if (!std::isfinite(v))
        std::abort();
    // 'Z' is no digit, sign, point, exponent letter or blank: the number ends
    // before it.
    if (model::ReadNumber(text + "Z") != v)
        std::abort();
    return 0;
}
