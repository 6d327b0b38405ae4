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

    const int16_t h = plots::HalfDot(st.stepSize);
    canvas.clear();
    canvas.setDotWidth(st.stepSize);
    model::ReadWeights(window);
    const Plane plane = ReadPlane(window);

    std::array<double, plots::kCanvasRows> rowValues;
    // Start points and results of every (dot, start point) of a column,
    // dot-major: entry dot * n + k.
    std::vector<double> xs, ys;
    std::vector<Orbit> results;

    const int16_t columnStep = st.stepSize;
    for (int16_t c = 0; c <= 799; c = static_cast<int16_t>(c + columnStep)) {
        SetColumnParameter(plane, st.w, c + h);

        // The vertical values of the column. A mapping error stops the column
        // at that dot; the dots below it are still drawn first.
        const int16_t rowStep = st.stepSize; // read afresh for every column
        std::exception_ptr stop;
        const int dots = ColumnRowValues(plane, h, rowStep, rowValues.data(), stop);

        // The start points of every dot. Nothing runs inside a column, so the
        // check box holds for all of them; reshuffled points are drawn here,
        // in the order in which the dots and their start points are visited.
        const int count = dots * n;
        xs.resize(count);
        ys.resize(count);
        results.resize(count);
        const model::RandomGenerator::State columnStart = random.state();
        const bool reshuffle = window.isChecked(model::Control::chkReshuffle);
        for (int e = 0; e < count; ++e) {
            if (reshuffle) {
                const float r1 = random.next();
                const float r2 = random.next();
                xs[e] = StartCoordinate(r1);
                ys[e] = StartCoordinate(r2);
            } else {
                xs[e] = startX[e % n];
                ys[e] = startY[e % n];
            }
        }
        // A run stopped at entry e has drawn the numbers up to and including
        // that entry's pair, and no more.
        auto rewindTo = [&](int drawnEntries) {
            if (!reshuffle)
                return;
            random.restore(columnStart);
            random.skip(2 * static_cast<uint64_t>(drawnEntries));
        };

        // Evaluate: all start points of a dot share that dot's parameters.
        // Entries of neighbouring dots are stepped together, each with its
        // own copy of w, in pieces that fit a buffer on the stack.
        const model::Weights columnWeights = st.w;
        const int iterations = st.iterations, accuracy = st.accuracy;
        const int vi = plane.verticalIndex;
        auto evaluate = [&](int begin, int end) {
            constexpr int kPiece = 64;
            std::array<model::Weights, kPiece> w;
            for (int piece = begin; piece < end; piece += kPiece) {
                const int m = std::min(kPiece, end - piece);
                for (int k = 0; k < m; ++k) {
                    w[k] = columnWeights;
                    w[k][vi] = rowValues[(piece + k) / n];
                }
                model::kernel::ClassifyManyEach(w.data(), iterations, accuracy, &xs[piece],
                                                &ys[piece], m, true, &results[piece]);
            }
        };
        model::ForEachChunk(count, plots::kDotsPerChunk, evaluate);

        // Commit in drawing order, bottom to top, start point by start point.
        for (int dot = 0; dot < dots; ++dot) {
            st.w[vi] = rowValues[dot];
            const Tally tally = TallyAttractors(&results[dot * n], n,
                                                window.isChecked(model::Control::chkFp),
                                                st.fixpointColor);
            if (tally.stoppedAt >= 0) {
                rewindTo(dot * n + tally.stoppedAt + 1);
                if (tally.tooManyFixpoints)
                    ThrowTooManyFixpoints();
                model::ThrowOrbitFailed();
            }
            canvas.setDot(c + h, 799 - (dot * rowStep + h), model::PeriodColor(st, tally.count));
        }
        if (stop)
            std::rethrow_exception(stop);
        window.processPendingEvents();
    }
}

} // namespace params
