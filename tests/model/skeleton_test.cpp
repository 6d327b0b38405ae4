// The skeleton's continuation, crossings and cascades against cases known on
// paper: a lone neuron x' = tanh(a x + b) (the second neuron, with no weight
// and no bias, stays at 0 with multiplier 0) and the decoupled plane of the
// two self-weights, whose multipliers at the origin are w11 and w22.
#include "model/skeleton.h"

#include "model/engine.h"
#include "model/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

using model::Weights;
using namespace model::analysis;

namespace {

// The positive root of s = tanh(a s), a > 1, by plain bisection.
double PositiveRoot(double a)
{
    double lo = 1e-300, hi = 1;
    for (int i = 0; i < 2000; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid == lo || mid == hi)
            break;
        (std::tanh(a * mid) > mid ? lo : hi) = mid;
    }
    return lo;
}

// The bias at which the lone neuron's fixed point x has multiplier mu:
// a (1 - x^2) = mu gives x, and x = tanh(a x + b) gives b.
double BiasWithMultiplier(double a, double mu, double sign)
{
    const double x = sign * std::sqrt(1 - mu / a);
    return std::atanh(x) - a * x;
}

TrackedCycle Solved(const Weights& w, std::vector<Point> guess)
{
    auto c = SolveCycle(w, guess);
    EXPECT_TRUE(c.has_value());
    return c.value_or(TrackedCycle{});
}

} // namespace

TEST(Skeleton, LoneNeuronTwoCycleIsTheSymmetricRoot)
{
    // For a < -1 the lone neuron has the 2-cycle (s, -s), s = tanh(|a| s),
    // with multiplier (a (1 - s^2))^2 along x and 0 along y.
    for (double a : {-1.2, -2.0, -5.0}) {
        const Weights w{a, 0, 0, 0, 0, 0};
        const double s = PositiveRoot(-a);
        const TrackedCycle c = Solved(w, {{0.5, 0.01}, {-0.4, 0}});
        ASSERT_EQ(c.period(), 2);
        EXPECT_NEAR(std::fabs(c.points[0].x), s, 1e-12) << a;
        EXPECT_NEAR(c.points[0].x, -c.points[1].x, 1e-12) << a;
        const double mu = a * (1 - s * s);
        EXPECT_NEAR(c.multipliers[0].re, mu * mu, 1e-12) << a;
        EXPECT_NEAR(c.multipliers[1].re, 0, 1e-12) << a;
        EXPECT_EQ(c.type, OrbitType::Attracting);
    }
    // At a > -1 the only orbit is the fixed point: a guessed 2-cycle
    // collapses onto it and is no cycle of period 2.
    EXPECT_FALSE(SolveCycle({-0.8, 0, 0, 0, 0, 0}, {{0.5, 0}, {-0.4, 0}}).has_value());
}

// Each row: a segment of parameter vectors, the cycle followed from its start,
// and the one crossing expected on it, at t known on paper; and the most
// Newton runs that locating it to 1e-9 of the segment may take: a change of
// sign is closed in a few runs, a fold approached along the parabola of its
// branch; a long segment whose cycle moves far takes more steps.
struct SegmentCase {
    const char* name;
    Weights from, to;
    std::vector<Point> guess;
    double t;
    int period;
    CurveType type;
    int mostRuns = 15;
    double argument = NAN; // of the critical multiplier; by the type where not given
};

class SkeletonSegment : public testing::TestWithParam<SegmentCase> {};

TEST_P(SkeletonSegment, CrossingLiesWhereThePaperPutsIt)
{
    const SegmentCase& c = GetParam();
    const TrackedCycle start = Solved(c.from, c.guess);
    ASSERT_EQ(start.period(), static_cast<int>(c.guess.size()));
    const Continuation r = ContinueCycle(c.from, c.to, start);
    ASSERT_FALSE(r.lost);
    ASSERT_EQ(r.crossings.size(), 1u);
    const CycleCrossing& x = r.crossings[0];
    EXPECT_EQ(x.type, c.type);
    EXPECT_EQ(x.period, c.period);
    EXPECT_NEAR(x.t, c.t, 2e-9); // the resolution, plus the rounding of the paper's t
    EXPECT_NEAR(x.argument,
                std::isnan(c.argument) ? (c.type == CurveType::Flip ? std::numbers::pi : 0.0)
                                       : c.argument,
                1e-7);
    EXPECT_LE(r.newtonRuns, c.mostRuns);
}

