// Any text typed into any settings field leaves the setting inside its range
// with its whole-number text in the field, or reports the overflow error once
// and leaves setting and typed text as they were.
#include "fuzz/field_window.h"
#include "model/numbers.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using form::Control;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const Control fields[] = {Control::txtStepSize, Control::txtIterations,
                                     Control::txtAccuracy};
    const Control field = fields[data[0] % 3];
    const std::string typed(reinterpret_cast<const char*>(data + 1), size - 1);

    FieldWindow win;
    const model::State before = win.state();
    win.setText(field, typed);
    const model::State& st = win.state();
    int16_t setting = 0;
    int lo = 1, hi = 0;
    switch (field) {
    case Control::txtStepSize: setting = st.stepSize; lo = 1; hi = 100; break;
    case Control::txtIterations: setting = st.iterations; lo = 1; hi = 32767; break;
    default: setting = st.accuracy; lo = 1; hi = 14; break;
    }
    if (!win.errors.empty()) {
        if (win.errors.size() != 1
            || win.errors[0].kind() != model::RuntimeError::Kind::Overflow
            || st.stepSize != before.stepSize || st.iterations != before.iterations
            || st.accuracy != before.accuracy || win.text(field) != typed)
            std::abort();
        return 0;
    }
    if (setting < lo || setting > hi || win.text(field) != model::IntegerText(setting))
        std::abort();
    return 0;
}
