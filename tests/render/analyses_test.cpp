// The analyses of veltrane-render against cases known on paper: the decoupled
// network's cycles and stability plane, the periods of parametric, and the
// basin statistics recomputed from the classes.
#include "model/numbers.h"
#include "plots/raster.h"
#include "render/command_line.h"

#include "tests/render/renderer_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Analyses : public RendererRun {
protected:
    // The elements of a .npy of uint8, row 0 at the top.
    std::vector<uint8_t> classes(const std::string& name)
    {
        std::ifstream in(at(name), std::ios::binary);
        const std::vector<uint8_t> b(std::istreambuf_iterator<char>(in), {});
        const size_t offset = 10 + (b[8] | b[9] << 8);
        return std::vector<uint8_t>(b.begin() + static_cast<ptrdiff_t>(offset), b.end());
    }
};

// The picture as 0xRRGGBB, row 0 at the top.
std::vector<uint32_t> pixelsOf(const std::string& name, int& width)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_file(&image, name.c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> buf(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, buf.data(), 0, nullptr));
    width = static_cast<int>(image.width);
    std::vector<uint32_t> rgb;
    for (size_t i = 0; i + 2 < buf.size(); i += 3)
        rgb.push_back(buf[i] << 16 | buf[i + 1] << 8 | buf[i + 2]);
    return rgb;
}

