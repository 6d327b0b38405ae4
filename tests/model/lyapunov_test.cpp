// The Lyapunov exponent, the long-period classifier and their colour scales.
#include "model/long_period.h"
#include "model/lyapunov.h"
#include "model/network.h"
#include "model/scales.h"
#include "model/transfer_lanes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

using model::Weights;
using namespace model::kernel;

namespace {

const Weights kFixedPoint = {0.6, 0.3, 0.2, 0.3, 0.3, -0.2}; // attracting, real eigenvalues
const Weights kChaotic = {4.0, -4.1, 2.65, -2.85, 1.75, 2.9};
const Weights kDefaults = {0.4, 1.9, -2.7, -4.311, -0.9, 1.8};
const Weights kCycle29 = {3, -2, 2, 3, 0.3, 0}; // scaled rotation, locked to a 29-cycle
const Weights kThreeCycle = {-5, 6, -6, -5, 0, 0}; // repeats exactly

Weights rotation(double k, double phi)
{
    return {k * std::cos(phi), -k * std::sin(phi), k * std::sin(phi), k * std::cos(phi), 0, 0};
}

void step(const Weights& w, double& x, double& y)
{
    bool ok = true;
    const double s1 = (w[0] * x + w[1] * y) + w[4];
    const double s2 = (w[2] * x + w[3] * y) + w[5];
    y = Transfer(s2, ok);
    x = Transfer(s1, ok);
}

uint64_t bits(double v) { return std::bit_cast<uint64_t>(v); }

// The exponent by its per-step definition: the vector renormalised after
// every step and the logarithms of its growth summed; nullopt when the vector
// is mapped to exactly 0.
std::optional<double> perStepExponent(const Weights& w, int iterations, int steps, double x,
                                      double y)
{
    for (int i = 0; i < iterations; ++i)
        step(w, x, y);
    double vx = 1, vy = 0, sum = 0;
    for (int m = 0; m < steps; ++m) {
        step(w, x, y);
        const double ux = (1 - x * x) * (w[0] * vx + w[1] * vy);
        const double uy = (1 - y * y) * (w[2] * vx + w[3] * vy);
        const double n = std::hypot(ux, uy);
        if (n == 0)
            return std::nullopt;
        sum += std::log(n);
        vx = ux / n;
        vy = uy / n;
    }
    return sum / steps;
}

TEST(Lyapunov, AgreesWithThePerStepDefinition)
{
    struct Case {
        Weights w;
        int iterations, steps;
    };
    const Case cases[] = {{kFixedPoint, 1000, 1000}, {kChaotic, 1000, 1000}, {kChaotic, 0, 7},
                          {kDefaults, 5, 1000},      {kCycle29, 1000, 1000},
                          {rotation(1.1, 1.0), 1000, 3000}, {{0, 0, 0.2, 0.5, 30, 0}, 10, 100},
                          {{1e-200, 0, 0, 1e-200, 0, 0}, 10, 1000}};
    for (const Case& c : cases) {
        for (int i = 0; i < 6; ++i) {
            for (int j = 0; j < 6; ++j) {
                const double x0 = -0.95 + 0.38 * i, y0 = -0.95 + 0.38 * j;
                const Exponent e = Lyapunov(c.w, c.iterations, c.steps, x0, y0);
                const std::optional<double> want = perStepExponent(c.w, c.iterations, c.steps, x0, y0);
                EXPECT_FALSE(e.failed);
                // The per-step sum itself rounds relative to its size.
                if (want)
                    EXPECT_NEAR(e.lambda, *want, 1e-12 * std::max(1.0, std::fabs(*want)))
                        << x0 << " " << y0;
                else
                    EXPECT_EQ(e.lambda, -INFINITY) << x0 << " " << y0;
            }
        }
    }
}

TEST(Lyapunov, KnownExponents)
{
    // At the attracting fixed point the exponent tends to the log of the
    // larger eigenvalue of the Jacobian; the start of the vector costs O(1/M).
    double x = 0.3, y = 0.1;
    for (int i = 0; i < 5000; ++i)
        step(kFixedPoint, x, y);
    const double a = (1 - x * x) * kFixedPoint[0], b = (1 - x * x) * kFixedPoint[1];
    const double c = (1 - y * y) * kFixedPoint[2], d = (1 - y * y) * kFixedPoint[3];
    const double disc = (a - d) * (a - d) / 4 + b * c;
    ASSERT_GT(disc, 0); // real eigenvalues
    const double mu = std::log(std::fabs((a + d) / 2 + std::sqrt(disc)));
    const double err1000 = std::fabs(Lyapunov(kFixedPoint, 1000, 1000, 0.3, 0.1).lambda - mu);
    const double err10000 = std::fabs(Lyapunov(kFixedPoint, 1000, 10000, 0.3, 0.1).lambda - mu);
    EXPECT_LT(err1000, 1e-2);
    EXPECT_LT(err10000, err1000 / 5);

    // An invariant circle of a scaled rotation: neither growth nor decay.
    for (double k : {1.01, 1.1})
        EXPECT_LT(std::fabs(Lyapunov(rotation(k, 1.0), 1000, 1000, 0.3, 0.1).lambda), 1e-3) << k;
    for (double x0 : {0.1, -0.5, 0.7})
        EXPECT_GT(Lyapunov(kChaotic, 1000, 1000, x0, 0.2).lambda, 0.1) << x0;

    // Both neurons saturated to exactly +-1: the vector is mapped to 0.
    EXPECT_EQ(Lyapunov({0, -30, 30, 0, 0.5, 0}, 10, 10, 0.5, 0.5).lambda, -INFINITY);
    EXPECT_TRUE(Lyapunov({700, 0, 0, 0, 0, 0}, 10, 10, 0.5, 0.5).failed);
}

TEST(Lyapunov, BatchGivesTheBitsOfOneAtATime)
{
    const Weights cases[] = {kChaotic,        kDefaults, kFixedPoint,         kThreeCycle,
                             {0, 0, 0, 0, 0, 0}, {700, 0, 0, 0, 0, 0}, {0, -30, 30, 0, 0.5, 0}};
    std::vector<double> xs, ys;
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 6; ++j)
            xs.push_back(-1.0 + i / 3.0), ys.push_back(-1.0 + j * 0.4);
    const int n = static_cast<int>(xs.size());
    std::vector<Weights> plane;
    for (int k = 0; k < n; ++k)
        plane.push_back(cases[k % 7]);
    for (int clone = 1; clone <= StepShapeCount(); ++clone) { // each shape this processor runs
    if (!UseStepLanesClone(clone))
        continue;
    for (int iterations : {0, 1, 17, 1000}) {
        for (int steps : {1, 50}) {
            std::vector<Exponent> all(n), each(n), pieces(n);
            for (const Weights& w : cases) {
                LyapunovMany(w, iterations, steps, xs.data(), ys.data(), n, all.data());
                for (int b = 0; b < n; b += 5) // pieces that leave lanes idle
                    LyapunovMany(w, iterations, steps, &xs[b], &ys[b], std::min(5, n - b),
                                 &pieces[b]);
                for (int k = 0; k < n; ++k) {
                    const Exponent want = Lyapunov(w, iterations, steps, xs[k], ys[k]);
                    for (const Exponent& got : {all[k], pieces[k]}) {
                        EXPECT_EQ(got.failed, want.failed);
                        EXPECT_EQ(bits(got.lambda), bits(want.lambda)) << iterations << " " << k;
                    }
                }
            }
            LyapunovManyEach(plane.data(), iterations, steps, xs.data(), ys.data(), n,
                             each.data());
            for (int k = 0; k < n; ++k) {
                const Exponent want = Lyapunov(plane[k], iterations, steps, xs[k], ys[k]);
                EXPECT_EQ(each[k].failed, want.failed);
                EXPECT_EQ(bits(each[k].lambda), bits(want.lambda)) << "plane " << k;
            }
        }
    }
    }
    UseStepLanesClone(0);
}