constexpr double kRotation = 0.7;
Weights Rotation(double r)
{
    return {r * std::cos(kRotation), -r * std::sin(kRotation), r * std::sin(kRotation),
            r * std::cos(kRotation), 0, 0};
}

const double kFlipBias = BiasWithMultiplier(-2, -1, 1);   // 2.2956...
const double kFoldBias = BiasWithMultiplier(2, 1, 1);     // -0.5328...

INSTANTIATE_TEST_SUITE_P(
    Decoupled, SkeletonSegment,
    testing::Values(
        // The fixed point at the origin flips where w11 passes -1.
        SegmentCase{"OriginFlipsAtMinusOne", {-0.5, 0, 0, 0, 0, 0}, {-1.5, 0, 0, 0, 0, 0},
                    {{0, 0}}, 0.5, 1, CurveType::Flip},
        // From the other side, the 2-cycle shrinks onto the origin and ends there.
        SegmentCase{"TwoCycleCollapsesAtMinusOne", {-1.5, 0, 0, 0, 0, 0},
                    {-0.5, 0, 0, 0, 0, 0}, {{0.8, 0}, {-0.8, 0}}, 0.5, 1, CurveType::Flip, 45},
        // With a bias, the flip of the fixed point where a (1 - x^2) = -1.
        SegmentCase{"BiasedFixedPointFlips", {-2, 0, 0, 0, 0, 0}, {-2, 0, 0, 0, 3, 0},
                    {{0, 0}}, kFlipBias / 3, 1, CurveType::Flip, 35},
        SegmentCase{"BiasedTwoCycleCollapses", {-2, 0, 0, 0, 0, 0}, {-2, 0, 0, 0, 3, 0},
                    {{0.9, 0}, {-0.9, 0}}, kFlipBias / 3, 1, CurveType::Flip, 75},
        // The upper fixed point of a = 2 turns back at the fold a (1 - x^2) = 1.
        SegmentCase{"UpperFixedPointEndsAtFold", {2, 0, 0, 0, 0, 0}, {2, 0, 0, 0, -1, 0},
                    {{0.95, 0}}, -kFoldBias, 1, CurveType::Fold, 25},
        // A 2-cycle of the first neuron beside the second's upper fixed
        // point, which folds: the 2-cycle ends there, at period 2.
        SegmentCase{"TwoCycleEndsAtTheSecondNeuronsFold", {-2, 0, 0, 2, 0, 0},
                    {-2, 0, 0, 2, 0, -1}, {{0.9, 0.95}, {-0.9, 0.95}}, -kFoldBias, 2,
                    CurveType::Fold, 25},
        // The origin's second multiplier w22 passes +1 (a pitchfork: the
        // branch goes on through it).
        SegmentCase{"OriginPassesPlusOneInW22", {0.3, 0, 0, 0.5, 0, 0}, {0.3, 0, 0, 1.5, 0, 0},
                    {{0, 0}}, 0.5, 1, CurveType::Fold},
        // The 2-cycle of w11 = -2 has the y multiplier w22^2: +1 at w22 = -1
        // and at w22 = +1, a crossing of period 2 in the expected row.
        SegmentCase{"TwoCycleYMultiplierAtMinusOne", {-2, 0, 0, -0.25, 0, 0},
                    {-2, 0, 0, -1.75, 0, 0}, {{0.9, 0}, {-0.9, 0}}, 0.5, 2, CurveType::Fold},
        SegmentCase{"TwoCycleYMultiplierAtPlusOne", {-2, 0, 0, 0.2, 0, 0},
                    {-2, 0, 0, 1.2, 0, 0}, {{0.9, 0}, {-0.9, 0}}, 0.8, 2, CurveType::Fold},
        // w = r [cos q, -sin q; sin q, cos q], q = 0.7, no bias: the origin's
        // multipliers r e^{+-iq} leave the unit circle at r = 1.
        SegmentCase{"OriginLeavesTheCircleAtRadiusOne", Rotation(0.9), Rotation(1.3), {{0, 0}},
                    0.25, 1, CurveType::NeimarkSacker, 15, kRotation}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Skeleton, SegmentWithoutBifurcationReachesItsEndQuietly)
{
    // The 2-cycle of w11 = -2 followed to w11 = -3: no multiplier crosses, and
    // the end is the 2-cycle of w11 = -3.
    const Weights from{-2, 0, 0, 0.1, 0, 0}, to{-3, 0, 0, 0.1, 0, 0};
    const Continuation r = ContinueCycle(from, to, Solved(from, {{0.9, 0}, {-0.9, 0}}));
    EXPECT_TRUE(r.reached);
    EXPECT_TRUE(r.crossings.empty());
    EXPECT_NEAR(std::fabs(r.end.points[0].x), PositiveRoot(3), 1e-12);
}

TEST(Skeleton, AttractingCycleOfTheLoneNeuron)
{
    // a = -2: from any start but the origin the orbit reaches the 2-cycle.
    auto c = AttractingCycle({-2, 0, 0, 0, 0, 0}, 0.3, 0.2, 200, 16);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->period(), 2);
    EXPECT_NEAR(std::fabs(c->points[0].x), PositiveRoot(2), 1e-12);
    // a = 2, b = 0.1: the upper fixed point.
    c = AttractingCycle({2, 0, 0, 0, 0.1, 0}, 0.3, 0.2, 200, 16);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->period(), 1);
    EXPECT_GT(c->points[0].x, 0.9);
}

