#include "form/fixpoints.h"

#include "form/columns.h"
#include "form/settings.h"

namespace form {

namespace {

// The fixed-point map: every pixel is a dot of width 1 whatever stepSize says;
// a column reads w and the accuracy. A column is 800 single steps of the map,
// a few microseconds; the columns ahead give the workers enough to do.
class FixpointColumns : public DotColumns {
public:
    explicit FixpointColumns(Window& window)
        : DotColumns(window, plots::FixptDots, MakeRaster(model::kCanvasSize, 1), 1)
    {
    }

    Inputs begin(int) const { return {{.w = st_.w, .accuracy = st_.accuracy}, 1}; }

    // Bottom to top; a failed test ends the command with the marks below it
    // drawn. penColor is read at every mark.
    void commit(int slot, const Inputs&, int c)
    {
        const DotResult* marks = results(slot);
        for (int k = 0; k < raster_.rows(); ++k) {
            if (marks[k].failure != DotResult::Failure::None)
                model::ThrowOrbitFailed();
            if (marks[k].cls == 1)
                window_.canvas().setDot(c, raster_.pixelRow(k), st_.penColor);
        }
    }
};

} // namespace

void cmdFixpoints_Click(Window& window)
{
    window.canvas().setDotWidth(1); // stepSize plays no part here
    ReadWeights(window);
    FixpointColumns plot(window);
    DotColumns::Walk(plot);
}

} // namespace form