// The mean of log |det J| over the measuring steps, J the Jacobian at each
// new point: what the two exponents sum to.
double meanLogDeterminant(const Weights& w, int iterations, int steps, double x, double y)
{
    for (int i = 0; i < iterations; ++i)
        step(w, x, y);
    double sum = 0;
    for (int m = 0; m < steps; ++m) {
        step(w, x, y);
        sum += std::log(std::fabs((1 - x * x) * (1 - y * y) * (w[0] * w[3] - w[1] * w[2])));
    }
    return sum / steps;
}

TEST(Spectrum, FirstIsTheLargestExponentAndTheSumIsTheMeanLogDeterminant)
{
    for (const Weights& w : {kFixedPoint, kChaotic, kDefaults, kCycle29, rotation(1.1, 1.0)}) {
        for (auto [x0, y0] : {std::pair{0.3, 0.1}, {-0.7, 0.9}, {0.0, -0.4}}) {
            const Spectrum s = LyapunovSpectrum(w, 1000, 1000, x0, y0);
            EXPECT_FALSE(s.failed);
            EXPECT_GE(s.lambda1, s.lambda2);
            EXPECT_NEAR(s.lambda1, Lyapunov(w, 1000, 1000, x0, y0).lambda, 1e-6);
            EXPECT_NEAR(s.lambda1 + s.lambda2, meanLogDeterminant(w, 1000, 1000, x0, y0), 1e-6)
                << x0 << " " << y0;
        }
    }
}

