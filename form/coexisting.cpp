#include "form/coexisting.h"

#include "form/plane.h"
#include "model/defaults.h"
#include "model/numbers.h"
#include "model/random.h"

#include <vector>

namespace form {

int16_t ReadNumStartValues(Window& window)
{
    const int16_t n =
        model::RoundHalfEven16(model::ReadNumber(window.text(Control::txtNumStartValues)));
    if (n >= 1 && n <= params::kMaxStartValues)
        return n; // the text stays as typed
    window.setText(Control::txtNumStartValues, model::IntegerText(model::kDefaultStartValues));
    return model::kDefaultStartValues;
}

void cmdCoexisting_Click(Window& window)
{
    const int n = ReadNumStartValues(window);
    std::vector<double> startX, startY;
    params::DrawStartPoints(model::Random(), n, startX, startY);

    StartRasterPlot(window);
    const Plane plane = ReadPlane(window);
    const DotInputs fixed{.horizontalIndex = plane.horizontalIndex,
                          .verticalIndex = plane.verticalIndex, .startValues = n,
                          .startX = startX.data(), .startY = startY.data()};
    PlaneColumns plot(window, params::CoexistingDots, plane, fixed, n, true);
    DotColumns::Walk(plot);
}

} // namespace form
