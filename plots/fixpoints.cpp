#include "plots/fixpoints.h"

#include "model/engine.h"
#include "model/network.h"
#include "model/settings.h"
#include "plots/raster.h"

#include <array>
#include <bit>
#include <vector>

namespace plots {

namespace {

// The outcome of the near-fixed-point test at one pixel.
enum class Mark : uint8_t { None, Near, Failed };

// The fixed-point map as a column walk for the engine (see model/engine.h).
// A column is 800 single steps of the map, a few microseconds; the columns
// ahead give the workers enough to do.
class FixpointColumns {
public:
    struct Inputs {
        model::Weights w{};
        int accuracy = 0;
        friend bool operator==(const Inputs& a, const Inputs& b)
        {
            return model::SameBits(a.w, b.w) && a.accuracy == b.accuracy;
        }
    };

    FixpointColumns(model::Window& window, int slots) : window_(window), slots_(slots)
    {
        for (int r = 0; r < kCanvasRows; ++r)
            ys_[r] = StateCoordinate(r);
    }

    Inputs begin(int) const { return {window_.state().w, window_.state().accuracy}; }

    bool predict(const Inputs& in, int, int, Inputs& next) const
    {
        next = in;
        return true;
    }

    int prepare(int slot, const Inputs& in, int c)
    {
        slots_[slot].in = in;
        slots_[slot].x = StateCoordinate(c);
        return 1;
    }

    void evaluate(int slot, int)
    {
        Slot& s = slots_[slot];
        for (int r = 0; r < kCanvasRows; ++r) {
            bool ok = true;
            const bool near = model::kernel::IsNearFixpoint(s.in.w, s.in.accuracy, s.x, ys_[r], ok);
            s.marks[r] = !ok ? Mark::Failed : near ? Mark::Near : Mark::None;
        }
    }

    // Bottom to top; a failed test ends the command with the marks below it
    // drawn. penColor is read at every mark.
    void commit(int slot, const Inputs&, int c)
    {
        const Slot& s = slots_[slot];
        for (int r = 0; r < kCanvasRows; ++r) {
            if (s.marks[r] == Mark::Failed)
                model::ThrowOrbitFailed();
            if (s.marks[r] == Mark::Near)
                window_.canvas().setDot(c, 799 - r, window_.state().penColor);
        }
    }

private:
    struct Slot {
        Inputs in;
        double x = 0;
        std::array<Mark, kCanvasRows> marks;
    };

    model::Window& window_;
    std::array<double, kCanvasRows> ys_;
    std::vector<Slot> slots_;
};

} // namespace

void cmdFixpoints_Click(model::Window& window)
{
    window.canvas().setDotWidth(1); // stepSize plays no part here
    model::ReadWeights(window);

    const int ahead = model::ColumnsAhead(kCanvasRows);
    FixpointColumns plot(window, ahead + 1);
    model::WalkColumns(plot, 800, ahead, [&] { window.processPendingEvents(); });
}

} // namespace plots
