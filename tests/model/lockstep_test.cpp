// The lockstep classifier with the repeat shortcut against the plain one.
#include "model/network.h"
#include "model/transfer_lanes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

using model::Weights;
using model::kernel::Orbit;

namespace {

struct Case {
    const char* name;
    Weights w;
    std::vector<int> iterations;
};

// Exact: the class, the colour, the failure and the bits of the final point.
void expectSame(const Orbit& got, const Orbit& want, const char* what, int k)
{
    EXPECT_EQ(got.failed, want.failed) << what << " orbit " << k;
    EXPECT_EQ(got.cls, want.cls) << what << " orbit " << k;
    EXPECT_EQ(got.fpColor, want.fpColor) << what << " orbit " << k;
    EXPECT_EQ(std::bit_cast<uint64_t>(got.x), std::bit_cast<uint64_t>(want.x)) << what << k;
    EXPECT_EQ(std::bit_cast<uint64_t>(got.y), std::bit_cast<uint64_t>(want.y)) << what << k;
}

class Lockstep : public ::testing::Test {
protected:
    void TearDown() override
    {
        model::kernel::SetRepeatShortcut(true);
        model::kernel::UseStepLanesClone(0);
    }
};

TEST_F(Lockstep, EveryVectorBuildWithAndWithoutTheShortcutGivesThePlainResults)
{
    const Case cases[] = {
        {"defaults", {0.4, 1.9, -2.7, -4.311, -0.9, 1.8}, {1, 2, 17, 1000}},
        {"chaotic", {4.0, 5.5, -7.7, 4.6, -2.1, 1.3}, {3, 1000}},
        {"slowly converging", {1, 0, 0, 1, 0, 0}, {5, 1000}},
        {"saturated corners", {0, -30, 30, 0, 0.5, 0}, {1, 2, 3, 1000}},
        {"exact 3-cycle", {-5, 6, -6, -5, 0, 0}, {1, 4, 100, 1001, 32767}},
        {"overflowing", {700, 0, 0, 0, 0, 0}, {1, 1000}},
        {"all zero", {0, 0, 0, 0, 0, 0}, {1, 1000}},
    };
    std::vector<double> xs, ys;
    for (int i = 0; i < 11; ++i) {
        for (int j = 0; j < 11; ++j) {
            xs.push_back(-1.2 + 0.24 * i);
            ys.push_back(-1.2 + 0.24 * j);
        }
    }
    xs.insert(xs.end(), {0.0, -0.0, 1e308, 0.25});
    ys.insert(ys.end(), {-0.0, 0.0, 0.0, 1e-300});
    const int n = static_cast<int>(xs.size());

    for (const Case& c : cases) {
        for (int iterations : c.iterations) {
            for (bool fp : {false, true}) {
                std::vector<Orbit> want(n);
                for (int k = 0; k < n; ++k)
                    want[k] = model::kernel::Classify(c.w, iterations, 8, xs[k], ys[k], fp);
                // Each shape of the vector step this processor runs.
                for (int clone = 1; clone <= model::kernel::StepShapeCount(); ++clone) {
                    if (!model::kernel::UseStepLanesClone(clone))
                        continue;
                    for (bool shortcut : {false, true}) {
                        model::kernel::SetRepeatShortcut(shortcut);
                        std::vector<Orbit> got(n);
                        // All at once, then in pieces of 5 that leave lanes idle.
                        model::kernel::ClassifyMany(c.w, iterations, 8, xs.data(), ys.data(), n,
                                                    fp, got.data());
                        for (int k = 0; k < n; ++k)
                            expectSame(got[k], want[k], c.name, k);
                        for (int b = 0; b < n; b += 5) {
                            const int m = std::min(5, n - b);
                            model::kernel::ClassifyMany(c.w, iterations, 8, &xs[b], &ys[b], m,
                                                        fp, &got[b]);
                        }
                        for (int k = 0; k < n; ++k)
                            expectSame(got[k], want[k], c.name, k);
                    }
                }
            }
        }
    }
}

TEST_F(Lockstep, EveryShapeGivesThePlainBitsOverAWholeBasinPicture)
{
    // The default network over a 100 x 100 raster of the state plane (the
    // basin picture at dot size 8), each shape against one orbit at a time.
    const Weights w = {0.4, 1.9, -2.7, -4.311, -0.9, 1.8};
    std::vector<double> xs, ys;
    for (int i = 0; i < 100; ++i) {
        for (int j = 0; j < 100; ++j) {
            xs.push_back(-1.2 + 0.024 * i + 0.012);
            ys.push_back(-1.2 + 0.024 * j + 0.012);
        }
    }
    const int n = static_cast<int>(xs.size());
    std::vector<Orbit> want(n);
    for (int k = 0; k < n; ++k)
        want[k] = model::kernel::Classify(w, 1000, 8, xs[k], ys[k], true);
    int shapesRun = 0;
    for (int shape = 1; shape <= model::kernel::StepShapeCount(); ++shape) {
        if (!model::kernel::UseStepLanesClone(shape))
            continue;
        ++shapesRun;
        std::vector<Orbit> got(n);
        model::kernel::ClassifyMany(w, 1000, 8, xs.data(), ys.data(), n, true, got.data());
        int differing = 0;
        for (int k = 0; k < n; ++k)
            differing += !(got[k] == want[k]);
        EXPECT_EQ(differing, 0) << model::kernel::StepShapeName(shape);
    }
    EXPECT_GE(shapesRun, 1); // the plain SSE2 shape runs everywhere
}

TEST_F(Lockstep, TheShapeChosenPerProcessorUsesOnlyItsInstructions)
{
    // Every processor gets a shape of the instructions it has; processors
    // other than Intel's with AVX-512 keep the shapes they ran before (AMD
    // with AVX-512: two registers of 8).
    using model::kernel::Processor;
    struct Row {
        Processor p;
        const char* want; // the shape, or "AVX-512" for any AVX-512 shape
    };
    const Row rows[] = {
        {{Processor::Other, 6, 15, false, false, false}, "SSE2, 8 registers of 2"},
        {{Processor::Amd, 23, 1, true, false, false}, "AVX2, 4 registers of 4"},
        {{Processor::Intel, 6, 60, true, false, false}, "AVX2, 4 registers of 4"},
        {{Processor::Amd, 25, 17, true, true, true}, "AVX-512, 2 registers of 8"},
        {{Processor::Other, 6, 0, true, true, true}, "AVX-512, 2 registers of 8"},
        {{Processor::Intel, 6, 87, true, true, false}, "AVX-512, 2 registers of 8"},
        {{Processor::Intel, 6, 143, true, true, true}, "AVX-512"},
    };
    for (const Row& r : rows) {
        const char* why = nullptr;
        const int shape = model::kernel::ChooseStepShape(r.p, &why);
        ASSERT_GE(shape, 1);
        ASSERT_LE(shape, model::kernel::StepShapeCount());
        EXPECT_NE(why, nullptr);
        const std::string name = model::kernel::StepShapeName(shape);
        if (std::string(r.want) == "AVX-512")
            EXPECT_EQ(name.rfind("AVX-512", 0), 0u) << name;
        else
            EXPECT_EQ(name, r.want);
    }
    // The choice for this processor is one it runs.
    EXPECT_TRUE(model::kernel::UseStepLanesClone(
        model::kernel::ChooseStepShape(model::kernel::ThisProcessor(), nullptr)));
}

TEST_F(Lockstep, ACutTransientEndsInThePhaseOfTheFullOne)
{
    // On an exact 3-cycle the shortcut skips most of a 32767-step transient;
    // the final point must still be the one of phase (iterations + 16) mod 3.
    const Weights w = {-5, 6, -6, -5, 0, 0};
    for (int iterations : {32765, 32766, 32767}) {
        const Orbit plain = model::kernel::Classify(w, iterations, 8, 0.3, 0.1, false);
        Orbit fast;
        const double x = 0.3, y = 0.1;
        model::kernel::SetRepeatShortcut(true);
        model::kernel::ClassifyMany(w, iterations, 8, &x, &y, 1, false, &fast);
        EXPECT_EQ(fast.cls, 3);
        expectSame(fast, plain, "3-cycle phase", iterations);
    }
}

TEST(ProcessorSignature, FamilyAndModelTakeTheExtendedFieldsWhereTheyApply)
{
    struct Row {
        unsigned eax;
        int family, model;
    };
    const Row rows[] = {
        {0x000806F8, 6, 0x8F},  // extended model for family 6
        {0x00050657, 6, 0x55},
        {0x00A10F11, 25, 0x11}, // extended family and model for base family 15
        {0x00000F41, 15, 0x04}, // base family 15 without an extended family
        {0x00000533, 5, 0x03},  // older families ignore the extended model
        {0x00010533, 5, 0x03},
    };
    for (const Row& r : rows) {
        int family = -1, model = -1;
        model::kernel::DecodeSignature(r.eax, family, model);
        EXPECT_EQ(family, r.family) << std::hex << r.eax;
        EXPECT_EQ(model, r.model) << std::hex << r.eax;
    }
}

TEST_F(Lockstep, PerOrbitWeightsGiveThePlainResults)
{
    // The parameter-plane shape: one start point, the weights change per dot.
    std::vector<Weights> ws;
    for (int k = 0; k < 37; ++k)
        ws.push_back({0.4, 1.9, -2.7, -4.311, -1.0 + k * 0.055, 1.0 - k * 0.05});
    ws.push_back({0, 700, 0, 0, 0, 0}); // fails
    ws.push_back({0, 0, 0, 0, 0, 0});
    const int n = static_cast<int>(ws.size());
    const std::vector<double> xs(n, 1.0), ys(n, 1.0);
    // Orbits of very different lengths (repeats found early or never), so
    // that lanes fall idle in any order and the last round narrows, in every
    // shape.
    for (int shape = 1; shape <= model::kernel::StepShapeCount(); ++shape) {
        if (!model::kernel::UseStepLanesClone(shape))
            continue;
        for (bool shortcut : {false, true}) {
            model::kernel::SetRepeatShortcut(shortcut);
            std::vector<Orbit> got(n);
            model::kernel::ClassifyManyEach(ws.data(), 1000, 8, xs.data(), ys.data(), n, true,
                                            got.data());
            for (int k = 0; k < n; ++k)
                expectSame(got[k], model::kernel::Classify(ws[k], 1000, 8, 1.0, 1.0, true),
                           model::kernel::StepShapeName(shape), k);
            EXPECT_TRUE(got[n - 2].failed);
        }
    }
}

} // namespace
