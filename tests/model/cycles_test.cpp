// Periodic orbits, fixed points and their bifurcations, against cases known
// on paper: decoupled neurons, whose fixed points and cycles are products of
// one-dimensional ones, and symmetric networks whose multipliers are those of
// the weight matrix.
#include "model/cycles.h"
#include "model/errors.h"
#include "model/fixed_points.h"

#include <gtest/gtest.h>

#include <tbb/task_arena.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <vector>

using model::Weights;
using namespace model::analysis;

namespace {

// The positive root of s = tanh(a s), a > 1, by plain bisection.
double PositiveRoot(double a)
{
    double lo = 1e-300, hi = 1;
    for (int i = 0; i < 2000 && lo < hi; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid == lo || mid == hi)
            break;
        (std::tanh(a * mid) > mid ? lo : hi) = mid;
    }
    return lo;
}

// One neuron alone with self-weight a and no bias: its fixed points and their
// multipliers a (1 - x^2).
struct Fixed1D {
    double x, mu;
};
std::vector<Fixed1D> Neuron(double a)
{
    if (a <= 1)
        return {{0, a}};
    const double s = PositiveRoot(a);
    return {{-s, a * (1 - s * s)}, {0, a}, {s, a * (1 - s * s)}};
}

OrbitType PaperType(double mu1, double mu2)
{
    const double m1 = std::fabs(mu1), m2 = std::fabs(mu2);
    if (m1 == 1 || m2 == 1)
        return OrbitType::NonHyperbolic;
    return m1 < 1 && m2 < 1 ? OrbitType::Attracting
         : m1 > 1 && m2 > 1 ? OrbitType::Repelling
                            : OrbitType::Saddle;
}

// The real multipliers of an orbit, ascending.
std::pair<double, double> RealPair(const std::array<Multiplier, 2>& mu)
{
    EXPECT_EQ(mu[0].im, 0);
    EXPECT_EQ(mu[1].im, 0);
    return {std::min(mu[0].re, mu[1].re), std::max(mu[0].re, mu[1].re)};
}

const Weights kChaotic = {4.0, -4.1, 2.65, -2.85, 1.75, 2.9};

} // namespace

TEST(FixedPoints, DecoupledNetworkHasNineKnownFixedPointsByBothFinders)
{
    const Weights w = {2, 0, 0, 1.5, 0, 0};
    // Increasing one-dimensional maps have no cycles longer than 1.
    CycleSearch search;
    search.maxPeriod = 6;
    search.seeds = 12;
    const CycleReport report = FindCycles(w, search);
    std::vector<FixedPoint> fromCycles;
    for (const Cycle& c : report.cycles) {
        ASSERT_EQ(c.period, 1);
        fromCycles.push_back({c.points[0].x, c.points[0].y, c.multipliers, c.type});
    }
    for (const std::vector<FixedPoint>& found : {fromCycles, FindFixedPoints(w)}) {
        ASSERT_EQ(found.size(), 9u);
        int types[4] = {};
        for (const Fixed1D& u : Neuron(2))
            for (const Fixed1D& v : Neuron(1.5)) {
                const auto p = std::find_if(found.begin(), found.end(), [&](const FixedPoint& f) {
                    return std::fabs(f.x - u.x) < 1e-9 && std::fabs(f.y - v.x) < 1e-9;
                });
                ASSERT_NE(p, found.end()) << u.x << " " << v.x;
                const auto [lo, hi] = RealPair(p->multipliers);
                EXPECT_NEAR(lo, std::min(u.mu, v.mu), 1e-9);
                EXPECT_NEAR(hi, std::max(u.mu, v.mu), 1e-9);
                EXPECT_EQ(p->type, PaperType(u.mu, v.mu));
                ++types[static_cast<int>(p->type)];
            }
        EXPECT_EQ(types[static_cast<int>(OrbitType::Attracting)], 4);
        EXPECT_EQ(types[static_cast<int>(OrbitType::Saddle)], 4);
        EXPECT_EQ(types[static_cast<int>(OrbitType::Repelling)], 1);
    }
    EXPECT_EQ(report.newtonRuns, 12 * 12 * 6);
}

