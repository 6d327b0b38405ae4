#include "params/parametric.h"

#include "model/engine.h"
#include "model/network.h"
#include "model/numbers.h"
#include "model/settings.h"
#include "params/plane.h"
#include "plots/raster.h"

#include <array>
#include <exception>

namespace params {

using model::kernel::Orbit;

void cmdParametric_Click(model::Window& window)
{
    model::State& st = window.state();
    model::Surface& canvas = window.canvas();

    const int16_t h = plots::HalfDot(st.stepSize);
    canvas.clear();
    canvas.setDotWidth(st.stepSize);
    model::ReadWeights(window);
    const Plane plane = ReadPlane(window);
    const double x0 = model::ReadNumber(window.text(model::Control::txtX00));
    const double y0 = model::ReadNumber(window.text(model::Control::txtX01));

    std::array<double, plots::kCanvasRows> rowValues;
    std::array<Orbit, plots::kCanvasRows> results;
    std::array<model::Weights, plots::kCanvasRows> weights;
    std::array<double, plots::kCanvasRows> xs, ys; // the one start point, for every dot
    xs.fill(x0);
    ys.fill(y0);

    const int16_t columnStep = st.stepSize;
    for (int16_t i = 0; i <= 799; i = static_cast<int16_t>(i + columnStep)) {
        SetColumnParameter(plane, st.w, i + h);

        // The vertical values of the column. A mapping error stops the column
        // at that dot; the dots below it are still drawn first.
        const int16_t rowStep = st.stepSize; // read afresh for every column
        std::exception_ptr stop;
        const int n = ColumnRowValues(plane, h, rowStep, rowValues.data(), stop);

        // Evaluate: within a column only w(vertical index) changes from dot
        // to dot, so every dot is classified with its own copy of w, all of
        // the column together.
        const int iterations = st.iterations, accuracy = st.accuracy;
        const int vi = plane.verticalIndex;
        for (int k = 0; k < n; ++k) {
            weights[k] = st.w;
            weights[k][vi] = rowValues[k];
        }
        auto evaluate = [&](int begin, int end) {
            model::kernel::ClassifyManyEach(&weights[begin], iterations, accuracy, &xs[begin],
                                            &ys[begin], end - begin, false, &results[begin]);
        };
        model::ForEachChunk(n, plots::kDotsPerChunk, evaluate);

        // Commit in drawing order, bottom to top, stopping at a failed dot.
        for (int k = 0; k < n; ++k) {
            st.w[vi] = rowValues[k];
            if (results[k].failed)
                model::ThrowOrbitFailed();
            canvas.setDot(i + h, 799 - (k * rowStep + h), model::PeriodColor(st, results[k].cls));
        }
        if (stop)
            std::rethrow_exception(stop);
        window.processPendingEvents();
    }
}

} // namespace params
