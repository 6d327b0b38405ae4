#include "model/errors.h"
#include "model/network.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace model;

namespace {

TEST(Transfer, FollowsTheExponentialFormula)
{
    EXPECT_EQ(Transfer(0.0), 0.0);
    EXPECT_NEAR(Transfer(0.5), 0.4621171573, 1e-10);
    EXPECT_EQ(Transfer(20.0), 1.0);
    EXPECT_EQ(Transfer(-20.0), -1.0);
    EXPECT_EQ(Transfer(18.8), 1.0);
    EXPECT_EQ(Transfer(-400.0), -1.0); // the exponential underflows: no error
    EXPECT_EQ(Transfer(2e-17), 0.0);   // e rounds to 1
    // Not the library tangent: the formula loses the tiny argument's digits.
    EXPECT_NEAR(Transfer(1e-10), 1.0000000826e-10, 1e-19);
    EXPECT_NE(Transfer(1e-10), std::tanh(1e-10));
    const double s = 0.3;
    const double e = std::exp(s + s);
    EXPECT_EQ(Transfer(s), (e - 1) / (e + 1));
}

TEST(Transfer, OverflowIsTheFloatingPointError)
{
    for (double s : {400.0, 354.9, 1e308, -1e308, std::nan("")}) {
        try {
            Transfer(s);
            ADD_FAILURE() << s;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.kind(), RuntimeError::Kind::FloatingPoint);
        }
    }
    EXPECT_NO_THROW(Transfer(354.8));
}

State zeroState(int iterations = 1000, int accuracy = 8)
{
    State st;
    st.iterations = static_cast<int16_t>(iterations);
    st.accuracy = static_cast<int16_t>(accuracy);
    return st;
}

TEST(Classify, AllZeroParametersGiveAFixedPointAtTheOrigin)
{
    State st = zeroState();
    EXPECT_EQ(ClassifyOrbit(st, 0.7, -0.2), 1);
    EXPECT_EQ(ClassifyOrbitFp(st, 0.7, -0.2), 17);
    EXPECT_EQ(st.fixpointColor, Rgb(125, 125, 150));
    EXPECT_EQ(PeriodColor(st, 17), Rgb(125, 125, 150));
    EXPECT_TRUE(IsNearFixpoint(st, 0.0, 0.0));
    EXPECT_FALSE(IsNearFixpoint(st, 0.01, 0.0));
}

TEST(Classify, FixpointColourEncodesWhereThePointLies)
{
    EXPECT_EQ(kernel::FixpointColorOf(-1, -1), Rgb(0, 250, 133));
    EXPECT_EQ(kernel::FixpointColorOf(1, 1), Rgb(250, 0, 167));
    EXPECT_EQ(kernel::FixpointColorOf(0, -0.75), Rgb(62, 188, 162)); // halves to even
}

TEST(Classify, SaturatedNeuronsGiveFixedPointsAtTheCorners)
{
    // Huge positive biases drive both neurons to exactly 1.
    State st = zeroState();
    st.w = {0, 0, 0, 0, 30, 30};
    EXPECT_EQ(ClassifyOrbitFp(st, 0.1, 0.1), 17);
    EXPECT_EQ(st.fixpointColor, Rgb(250, 0, 167));
}

TEST(Classify, PeriodsAreTheSmallestMatch)
{
    // x' = tanh(-30 y) style swaps: with w12 = -30, w21 = 30 the saturated
    // orbit cycles through the four corners: period 4.
    State st = zeroState(100);
    st.w = {0, -30, 30, 0, 0, 0};
    EXPECT_EQ(ClassifyOrbit(st, 0.5, 0.5), 4);
    // x' = -sign(x) saturated: a 2-cycle, reported as 2, not 4.
    st.w = {-30, 0, 0, -30, 0, 0};
    EXPECT_EQ(ClassifyOrbit(st, 0.5, 0.5), 2);
    // A 2-cycle that the fixed-point classifier leaves alone.
    st.fixpointColor = Rgb(1, 2, 3);
    EXPECT_EQ(ClassifyOrbitFp(st, 0.5, 0.5), 2);
    EXPECT_EQ(st.fixpointColor, Rgb(1, 2, 3));
}

