// The skeleton's continuation, crossings and cascades against cases known on
// paper: a lone neuron x' = tanh(a x + b) (the second neuron, with no weight
// and no bias, stays at 0 with multiplier 0) and the decoupled plane of the
// two self-weights, whose multipliers at the origin are w11 and w22.
#include "model/skeleton.h"

#include <gtest/gtest.h>

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
// and the one crossing expected on it, at t known on paper.
struct SegmentCase {
    const char* name;
    Weights from, to;
    std::vector<Point> guess;
    double t;
    int period;
    CurveType type;
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
    EXPECT_DOUBLE_EQ(x.argument, c.type == CurveType::Flip ? std::numbers::pi : 0.0);
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
                    {-0.5, 0, 0, 0, 0, 0}, {{0.8, 0}, {-0.8, 0}}, 0.5, 1, CurveType::Flip},
        // With a bias, the flip of the fixed point where a (1 - x^2) = -1.
        SegmentCase{"BiasedFixedPointFlips", {-2, 0, 0, 0, 0, 0}, {-2, 0, 0, 0, 3, 0},
                    {{0, 0}}, kFlipBias / 3, 1, CurveType::Flip},
        SegmentCase{"BiasedTwoCycleCollapses", {-2, 0, 0, 0, 0, 0}, {-2, 0, 0, 0, 3, 0},
                    {{0.9, 0}, {-0.9, 0}}, kFlipBias / 3, 1, CurveType::Flip},
        // The upper fixed point of a = 2 turns back at the fold a (1 - x^2) = 1.
        SegmentCase{"UpperFixedPointEndsAtFold", {2, 0, 0, 0, 0, 0}, {2, 0, 0, 0, -1, 0},
                    {{0.95, 0}}, -kFoldBias, 1, CurveType::Fold},
        // The origin's second multiplier w22 passes +1 (a pitchfork: the
        // branch goes on through it).
        SegmentCase{"OriginPassesPlusOneInW22", {0.3, 0, 0, 0.5, 0, 0}, {0.3, 0, 0, 1.5, 0, 0},
                    {{0, 0}}, 0.5, 1, CurveType::Fold},
        // The 2-cycle of w11 = -2 has the y multiplier w22^2: +1 at w22 = -1
        // and at w22 = +1, a crossing of period 2 in the expected row.
        SegmentCase{"TwoCycleYMultiplierAtMinusOne", {-2, 0, 0, -0.25, 0, 0},
                    {-2, 0, 0, -1.75, 0, 0}, {{0.9, 0}, {-0.9, 0}}, 0.5, 2, CurveType::Fold},
        SegmentCase{"TwoCycleYMultiplierAtPlusOne", {-2, 0, 0, 0.2, 0, 0},
                    {-2, 0, 0, 1.2, 0, 0}, {{0.9, 0}, {-0.9, 0}}, 0.8, 2, CurveType::Fold}),
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

TEST(Skeleton, NeimarkSackerWhereTheRotationLeavesTheCircle)
{
    // w = r [cos q, -sin q; sin q, cos q] with no bias: the origin's
    // multipliers r e^{+-iq}, on the unit circle at r = 1.
    const double q = 0.7;
    auto rotation = [&](double r) {
        return Weights{r * std::cos(q), -r * std::sin(q), r * std::sin(q), r * std::cos(q), 0, 0};
    };
    const Continuation c = ContinueCycle(rotation(0.9), rotation(1.3), Solved(rotation(0.9), {{0, 0}}));
    ASSERT_EQ(c.crossings.size(), 1u);
    EXPECT_EQ(c.crossings[0].type, CurveType::NeimarkSacker);
    EXPECT_NEAR(c.crossings[0].t, 0.25, 2e-9);
    EXPECT_NEAR(c.crossings[0].argument, q, 1e-7);
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