TEST(Cycles, NegativeSelfWeightsGiveTwoCyclesWithTheProductOfTheMultipliers)
{
    // x -> tanh(-2x) has the fixed point 0 (multiplier -2) and the 2-cycle
    // +-c, c = tanh(2c), with multiplier (-2 (1 - c^2))^2 per neuron. The
    // plane has the fixed point 0 and four 2-cycles: both neurons cycling
    // (attracting), or one cycling and one at 0 (saddles).
    const double c = PositiveRoot(2);
    const double cycling = 4 * (1 - c * c) * (1 - c * c);
    CycleSearch search;
    search.maxPeriod = 8;
    search.seeds = 16;
    const CycleReport report = FindCycles({-2, 0, 0, -2, 0, 0}, search);
    ASSERT_EQ(report.cycles.size(), 5u);
    const Cycle& fixed = report.cycles[0];
    EXPECT_EQ(fixed.period, 1);
    EXPECT_NEAR(RealPair(fixed.multipliers).first, -2, 1e-12);
    EXPECT_NEAR(RealPair(fixed.multipliers).second, -2, 1e-12);
    EXPECT_EQ(fixed.type, OrbitType::Repelling);

    struct Expected {
        double x, y, mu1, mu2; // one point (the other is its negative), multipliers ascending
        OrbitType type;
    };
    const Expected expected[] = {{c, c, cycling, cycling, OrbitType::Attracting},
                                 {c, -c, cycling, cycling, OrbitType::Attracting},
                                 {c, 0, cycling, 4, OrbitType::Saddle},
                                 {0, c, cycling, 4, OrbitType::Saddle}};
    for (const Expected& e : expected) {
        const auto on = [&](const Cycle& cycle, double x, double y) {
            return std::any_of(cycle.points.begin(), cycle.points.end(), [&](Point p) {
                return std::fabs(p.x - x) < 1e-12 && std::fabs(p.y - y) < 1e-12;
            });
        };
        const auto cycle = std::find_if(report.cycles.begin(), report.cycles.end(), [&](const Cycle& k) {
            return k.period == 2 && on(k, e.x, e.y) && on(k, -e.x, -e.y);
        });
        ASSERT_NE(cycle, report.cycles.end()) << e.x << " " << e.y;
        EXPECT_NEAR(RealPair(cycle->multipliers).first, e.mu1, 1e-12);
        EXPECT_NEAR(RealPair(cycle->multipliers).second, e.mu2, 1e-11);
        EXPECT_EQ(cycle->type, e.type);
    }
}

