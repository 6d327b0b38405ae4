#include "form/settings.h"

#include "model/defaults.h"
#include "model/numbers.h"

namespace form {

using model::Floor16;
using model::IntegerText;
using model::ReadNumber;
using model::RoundHalfEven16;

void ReadWeights(Window& window)
{
    State& st = window.state();
    for (int i = 0; i < 6; ++i)
        st.w[i] = ReadNumber(window.text(txtW(i)));
}

void Form_Load(Window& window)
{
    State& st = window.state();
    st.stepSize = RoundHalfEven16(ReadNumber(window.text(Control::txtStepSize)));
    st.iterations = RoundHalfEven16(ReadNumber(window.text(Control::txtIterations)));
    st.accuracy = RoundHalfEven16(ReadNumber(window.text(Control::txtAccuracy)));
}

namespace {

void settingChange(Window& window, Control field, int16_t State::*setting, int lo, int hi,
                   int16_t replacement)
{
    // Steps 1 to 3 run without yielding, so nobody sees an out-of-range value.
    const int16_t v = Floor16(ReadNumber(window.text(field)));
    State& st = window.state();
    st.*setting = v;
    if (st.*setting < lo || st.*setting > hi)
        st.*setting = replacement;
    window.setText(field, IntegerText(st.*setting));
}

} // namespace

void txtStepSize_Change(Window& window)
{
    settingChange(window, Control::txtStepSize, &State::stepSize, 1, model::kMaxDotSize,
                  model::kDefaultDotSize);
}

void txtIterations_Change(Window& window)
{
    settingChange(window, Control::txtIterations, &State::iterations, 1, model::kMaxIterations,
                  model::kDefaultIterations);
}

void txtAccuracy_Change(Window& window)
{
    settingChange(window, Control::txtAccuracy, &State::accuracy, 1, model::kMaxAccuracy,
                  model::kDefaultAccuracy);
}

ChangeHandler ChangeHandlerOf(Control c)
{
    switch (c) {
    case Control::txtStepSize: return &txtStepSize_Change;
    case Control::txtIterations: return &txtIterations_Change;
    case Control::txtAccuracy: return &txtAccuracy_Change;
    default: return nullptr;
    }
}

} // namespace form
