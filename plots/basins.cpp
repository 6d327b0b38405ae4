#include "plots/basins.h"

#include "model/engine.h"
#include "model/network.h"
#include "model/settings.h"
#include "plots/raster.h"

#include <array>

namespace plots {

namespace {

using model::kernel::Orbit;

void basinPlot(model::Window& window, bool locateFp)
{
    model::State& st = window.state();
    model::Surface& canvas = window.canvas();

    const int16_t h = HalfDot(st.stepSize);
    canvas.clear();
    canvas.setDotWidth(st.stepSize);
    model::ReadWeights(window);

    std::array<double, kCanvasRows> xs, ys;
    std::array<Orbit, kCanvasRows> results;

    const int16_t columnStep = st.stepSize;
    for (int16_t i = 0; i <= 799; i = static_cast<int16_t>(i + columnStep)) {
        const double x = StateCoordinate(i + h);
        const int16_t rowStep = st.stepSize; // read afresh for every column
        int n = 0;
        for (int16_t j = 0; j <= 799; j = static_cast<int16_t>(j + rowStep)) {
            xs[n] = x;
            ys[n] = StateCoordinate(j + h);
            ++n;
        }

        // Evaluate: nothing can change inside a column, so the whole column
        // is classified at once with the values that hold for it.
        const model::Weights w = st.w;
        const int iterations = st.iterations, accuracy = st.accuracy;
        auto evaluate = [&](int begin, int end) {
            model::kernel::ClassifyMany(w, iterations, accuracy, &xs[begin], &ys[begin],
                                        end - begin, locateFp, &results[begin]);
        };
        model::ForEachChunk(n, kDotsPerChunk, evaluate);

        // Commit in drawing order, bottom to top, stopping at a failed dot.
        for (int k = 0; k < n; ++k) {
            const Orbit& o = results[k];
            if (o.failed)
                model::ThrowOrbitFailed();
            if (o.cls == 17)
                st.fixpointColor = o.fpColor;
            canvas.setDot(i + h, 799 - (k * rowStep + h), model::PeriodColor(st, o.cls));
        }
        window.processPendingEvents();
    }
}

} // namespace

void cmdVeltrane_Click(model::Window& window) { basinPlot(window, false); }
void cmdFixpointBasins_Click(model::Window& window) { basinPlot(window, true); }

} // namespace plots