TEST(Classify, ToleranceIsStrictAndReadFromAccuracy)
{
    EXPECT_EQ(kernel::Tolerance(8), std::exp(-8.0 * std::log(10.0)));
    EXPECT_NEAR(kernel::Tolerance(1), 0.1, 1e-16);
    // A slowly converging orbit: with a loose tolerance it already counts as
    // fixed, with a tight one it does not.
    State st = zeroState(5, 1);
    st.w = {0.9, 0, 0, 0.9, 0, 0};
    EXPECT_EQ(ClassifyOrbit(st, 0.9, 0.9), 1);
    st.accuracy = 14;
    EXPECT_EQ(ClassifyOrbit(st, 0.9, 0.9), 0);
}

TEST(Classify, ADistanceEqualToTheToleranceIsNoMatch)
{
    // With all parameters 0 one step takes (x, 0) to (0, 0): the squared
    // distance is x * x. Find x whose square is exactly the tolerance.
    State st = zeroState();
    int equalities = 0;
    for (int accuracy = 1; accuracy <= 14; ++accuracy) {
        st.accuracy = static_cast<int16_t>(accuracy);
        const double eps = kernel::Tolerance(accuracy);
        double x = std::nextafter(std::nextafter(std::sqrt(eps), 0.0), 0.0);
        for (int k = 0; k < 5; ++k, x = std::nextafter(x, 1.0)) {
            const double r = x * x;
            EXPECT_EQ(IsNearFixpoint(st, x, 0.0), r < eps) << accuracy;
            if (r == eps) {
                ++equalities;
                EXPECT_FALSE(IsNearFixpoint(st, x, 0.0));
            }
        }
    }
    EXPECT_GT(equalities, 0);
}

TEST(Classify, RunsExactlyTheConfiguredTransient)
{
    // x' = tanh(b + ...) with a rotation-free contraction: compare a manual
    // iteration with the kernel's recorded history through the period-1
    // colour, which encodes the final point after n + 16 steps.
    Weights w = {0.5, 0.2, -0.3, 0.4, 0.1, -0.2};
    for (int n : {1, 2, 7, 32767}) {
        double x = 0.9, y = -0.8;
        for (int s = 0; s < n + 16; ++s) {
            const double s1 = (w[0] * x + w[1] * y) + w[4];
            const double s2 = (w[2] * x + w[3] * y) + w[5];
            y = Transfer(s2);
            x = Transfer(s1);
        }
        const kernel::Orbit o = kernel::Classify(w, n, 1, 0.9, -0.8, true);
        ASSERT_EQ(o.cls, 17) << n;
        EXPECT_EQ(o.fpColor, kernel::FixpointColorOf(x, y)) << n;
    }
}

TEST(Classify, OverflowingOrbitsRaiseTheFloatingPointError)
{
    State st = zeroState();
    st.w = {700, 0, 0, 0, 0, 0};
    EXPECT_THROW(ClassifyOrbit(st, 0.9, 0.0), RuntimeError);
    EXPECT_EQ(ClassifyOrbit(st, -0.9, 0.0), 1); // very negative sums underflow: -1
    st.fixpointColor = Rgb(9, 9, 9);
    EXPECT_THROW(ClassifyOrbitFp(st, 0.9, 0.0), RuntimeError);
    EXPECT_EQ(st.fixpointColor, Rgb(9, 9, 9));
    // A huge start point overflows in the first products.
    st.w = {4, 0, 0, 0, 0, 0};
    EXPECT_THROW(ClassifyOrbit(st, 1e308, 0.0), RuntimeError);
}

TEST(PeriodColor, FollowsThePalette)
{
    State st;
    EXPECT_EQ(PeriodColor(st, 0), 0);
    EXPECT_EQ(PeriodColor(st, 18), 0);
    EXPECT_EQ(PeriodColor(st, -1), 0);
    EXPECT_EQ(PeriodColor(st, 17), 0); // black until a fixed point is located
    EXPECT_EQ(PeriodColor(st, 1), Rgb(150, 75, 0));
    EXPECT_EQ(PeriodColor(st, 9), Rgb(250, 250, 250));
    EXPECT_EQ(PeriodColor(st, 16), Rgb(190, 190, 250));
    st.fixpointColor = Rgb(1, 2, 3);
    EXPECT_EQ(PeriodColor(st, 17), Rgb(1, 2, 3));
}

} // namespace
