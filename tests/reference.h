// Plain one-dot-at-a-time implementations of the raster commands, written
// straight from their step lists. The engine's pictures are compared with
// these, pixel for pixel.
#pragma once

#include "model/network.h"
#include "model/settings.h"
#include "model/window.h"
#include "plots/raster.h"

namespace reference {

inline void BasinPlot(model::Window& win, bool locateFp)
{
    model::State& st = win.state();
    const int16_t h = plots::HalfDot(st.stepSize);
    win.canvas().clear();
    win.canvas().setDotWidth(st.stepSize);
    model::ReadWeights(win);
    const int16_t s = st.stepSize;
    for (int16_t i = 0; i <= 799; i = static_cast<int16_t>(i + s)) {
        const double x = (2.0 * (i + h)) / 799.0 - 1.0;
        const int16_t t = st.stepSize;
        for (int16_t j = 0; j <= 799; j = static_cast<int16_t>(j + t)) {
            const double y = (2.0 * (j + h)) / 799.0 - 1.0;
            const int16_t c = locateFp ? model::ClassifyOrbitFp(st, x, y)
                                       : model::ClassifyOrbit(st, x, y);
            win.canvas().setDot(i + h, 799 - (j + h), model::PeriodColor(st, c));
        }
        win.processPendingEvents();
    }
}

inline void FixedPointMap(model::Window& win)
{
    model::State& st = win.state();
    win.canvas().setDotWidth(1);
    model::ReadWeights(win);
    for (int16_t c = 0; c <= 799; ++c) {
        const double x = (2.0 * c) / 799.0 - 1.0;
        for (int16_t r = 0; r <= 799; ++r) {
            const double y = (2.0 * r) / 799.0 - 1.0;
            if (model::IsNearFixpoint(st, x, y))
                win.canvas().setDot(c, 799 - r, st.penColor);
        }
        win.processPendingEvents();
    }
}

} // namespace reference
