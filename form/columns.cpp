#include "form/columns.h"

#include "form/settings.h"

#include <algorithm>

namespace form {

DotColumns::DotColumns(Window& window, DotFunction dots, const Raster& raster,
                       int orbitsPerDot)
    : window_(window), st_(window.state()), raster_(raster), dots_(dots),
      orbitsPerDot_(orbitsPerDot), ahead_(model::ColumnsAhead(raster.rows() * orbitsPerDot)),
      slots_(ahead_ + 1)
{
}

int DotColumns::prepare(int slot, const Inputs& in, int c)
{
    Slot& s = slots_[slot];
    s.in = in;
    s.column = c;
    s.rows = rasterOf(in).rows();
    s.parts = std::min(s.rows, model::PartsFor(s.rows * orbitsPerDot_));
    return s.parts;
}

void DotColumns::evaluate(int slot, int part)
{
    Slot& s = slots_[slot];
    const int begin = s.rows * part / s.parts, end = s.rows * (part + 1) / s.parts;
    dots_(s.in.dots, rasterOf(s.in), s.column, begin, end - begin, &s.dots[begin]);
}

void StartRasterPlot(Window& window)
{
    window.canvas().clear();
    window.canvas().setDotWidth(window.state().stepSize);
    ReadWeights(window);
}

} // namespace form
