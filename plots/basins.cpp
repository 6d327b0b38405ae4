#include "plots/basins.h"

#include "model/engine.h"
#include "model/network.h"
#include "model/settings.h"
#include "plots/raster.h"

#include <array>
#include <bit>
#include <vector>

namespace plots {

namespace {

using model::kernel::Orbit;

// The basin plots as a column walk for the engine (see model/engine.h).
class BasinColumns {
public:
    // What a column's classifications read: the parameter vector and the
    // settings, and the row step (read afresh for every column).
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

    BasinColumns(model::Window& window, bool locateFp, int slots)
        : window_(window), st_(window.state()), locateFp_(locateFp),
          h_(HalfDot(st_.stepSize)), columnStep_(st_.stepSize), slots_(slots)
    {
    }

    int columns() const { return RasterCount(columnStep_); }

    Inputs begin(int) const
    {
        return {st_.w, st_.iterations, st_.accuracy, st_.stepSize};
    }

    // Committing changes none of the inputs.
    bool predict(const Inputs& in, int, int, Inputs& next) const
    {
        next = in;
        return true;
    }

    int prepare(int slot, const Inputs& in, int c)
    {
        Slot& s = slots_[slot];
        s.in = in;
        s.n = 0;
        const double x = StateCoordinate(c * columnStep_ + h_);
        for (int16_t j = 0; j <= 799; j = static_cast<int16_t>(j + in.rowStep)) {
            s.xs[s.n] = x;
            s.ys[s.n] = StateCoordinate(j + h_);
            ++s.n;
        }
        return model::PartsFor(s.n);
    }

    void evaluate(int slot, int part)
    {
        Slot& s = slots_[slot];
        const int parts = model::PartsFor(s.n);
        const int begin = s.n * part / parts, end = s.n * (part + 1) / parts;
        model::kernel::ClassifyMany(s.in.w, s.in.iterations, s.in.accuracy, &s.xs[begin],
                                    &s.ys[begin], end - begin, locateFp_, &s.results[begin]);
    }

    // Drawing order, bottom to top, stopping at a failed dot.
    void commit(int slot, const Inputs& in, int c)
    {
        const Slot& s = slots_[slot];
        const int i = c * columnStep_;
        model::Surface& canvas = window_.canvas();
        for (int k = 0; k < s.n; ++k) {
            const Orbit& o = s.results[k];
            if (o.failed)
                model::ThrowOrbitFailed();
            if (o.cls == 17)
                st_.fixpointColor = o.fpColor;
            canvas.setDot(i + h_, 799 - (k * in.rowStep + h_), model::PeriodColor(st_, o.cls));
        }
    }

private:
    struct Slot {
        Inputs in;
        int n = 0;
        std::array<double, kCanvasRows> xs, ys;
        std::array<Orbit, kCanvasRows> results;
    };

    model::Window& window_;
    model::State& st_;
    const bool locateFp_;
    const int16_t h_;
    const int16_t columnStep_;
    std::vector<Slot> slots_;
};

void basinPlot(model::Window& window, bool locateFp)
{
    model::State& st = window.state();
    model::Surface& canvas = window.canvas();

    canvas.clear();
    canvas.setDotWidth(st.stepSize);
    model::ReadWeights(window);

    const int ahead = model::ColumnsAhead(RasterCount(st.stepSize));
    BasinColumns plot(window, locateFp, ahead + 1);
    model::WalkColumns(plot, plot.columns(), ahead, [&] { window.processPendingEvents(); });
}

} // namespace

void cmdVeltrane_Click(model::Window& window) { basinPlot(window, false); }
void cmdFixpointBasins_Click(model::Window& window) { basinPlot(window, true); }

} // namespace plots
