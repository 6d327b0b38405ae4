#include "plots/fixpoints.h"

#include "model/network.h"
#include "model/settings.h"
#include "plots/raster.h"

#include <array>

namespace plots {

namespace {

// The outcome of the near-fixed-point test at one pixel.
enum class Mark : uint8_t { None, Near, Failed };

} // namespace

void cmdFixpoints_Click(model::Window& window)
{
    model::State& st = window.state();
    model::Surface& canvas = window.canvas();

    canvas.setDotWidth(1); // stepSize plays no part here
    model::ReadWeights(window);

    std::array<double, kCanvasRows> ys;
    for (int r = 0; r < kCanvasRows; ++r)
        ys[r] = StateCoordinate(r);
    std::array<Mark, kCanvasRows> marks;

    for (int16_t c = 0; c <= 799; ++c) {
        const double x = StateCoordinate(c);

        // Evaluate the column first: nothing can change inside it, so the
        // parameters and the accuracy hold for every pixel of it. A test is a
        // single step of the map, about 30 microseconds for a whole column:
        // less than it costs to wake a second thread, so the column is
        // evaluated on this one.
        const model::Weights w = st.w;
        const int accuracy = st.accuracy;
        for (int r = 0; r < kCanvasRows; ++r) {
            bool ok = true;
            const bool near = model::kernel::IsNearFixpoint(w, accuracy, x, ys[r], ok);
            marks[r] = !ok ? Mark::Failed : near ? Mark::Near : Mark::None;
        }

        // Commit bottom to top; a failed test ends the command with the marks
        // below it drawn.
        for (int r = 0; r < kCanvasRows; ++r) {
            if (marks[r] == Mark::Failed)
                model::ThrowOrbitFailed();
            if (marks[r] == Mark::Near)
                canvas.setDot(c, 799 - r, st.penColor); // penColor read at every mark
        }
        window.processPendingEvents();
    }
}

} // namespace plots