TEST(Skeleton, CascadeOfTheLoneNeuronStopsAfterItsOneFlip)
{
    // The lone neuron has only the flip at w11 = -1: its 2-cycle never flips.
    const FlipCascade c = FindFlipCascade({-0.5, 0, 0, 0, 0, 0}, 0, -0.5, -3, 0.3, 0.1, 200);
    EXPECT_EQ(c.startPeriod, 1);
    ASSERT_EQ(c.flips.size(), 1u);
    EXPECT_EQ(c.flips[0].period, 1);
    EXPECT_NEAR(c.flips[0].value, -1, 1e-12);
}

TEST(Skeleton, ChaoticModuleCascadeApproachesFeigenbaum)
{
    // The chaotic module over b1: a period-doubling cascade from the 4-cycle
    // near b1 = 1.27. Successive intervals shrink by Feigenbaum's delta.
    const Weights w{4, -4.1, 2.65, -2.85, 1.75, 2.9};
    const FlipCascade c = FindFlipCascade(w, 4, 1.29, 1.36, 0.1, 0.2, 2000, 256);
    ASSERT_GE(c.flips.size(), 6u);
    for (size_t i = 0; i + 1 < c.flips.size(); ++i) {
        EXPECT_EQ(c.flips[i + 1].period, 2 * c.flips[i].period);
        EXPECT_GT(c.flips[i + 1].value, c.flips[i].value);
    }
    ASSERT_FALSE(c.ratios.empty());
    EXPECT_NEAR(c.ratios.back(), 4.6692, 0.02 * 4.6692);
}

// --- The cycles of a plane of dots -------------------------------------------

namespace {

// The parameter vectors of a columns x rows plane of w[h] and w[v], dot d =
// column * rows + row, each axis from lo to hi with its ends included.
std::vector<Weights> PlaneOf(Weights w, int h, double h0, double h1, int v, double v0, double v1,
                             int columns, int rows)
{
    std::vector<Weights> ws;
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r) {
            w[h] = h0 + (h1 - h0) * c / (columns - 1);
            w[v] = v0 + (v1 - v0) * r / (rows - 1);
            ws.push_back(w);
        }
    return ws;
}

double Gap(const Multiplier& a, const Multiplier& b)
{
    return std::max(std::fabs(a.re - b.re), std::fabs(a.im - b.im));
}