TEST(Spectrum, KnownSpectra)
{
    struct Case {
        Weights w;
        double lambda1, lambda2;
    };
    // Neuron 1 saturated to exactly 1, neuron 2 at its fixed point y: the
    // Jacobian [0 0; 0.2 g, 0.5 g] with g = 1 - y^2 has the eigenvalues 0.5 g
    // and 0; the first step takes (1, 0) to (0, 0.2 g), an eigenvector.
    const Weights oneSaturated = {0, 0, 0.2, 0.5, 30, 0};
    double x = 0.5, y = 0.5;
    for (int i = 0; i < 2000; ++i)
        step(oneSaturated, x, y);
    const Case cases[] = {
        {{0.5, 0, 0, -0.3, 0, 0}, std::log(0.5), std::log(0.3)}, // decoupled, at the origin
        {oneSaturated, (std::log(0.2 * (1 - y * y)) + 999 * std::log(0.5 * (1 - y * y))) / 1000,
         -INFINITY},
        {{0, -30, 30, 0, 0.5, 0}, -INFINITY, -INFINITY}, // both saturated
    };
    for (const Case& c : cases) {
        const Spectrum s = LyapunovSpectrum(c.w, 1000, 1000, 0.5, 0.5);
        EXPECT_FALSE(s.failed);
        for (auto [got, want] : {std::pair{s.lambda1, c.lambda1}, {s.lambda2, c.lambda2}}) {
            if (std::isinf(want))
                EXPECT_EQ(got, want);
            else
                EXPECT_NEAR(got, want, 1e-6);
        }
    }
    EXPECT_TRUE(LyapunovSpectrum({700, 0, 0, 0, 0, 0}, 10, 10, 0.5, 0.5).failed);
}

