#include "params/coexisting.h"

#include "model/numbers.h"
#include "model/random.h"
#include "params/plane.h"

#include <vector>

namespace params {

int16_t ReadNumStartValues(model::Window& window)
{
    const int16_t n =
        model::RoundHalfEven16(model::ReadNumber(window.text(model::Control::txtNumStartValues)));
    if (n >= 1 && n <= kMaxStartValues)
        return n; // the text stays as typed
    window.setText(model::Control::txtNumStartValues, "5");
    return 5;
}

void cmdCoexisting_Click(model::Window& window)
{
    const int n = ReadNumStartValues(window);
    std::vector<double> startX, startY;
    DrawStartPoints(model::Random(), n, startX, startY);

    plots::StartRasterPlot(window);
    const Plane plane = ReadPlane(window);
    const DotInputs fixed{.horizontalIndex = plane.horizontalIndex,
                          .verticalIndex = plane.verticalIndex, .startValues = n,
                          .startX = startX.data(), .startY = startY.data()};
    PlaneColumns plot(window, CoexistingDots, plane, fixed, n, true);
    plots::DotColumns::Walk(plot);
}

} // namespace params
