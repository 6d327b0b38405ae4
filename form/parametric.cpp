#include "form/parametric.h"

#include "form/plane.h"
#include "model/numbers.h"
#include "params/dots.h"

namespace form {

void cmdParametric_Click(Window& window)
{
    StartRasterPlot(window);
    const Plane plane = ReadPlane(window);
    const double x0 = model::ReadNumber(window.text(Control::txtX00));
    const double y0 = model::ReadNumber(window.text(Control::txtX01));
    const DotInputs fixed{.horizontalIndex = plane.horizontalIndex,
                          .verticalIndex = plane.verticalIndex, .x0 = x0, .y0 = y0};
    PlaneColumns plot(window, params::ParametricDots, plane, fixed, 1, false);
    DotColumns::Walk(plot);
}

} // namespace form
