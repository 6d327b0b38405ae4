#include "params/coexisting.h"

#include "model/engine.h"
#include "model/network.h"
#include "model/numbers.h"
#include "model/random.h"
#include "model/settings.h"
#include "params/plane.h"
#include "plots/raster.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <exception>
#include <vector>

namespace params {

using model::kernel::Orbit;

double StartCoordinate(float r) { return static_cast<double>(2.0f * r - 1.0f); }

Tally TallyAttractors(const Orbit* results, int n, bool countFixpoints,
                      model::Color& fixpointColor)
{
    Tally tally;
    std::array<int16_t, 17> typeSeen{};
    std::array<model::Color, kMaxFpColors> fpColors{};
    int16_t fpCount = 0;
    for (int k = 0; k < n; ++k) {
        const Orbit& o = results[k];
        if (o.failed) {
            tally.stoppedAt = k;
            return tally;
        }
        if (o.cls != 17) {
            typeSeen[o.cls] = 1;
            continue;
        }
        fixpointColor = o.fpColor;
        bool known = false;
        for (int f = 0; f < fpCount && !known; ++f)
            known = fpColors[f] == fixpointColor;
        if (known)
            continue;
        if (fpCount == kMaxFpColors) {
            tally.stoppedAt = k;
            tally.tooManyFixpoints = true;
            return tally;
        }
        fpColors[fpCount++] = fixpointColor;
    }
    if (countFixpoints)
        typeSeen[1] = fpCount;
    else if (fpCount > 0)
        typeSeen[1] = 1;
    for (int16_t seen : typeSeen)
        tally.count = static_cast<int16_t>(tally.count + seen);
    return tally;
}

void ThrowTooManyFixpoints()
{
    model::throwIndexOutOfRange("Index out of range: more than 16 different fixed points "
                                "at one point of the parameter plane.");
}

int16_t ReadNumStartValues(model::Window& window)
{
    const int16_t n =
        model::RoundHalfEven16(model::ReadNumber(window.text(model::Control::txtNumStartValues)));
    if (n >= 1 && n <= kMaxStartValues)
        return n; // the text stays as typed
    window.setText(model::Control::txtNumStartValues, "5");
    return 5;
}

namespace {

// The coexisting-attractor plot as a column walk for the engine (see
// model/engine.h). A column's entries are its (dot, start point) pairs,
// dot-major: entry dot * n + k.
class CoexistingColumns {
public:
    // What a column's classifications read: the parameter vector as the column
    // starts (its horizontal entry set), the settings, the row step, the
    // reshuffle check box and, when it is checked, the random generator's
    // position (the column draws its start points from there, in order).
    struct Inputs {
        model::Weights w{};
        int iterations = 0, accuracy = 0;
        int16_t rowStep = 1;
        bool reshuffle = false;
        model::RandomGenerator::State random{};
        friend bool operator==(const Inputs& a, const Inputs& b)
        {
            return model::SameBits(a.w, b.w) && a.iterations == b.iterations
                   && a.accuracy == b.accuracy && a.rowStep == b.rowStep
                   && a.reshuffle == b.reshuffle && a.random == b.random;
        }
    };

    CoexistingColumns(model::Window& window, const Plane& plane, std::vector<double> startX,
                      std::vector<double> startY, int slots)
        : window_(window), st_(window.state()), plane_(plane), h_(plots::HalfDot(st_.stepSize)),
          columnStep_(st_.stepSize), n_(static_cast<int>(startX.size())),
          startX_(std::move(startX)), startY_(std::move(startY)), slots_(slots)
    {
    }

    int columns() const { return plots::RasterCount(columnStep_); }

    Inputs begin(int c)
    {
        SetColumnParameter(plane_, st_.w, c * columnStep_ + h_);
        Inputs in{st_.w, st_.iterations, st_.accuracy, st_.stepSize,
                  window_.isChecked(model::Control::chkReshuffle), {}};
        if (in.reshuffle)
            in.random = model::Random().state(); // without reshuffle nothing is drawn
        return in;
    }

    bool predict(const Inputs& in, int c, int slot, Inputs& next) const
    {
        const Slot& s = slots_[slot];
        if (s.dots < plots::RasterCount(in.rowStep) || s.dots == 0)
            return false; // the column stops with an error
        const int offset = (c + 1) * columnStep_ + h_;
        const double v = ((plane_.right - plane_.left) * static_cast<double>(offset)) / 799.0
                         + plane_.left; // as PlaneValue
        if (!std::isfinite(v))
            return false;
        next = in;
        next.w[plane_.verticalIndex] = s.rows[s.dots - 1];
        next.w[plane_.horizontalIndex] = v;
        if (in.reshuffle)
            next.random.counter = afterDraws(in.random, s.dots * n_).counter;
        return true;
    }