TEST(Cycles, ChaoticNetworkCyclesAreTrueMinimalDistinctAndIndependentOfThreads)
{
    CycleSearch search;
    search.maxPeriod = 10;
    search.seeds = 24;
    const CycleReport report = FindCycles(kChaotic, search);
    CycleReport serial;
    tbb::task_arena(1).execute([&] { serial = FindCycles(kChaotic, search); });

    ASSERT_GT(report.cycles.size(), 10u);
    ASSERT_EQ(serial.cycles.size(), report.cycles.size());
    EXPECT_EQ(serial.notConverged, report.notConverged);
    EXPECT_EQ(serial.overflowed, report.overflowed);
    std::vector<Point> all;
    for (size_t i = 0; i < report.cycles.size(); ++i) {
        const Cycle& c = report.cycles[i];
        const Cycle& s = serial.cycles[i];
        ASSERT_EQ(c.period, s.period);
        for (int k = 0; k < c.period; ++k) {
            EXPECT_EQ(std::bit_cast<uint64_t>(c.points[k].x), std::bit_cast<uint64_t>(s.points[k].x));
            EXPECT_EQ(std::bit_cast<uint64_t>(c.points[k].y), std::bit_cast<uint64_t>(s.points[k].y));
            // A cycle of the map, listed from its smallest point.
            const Point p = c.points[k], q = c.points[(k + 1) % c.period];
            const double fx = std::tanh((kChaotic[0] * p.x + kChaotic[1] * p.y) + kChaotic[4]);
            const double fy = std::tanh((kChaotic[2] * p.x + kChaotic[3] * p.y) + kChaotic[5]);
            EXPECT_LT(std::max(std::fabs(fx - q.x), std::fabs(fy - q.y)), 1e-12);
            EXPECT_TRUE(c.points[0].x < p.x || (c.points[0].x == p.x && c.points[0].y <= p.y));
            all.push_back(p);
        }
        EXPECT_EQ(c.type, TypeOf(c.multipliers));
    }
    // No point belongs to two listed cycles, nor twice to one (minimal periods).
    std::sort(all.begin(), all.end(), [](Point a, Point b) { return a.x < b.x; });
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_FALSE(all[i].x - all[i - 1].x < 1e-7 && std::fabs(all[i].y - all[i - 1].y) < 1e-7)
            << all[i].x << " " << all[i].y;
    // Every cycle is matched back from any of its points.
    const Cycle& last = report.cycles.back();
    EXPECT_EQ(CycleThrough(report.cycles, last.points.back().x + 1e-10, last.points.back().y, 1e-8),
              report.cycles.size() - 1);
    EXPECT_FALSE(CycleThrough(report.cycles, 5, 5, 1e-3).has_value());
}

TEST(Cycles, ExtraStartsReachWhatTheGridMissesAndBadSearchesAreRefused)
{
    // The single grid seed sits on the repelling origin; the extra start lies
    // in the basin of an attracting fixed point.
    CycleSearch search;
    search.maxPeriod = 1;
    search.seeds = 1;
    search.extraStarts = {{0.9, 0.8}};
    const CycleReport report = FindCycles({2, 0, 0, 1.5, 0, 0}, search);
    ASSERT_EQ(report.cycles.size(), 2u);
    EXPECT_EQ(report.cycles[0].points[0].x, 0);
    EXPECT_NEAR(report.cycles[1].points[0].x, PositiveRoot(2), 1e-12);
    EXPECT_NEAR(report.cycles[1].points[0].y, PositiveRoot(1.5), 1e-12);

    // A non-hyperbolic fixed point, which Newton's method reaches only
    // linearly, from many sides: listed once.
    search.extraStarts.clear();
    search.seeds = 16;
    const CycleReport neutral = FindCycles({1, 0, 0, -1, 0, 0}, search);
    ASSERT_EQ(neutral.cycles.size(), 1u);
    EXPECT_EQ(neutral.cycles[0].type, OrbitType::NonHyperbolic);

    // Parameters that are not finite: every run is skipped, none throws.
    search.extraStarts.clear();
    search.maxPeriod = 3;
    const CycleReport none = FindCycles({NAN, 0, 0, 1, 0, 0}, search);
    EXPECT_TRUE(none.cycles.empty());
    EXPECT_EQ(none.overflowed + none.notConverged, none.newtonRuns);
    EXPECT_EQ(none.newtonRuns, 16 * 16 * 3);

    for (auto [period, seeds, x1] : {std::tuple{0, 8, 1.0}, {65, 8, 1.0}, {4, 0, 1.0},
                                     {4, 1025, 1.0}, {4, 8, INFINITY}}) {
        CycleSearch bad;
        bad.maxPeriod = period;
        bad.seeds = seeds;
        bad.x1 = x1;
        EXPECT_THROW(FindCycles({0.5, 0, 0, 0.5, 0, 0}, bad), model::RuntimeError);
    }
}

