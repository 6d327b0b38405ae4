// Attractors followed across sweeps whose answers are known on paper: the
// decoupled network, whose fixed points solve q = tanh(s q) neuron by neuron
// and whose basins are bounded by the axes, and the single neuron with
// self-excitation 2, bistable for |b| below the fold at
// b = sqrt 2 - atanh(1/sqrt 2).
#include "model/continuation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

namespace {

using namespace model::continuation;

// The positive root of q = tanh(s q), s > 1.
double root(double s)
{
    double q = 1;
    for (int i = 0; i < 100; ++i)
        q -= (std::tanh(s * q) - q) / (s * (1 - std::tanh(s * q) * std::tanh(s * q)) - 1);
    return q;
}

int sign(double v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }

// Where each identity lies: the sign of its y (the same at every step).
std::map<int, int> sideOf(const Result& result)
{
    std::map<int, int> side;
    for (const auto& step : result.attractors)
        for (const Found& f : step)
            side[f.identity] = sign(f.attractor.points[0].y);
    return side;
}

// Forward, each attractor (0, +-r) splits in two at the pitchfork s = 1, each
// half descending from it; backward, the two halves merge into it. At every
// step the attractors and the starts of each are analytic.
TEST(Continuation, DecoupledSweepMatchesThePaper)
{
    const double r = root(1.5);
    struct Case {
        bool reverse;
        EventKind kind;
    };
    for (const Case c : {Case{false, EventKind::Split}, Case{true, EventKind::Merger}}) {
        SCOPED_TRACE(c.reverse ? "backward" : "forward");
        Sweep sweep;
        sweep.w = {0, 0, 0, 1.5, 0, 0};
        sweep.from = 0.5;
        sweep.to = 2;
        sweep.steps = 101; // s = 1 lies between steps 33 and 34
        sweep.reverse = c.reverse;
        sweep.grid = 20;
        const int n = sweep.grid * sweep.grid;
        const Result result = RunSweep(sweep);
        for (int k = 0; k < sweep.steps; ++k) {
            const double s = ValueAt(sweep, k);
            const double q = s > 1 ? root(s) : 0;
            SCOPED_TRACE("s = " + std::to_string(s));
            ASSERT_EQ(result.attractors[k].size(), s > 1 ? 4u : 2u);
            std::map<int, Attractor> byId;
            for (const Found& f : result.attractors[k]) {
                const Point p = f.attractor.points.at(0);
                EXPECT_EQ(f.attractor.period, 1);
                EXPECT_NEAR(std::abs(p.x), q, 1e-9);
                EXPECT_NEAR(std::abs(p.y), r, 1e-9);
                EXPECT_EQ(f.attractor.starts, s > 1 ? n / 4 : n / 2);
                byId[f.identity] = f.attractor;
            }
            // Each start ends in its own quadrant's (half-plane's) attractor.
            for (int p = 0; p < n; ++p) {
                const Point start = StartOf(sweep, p);
                const Point end = byId.at(result.identities[k][p]).points[0];
                EXPECT_EQ(sign(end.y), sign(start.y));
                if (s > 1) {
                    EXPECT_EQ(sign(end.x), sign(start.x));
                }
            }
        }
        const Record& rec = result.record;
        const std::map<int, int> side = sideOf(result);
        ASSERT_EQ(rec.events.size(), 2u);
        for (const Event& e : rec.events) {
            EXPECT_EQ(e.kind, c.kind) << EventName(e.kind);
            const int k = RunOrder(sweep, e.step); // within one step of s = 1
            EXPECT_TRUE(k == 33 || k == 34) << "at s = " << ValueAt(sweep, k);
            const std::vector<int>& one = c.kind == EventKind::Split ? e.from : e.to;
            const std::vector<int>& two = c.kind == EventKind::Split ? e.to : e.from;
            ASSERT_EQ(one.size(), 1u);
            ASSERT_EQ(two.size(), 2u);
            for (int id : two) {
                EXPECT_EQ(side.at(id), side.at(one[0]));
                if (c.kind == EventKind::Split) {
                    EXPECT_EQ(rec.identities[id].parents, one);
                }
            }
            if (c.kind == EventKind::Merger) {
                EXPECT_EQ(rec.identities[one[0]].parents, two);
            }
        }
    }
}

// One neuron, x' = tanh(2 x + b): two fixed points for |b| < b*, one beyond.
// Forward, the upper one is born at -b* and the lower dies into it at b*;
// backward the other way round. The record says so within one step.
TEST(Continuation, FoldsOfOneNeuronInBothDirections)
{
    const double fold = std::sqrt(2.0) - std::atanh(1 / std::sqrt(2.0)); // 0.5328
    for (const bool reverse : {false, true}) {
        SCOPED_TRACE(reverse ? "backward" : "forward");
        Sweep sweep;
        sweep.w = {2, 0, 0, 0, 0, 0};
        sweep.entry = 4;
        sweep.from = -1;
        sweep.to = 1;
        sweep.steps = 41; // steps of 0.05
        sweep.reverse = reverse;
        sweep.grid = 10;
        const Result result = RunSweep(sweep);
        const Record& rec = result.record;
        ASSERT_EQ(rec.events.size(), 2u);
        const double step = (sweep.to - sweep.from) / (sweep.steps - 1);
        // In the sweep's order: a birth where the sweep enters the bistable
        // range, then a death where it leaves it.
        const Event &birth = rec.events[0], &death = rec.events[1];
        EXPECT_EQ(birth.kind, EventKind::Birth);
        EXPECT_EQ(death.kind, EventKind::Death);
        const double enter = reverse ? fold : -fold, leave = -enter;
        EXPECT_NEAR(ValueAt(sweep, RunOrder(sweep, birth.step)), enter, step);
        EXPECT_NEAR(ValueAt(sweep, RunOrder(sweep, death.step)), leave, step);
        // The one that dies does so into the one born: its basin is taken over.
        EXPECT_EQ(death.to, birth.to);
        EXPECT_EQ(rec.identities.size(), 2u);
        const Identity& dying = rec.identities[death.from.at(0)];
        EXPECT_EQ(dying.starts[death.step], 0);
        EXPECT_GT(dying.starts[death.step - 1], 0);
    }
}

// A sweep refined (twice the steps over the same range) finds the same
// events, each within one coarse step of where the coarse sweep put it.
TEST(Continuation, RefinedSweepKeepsItsEvents)
{
    auto events = [](int steps) {
        Sweep sweep;
        sweep.w = {2, 0.5, -0.4, 1.6, 0, 0.1};
        sweep.entry = 4;
        sweep.from = -1;
        sweep.to = 1;
        sweep.steps = steps;
        sweep.grid = 12;
        const Result result = RunSweep(sweep);
        std::vector<std::pair<EventKind, double>> out;
        for (const Event& e : result.record.events)
            out.emplace_back(e.kind, ValueAt(sweep, RunOrder(sweep, e.step)));
        return out;
    };
    const auto coarse = events(21), fine = events(41);
    ASSERT_FALSE(coarse.empty());
    ASSERT_EQ(fine.size(), coarse.size());
    for (size_t i = 0; i < coarse.size(); ++i) {
        EXPECT_EQ(fine[i].first, coarse[i].first);
        EXPECT_NEAR(fine[i].second, coarse[i].second, 0.1 + 1e-12);
    }
}

// The attractors, their order and their starts are those of the starts as a
// set: shuffled starts give the same attractors, each start the same one.
TEST(Continuation, ShuffledStartsChangeNoAttractor)
{
    const model::Weights w = {2, 0.4, -0.3, 1.8, 0.1, -0.05};
    Sweep sweep;
    sweep.w = w;
    sweep.grid = 24;
    sweep.steps = 1;
    sweep.from = w[0];
    const auto orbits = ClassifyGrid(sweep, 0);
    const Value plain = Identify(w, orbits, {});
    ASSERT_GE(plain.attractors.size(), 2u);
    std::vector<size_t> order(orbits.size());
    std::iota(order.begin(), order.end(), 0);
    std::mt19937 random(7);
    std::shuffle(order.begin(), order.end(), random);
    std::vector<model::kernel::LongOrbit> shuffled;
    for (size_t i : order)
        shuffled.push_back(orbits[i]);
    const Value again = Identify(w, shuffled, {});
    EXPECT_EQ(again.attractors, plain.attractors);
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(again.owner[i], plain.owner[order[i]]);
}

TEST(Continuation, HausdorffDistanceOfPointSets)
{
    const std::vector<Point> a = {{0, 0}, {1, 0}}, b = {{0, 0}}, c = {{0, 3}, {1, 0}};
    EXPECT_EQ(Hausdorff(a, a), 0);
    EXPECT_EQ(Hausdorff(a, b), 1); // one-sided 0 from b, 1 from a
    EXPECT_EQ(Hausdorff(b, a), 1);
    EXPECT_EQ(Hausdorff(a, c), 3);
}

} // namespace
