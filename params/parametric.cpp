#include "params/parametric.h"

#include "model/numbers.h"
#include "params/dots.h"
#include "params/plane.h"

namespace params {

void cmdParametric_Click(model::Window& window)
{
    plots::StartRasterPlot(window);
    const Plane plane = ReadPlane(window);
    const double x0 = model::ReadNumber(window.text(model::Control::txtX00));
    const double y0 = model::ReadNumber(window.text(model::Control::txtX01));
    const DotInputs fixed{.horizontalIndex = plane.horizontalIndex,
                          .verticalIndex = plane.verticalIndex, .x0 = x0, .y0 = y0};
    PlaneColumns plot(window, ParametricDots, plane, fixed, 1, false);
    plots::DotColumns::Walk(plot);
}

} // namespace params