double Gap(const Point& a, const Point& b)
{
    return std::max(std::fabs(a.x - b.x), std::fabs(a.y - b.y));
}

} // namespace

TEST(PlaneCycles, DecoupledSelfWeightsHoldThePapersCycles)
{
    // w11 = a over -3..3 and w22 = b over -0.8..0.8, no coupling, no bias: the
    // second neuron rests at 0 with multiplier b, the first is x' = tanh(a x).
    // |a| < 1: the origin alone, attracting. a > 1: the origin a saddle and
    // (+-q, 0), q = tanh(a q), attracting with multipliers a (1 - q^2) and b.
    // a < -1: the origin a saddle and the 2-cycle (-s, 0), (s, 0), s =
    // tanh(|a| s), attracting with multipliers (a (1 - s^2))^2 and b^2. No
    // cycle of period 3 or 4.
    const int columns = 9, rows = 5; // a = -3, -2.25, ..., 3: never +-1
    const auto ws = PlaneOf({0, 0, 0, 0, 0, 0}, 0, -3, 3, 3, -0.8, 0.8, columns, rows);
    CycleSearch search;
    search.maxPeriod = 4;
    search.seeds = 5;
    const PlaneCycles plane = FollowPlaneCycles(ws, columns, rows, search);
    ASSERT_EQ(plane.cycles.size(), ws.size());
    for (size_t d = 0; d < ws.size(); ++d) {
        const double a = ws[d][0], b = ws[d][3];
        std::vector<std::array<int, 4>> counts(5, std::array<int, 4>{});
        for (const Cycle& c : plane.cycles[d])
            ++counts[c.period][static_cast<int>(c.type)];
        const std::array<int, 4> none{}, attracting{1, 0, 0, 0}, saddle{0, 1, 0, 0};
        const std::array<int, 4> two{2, 1, 0, 0};
        EXPECT_EQ(counts[1], std::fabs(a) < 1 ? attracting : a > 1 ? two : saddle)
            << "a " << a << " b " << b;
        EXPECT_EQ(counts[2], a < -1 ? attracting : none) << "a " << a << " b " << b;
        EXPECT_EQ(counts[3], none) << "a " << a;
        EXPECT_EQ(counts[4], none) << "a " << a;
        for (const Cycle& c : plane.cycles[d]) {
            if (c.type != OrbitType::Attracting || (c.period == 1 && a < 1))
                continue;
            const double s = PositiveRoot(std::fabs(a));
            const double slope = a * (1 - s * s);
            if (c.period == 2) {
                EXPECT_LT(Gap(c.points[0], {-s, 0}), 1e-9) << a;
                EXPECT_LT(Gap(c.points[1], {s, 0}), 1e-9) << a;
                // The larger modulus first.
                EXPECT_NEAR(c.multipliers[0].re, std::max(slope * slope, b * b), 1e-9) << a;
                EXPECT_NEAR(c.multipliers[1].re, std::min(slope * slope, b * b), 1e-9) << a;
            } else {
                EXPECT_NEAR(std::fabs(c.points[0].x), s, 1e-9) << a;
                EXPECT_NEAR(c.points[0].y, 0, 1e-9) << a;
                const double larger = std::max(std::fabs(slope), std::fabs(b));
                EXPECT_NEAR(std::fabs(c.multipliers[0].re), larger, 1e-9) << a << " " << b;
            }
        }
    }
}

