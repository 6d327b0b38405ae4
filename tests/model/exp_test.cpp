#include "model/cycles.h"
#include "model/exp.h"
#include "model/fixed_point_lanes.h"
#include "model/network.h"
#include "model/transfer_lanes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

// Error of model::Exp(a) in units of the last place of the result, against
// the extended-precision exponential.
double ulpError(double a)
{
    const double m = model::Exp(a);
    const long double truth = std::exp(static_cast<long double>(a));
    double ulp = std::nextafter(m, std::numeric_limits<double>::infinity()) - m;
    if (m < DBL_MIN)
        ulp = std::numeric_limits<double>::denorm_min();
    return static_cast<double>(std::fabs(static_cast<long double>(m) - truth) / ulp);
}

TEST(Exp, WithinOneUlpOverTheWholeRange)
{
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> wide(-745.0, 709.78), unit(-1.0, 1.0);
    double worst = 0;
    for (int i = 0; i < 200000; ++i) {
        worst = std::max(worst, ulpError(wide(gen)));
        worst = std::max(worst, ulpError(unit(gen)));
        worst = std::max(worst, ulpError(unit(gen) * 1e-9));
    }
    EXPECT_LT(worst, 1.0);
}

TEST(Exp, OverflowUnderflowAndSpecialValues)
{
    EXPECT_EQ(model::Exp(0.0), 1.0);
    EXPECT_EQ(model::Exp(-0.0), 1.0);
    EXPECT_EQ(model::Exp(1e-300), 1.0);
    EXPECT_EQ(model::Exp(709.782712893384), 1.7976931348622732e308); // largest finite
    EXPECT_EQ(model::Exp(709.7827128933841), std::numeric_limits<double>::infinity());
    EXPECT_EQ(model::Exp(1e308), std::numeric_limits<double>::infinity());
    EXPECT_EQ(model::Exp(std::numeric_limits<double>::infinity()),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(model::Exp(-745.13), std::numeric_limits<double>::denorm_min()); // subnormal
    EXPECT_EQ(model::Exp(-745.1332191019412), 0.0);
    EXPECT_EQ(model::Exp(-1e308), 0.0);
    EXPECT_EQ(model::Exp(-std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_TRUE(std::isnan(model::Exp(std::nan(""))));
    EXPECT_EQ(model::Exp(std::log(2.0) * 10), 1024.0);
}

TEST(TransferLanes, SameBitsAndFailuresAsOneAtATime)
{
    std::mt19937_64 gen(11);
    std::uniform_real_distribution<double> sums(-30.0, 30.0), huge(-800.0, 800.0);
    const double specials[] = {0.0, -0.0, 1e-17, -2e-17, 18.7, -18.7, 354.89, 354.9, -400.0,
                               1e308, -1e308, std::numeric_limits<double>::infinity(),
                               std::nan(""), 5e-324, -355.0, 0.5};
    for (int round = 0; round < 2000; ++round) {
        double s[model::kernel::kTransferLanes], t[model::kernel::kTransferLanes],
            bad[model::kernel::kTransferLanes];
        for (int i = 0; i < model::kernel::kTransferLanes; ++i)
            s[i] = round < 1 ? specials[i] : (i % 3 == 0 ? huge(gen) : sums(gen));
        model::kernel::TransferLanes(s, t, bad);
        for (int i = 0; i < model::kernel::kTransferLanes; ++i) {
            bool ok = true;
            const double one = model::kernel::Transfer(s[i], ok);
            EXPECT_EQ(bad[i] == 0.0, ok) << s[i];
            if (ok) { // a failed step's value is never used, whatever NaN it is
                EXPECT_EQ(std::bit_cast<uint64_t>(t[i]), std::bit_cast<uint64_t>(one)) << s[i];
            }
        }
    }
}

// The fixed points' sampled equation: a block gives the bits of one sample
// at a time (the scalar path brackets and polishes what the block sampled)
// and each sample's signs in its bit, in every variant the processor runs;
// its tanh stays within a few units of 1e-16 of the library's, its slope
// within a few ulps of 1 - tanh^2 where that does not cancel.
TEST(SampleLanes, SameBitsAsOneAtATimeAndAccurateTanh)
{
    std::mt19937_64 gen(5);
    std::uniform_real_distribution<double> ps(-12.0, 12.0), weights(-6.0, 6.0);
    const double specials[] = {0.0, -0.0, 1e-300, -1e-17, 18.4, -18.4, 19.1, 400.0,
                               -400.0, 1e3, 0.5, -0.5, 2.0, -3.0, 1e-8, 7.25};
    for (int round = 0; round < 500; ++round) {
        // Round 0 without biases: g is exactly 0 at p = 0 and -0.
        const model::analysis::Elimination w(weights(gen), round % 7 == 0 ? 1e-9 : weights(gen),
                                             weights(gen), weights(gen),
                                             round == 0 ? 0.0 : weights(gen),
                                             round == 0 ? 0.0 : weights(gen));
        double p[model::analysis::kSampleLanes], g[model::analysis::kSampleLanes],
            slope[model::analysis::kSampleLanes], curve[model::analysis::kSampleLanes];
        for (int i = 0; i < model::analysis::kSampleLanes; ++i)
            p[i] = round < 1 ? specials[i] : ps(gen);
        model::analysis::SampleSigns signs;
        model::analysis::SampleLanes(w, p, g, slope, curve, signs);
        if (round == 0) {
            EXPECT_EQ(signs.gZero & 3u, 3u);
        }
        // Every variant the processor runs gives the same samples and signs.
        using model::analysis::LaneIsa;
        for (LaneIsa isa : {LaneIsa::Avx512, LaneIsa::Avx2, LaneIsa::Baseline}) {
            double g2[model::analysis::kSampleLanes], slope2[model::analysis::kSampleLanes],
                curve2[model::analysis::kSampleLanes];
            model::analysis::SampleSigns signs2;
            if (!model::analysis::SampleLanesWith(isa, w, p, g2, slope2, curve2, signs2))
                continue;
            const auto same = [](const double* u, const double* v) {
                return std::memcmp(u, v, sizeof(double) * model::analysis::kSampleLanes) == 0;
            };
            EXPECT_TRUE(same(g, g2) && same(slope, slope2) && same(curve, curve2)) << static_cast<int>(isa);
            EXPECT_TRUE(signs2.gNeg == signs.gNeg && signs2.gPos == signs.gPos
                        && signs2.gZero == signs.gZero && signs2.slopeNeg == signs.slopeNeg
                        && signs2.slopePos == signs.slopePos && signs2.curveNeg == signs.curveNeg
                        && signs2.curvePos == signs.curvePos)
                << static_cast<int>(isa);
        }
        double phi[model::analysis::kSampleLanes];
        model::analysis::PhiLanes(w.a, w.e, p, phi);
        for (int i = 0; i < model::analysis::kSampleLanes; ++i) {
            EXPECT_EQ(std::bit_cast<uint64_t>(phi[i]),
                      std::bit_cast<uint64_t>(model::analysis::PhiOf(w.a, w.e, p[i])))
                << p[i];
            double g1, s1, c1;
            model::analysis::SampleOf(w, p[i], g1, s1, c1);
            EXPECT_EQ(std::bit_cast<uint64_t>(g[i]), std::bit_cast<uint64_t>(g1)) << p[i];
            EXPECT_EQ(std::bit_cast<uint64_t>(slope[i]), std::bit_cast<uint64_t>(s1)) << p[i];
            EXPECT_EQ(std::bit_cast<uint64_t>(curve[i]), std::bit_cast<uint64_t>(c1)) << p[i];
            const auto bit = [i](unsigned bits) { return (bits >> i & 1) != 0; };
            EXPECT_EQ(bit(signs.gNeg), g1 < 0) << p[i];
            EXPECT_EQ(bit(signs.gPos), g1 > 0) << p[i];
            EXPECT_EQ(bit(signs.gZero), g1 == 0) << p[i];
            EXPECT_EQ(bit(signs.slopeNeg), s1 < 0) << p[i];
            EXPECT_EQ(bit(signs.slopePos), s1 > 0) << p[i];
            EXPECT_EQ(bit(signs.curveNeg), c1 < 0) << p[i];
            EXPECT_EQ(bit(signs.curvePos), c1 > 0) << p[i];
            double t, dt;
            model::analysis::TanhAndSlopeOf(p[i], t, dt);
            EXPECT_NEAR(t, std::tanh(p[i]), 4e-16) << p[i];
            const long double e = std::exp(-2 * std::fabs(static_cast<long double>(p[i])));
            const long double truth = 4 * e / ((1 + e) * (1 + e));
            if (std::fabs(p[i]) < 350) {
                EXPECT_LE(std::fabs(dt - truth), 8 * DBL_EPSILON * truth) << p[i];
            }
        }
    }
}

// The cycles' step: e^a - 1 within a unit in the last place relative to
// itself, however small, and tanh with its slope from it, the same bits in a
// block of lanes as one at a time, relative to the true values too.
TEST(TanhWithSlopeLanes, RelativeAccuracyAndTheBitsOfOneAtATime)
{
    std::mt19937_64 gen(13);
    std::uniform_real_distribution<double> decades(-320.0, 2.0), sums(-25.0, 25.0);
    double worst = 0;
    for (int i = 0; i < 300000; ++i) {
        const double a = -std::pow(10.0, decades(gen));
        double u, m;
        model::ExpAndExpM1OfNonPositive(a, u, m);
        const long double truth = std::expm1(static_cast<long double>(a));
        const double t = static_cast<double>(truth);
        const double ulp = std::nextafter(std::fabs(t), 2.0) - std::fabs(t);
        worst = std::max(worst, static_cast<double>(std::fabs(m - truth) / ulp));
    }
    EXPECT_LT(worst, 1.0);
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double a, u, m;
    } ends[] = {{0.0, 1.0, 0.0}, {-1e-300, 1.0, -1e-300}, {-40.0, std::exp(-40.0), -1.0},
                {-708.0, std::exp(-708.0), -1.0}, {-708.5, 0.0, -1.0}, {-inf, 0.0, -1.0}};
    for (const auto& e : ends) {
        double u, m;
        model::ExpAndExpM1OfNonPositive(e.a, u, m);
        EXPECT_NEAR(u, e.u, 2e-16 * e.u) << e.a;
        EXPECT_EQ(m, e.m) << e.a;
    }
    double u, m;
    model::ExpAndExpM1OfNonPositive(std::nan(""), u, m);
    EXPECT_TRUE(std::isnan(u) && std::isnan(m));

    const double specials[] = {0.0, -0.0, 1e-300, -1e-17, 0.1732867951399863, 18.4, -18.4,
                               19.1, 400.0, -400.0, 1e308, -std::numeric_limits<double>::infinity(),
                               std::nan(""), 1e-8, -0.5, 7.25};
    constexpr int n = model::analysis::kSampleLanes;
    for (int round = 0; round < 2000; ++round) {
        double s[n], t[n], slope[n];
        for (int i = 0; i < n; ++i)
            s[i] = round < 1 ? specials[i] : sums(gen) * (i % 4 == 0 ? 1e-6 : 1);
        model::analysis::TanhWithSlopeLanes(s, t, slope, round % 2 ? n : 1 + round % n);
        for (int i = 0; i < (round % 2 ? n : 1 + round % n); ++i) {
            double t1, slope1;
            model::analysis::TanhWithSlope(s[i], t1, slope1);
            EXPECT_EQ(std::bit_cast<uint64_t>(t[i]), std::bit_cast<uint64_t>(t1)) << s[i];
            EXPECT_EQ(std::bit_cast<uint64_t>(slope[i]), std::bit_cast<uint64_t>(slope1)) << s[i];
            if (!std::isfinite(s[i]) || std::fabs(s[i]) > 300)
                continue;
            const long double x = s[i], th = std::tanh(x), e = std::exp(-2 * std::fabs(x));
            EXPECT_LE(std::fabs(t1 - th), 4 * DBL_EPSILON * std::fabs(th)) << s[i];
            const long double truth = 4 * e / ((1 + e) * (1 + e));
            EXPECT_LE(std::fabs(slope1 - truth), 8 * DBL_EPSILON * truth) << s[i];
        }
    }
}

} // namespace