// The positive root of s = tanh(a s) for a > 1, by bisection.
double tanhRoot(double a)
{
    double lo = 1e-12, hi = 1;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (std::tanh(a * mid) > mid ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

// The fixed points of one neuron x' = tanh(a x): their multipliers.
std::vector<double> neuronMultipliers(double a)
{
    if (a <= 1)
        return {a};
    const double s = tanhRoot(a);
    return {a, a * (1 - s * s), a * (1 - s * s)};
}

TEST_F(Analyses, DecoupledCyclesAreTheNineFixedPointsWithTheirBasins)
{
    ASSERT_EQ(run("cycles --w 2 0 0 1.5 0 0 --seeds 8 --max-period 4 --pixels 120 -o "
                  + at("c.png")),
              0)
        << errors.str();
    const nlohmann::json r = record("c.png.json");
    ASSERT_EQ(r["cycles"].size(), 9u) << out.str();
    const double s1 = tanhRoot(2), s2 = tanhRoot(1.5);
    std::map<std::string, int> types;
    double shares = 0;
    int width = 0;
    const std::vector<uint32_t> picture = pixelsOf(at("c.png"), width);
    for (const auto& c : r["cycles"]) {
        EXPECT_EQ(c["period"], 1);
        ++types[c["type"]];
        const double x = c["points"][0][0], y = c["points"][0][1];
        // Each coordinate is 0 or +-s, its multiplier the one-dimensional one.
        const double mx = std::abs(x) < 1e-9 ? 2 : 2 * (1 - s1 * s1);
        const double my = std::abs(y) < 1e-9 ? 1.5 : 1.5 * (1 - s2 * s2);
        EXPECT_TRUE(std::abs(x) < 1e-9 || std::abs(std::abs(x) - s1) < 1e-9) << x;
        EXPECT_TRUE(std::abs(y) < 1e-9 || std::abs(std::abs(y) - s2) < 1e-9) << y;
        const double m0 = c["multipliers"][0][0], m1 = c["multipliers"][1][0];
        EXPECT_NEAR(std::max(m0, m1), std::max(mx, my), 1e-9);
        EXPECT_NEAR(std::min(m0, m1), std::min(mx, my), 1e-9);
        // Attracting points are filled discs, repelling ones crosses;
        // saddles are hollow, their centre showing the basin picture.
        const int column = static_cast<int>(std::lround((x + 1) / 2 * 119));
        const int row = 119 - static_cast<int>(std::lround((y + 1) / 2 * 119));
        const uint32_t centre = picture[static_cast<size_t>(row) * width + column];
        if (c["type"] == "attracting") {
            shares += c["basin_share"].get<double>();
            EXPECT_EQ(centre, 0u);
        } else {
            EXPECT_TRUE(c["basin_share"].is_null());
            EXPECT_EQ(centre == 0, c["type"] == "repelling") << c["type"];
        }
    }
    EXPECT_EQ(types, (std::map<std::string, int>{{"attracting", 4}, {"saddle", 4},
                                                  {"repelling", 1}}));
    EXPECT_NEAR(shares, 1, 0.02);
    EXPECT_NE(out.str().find("9 cycles up to period 4"), std::string::npos) << out.str();

    // The record alone, without a picture.
    ASSERT_EQ(run("cycles --w 2 0 0 1.5 0 0 --seeds 4 --max-period 1 --pixels 40 --json "
                  + at("alone.json")),
              0)
        << errors.str();
    EXPECT_EQ(record("alone.json")["cycles"].size(), 9u);
    EXPECT_TRUE(record("alone.json")["picture"].is_null());

    // An orbit that overflows while the basins are classified fails the run,
    // and nothing is written.
    EXPECT_EQ(run("cycles --pixels 31 --iterations 200 --region -1 2000 -1 1 --json "
                  + at("failed.json")),
              render::kExitRunTime);
    EXPECT_NE(errors.str().find("At column"), std::string::npos) << errors.str();
    EXPECT_FALSE(fs::exists(at("failed.json")));
}

TEST_F(Analyses, DecoupledStabilityPlaneHasTheAnalyticCountsAndCurves)
{
    // The range puts w = -1 and w = 1 between dots, where the curves must be
    // located along the segment, not at a dot.
    const std::string plane = "stability --w 0 0 0 0 0 0 --idx 0 3 --pixels 100 ";
    ASSERT_EQ(run(plane + "--range -3 3 -3 3 --classes " + at("s.npy") + " -o " + at("s.png")), 0)
        << errors.str();
    const std::vector<uint8_t> counts = classes("s.npy");
    ASSERT_EQ(counts.size(), 100u * 100 * 4);
    for (int row = 0; row < 100; ++row)
        for (int column = 0; column < 100; ++column) {
            const double a = plots::MapOffset(-3, 3, column, 100);
            const double d = plots::MapOffset(-3, 3, 99 - row, 100);
            uint8_t expected[4] = {0, 0, 0, 0};
            for (double mx : neuronMultipliers(a))
                for (double my : neuronMultipliers(d)) {
                    const bool neutral = std::abs(mx) == 1 || std::abs(my) == 1;
                    const int inside = (std::abs(mx) < 1) + (std::abs(my) < 1);
                    ++expected[neutral ? 3 : inside == 2 ? 0 : inside == 1 ? 1 : 2];
                }
            const uint8_t* got = &counts[(static_cast<size_t>(row) * 100 + column) * 4];
            ASSERT_TRUE(std::equal(expected, expected + 4, got))
                << "w11 " << a << " w22 " << d << ": " << int(got[0]) << int(got[1])
                << int(got[2]) << int(got[3]);
        }

    ASSERT_EQ(run(plane + "--range -3 3.1 -3 3.1 --curves-only -o " + at("k.png")), 0);
    const nlohmann::json r = record("k.png.json");
    const auto colour = [&](const char* kind) {
        const auto& c = r["curves"][kind]["rgb"];
        return static_cast<uint32_t>(c[0].get<int>() << 16 | c[1].get<int>() << 8
                                     | c[2].get<int>());
    };
    // Period doubling where w = -1, the pitchfork (a change of count) where w = 1.
    const int pd = static_cast<int>(std::lround(2 / 6.1 * 99));
    const int sn = static_cast<int>(std::lround(4 / 6.1 * 99));
    int width = 0;
    const std::vector<uint32_t> picture = pixelsOf(at("k.png"), width);
    int marked = 0;
    for (int row = 0; row < 100; ++row)
        for (int column = 0; column < 100; ++column) {
            const uint32_t p = picture[static_cast<size_t>(row) * width + column];
            if (p == 0xFFFFFF)
                continue;
            ++marked;
            const bool onPd = column == pd || 99 - row == pd;
            const bool onSn = column == sn || 99 - row == sn;
            EXPECT_TRUE((p == colour("period-doubling") && onPd)
                        || (p == colour("saddle-node") && onSn))
                << std::hex << p << std::dec << " at " << column << ", " << row;
        }
    EXPECT_GE(marked, 4 * 95);
    EXPECT_EQ(r["curves"]["neimark-sacker"]["points"], 0);
}

TEST_F(Analyses, StabilityCurvesFromTheCountsAreTheParametricPlanesFixedPointCurves)
{
    // The stability plane seeks the fixed points' curves only beside a change
    // of its committed counts; the parametric plane solves every dot. Both
    // must find the same points: on the chaotic module's bias plane (folds
    // and flips), the self-weights (all three kinds) and the cross-weights.
    const std::string planes[] = {
        "--w 4 -4.1 2.65 -2.85 1.75 2.9 --idx 4 5 --range -0.5 2 1 3",
        "--idx 0 3 --range -3 3 -3 3",
        "--idx 1 2 --range -5 5 -5 5",
    };
    for (const std::string& plane : planes) {
        ASSERT_EQ(run("stability " + plane + " --pixels 80 -o " + at("s.png")), 0) << errors.str();
        ASSERT_EQ(run("parametric " + plane + " --curves --curves-period 1 --pixels 80 -o " + at("p.png")), 0)
            << errors.str();
        const nlohmann::json s = record("s.png.json")["curves"], p = record("p.png.json")["curves"];
        int total = 0;
        for (const char* kind : {"saddle-node", "period-doubling", "neimark-sacker"}) {
            EXPECT_EQ(s[kind]["points"], p[kind]["points"]) << plane << " " << kind;
            total += s[kind]["points"].get<int>();
        }
        EXPECT_GT(total, 50) << plane;
    }
}

TEST_F(Analyses, OneAttractingFixedPointMeansPeriodOneAndNoneMeansNoPeriodOne)
{
    // The default plane has no attracting fixed point; widened, it has some
    // in two corners.
    const std::string planes[] = {
        "--pixels 120",
        "--range -3 3 -3 3 --pixels 120",
        "--w 4 -4.1 2.65 -2.85 1.75 2.9 --idx 4 5 --range -0.5 2 1 3 --pixels 120",
    };
    const std::string starts[] = {"", "", " --x0 0.1 0.2"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(run("stability " + planes[i] + " --classes " + at("s.npy") + " -o "
                      + at("s.png")),
                  0)
            << errors.str();
        ASSERT_EQ(run("parametric " + planes[i] + starts[i] + " --classes " + at("p.npy")
                      + " -o " + at("p.png")),
                  0)
            << errors.str();
        const std::vector<uint8_t> counts = classes("s.npy"), periods = classes("p.npy");
        int one = 0, oneAtPeriodOne = 0, none = 0, noneAtPeriodOne = 0;
        for (size_t p = 0; p < periods.size(); ++p) {
            const uint8_t* c = &counts[4 * p];
            if (c[0] == 1 && c[1] + c[2] + c[3] == 0) {
                ++one;
                oneAtPeriodOne += periods[p] == 1;
            } else if (c[0] == 0) {
                ++none;
                noneAtPeriodOne += periods[p] == 1;
            }
        }
        EXPECT_GT(none, 1000) << planes[i];
        EXPECT_LE(noneAtPeriodOne, none / 100) << planes[i];
        if (i > 0) {
            EXPECT_GT(one, 500) << planes[i];
        }
        EXPECT_GE(oneAtPeriodOne, one * 95 / 100) << planes[i];
    }
}

// The statistics recomputed from the classes: shares, and the mean box
// entropy with the remainder at the right and bottom edges left out.
void expectStatistics(const nlohmann::json& stats, const std::vector<int64_t>& keys,
                      const std::map<int64_t, std::string>& names, int n, int box)
{
    std::map<int64_t, int> counts;
    for (int64_t k : keys)
        ++counts[k];
    double sum = 0;
    ASSERT_EQ(stats["fractions"].size(), counts.size());
    for (const auto& [k, c] : counts) {
        EXPECT_EQ(stats["fractions"][names.at(k)].get<double>(), c / double(keys.size()));
        sum += stats["fractions"][names.at(k)].get<double>();
    }
    EXPECT_NEAR(sum, 1, 1e-12);
    double total = 0, boundary = 0;
    int boxes = 0, boundaryBoxes = 0;
    for (int top = 0; top + box <= n; top += box)
        for (int left = 0; left + box <= n; left += box) {
            std::map<int64_t, int> in;
            for (int r = top; r < top + box; ++r)
                for (int c = left; c < left + box; ++c)
                    ++in[keys[static_cast<size_t>(r) * n + c]];
            double e = 0;
            for (const auto& [k, c] : in)
                e -= c / double(box * box) * std::log(c / double(box * box));
            total += e;
            ++boxes;
            if (in.size() > 1) {
                boundary += e;
                ++boundaryBoxes;
            }
        }
    EXPECT_NEAR(stats["basin_entropy"].get<double>(), total / boxes, 1e-12);
    EXPECT_NEAR(stats["boundary_basin_entropy"].get<double>(), boundary / boundaryBoxes, 1e-12);
    EXPECT_EQ(stats["boundary_boxes"], boundaryBoxes);
    EXPECT_GT(boundaryBoxes, 0);
}

TEST_F(Analyses, StatisticsAreTheClassesShareAndBoxEntropy)
{
    ASSERT_EQ(run("veltrane --pixels 103 --stats --stats-box 6 "
                  "--classes " + at("v.npy") + " -o " + at("v.png")),
              0)
        << errors.str();
    const std::vector<uint8_t> v = classes("v.npy");
    std::map<int64_t, std::string> names;
    for (int k = 0; k < 256; ++k)
        names[k] = std::to_string(k);
    expectStatistics(record("v.png.json")["statistics"], std::vector<int64_t>(v.begin(), v.end()),
                     names, 103, 6);
    EXPECT_NE(out.str().find("basin entropy S_b"), std::string::npos);

    // stability: the class of a dot is its four counts together.
    ASSERT_EQ(run("stability --w 0 0 0 0 0 0 --idx 0 3 --range -3 3 -3 3 --pixels 100 --stats "
                  "--stats-box 7 --classes " + at("s.npy") + " -o " + at("s.png")),
              0);
    const std::vector<uint8_t> s = classes("s.npy");
    std::vector<int64_t> keys;
    names.clear();
    for (size_t p = 0; p < s.size(); p += 4) {
        keys.push_back(int64_t{s[p]} << 24 | s[p + 1] << 16 | s[p + 2] << 8 | s[p + 3]);
        names[keys.back()] = std::to_string(s[p]) + "," + std::to_string(s[p + 1]) + ","
                             + std::to_string(s[p + 2]) + "," + std::to_string(s[p + 3]);
    }
    expectStatistics(record("s.png.json")["statistics"], keys, names, 100, 7);
}

TEST_F(Analyses, OptionsOutsideTheirModesAndRangesAreUsageErrors)
{
    const std::pair<std::string, std::string> cases[] = {
        {"veltrane --curves", "--curves applies to parametric only"},
        {"stability --curves", "--curves applies to parametric only"},
        {"parametric --curves-only", "--curves-only applies to stability only"},
        {"veltrane --seeds 8", "--seeds applies to stability and cycles only"},
        {"lyapunov --stats", "--stats applies to"},
        {"fixpt --stats", "--stats applies to"},
        {"cycles --stats", "--stats applies to"},
        {"veltrane --stats-box 3", "--stats-box: the box size applies with --stats only"},
        {"cycles --seeds 1", "--seeds"},
        {"cycles --seeds 1025", "--seeds"},
        {"cycles --max-period 65", "65 is outside 1..64 for cycles"},
        {"veltrane --max-period 8", "8 is outside 16..4096 for veltrane"},
        {"parametric --json x.json", "--json applies to cycles only"},
        {"cycles", "give -o OUT.png or --json OUT.json"},
        {"cycles --json " + at("u.png"), "the record needs a file of its own"},
    };
    for (const auto& [line, message] : cases) {
        const std::string outputs = line == "cycles" ? "" : " -o " + at("u.png");
        EXPECT_EQ(run(line + outputs), render::kExitUsage) << line;
        EXPECT_NE(errors.str().find(message), std::string::npos) << line << ": " << errors.str();
    }
    EXPECT_TRUE(fs::is_empty(dir));
}

} // namespace