TEST(FixedPoints, DecoupledStabilityPlaneCountsAreTheProductsOfTheNeurons)
{
    // w11 and w22 over -3..3 in steps of 1/8 (exact, through +-1).
    for (int i = 0; i <= 48; ++i)
        for (int j = 0; j <= 48; ++j) {
            const double a = -3 + i / 8.0, d = -3 + j / 8.0;
            FixedPointCounts expected;
            for (const Fixed1D& u : Neuron(a))
                for (const Fixed1D& v : Neuron(d))
                    switch (PaperType(u.mu, v.mu)) {
                    case OrbitType::Attracting: ++expected.attracting; break;
                    case OrbitType::Saddle: ++expected.saddle; break;
                    case OrbitType::Repelling: ++expected.repelling; break;
                    case OrbitType::NonHyperbolic: ++expected.nonHyperbolic; break;
                    }
            const FixedPointCounts counts = CountTypes(FindFixedPoints({a, 0, 0, d, 0, 0}));
            ASSERT_EQ(counts, expected) << a << " " << d;
            EXPECT_EQ(CountsOfKey(ClassKey(counts)), counts);
        }
}

TEST(FixedPoints, CountsEqualNewtonFromADenseGridOfStarts)
{
    std::mt19937_64 random(21);
    std::uniform_real_distribution<double> weight(-4, 4), bias(-1.5, 1.5);
    std::vector<Weights> cases = {
        {3, 0.05, -0.02, 3, 0, 0}, // nearly decoupled: nine
        {3, 1e-9, 2e-10, 2.5, 0.1, -0.1},
        {3, 1e-300, -1e-300, 3, 0, 0}, // couplings below the rounding of the others
        {0.5, 2.5, 0.3, 1.2, 0.2, 6},  // the second neuron saturated: y about 1e-6 from 1
        {-3.5, 0.8, 0.5, 2.5, 0.1, -3},
        {0.4, 1.9, -2.7, -4.311, -0.9, 1.8},
        kChaotic,
    };
    for (int i = 0; i < 40; ++i)
        cases.push_back({weight(random), weight(random), weight(random), weight(random),
                         bias(random), bias(random)});
    CycleSearch grid;
    grid.maxPeriod = 1;
    grid.seeds = 48;
    int multiple = 0;
    for (const Weights& w : cases) {
        const std::vector<FixedPoint> points = FindFixedPoints(w);
        const CycleReport newton = FindCycles(w, grid);
        ASSERT_EQ(points.size(), newton.cycles.size()) << w[0] << " " << w[1] << " " << w[2]
                                                        << " " << w[3] << " " << w[4] << " " << w[5];
        for (size_t k = 0; k < points.size(); ++k) {
            // To the rounding of the map, not only to the grid's 1e-9.
            const double x = points[k].x, y = points[k].y;
            EXPECT_LE(std::fabs(std::tanh((w[0] * x + w[1] * y) + w[4]) - x), 1e-14) << w[0] << " " << w[1];
            EXPECT_LE(std::fabs(std::tanh((w[2] * x + w[3] * y) + w[5]) - y), 1e-14) << w[0] << " " << w[1];
            EXPECT_NEAR(points[k].x, newton.cycles[k].points[0].x, 1e-9);
            EXPECT_NEAR(points[k].y, newton.cycles[k].points[0].y, 1e-9);
            EXPECT_EQ(points[k].type, newton.cycles[k].type);
        }
        multiple += points.size() > 1;
    }
    EXPECT_GT(multiple, 10); // the sample reaches beyond a single fixed point
}

TEST(FixedPoints, SaturatedNeuronsGiveEachPointOnce)
{
    // A first neuron with a self-weight far beyond the rest: its state is -1,
    // about 0 or 1, and the second neuron's equation has one root for each,
    // so three fixed points. Many roots of the sampled equation, where tanh
    // is exactly +-1, polish to one of them; one was missed at 1.34e8.
    struct Case {
        Weights w;
        double xs[3];
    };
    const Case cases[] = {
        {{1.34e8, 1.31, -41.1, -1340, 7.6, 41.1}, {-1, 0, 1}},
        {{1340, -1.31, 2.68, -2.74, -32.6, 0.642}, {-1, 0.0245, 1}},
    };
    for (const Case& c : cases) {
        const Weights& w = c.w;
        const std::vector<FixedPoint> points = FindFixedPoints(w);
        ASSERT_EQ(points.size(), 3u) << w[0];
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(points[k].x, c.xs[k], 1e-3) << w[0];
            const double x = points[k].x, y = points[k].y;
            EXPECT_LE(std::fabs(std::tanh((w[0] * x + w[1] * y) + w[4]) - x), 1e-12) << w[0];
            EXPECT_LE(std::fabs(std::tanh((w[2] * x + w[3] * y) + w[5]) - y), 1e-12) << w[0];
        }
    }
}