    int prepare(int slot, const Inputs& in, int)
    {
        Slot& s = slots_[slot];
        s.in = in;
        s.dots = 0;
        if (!IsParameterIndex(plane_.verticalIndex))
            return 0; // the commit raises the index error before any dot
        s.rows.resize(plots::kCanvasRows);
        for (int16_t j = 0; j <= 799; j = static_cast<int16_t>(j + in.rowStep)) {
            const double v = ((plane_.top - plane_.bottom) * static_cast<double>(j + h_)) / 799.0
                             + plane_.bottom; // as PlaneValue
            if (!std::isfinite(v))
                break;
            s.rows[s.dots++] = v;
        }
        const int count = s.dots * n_;
        s.xs.resize(count);
        s.ys.resize(count);
        s.results.resize(count);
        return count == 0 ? 0 : model::PartsFor(count);
    }

    // Start points first (reshuffled ones drawn from the generator's position
    // for the part's first entry), then the classifications; the entries of
    // neighbouring dots are stepped together, each with its own copy of w, in
    // pieces that fit a buffer on the stack.
    void evaluate(int slot, int part)
    {
        Slot& s = slots_[slot];
        const int count = s.dots * n_;
        const int parts = model::PartsFor(count);
        const int begin = count * part / parts, end = count * (part + 1) / parts;
        if (s.in.reshuffle) {
            model::RandomGenerator random;
            random.restore(afterDraws(s.in.random, begin));
            for (int e = begin; e < end; ++e) {
                const float r1 = random.next();
                const float r2 = random.next();
                s.xs[e] = StartCoordinate(r1);
                s.ys[e] = StartCoordinate(r2);
            }
        } else {
            for (int e = begin; e < end; ++e) {
                s.xs[e] = startX_[e % n_];
                s.ys[e] = startY_[e % n_];
            }
        }
        constexpr int kPiece = 64;
        std::array<model::Weights, kPiece> w;
        const int vi = plane_.verticalIndex;
        for (int piece = begin; piece < end; piece += kPiece) {
            const int m = std::min(kPiece, end - piece);
            for (int k = 0; k < m; ++k) {
                w[k] = s.in.w;
                w[k][vi] = s.rows[(piece + k) / n_];
            }
            model::kernel::ClassifyManyEach(w.data(), s.in.iterations, s.in.accuracy, &s.xs[piece],
                                            &s.ys[piece], m, true, &s.results[piece]);
        }
    }

    // Drawing order, bottom to top, start point by start point. The generator
    // ends where the plain loop leaves it: after the pairs of every entry
    // visited, the failing one included.
    void commit(int slot, const Inputs& in, int c)
    {
        const Slot& s = slots_[slot];
        std::array<double, plots::kCanvasRows> rows;
        std::exception_ptr stop;
        const int dots = ColumnRowValues(plane_, h_, in.rowStep, rows.data(), stop); // index error
        const int vi = plane_.verticalIndex;
        auto drawnUpTo = [&](int entries) {
            if (in.reshuffle)
                model::Random().restore(afterDraws(in.random, entries));
        };
        model::Surface& canvas = window_.canvas();
        for (int dot = 0; dot < dots; ++dot) {
            st_.w[vi] = rows[dot];
            const Tally tally = TallyAttractors(&s.results[dot * n_], n_,
                                                window_.isChecked(model::Control::chkFp),
                                                st_.fixpointColor);
            if (tally.stoppedAt >= 0) {
                drawnUpTo(dot * n_ + tally.stoppedAt + 1);
                if (tally.tooManyFixpoints)
                    ThrowTooManyFixpoints();
                model::ThrowOrbitFailed();
            }
            canvas.setDot(c * columnStep_ + h_, 799 - (dot * in.rowStep + h_),
                          model::PeriodColor(st_, tally.count));
        }
        drawnUpTo(dots * n_);
        if (stop)
            std::rethrow_exception(stop);
    }

private:
    struct Slot {
        Inputs in;
        int dots = 0;
        std::vector<double> rows, xs, ys;
        std::vector<Orbit> results;
    };

    // The generator's position after the start points of entries more entries.
    static model::RandomGenerator::State afterDraws(model::RandomGenerator::State from,
                                                    int entries)
    {
        model::RandomGenerator g;
        g.restore(from);
        g.skip(2 * static_cast<uint64_t>(entries));
        return g.state();
    }

    model::Window& window_;
    model::State& st_;
    const Plane plane_;
    const int16_t h_;
    const int16_t columnStep_;
    const int n_;
    const std::vector<double> startX_, startY_;
    std::vector<Slot> slots_;
};

} // namespace

void cmdCoexisting_Click(model::Window& window)
{
    model::State& st = window.state();
    model::Surface& canvas = window.canvas();
    model::RandomGenerator& random = model::Random();

    const int n = ReadNumStartValues(window);
    std::vector<double> startX(n), startY(n);
    for (int k = 0; k < n; ++k) {
        const float r1 = random.next();
        const float r2 = random.next();
        startX[k] = StartCoordinate(r1);
        startY[k] = StartCoordinate(r2);
    }

    canvas.clear();
    canvas.setDotWidth(st.stepSize);
    model::ReadWeights(window);
    const Plane plane = ReadPlane(window);

    const int ahead = model::ColumnsAhead(plots::RasterCount(st.stepSize) * n);
    CoexistingColumns plot(window, plane, std::move(startX), std::move(startY), ahead + 1);
    model::WalkColumns(plot, plot.columns(), ahead, [&] { window.processPendingEvents(); });
}

} // namespace params