TEST(PlaneCycles, EachDotHoldsItsOwnSearchsCyclesAndGenuineContinuedOnes)
{
    // The default network's bias plane where tongues of several periods meet:
    // at every third dot, each cycle the dot's own search finds is listed with
    // the same points and multipliers (to 1e-9), every further cycle, owed to
    // continuation from a neighbour, is a cycle of the dot's map of that
    // minimal period, and no cycle is listed twice.
    const Weights w{0.4, 1.9, -2.7, -4.311, -0.9, 1.8};
    const int columns = 12, rows = 12;
    const auto ws = PlaneOf(w, 4, -1, 1.5, 5, -3, -1.6, columns, rows);
    CycleSearch search;
    search.maxPeriod = 8;
    search.seeds = 4;
    const PlaneCycles plane = FollowPlaneCycles(ws, columns, rows, search);
    EXPECT_GT(plane.continued, 0); // the plane exercises the continuation
    int extra = 0;
    for (size_t d = 0; d < ws.size(); d += 3) {
        const std::vector<Cycle>& held = plane.cycles[d];
        const CycleReport own = FindCycles(ws[d], search);
        for (const Cycle& c : own.cycles) {
            const auto match = std::find_if(held.begin(), held.end(), [&](const Cycle& h) {
                if (h.period != c.period)
                    return false;
                for (int i = 0; i < c.period; ++i)
                    if (Gap(h.points[i], c.points[i]) > 1e-9)
                        return false;
                return Gap(h.multipliers[0], c.multipliers[0]) <= 1e-9
                       && Gap(h.multipliers[1], c.multipliers[1]) <= 1e-9;
            });
            EXPECT_NE(match, held.end()) << "dot " << d << " period " << c.period;
        }
        extra += static_cast<int>(held.size() - own.cycles.size());
        for (size_t i = 0; i < held.size(); ++i) {
            const Cycle& c = held[i];
            const auto again = RefineCycle(ws[d], c.points);
            ASSERT_TRUE(again.has_value()) << "dot " << d << " period " << c.period;
            for (int j = 0; j < c.period; ++j)
                EXPECT_LT(Gap((*again)[j], c.points[j]), 1e-9) << "dot " << d;
            EXPECT_EQ(MinimalPeriod(c.points, 1e-9), c.period) << "dot " << d;
            for (size_t j = i + 1; j < held.size(); ++j)
                EXPECT_FALSE(held[j].period == c.period
                             && SameCycle(held[j].points, c.points, 1e-6))
                    << "dot " << d << " lists a cycle of period " << c.period << " twice";
        }
    }
    EXPECT_GT(extra, 0) << "no sampled dot owes a cycle to its neighbours";
}

TEST(PlaneCycles, SameOnAnyThreadsTellsItsProgressAndRefusesMoreThanItMayHold)
{
    // The default network's tongues: one thread and two hold the same
    // cycles; the searches' progress rises to every dot; a cap below the
    // points the cycles hold is an error, not a plane counted short.
    const int columns = 10, rows = 7;
    const auto ws = PlaneOf({0.4, 1.9, -2.7, -4.311, -0.9, 1.8}, 4, -1, 1.5, 5, -3, -1.6, columns,
                            rows);
    CycleSearch search;
    search.maxPeriod = 6;
    search.seeds = 3;
    std::vector<int64_t> told;
    PlaneCycles one, two;
    model::RunThreads(1).run([&] { one = FollowPlaneCycles(ws, columns, rows, search); });
    model::RunThreads(2).run([&] {
        two = FollowPlaneCycles(ws, columns, rows, search, [&](int64_t done) { told.push_back(done); });
    });
    EXPECT_EQ(one.newtonRuns, two.newtonRuns);
    EXPECT_EQ(one.continued, two.continued);
    ASSERT_EQ(one.cycles.size(), two.cycles.size());
    int64_t points = 0;
    for (size_t d = 0; d < one.cycles.size(); ++d) {
        ASSERT_EQ(one.cycles[d].size(), two.cycles[d].size()) << d;
        for (size_t i = 0; i < one.cycles[d].size(); ++i) {
            EXPECT_EQ(one.cycles[d][i].points, two.cycles[d][i].points) << d;
            EXPECT_EQ(one.cycles[d][i].multipliers, two.cycles[d][i].multipliers) << d;
            points += one.cycles[d][i].period;
        }
    }
    ASSERT_FALSE(told.empty());
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_EQ(told.back(), columns * rows);
    EXPECT_NO_THROW(FollowPlaneCycles(ws, columns, rows, search, {}, points));
    EXPECT_THROW(FollowPlaneCycles(ws, columns, rows, search, {}, points - 1),
                 model::RuntimeError);
}
