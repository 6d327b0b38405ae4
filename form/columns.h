// The window's raster plots as column walks for the engine (model/engine.h).
//
// DotColumns holds the columns evaluated ahead and evaluates each with the
// mode's dot function (plots/dots.h), from the inputs the column reads. A
// plot derives from it and adds what belongs to the window alone:
//
//   Inputs begin(int c)   the plain loop's reads and side effects at the
//                         start of column c;
//   predict               the inputs of the next column (the default: the
//                         commit changes none);
//   commit                the side effects of the dots in drawing order, and
//                         the error of the first failed dot.
#pragma once

#include "form/window.h"
#include "model/engine.h"
#include "plots/dots.h"

#include <array>
#include <vector>

namespace form {

using plots::DotFunction;
using plots::DotInputs;
using plots::DotResult;
using plots::MakeRaster;
using plots::Raster;

// What a column reads: what its dots read, and the row step.
struct ColumnInputs {
    DotInputs dots;
    int16_t rowStep = 1;
    friend bool operator==(const ColumnInputs&, const ColumnInputs&) = default; // bit for bit
};

class DotColumns {
public:
    using Inputs = ColumnInputs;

    // raster: the plot's geometry as it starts (each column brings its own
    // row step); orbitsPerDot sets how much is evaluated ahead.
    DotColumns(Window& window, DotFunction dots, const Raster& raster, int orbitsPerDot);

    // Walks every column, letting the window's events run between two.
    template <class Plot>
    static void Walk(Plot& plot)
    {
        DotColumns& walk = plot;
        model::WalkColumns(plot, walk.raster_.columns(), walk.ahead_,
                           [&] { walk.window_.processPendingEvents(); });
    }

    bool predict(const Inputs& in, int, int, Inputs& next) const
    {
        next = in;
        return true;
    }
    int prepare(int slot, const Inputs& in, int c);
    void evaluate(int slot, int part);
    void evaluateAside(int slot, int part);

protected:
    // The raster of a column with the inputs in.
    Raster rasterOf(const Inputs& in) const
    {
        Raster r = raster_;
        r.rowStep = in.rowStep;
        return r;
    }
    // The evaluated dots of the column in slot, bottom to top; the calling
    // thread's, for the column being committed.
    const DotResult* results(int slot) const;

    Window& window_;
    model::State& st_;
    const Raster raster_;

private:
    struct Slot {
        Inputs in;
        int column = 0, rows = 0, parts = 0;
        std::array<DotResult, model::kCanvasSize> dots;
    };

    const DotFunction dots_;
    const int orbitsPerDot_;
    const int ahead_;
    std::vector<Slot> slots_;
    // The parts of one column evaluated again on the calling thread while a
    // worker still had them (model::ColumnTasks::wait): asideSlot_'s column,
    // whose results are gathered here for its commit. The calling thread's
    // alone; the worker's copy in the slot is never read.
    int asideSlot_ = -1;
    std::vector<char> asideParts_;
    mutable std::array<DotResult, model::kCanvasSize> aside_;
};

// The start of a raster plot that fills the canvas: clears it, sets the dot
// width to stepSize and loads w from its fields.
void StartRasterPlot(Window& window);

} // namespace form