TEST(Spectrum, BatchGivesTheBitsOfOneAtATime)
{
    const Weights cases[] = {kChaotic, kDefaults, kThreeCycle, {0, 0, 0.2, 0.5, 30, 0},
                             {0, -30, 30, 0, 0.5, 0}, {700, 0, 0, 0, 0, 0}};
    std::vector<double> xs, ys;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            xs.push_back(-1.0 + i / 2.0), ys.push_back(-0.9 + j * 0.45);
    const int n = static_cast<int>(xs.size());
    std::vector<Weights> plane;
    for (int k = 0; k < n; ++k)
        plane.push_back(cases[k % 6]);
    auto same = [](const Spectrum& a, const Spectrum& b) {
        return a.failed == b.failed && bits(a.lambda1) == bits(b.lambda1)
               && bits(a.lambda2) == bits(b.lambda2);
    };
    for (int iterations : {0, 1000}) {
        std::vector<Spectrum> all(n), each(n);
        for (const Weights& w : cases) {
            LyapunovSpectrumMany(w, iterations, 50, xs.data(), ys.data(), n, all.data());
            for (int k = 0; k < n; ++k)
                EXPECT_TRUE(same(all[k], LyapunovSpectrum(w, iterations, 50, xs[k], ys[k]))) << k;
        }
        LyapunovSpectrumManyEach(plane.data(), iterations, 50, xs.data(), ys.data(), n, each.data());
        for (int k = 0; k < n; ++k)
            EXPECT_TRUE(same(each[k], LyapunovSpectrum(plane[k], iterations, 50, xs[k], ys[k])))
                << "plane " << k;
    }
}

void expectSame(const LongOrbit& got, const LongOrbit& want, int k)
{
    EXPECT_EQ(got.failed, want.failed) << k;
    EXPECT_EQ(got.cls, want.cls) << k;
    EXPECT_EQ(bits(got.x), bits(want.x)) << k;
    EXPECT_EQ(bits(got.y), bits(want.y)) << k;
}

TEST(LongPeriod, CapSixteenIsTheClassifierAndTheBatchIsThePlainLoop)
{
    const Weights cases[] = {kDefaults,          kChaotic,         kCycle29, kThreeCycle,
                             {0, -30, 30, 0, 0.5, 0}, {700, 0, 0, 0, 0, 0}};
    std::vector<double> xs, ys; // a 20 x 20 raster of the state plane, and two odd points
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 20; ++j)
            xs.push_back(2.0 * i / 19 - 1), ys.push_back(2.0 * j / 19 - 1);
    xs.insert(xs.end(), {-0.0, 1e308});
    ys.insert(ys.end(), {0.0, 0.0});
    const int n = static_cast<int>(xs.size());
    for (const Weights& w : cases) {
        for (int iterations : {0, 1, 100, 1000}) {
            for (int p : {16, 64, 1000}) {
                std::vector<LongOrbit> got(n);
                ClassifyLongMany(w, iterations, 8, p, xs.data(), ys.data(), n, got.data());
                for (int k = 0; k < n; ++k) {
                    const LongOrbit want = ClassifyLong(w, iterations, 8, p, xs[k], ys[k]);
                    expectSame(got[k], want, k);
                    if (p == 16) {
                        const Orbit o = Classify(w, iterations, 8, xs[k], ys[k], false);
                        ASSERT_EQ(want.failed, o.failed);
                        if (!o.failed)
                            expectSame(want, {static_cast<uint16_t>(o.cls), false, o.x, o.y}, k);
                    }
                }
            }
        }
    }
}

TEST(LongPeriod, FindsACycleBeyondSixteen)
{
    const std::vector<double> xs = {0.3, -0.5, 0.7}, ys = {0.1, 0.1, 0.1};
    const std::vector<Weights> ws(3, kCycle29);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ClassifyLong(kCycle29, 1000, 8, 16, xs[k], ys[k]).cls, 0);
        EXPECT_EQ(ClassifyLong(kCycle29, 1000, 8, 64, xs[k], ys[k]).cls, 29);
    }
    std::vector<LongOrbit> got(3);
    ClassifyLongManyEach(ws.data(), 1000, 8, 64, xs.data(), ys.data(), 3, got.data());
    for (const LongOrbit& o : got)
        EXPECT_EQ(o.cls, 29);
    // The orbit repeats exactly from step 4125 on: found in the transient
    // (5000) or in the recording (3500 + 1000), the cycle's confirmation is
    // copied instead of stepped, with the same result.
    for (auto [iterations, p] : {std::pair{5000, 64}, {3500, 1000}}) {
        ClassifyLongMany(kCycle29, iterations, 8, p, xs.data(), ys.data(), 3, got.data());
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(got[k].cls, 29);
            expectSame(got[k], ClassifyLong(kCycle29, iterations, 8, p, xs[k], ys[k]), k);
        }
    }
}