TEST(FixedPoints, BifurcationsAreLocatedAlongTheSegment)
{
    // One neuron with self-weight 2 and bias b folds where 2 (1 - x^2) = 1:
    // at b = sqrt 2 - asinh 1. Self-weights through +1 and -1 at the origin
    // give a pitchfork (a multiplier through +1) and a period doubling; a
    // scaled rotation through radius 1 a Neimark-Sacker bifurcation. The
    // symmetric weights [a b; b a] have the multipliers a + b and a - b at the
    // origin: the same through the coupled solver.
    const double fold = std::sqrt(2.0) - std::asinh(1.0);
    const auto rotation = [](double k) {
        return Weights{k * std::cos(1.0), -k * std::sin(1.0), k * std::sin(1.0), k * std::cos(1.0), 0, 0};
    };
    struct Case {
        Weights from, to;
        std::vector<Crossing> expected;
    };
    const Case cases[] = {
        {{2, 0, 0, 0.5, 0, 0}, {2, 0, 0, 0.5, 1, 0}, {{fold, Bifurcation::SaddleNode}}},
        {{0.5, 0, 0, 0.9, 0, 0}, {0.5, 0, 0, 1.1, 0, 0}, {{0.5, Bifurcation::SaddleNode}}},
        {{-0.9, 0, 0, 0.5, 0, 0}, {-1.1, 0, 0, 0.5, 0, 0}, {{0.5, Bifurcation::PeriodDoubling}}},
        {rotation(0.9), rotation(1.1), {{0.5, Bifurcation::NeimarkSacker}}},
        {{0.3, 0.6, 0.6, 0.3, 0, 0}, {0.3, 0.8, 0.8, 0.3, 0, 0}, {{0.5, Bifurcation::SaddleNode}}},
        {{-0.2, 0.7, 0.7, -0.2, 0, 0}, {-0.2, 0.9, 0.9, -0.2, 0, 0}, {{0.5, Bifurcation::PeriodDoubling}}},
        {{-0.9, 0, 0, 0.5, 0, 0}, {-1.1, 0, 0, 1.25, 0, 0},
         {{0.5, Bifurcation::PeriodDoubling}, {2.0 / 3, Bifurcation::SaddleNode}}},
        // A flip of the first neuron at 0.8 beside a pair of the second's
        // fixed points born and gone around the middle: the flip alone
        // differs between the ends, so its quick location must not skip the
        // pair's folds.
        {{-0.6, 0, 0, 2, 0, -1}, {-1.1, 0, 0, 2, 0, 1},
         {{(1 - fold) / 2, Bifurcation::SaddleNode}, {(1 + fold) / 2, Bifurcation::SaddleNode},
          {0.8, Bifurcation::PeriodDoubling}}},
        // A real pair through a product of 1 is no bifurcation; nor is nothing.
        {{1.5, 0, 0, 0.6, 0, 0}, {1.5, 0, 0, 0.8, 0, 0}, {}},
        {{0.2, 0.1, 0, 0.3, 0, 0}, {0.3, 0.1, 0, 0.3, 0, 0}, {}},
    };
    for (const Case& c : cases) {
        const std::vector<Crossing> found = FindCrossings(c.from, c.to);
        ASSERT_EQ(found.size(), c.expected.size()) << c.from[0] << " " << c.to[3];
        for (size_t k = 0; k < found.size(); ++k) {
            EXPECT_EQ(found[k].kind, c.expected[k].kind) << c.from[0];
            EXPECT_NEAR(found[k].t, c.expected[k].t, 1e-7) << c.from[0];
        }
    }
}
