#include "params/parametric.h"

#include "model/engine.h"
#include "model/network.h"
#include "model/numbers.h"
#include "model/settings.h"
#include "params/plane.h"
#include "plots/raster.h"

#include <array>
#include <bit>
#include <cmath>
#include <exception>
#include <vector>

namespace params {

using model::kernel::Orbit;

namespace {

// The parameter plot as a column walk for the engine (see model/engine.h).
class ParametricColumns {
public:
    // What a column's classifications read: the parameter vector as the
    // column starts (its horizontal entry set), the settings and the row step.
    // Within the column only the vertical entry changes, from dot to dot.
    struct Inputs {
        model::Weights w{};
        int iterations = 0, accuracy = 0;
        int16_t rowStep = 1;
        friend bool operator==(const Inputs& a, const Inputs& b)
        {
            return model::SameBits(a.w, b.w) && a.iterations == b.iterations
                   && a.accuracy == b.accuracy && a.rowStep == b.rowStep;
        }
    };

    ParametricColumns(model::Window& window, const Plane& plane, double x0, double y0,
                      int slots)
        : window_(window), st_(window.state()), plane_(plane), h_(plots::HalfDot(st_.stepSize)),
          columnStep_(st_.stepSize), slots_(slots)
    {
        xs_.fill(x0);
        ys_.fill(y0);
    }

    int columns() const { return plots::RasterCount(columnStep_); }

    // The column's start: its horizontal parameter is written into w (index
    // and mapping errors are raised here, as the plain loop raises them).
    Inputs begin(int c)
    {
        SetColumnParameter(plane_, st_.w, c * columnStep_ + h_);
        return {st_.w, st_.iterations, st_.accuracy, st_.stepSize};
    }

    // After a whole column, w holds the last dot's vertical value; the next
    // column writes its horizontal one.
    bool predict(const Inputs& in, int c, int slot, Inputs& next) const
    {
        const Slot& s = slots_[slot];
        if (s.n < plots::RasterCount(in.rowStep) || s.n == 0)
            return false; // the column stops with an error
        const int offset = (c + 1) * columnStep_ + h_;
        const double v = ((plane_.right - plane_.left) * static_cast<double>(offset)) / 799.0
                         + plane_.left; // as PlaneValue
        if (!std::isfinite(v))
            return false;
        next = in;
        next.w[plane_.verticalIndex] = s.rows[s.n - 1];
        next.w[plane_.horizontalIndex] = v;
        return true;
    }

    int prepare(int slot, const Inputs& in, int)
    {
        Slot& s = slots_[slot];
        s.in = in;
        s.n = 0;
        if (!IsParameterIndex(plane_.verticalIndex))
            return 0; // the commit raises the index error before any dot
        // The vertical values up to the first one that cannot be mapped,
        // where the commit raises the mapping error.
        for (int16_t j = 0; j <= 799; j = static_cast<int16_t>(j + in.rowStep)) {
            const double v = ((plane_.top - plane_.bottom) * static_cast<double>(j + h_)) / 799.0
                             + plane_.bottom;
            if (!std::isfinite(v))
                break;
            s.rows[s.n] = v;
            s.weights[s.n] = in.w;
            s.weights[s.n][plane_.verticalIndex] = v;
            ++s.n;
        }
        return s.n == 0 ? 0 : model::PartsFor(s.n);
    }

    void evaluate(int slot, int part)
    {
        Slot& s = slots_[slot];
        const int parts = model::PartsFor(s.n);
        const int begin = s.n * part / parts, end = s.n * (part + 1) / parts;
        model::kernel::ClassifyManyEach(&s.weights[begin], s.in.iterations, s.in.accuracy,
                                        &xs_[begin], &ys_[begin], end - begin, false,
                                        &s.results[begin]);
    }

    // Drawing order, bottom to top, stopping at a failed dot or at the first
    // dot whose vertical value cannot be mapped.
    void commit(int slot, const Inputs& in, int c)
    {
        const Slot& s = slots_[slot];
        std::array<double, plots::kCanvasRows> rows;
        std::exception_ptr stop;
        const int n = ColumnRowValues(plane_, h_, in.rowStep, rows.data(), stop); // index error
        const int vi = plane_.verticalIndex;
        model::Surface& canvas = window_.canvas();
        for (int k = 0; k < n; ++k) {
            st_.w[vi] = rows[k];
            if (s.results[k].failed)
                model::ThrowOrbitFailed();
            canvas.setDot(c * columnStep_ + h_, 799 - (k * in.rowStep + h_),
                          model::PeriodColor(st_, s.results[k].cls));
        }
        if (stop)
            std::rethrow_exception(stop);
    }

private:
    struct Slot {
        Inputs in;
        int n = 0;
        std::array<double, plots::kCanvasRows> rows;
        std::array<model::Weights, plots::kCanvasRows> weights;
        std::array<Orbit, plots::kCanvasRows> results;
    };

    model::Window& window_;
    model::State& st_;
    const Plane plane_;
    const int16_t h_;
    const int16_t columnStep_;
    std::array<double, plots::kCanvasRows> xs_, ys_; // the one start point, for every dot
    std::vector<Slot> slots_;
};

} // namespace

void cmdParametric_Click(model::Window& window)
{
    model::State& st = window.state();
    model::Surface& canvas = window.canvas();

    canvas.clear();
    canvas.setDotWidth(st.stepSize);
    model::ReadWeights(window);
    const Plane plane = ReadPlane(window);
    const double x0 = model::ReadNumber(window.text(model::Control::txtX00));
    const double y0 = model::ReadNumber(window.text(model::Control::txtX01));

    const int ahead = model::ColumnsAhead(plots::RasterCount(st.stepSize));
    ParametricColumns plot(window, plane, x0, y0, ahead + 1);
    model::WalkColumns(plot, plot.columns(), ahead, [&] { window.processPendingEvents(); });
}

} // namespace params