TEST(LongPeriod, ChaosCarriesNoPeriodAndCyclesKeepTheirs)
{
    // The bias plane of the chaotic module, b1 -0.5..2 by b2 1..3, from
    // (0.1, 0.2): chaotic orbits come back near an earlier point by chance,
    // which one return does not make a cycle.
    const int n = 60;
    std::vector<Weights> plane;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            Weights w = kChaotic;
            w[4] = -0.5 + 2.5 * (i + 0.5) / n;
            w[5] = 1.0 + 2.0 * (j + 0.5) / n;
            plane.push_back(w);
        }
    }
    const int m = n * n;
    const std::vector<double> xs(m, 0.1), ys(m, 0.2);
    std::vector<Exponent> lambda(m);
    std::vector<LongOrbit> longPeriod(m);
    std::vector<Orbit> window(m);
    LyapunovManyEach(plane.data(), 1000, 1000, xs.data(), ys.data(), m, lambda.data());
    ClassifyLongManyEach(plane.data(), 1000, 8, 4096, xs.data(), ys.data(), m, longPeriod.data());
    ClassifyManyEach(plane.data(), 1000, 8, xs.data(), ys.data(), m, false, window.data());
    int chaotic = 0, chaoticWithPeriod = 0, cycles = 0;
    for (int k = 0; k < m; ++k) {
        ASSERT_FALSE(lambda[k].failed || longPeriod[k].failed || window[k].failed);
        const int p = longPeriod[k].cls, q = window[k].cls;
        if (lambda[k].lambda > 0.05) {
            ++chaotic;
            chaoticWithPeriod += p > 0;
        } else if (lambda[k].lambda < -0.01 && q > 0) {
            ++cycles;
            EXPECT_TRUE(p > 0 && (p % q == 0 || q % p == 0)) << "dot " << k << ": " << q << " " << p;
        }
    }
    EXPECT_GT(chaotic, m / 5);
    EXPECT_GT(cycles, m / 5);
    EXPECT_LE(chaoticWithPeriod, chaotic * 0.005) << chaotic << " chaotic dots";
}

TEST(Scales, ExponentAndPeriodColours)
{
    using model::Rgb;
    const model::Color white = Rgb(255, 255, 255);
    const model::Color blue = model::LyapunovColor(-1, -1, 0.5);
    const model::Color red = model::LyapunovColor(0.5, -1, 0.5);
    EXPECT_EQ(model::LyapunovColor(0, -1, 0.5), white);
    EXPECT_EQ(model::LyapunovColor(-INFINITY, -1, 0.5), blue); // clamped
    EXPECT_EQ(model::LyapunovColor(7, -1, 0.5), red);
    EXPECT_EQ(model::LyapunovColor(NAN, -1, 0.5), 0);
    EXPECT_TRUE(model::BlueOf(blue) > model::RedOf(blue) && model::RedOf(red) > model::BlueOf(red));
    // Halfway to a limit is halfway to its colour; a limit on the wrong side
    // of 0 or limits the wrong way round still give the sign's hue.
    EXPECT_EQ(model::GreenOf(model::LyapunovColor(-0.5, -1, 0.5)),
              (255 + model::GreenOf(blue) + 1) / 2);
    EXPECT_EQ(model::LyapunovColor(0.25, 0.25, 0.5), model::LyapunovColor(0.25, -1, 0.5));
    EXPECT_EQ(model::LyapunovColor(3, 2, -2), red);

    const model::State none;
    for (int p = 0; p <= 16; ++p)
        EXPECT_EQ(model::LongPeriodColor(p), model::PeriodColor(none, static_cast<int16_t>(p)));
    EXPECT_NE(model::LongPeriodColor(29), model::LongPeriodColor(30));
    EXPECT_NE(model::LongPeriodColor(17), 0);
    EXPECT_EQ(model::LongPeriodColor(4097), 0);
}

} // namespace
