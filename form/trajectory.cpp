#include "form/trajectory.h"

#include "form/settings.h"
#include "model/network.h"
#include "model/numbers.h"

#include <cmath>

namespace form {

namespace {

// The pixel of a state coordinate: the nearest pixel of the state-plane
// mapping, halves rounded upwards.
int16_t pixelOf(double coordinate)
{
    return model::Floor16(((coordinate + 1.0) * model::kLastCanvasIndex) / 2.0 + 0.5);
}

} // namespace

void TraceTrajectory(Window& window, double u, double v)
{
    model::State& st = window.state();
    plots::Surface& canvas = window.canvas();
    canvas.setDotWidth(st.stepSize);
    double x = 2.0 * u - 1.0;
    double y = 2.0 * v - 1.0;
    if (!std::isfinite(x) || !std::isfinite(y))
        model::throwFloatingPoint("Floating-point error: the pointer position is not a number.");
    ReadWeights(window);
    const model::Weights& w = st.w;
    auto step = [&] {
        const double a = (w[0] * x + w[1] * y) + w[4];
        const double b = (w[2] * x + w[3] * y) + w[5];
        y = model::Transfer(b);
        x = model::Transfer(a);
    };

    const int transient = st.iterations; // taken once; 32767 steps run in full
    for (int n = 0; n < transient; ++n)
        step();
    for (int n = 0; n < kTraceDots; ++n) {
        step();
        const int16_t column = pixelOf(x);
        const int16_t k = pixelOf(y);
        // penColor is read at every dot.
        canvas.setDot(column, model::kLastCanvasIndex - k, st.penColor);
    }
}

} // namespace form
