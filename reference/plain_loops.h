// Plain one-dot-at-a-time implementations of the raster commands, written
// straight from their step lists. The engine's pictures are compared with
// these, pixel for pixel.
#pragma once

#include "form/settings.h"
#include "form/window.h"
#include "model/network.h"
#include "model/numbers.h"
#include "model/random.h"
#include "plots/raster.h"

#include <array>
#include <cmath>
#include <vector>

namespace reference {

inline void BasinPlot(form::Window& win, bool locateFp)
{
    model::State& st = win.state();
    const int16_t h = plots::HalfDot(st.stepSize);
    win.canvas().clear();
    win.canvas().setDotWidth(st.stepSize);
    form::ReadWeights(win);
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

// The parameter-plane fields, read in the order both plots read them.
struct PlaneFields {
    double left, right, bottom, top;
    int16_t hi, vi;
};

inline PlaneFields ReadPlaneFields(form::Window& win)
{
    using form::Control;
    PlaneFields p;
    p.left = model::ReadNumber(win.text(Control::txtP0));
    p.right = model::ReadNumber(win.text(Control::txtP1));
    p.bottom = model::ReadNumber(win.text(Control::txtP2));
    p.top = model::ReadNumber(win.text(Control::txtP3));
    p.hi = model::RoundHalfEven16(model::ReadNumber(win.text(Control::txtIdx0)));
    p.vi = model::RoundHalfEven16(model::ReadNumber(win.text(Control::txtIdx1)));
    return p;
}

inline double MapChecked(double low, double high, int offset)
{
    const double v = ((high - low) * offset) / 799.0 + low;
    if (!std::isfinite(v))
        model::throwFloatingPoint();
    return v;
}

inline double& Entry(model::State& st, int index)
{
    if (index < 0 || index > 5)
        model::throwIndexOutOfRange();
    return st.w[index];
}

inline void Parametric(form::Window& win)
{
    model::State& st = win.state();
    const int16_t h = plots::HalfDot(st.stepSize);
    win.canvas().clear();
    win.canvas().setDotWidth(st.stepSize);
    form::ReadWeights(win);
    const PlaneFields p = ReadPlaneFields(win);
    const double x0 = model::ReadNumber(win.text(form::Control::txtX00));
    const double y0 = model::ReadNumber(win.text(form::Control::txtX01));
    const int16_t s = st.stepSize;
    for (int16_t i = 0; i <= 799; i = static_cast<int16_t>(i + s)) {
        Entry(st, p.hi) = MapChecked(p.left, p.right, i + h);
        const int16_t t = st.stepSize;
        for (int16_t j = 0; j <= 799; j = static_cast<int16_t>(j + t)) {
            Entry(st, p.vi) = MapChecked(p.bottom, p.top, j + h);
            const int16_t c = model::ClassifyOrbit(st, x0, y0);
            win.canvas().setDot(i + h, 799 - (j + h), model::PeriodColor(st, c));
        }
        win.processPendingEvents();
    }
}

inline void Coexisting(form::Window& win)
{
    using form::Control;
    model::State& st = win.state();
    int16_t n = model::RoundHalfEven16(model::ReadNumber(win.text(Control::txtNumStartValues)));
    if (n < 1 || n > 500) {
        n = 5;
        win.setText(Control::txtNumStartValues, "5");
    }
    std::array<double, 501> startX{}, startY{};
    for (int i = 1; i <= n; ++i) {
        const float r1 = model::Rnd();
        const float r2 = model::Rnd();
        startX[i] = 2.0f * r1 - 1.0f;
        startY[i] = 2.0f * r2 - 1.0f;
    }
    const int16_t h = plots::HalfDot(st.stepSize);
    win.canvas().clear();
    win.canvas().setDotWidth(st.stepSize);
    form::ReadWeights(win);
    const PlaneFields p = ReadPlaneFields(win);
    const int16_t s = st.stepSize;
    for (int16_t c = 0; c <= 799; c = static_cast<int16_t>(c + s)) {
        Entry(st, p.hi) = MapChecked(p.left, p.right, c + h);
        const int16_t t = st.stepSize;
        for (int16_t j = 0; j <= 799; j = static_cast<int16_t>(j + t)) {
            Entry(st, p.vi) = MapChecked(p.bottom, p.top, j + h);
            std::array<int16_t, 17> typeSeen{};
            std::array<model::Color, 17> fpColors{};
            int fpCount = 0;
            for (int k = 1; k <= n; ++k) {
                int16_t cls;
                if (win.isChecked(Control::chkReshuffle)) {
                    const float r1 = model::Rnd();
                    const float r2 = model::Rnd();
                    const float x = 2.0f * r1 - 1.0f;
                    const double y = 2.0f * r2 - 1.0f;
                    cls = model::ClassifyOrbitFp(st, x, y);
                } else {
                    cls = model::ClassifyOrbitFp(st, startX[k], startY[k]);
                }
                if (cls == 17) {
                    bool found = false;
                    for (int f = 1; f <= fpCount; ++f)
                        if (fpColors[f] == st.fixpointColor)
                            found = true;
                    if (!found) {
                        ++fpCount;
                        if (fpCount > 16)
                            model::throwIndexOutOfRange();
                        fpColors[fpCount] = st.fixpointColor;
                    }
                } else {
                    typeSeen[cls] = 1;
                }
            }
            if (win.isChecked(Control::chkFp))
                typeSeen[1] = static_cast<int16_t>(fpCount);
            else if (fpCount > 0)
                typeSeen[1] = 1;
            int16_t typeCount = 0;
            for (int k = 0; k <= 16; ++k)
                typeCount = static_cast<int16_t>(typeCount + typeSeen[k]);
            win.canvas().setDot(c + h, 799 - (j + h), model::PeriodColor(st, typeCount));
        }
        win.processPendingEvents();
    }
}

inline void FixedPointMap(form::Window& win)
{
    model::State& st = win.state();
    win.canvas().setDotWidth(1);
    form::ReadWeights(win);
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
