#include "form/basins.h"

#include "form/columns.h"

namespace form {

namespace {

// The basin plots: a column reads w, the settings and the row step; a dot is
// drawn in its class's colour, and a located fixed point sets fixpointColor.
class BasinColumns : public DotColumns {
public:
    BasinColumns(Window& window, DotFunction dots)
        : DotColumns(window, dots, MakeRaster(model::kCanvasSize, window.state().stepSize), 1)
    {
    }

    Inputs begin(int) const
    {
        return {{.w = st_.w, .iterations = st_.iterations, .accuracy = st_.accuracy},
                st_.stepSize};
    }

    // Drawing order, bottom to top, stopping at a failed dot.
    void commit(int slot, const Inputs& in, int c)
    {
        const Raster raster = rasterOf(in);
        const DotResult* dots = results(slot);
        for (int k = 0; k < raster.rows(); ++k) {
            if (dots[k].failure != DotResult::Failure::None)
                model::ThrowOrbitFailed();
            if (dots[k].hasFixpoint)
                st_.fixpointColor = dots[k].fpColor;
            window_.canvas().setDot(raster.pixelColumn(c), raster.pixelRow(k),
                                    model::PeriodColor(st_, static_cast<int16_t>(dots[k].cls)));
        }
    }
};

void basinPlot(Window& window, DotFunction dots)
{
    StartRasterPlot(window);
    BasinColumns plot(window, dots);
    DotColumns::Walk(plot);
}

} // namespace

void cmdVeltrane_Click(Window& window) { basinPlot(window, plots::VeltraneDots); }
void cmdFixpointBasins_Click(Window& window) { basinPlot(window, plots::FpBasDots); }

} // namespace form
