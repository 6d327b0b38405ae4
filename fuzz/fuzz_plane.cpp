// Any texts in the six plane fields read as finite ranges and indices rounded
// half to even, or fail with the overflow error; the mapping gives a finite
// value or the floating-point error, nothing else.
#include "form/plane.h"
#include "fuzz/field_window.h"
#include "model/numbers.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

using form::Control;
using model::RuntimeError;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Control fields[] = {Control::txtP0, Control::txtP1, Control::txtP2,
                                     Control::txtP3, Control::txtIdx0, Control::txtIdx1};
    FieldWindow win;
    // Fields separated by '|'.
    std::string rest(reinterpret_cast<const char*>(data), size);
    for (Control f : fields) {
        const size_t bar = rest.find('|');
        win.setText(f, rest.substr(0, bar));
        rest = bar == std::string::npos ? "" : rest.substr(bar + 1);
    }
    form::Plane p;
    try {
        p = form::ReadPlane(win);
    } catch (const RuntimeError& e) {
        if (e.kind() != RuntimeError::Kind::Overflow)
            std::abort();
        return 0;
    }
    if (!std::isfinite(p.left) || !std::isfinite(p.right) || !std::isfinite(p.bottom)
        || !std::isfinite(p.top))
        std::abort();
    if (p.horizontalIndex != model::RoundHalfEven16(model::ReadNumber(win.text(Control::txtIdx0))))
        std::abort();
    for (int offset : {0, 10, 799, 842}) {
        try {
            const double v = form::PlaneValue(p.left, p.right, offset);
            if (!std::isfinite(v))
                std::abort();
            if (offset == 0 && v != p.left)
                std::abort();
        } catch (const RuntimeError& e) {
            if (e.kind() != RuntimeError::Kind::FloatingPoint)
                std::abort();
        }
    }
    return 0;
}
