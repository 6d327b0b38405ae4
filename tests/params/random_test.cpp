#include "model/random.h"

#include <gtest/gtest.h>

#include <cmath>

using model::RandomGenerator;

namespace {

TEST(Random, UniformSinglePrecisionValuesInTheHalfOpenUnitInterval)
{
    RandomGenerator g;
    double sum = 0;
    float lo = 1, hi = 0;
    int lowHalf = 0;
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        const float r = g.next();
        ASSERT_GE(r, 0.0f);
        ASSERT_LT(r, 1.0f);
        ASSERT_EQ(std::ldexp(static_cast<double>(r), 24), std::floor(std::ldexp(r, 24)));
        sum += r;
        lo = std::min(lo, r);
        hi = std::max(hi, r);
        lowHalf += r < 0.5f;
    }
    EXPECT_NEAR(sum / n, 0.5, 0.005);
    EXPECT_NEAR(lowHalf, n / 2, 1000);
    EXPECT_LT(lo, 0.001f);
    EXPECT_GT(hi, 0.999f);
}

TEST(Random, SkipAndRestoreGoToExactPositions)
{
    RandomGenerator a, b;
    const RandomGenerator::State start = a.state();
    float drawn[10];
    for (float& r : drawn)
        r = a.next();
    b.skip(7);
    EXPECT_EQ(b.next(), drawn[7]);
    a.restore(start);
    EXPECT_EQ(a.next(), drawn[0]);
    EXPECT_NE(drawn[0], drawn[1]);
}

TEST(Random, TheProcessGeneratorStartsFromTheSameStateAndResets)
{
    // Every program start begins where a fresh generator begins.
    RandomGenerator fresh;
    model::ResetRandomForTests();
    EXPECT_EQ(model::Random().state(), fresh.state());
    const float first = model::Rnd();
    EXPECT_EQ(first, fresh.next());
    EXPECT_NE(model::Random().state(), RandomGenerator().state());
    model::ResetRandomForTests();
    EXPECT_EQ(model::Rnd(), first);
}

} // namespace
