#include "form/columns.h"

#include "form/settings.h"

#include <algorithm>

namespace form {

DotColumns::DotColumns(Window& window, DotFunction dots, const Raster& raster,
                       int orbitsPerDot)
    : window_(window), st_(window.state()), raster_(raster), dots_(dots),
      orbitsPerDot_(orbitsPerDot), ahead_(model::ColumnsAhead(raster.rows() * orbitsPerDot)),
      slots_(model::SlotsFor(ahead_))
{
}

int DotColumns::prepare(int slot, const Inputs& in, int c)
{
    Slot& s = slots_[slot];
    if (asideSlot_ == slot)
        asideSlot_ = -1;
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

void DotColumns::evaluateAside(int slot, int part)
{
    const Slot& s = slots_[slot];
    if (asideSlot_ != slot) {
        asideSlot_ = slot;
        asideParts_.assign(static_cast<size_t>(s.parts), 0);
    }
    const int begin = s.rows * part / s.parts, end = s.rows * (part + 1) / s.parts;
    dots_(s.in.dots, rasterOf(s.in), s.column, begin, end - begin, &aside_[begin]);
    asideParts_[part] = 1;
}

const DotResult* DotColumns::results(int slot) const
{
    const Slot& s = slots_[slot];
    if (asideSlot_ != slot)
        return s.dots.data();
    // The parts the workers finished join those evaluated aside; a part
    // evaluated aside may still be written in the slot, so it is not read.
    for (int part = 0; part < s.parts; ++part) {
        if (asideParts_[part])
            continue;
        const int begin = s.rows * part / s.parts, end = s.rows * (part + 1) / s.parts;
        std::copy(s.dots.begin() + begin, s.dots.begin() + end, aside_.begin() + begin);
    }
    return aside_.data();
}

void StartRasterPlot(Window& window)
{
    window.canvas().clear();
    window.canvas().setDotWidth(window.state().stepSize);
    ReadWeights(window);
}

} // namespace form
