// The cycles' bifurcation curves of parametric, the curve points' data file
// and the record, against the decoupled plane of the two self-weights: its
// cycles are products of one neuron's, and every curve lies on a line
// w11 = +-1 or w22 = +-1.
#include "model/defaults.h"
#include "render/command_line.h"
#include "render/cycle_curves.h"
#include "render/job.h"
#include "render/plan.h"
#include "render/tiles.h"
#include "params/dots.h"
#include "plots/canvas.h"

#include "tests/render/renderer_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

namespace {

class Skeleton : public RendererRun {
protected:
    std::string bytes(const std::string& name)
    {
        std::ifstream in(at(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The rows of an N x 5 float64 .npy.
    std::vector<std::array<double, 5>> rows(const std::string& name)
    {
        const std::string b = bytes(name);
        EXPECT_NE(b.find("'descr': '<f8'"), std::string::npos);
        const size_t offset = 10 + (static_cast<uint8_t>(b[8]) | static_cast<uint8_t>(b[9]) << 8);
        std::vector<std::array<double, 5>> r((b.size() - offset) / 40);
        if (!r.empty())
            std::memcpy(r.data(), b.data() + offset, r.size() * 40);
        return r;
    }
};

} // namespace

TEST_F(Skeleton, DecoupledPlaneCurvesLieOnTheAnalyticLines)
{
    // w11 and w22 over -3..3.1 (the lines w = +-1 fall between dots). Every
    // curve point of period 1 or 2 lies on one of the four lines: the cycles'
    // located to 1e-9 of the segment (0.061 long), the fixed points' to the
    // 1e-7 of their own pass; flips only at -1.
    const std::string plane = "parametric --w 0 0 0 0 0 0 --idx 0 3 --range -3 3.1 -3 3.1 "
                              "--x0 0.5 0.3 --iterations 300 --pixels 100 --curves ";
    ASSERT_EQ(run(plane + "--curves-period 4 -o " + at("p.png") + " --curves-data " + at("p.npy")),
              0)
        << errors.str();
    const auto points = rows("p.npy");
    std::map<std::pair<int, int>, int> seen; // (period, type) -> points
    for (const auto& p : points) {
        const double h = p[0], v = p[1];
        const int period = static_cast<int>(p[2]), type = static_cast<int>(p[3]);
        ++seen[{period, type}];
        const double off = std::min({std::fabs(h - 1), std::fabs(h + 1), std::fabs(v - 1),
                                     std::fabs(v + 1)});
 const double located = (period == 1 ? 1e-7 : 1e-9) * 0.061;
        EXPECT_LT(off, located) << "period " << period << " type " << type << " at " << h << ", "
                             << v;
        EXPECT_TRUE(period == 1 || period == 2) << period;
        if (type == 2) {
            EXPECT_TRUE(std::fabs(h + 1) < located || std::fabs(v + 1) < located) << h << ", " << v;
            EXPECT_DOUBLE_EQ(p[4], std::acos(-1.0));
        } else {
            EXPECT_EQ(type, 1);
            EXPECT_EQ(p[4], 0);
        }
    }
    // The 2-cycles of w11 < -1 cross w22 = +-1 in the left third of the
    // picture's columns, and symmetrically: 33 points on each of four lines.
    // (Following only one end's cycle across a pitchfork missed the two
    // lines at -1: the followed branch slid onto the neighbour's.)
    EXPECT_EQ((seen[{2, 1}]), 4 * 33);
    EXPECT_GE((seen[{1, 2}]), 2 * 95);

    // The record counts what the data file holds, per kind and period.
    const nlohmann::json r = record("p.png.json");
    int64_t total = 0;
    for (const char* kind : {"saddle-node", "period-doubling", "neimark-sacker"}) {
        total += r["curves"][kind]["points"].get<int64_t>();
        for (const auto& [period, entry] : r["curves"][kind]["periods"].items())
            EXPECT_EQ(entry["points"].get<int>(),
                      (seen[{std::stoi(period), kind[0] == 's' ? 1 : kind[0] == 'p' ? 2 : 3}]))
                << kind << " " << period;
    }
    EXPECT_EQ(total, static_cast<int64_t>(points.size()));
    EXPECT_EQ(r["curves"]["cycles"]["largest_period"], 4);
    EXPECT_EQ(r["curves_data"], at("p.npy"));

    // Period 1 is the fixed points' curves alone: no cycles' entry, no
    // point of a longer period.
    ASSERT_EQ(run(plane + "--curves-period 1 -o " + at("one.png") + " --curves-data "
                  + at("one.npy")),
              0)
        << errors.str();
    EXPECT_FALSE(record("one.png.json")["curves"].contains("cycles"));
    const auto fixedOnly = rows("one.npy");
    EXPECT_EQ(fixedOnly.size(), static_cast<size_t>(seen[{1, 1}] + seen[{1, 2}]));
    for (const auto& p : fixedOnly)
        EXPECT_EQ(p[2], 1);
}

TEST_F(Skeleton, CurvesOptionsAreCheckedBeforeAnythingIsWritten)
{
    const std::string cases[][2] = {
        {"parametric --curves-period 4", "--curves-period: the period applies with --curves"},
        {"parametric --curves --curves-period 65", "--curves-period"},
        {"parametric --curves --curves-period 0", "--curves-period"},
        {"parametric --curves-data X.npy", "--curves-data: the curve points are written with"},
        {"stability --curves --curves-period 4", "applies to parametric only"},
        {"stability --cycles 65", "--cycles"},
        {"stability --cycles -1", "--cycles"},
        {"parametric --cycles 2", "--cycles"},
    };
    for (const auto& [line, said] : cases) {
        EXPECT_EQ(run(std::string(line) + " --pixels 10 -o " + at("x.png")), render::kExitUsage)
            << line;
        EXPECT_NE(errors.str().find(said), std::string::npos) << line << ": " << errors.str();
    }
    EXPECT_EQ(run("parametric --curves --pixels 10 -o " + at("x.png") + " --curves-data "
                  + at("x.png")),
              render::kExitUsage);
    EXPECT_NE(errors.str().find("another file of the run"), std::string::npos) << errors.str();
}

TEST_F(Skeleton, FlipPointsOfTheOrbitDiagramsSweep)
{
    // The lone neuron over w11 from -0.5 down to -3: its fixed point flips at
    // w11 = -1 exactly, and its 2-cycle never flips again.
    ASSERT_EQ(run("orbit --w -0.5 0 0 0 0 0 --x0 0.3 0.1 --sweep 0 -0.5 -3 --start-values 1 "
                  "--pixels 20 --flip-points -o " + at("lone.png")),
              0)
        << errors.str();
    nlohmann::json r = record("lone.png.json");
    ASSERT_EQ(r["flip_points"].size(), 1u) << r["flip_points"].dump();
    EXPECT_EQ(r["flip_points"][0]["period"], 1);
    EXPECT_NEAR(r["flip_points"][0]["value"].get<double>(), -1, 1e-12);
    EXPECT_EQ(r["options"]["flip-points"], true);

    // The chaotic module's cascade over b1 from its 4-cycle: every flip
    // doubles the period, in sweep order, and the intervals shrink by
    // Feigenbaum's delta.
    ASSERT_EQ(run("orbit --w 4 -4.1 2.65 -2.85 1.75 2.9 --x0 0.1 0.2 --sweep 4 1.29 1.345 "
                  "--start-values 1 --pixels 20 --flip-points -o " + at("chaos.png")),
              0)
        << errors.str();
    r = record("chaos.png.json");
    const auto& flips = r["flip_points"];
    ASSERT_GE(flips.size(), 6u);
    EXPECT_EQ(flips[0]["period"], 4);
    for (size_t i = 1; i < flips.size(); ++i) {
        EXPECT_EQ(flips[i]["period"].get<int>(), 2 * flips[i - 1]["period"].get<int>());
        EXPECT_GT(flips[i]["value"].get<double>(), flips[i - 1]["value"].get<double>());
    }
    EXPECT_EQ(r["flip_ratios"].size(), flips.size() - 2);
    EXPECT_NEAR(r["flip_ratios"].back().get<double>(), 4.6692, 0.02 * 4.6692);
    EXPECT_NE(out.str().find("flips of the attracting cycle of period 4"), std::string::npos);
}

TEST_F(Skeleton, BordersOfPeriodRegionsLieOnCurves)
{
    // Every border dot of a region of period k (a 4-neighbour has another
    // period in 1..16) lies within 1.5 dots of a curve point of period k, or
    // of a divisor or multiple of k, for at least 95% of them. Switches of
    // basin are not left out here: the check holds with them.
    struct Plane {
        const char* options;
        double left, right, bottom, top;
    };
    const Plane planes[] = {
        {"--w 4 -4.1 2.65 -2.85 1.75 2.9 --range -0.5 2 1 3 --x0 0.1 0.2", -0.5, 2, 1, 3},
        {"--range -3 3 -3 3", -3, 3, -3, 3},
    };
    constexpr int n = 80;
    for (const Plane& p : planes) {
        ASSERT_EQ(run(std::string("parametric --curves --idx 4 5 --pixels 80 ") + p.options
                      + " -o " + at("b.png") + " --classes " + at("b.npy") + " --curves-data "
                      + at("bd.npy")),
                  0)
            << errors.str();
        const std::string c = bytes("b.npy");
        const size_t offset = 10 + (static_cast<uint8_t>(c[8]) | static_cast<uint8_t>(c[9]) << 8);
        auto period = [&](int column, int row) {
            return static_cast<int>(static_cast<uint8_t>(c[offset + row * n + column]));
        };
        std::vector<std::array<double, 3>> curve; // column, row, period
        for (const auto& q : rows("bd.npy"))
            curve.push_back({(q[0] - p.left) / (p.right - p.left) * (n - 1),
                             (n - 1) - (q[1] - p.bottom) / (p.top - p.bottom) * (n - 1), q[2]});
        int borders = 0, covered = 0;
        for (int row = 0; row < n; ++row)
            for (int column = 0; column < n; ++column) {
                const int k = period(column, row);
                if (k < 1 || k > 16)
                    continue;
                bool border = false;
                for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                    const int x = column + dx, y = row + dy;
                    if (x >= 0 && y >= 0 && x < n && y < n) {
                        const int other = period(x, y);
                        border = border || (other >= 1 && other <= 16 && other != k);
                    }
                }
                if (!border)
                    continue;
                ++borders;
                covered += std::any_of(curve.begin(), curve.end(), [&](const auto& q) {
                    const int m = static_cast<int>(q[2]);
                    return (m % k == 0 || k % m == 0)
                           && std::hypot(q[0] - column, q[1] - row) <= 1.5;
                });
            }
        EXPECT_GT(borders, 300) << p.options;
        EXPECT_GE(covered, 0.95 * borders) << p.options << ": " << covered << " of " << borders;
    }
}

TEST_F(Skeleton, StabilityCyclesCountsByPeriodOnTheDecoupledPlane)
{
    // w11 = a over -3..3.1 and w22 = b over -0.8..0.8, nothing else: the
    // origin attracts for |a| < 1 and is a saddle beyond; a > 1 adds the two
    // attracting fixed points (+-q, 0), a < -1 the attracting 2-cycle
    // (s, 0), (-s, 0); no cycle of period 3. The classes hold, per pixel,
    // type by period.
    const int n = 24, k = 3;
    const std::string plane = "stability --w 0 0 0 0 0 0 --idx 0 3 --range -3 3.1 -0.8 0.8 "
                              "--pixels " + std::to_string(n) + " ";
    const std::string counted = plane + "--cycles 3 --seeds 4 ";
    ASSERT_EQ(run(counted + "--threads 1 -o " + at("one.png") + " --classes " + at("one.npy")), 0)
        << errors.str();
    const std::string b = bytes("one.npy");
    EXPECT_NE(b.find("'descr': '|u1'"), std::string::npos);
    EXPECT_NE(b.find("'shape': (24, 24, 4, 3)"), std::string::npos) << b.substr(0, 128);
    const size_t offset = 10 + (static_cast<uint8_t>(b[8]) | static_cast<uint8_t>(b[9]) << 8);
    ASSERT_EQ(b.size(), offset + static_cast<size_t>(n) * n * 4 * k);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double a = (6.1 * x) / (n - 1) - 3; // row 0 is the top
            auto count = [&](int type, int period) {
                return static_cast<int>(static_cast<uint8_t>(
                    b[offset + ((static_cast<size_t>(y) * n + x) * 4 + type) * k + period - 1]));
            };
            const int attracting1 = std::fabs(a) < 1 ? 1 : a > 1 ? 2 : 0;
            EXPECT_EQ(count(0, 1), attracting1) << "a " << a;
            EXPECT_EQ(count(1, 1), std::fabs(a) > 1 ? 1 : 0) << "a " << a;
            EXPECT_EQ(count(0, 2), a < -1 ? 1 : 0) << "a " << a;
            for (int type = 0; type < 4; ++type) {
                EXPECT_EQ(count(type, 3), 0) << "a " << a;
                if (type >= 2) {
                    EXPECT_EQ(count(type, 1) + count(type, 2), 0) << "a " << a;
                }
            }
            EXPECT_EQ(count(1, 2), 0) << "a " << a;
        }
    // At sampled pixels, every cycle that `cycles` lists with the same search
    // at the pixel's parameters is counted, the attracting ones exactly (it
    // starts from its basin picture's attractors too). The counts may hold
    // more: the saddle origin of |a| > 1 is beyond the reach of four seeds
    // per axis, and is counted as continued from the dots of |a| < 1.
    for (const auto& [x, y] : {std::pair{2, 3}, {11, 20}, {21, 7}, {6, 12}}) {
        char w[128];
        std::snprintf(w, sizeof w, "--w %.17g 0 0 %.17g 0 0 ", (6.1 * x) / (n - 1) - 3,
                      (1.6 * (n - 1 - y)) / (n - 1) - 0.8);
        ASSERT_EQ(run(std::string("cycles ") + w + "--seeds 4 --max-period 3 --pixels 20 "
                      "--iterations 300 --json " + at("c.json")),
                  0)
            << errors.str();
        int listed[4][3] = {};
        const nlohmann::json found = record("c.json");
        for (const auto& c : found["cycles"]) {
            const std::string type = c["type"];
            const int t = type == "attracting" ? 0 : type == "saddle" ? 1
                          : type == "repelling" ? 2 : 3;
            ++listed[t][c["period"].get<int>() - 1];
        }
        for (int t = 0; t < 4; ++t)
            for (int p = 0; p < k; ++p) {
                const int counted = static_cast<uint8_t>(
                    b[offset + ((static_cast<size_t>(y) * n + x) * 4 + t) * k + p]);
                if (t == 0)
                    EXPECT_EQ(counted, listed[t][p]) << w << " period " << p + 1;
                else
                    EXPECT_GE(counted, listed[t][p]) << w << " type " << t << " period " << p + 1;
            }
        EXPECT_GT(found["cycles"].size(), 0u) << w;
    }

    EXPECT_GT(record("one.png.json")["cycle_search"]["newton_runs"].get<int64_t>(), 0);

    // Two threads: the same bytes.
    ASSERT_EQ(run(counted + "--threads 2 -o " + at("two.png") + " --classes " + at("two.npy")), 0)
        << errors.str();
    EXPECT_EQ(bytes("two.npy"), b);
    EXPECT_EQ(bytes("two.png"), bytes("one.png"));

    // The period-1 counts are the fixed points' here, so the picture is the
    // plain stability plane's; the plain record names neither new option.
    ASSERT_EQ(run(plane + "-o " + at("plain.png")), 0) << errors.str();
    EXPECT_EQ(bytes("plain.png"), bytes("one.png"));
    const nlohmann::json plain = record("plain.png.json");
    EXPECT_FALSE(plain["options"].contains("cycles"));
    EXPECT_FALSE(plain["options"].contains("seeds"));
    EXPECT_FALSE(plain.contains("cycle_search"));

    // --stats reads the period-1 counts as the plain plane's classes.
    ASSERT_EQ(run(counted + "--stats -o " + at("s.png")), 0) << errors.str();
    ASSERT_EQ(run(plane + "--stats -o " + at("plain_s.png")), 0) << errors.str();
    EXPECT_EQ(record("s.png.json")["statistics"], record("plain_s.png.json")["statistics"]);
}

TEST(CycleCurves, QuietSegmentsHoldNoCurveTheReferenceFinds)
{
    // The shortcut against its plain reference, every segment followed, on
    // the chaotic module's bias plane and the default plane widened: nothing
    // that the shortcut draws is missing from the reference, it misses at
    // most 1% of the reference's points (a curve in and out again within one
    // dot), it takes fewer Newton runs (at 70 pixels about a seventh fewer;
    // at 800, where more segments are quiet, a fraction), and it reports each
    // crossing once.
    struct Plane {
        model::Weights w;
        std::array<double, 4> range;
    };
    const Plane planes[] = {
        {{4, -4.1, 2.65, -2.85, 1.75, 2.9}, {-0.5, 2, 1, 3}},
        {model::kDefaultWeights, {-3, 3, -3, 3}},
    };
    for (const Plane& p : planes) {
        render::Job job = render::DefaultJob();
        job.mode = render::ModeOf("parametric");
        job.w = p.w;
        job.range = p.range;
        job.pixels = 70;
        const render::Plan plan = render::MakePlan(job);
        const render::CycleCurves fast = render::FindCycleCurves(plan, 12);
        const render::CycleCurves every = render::FindCycleCurves(plan, 12, true);
        auto in = [](const render::CurvePointRow& q, const std::vector<render::CurvePointRow>& all) {
            return std::any_of(all.begin(), all.end(), [&](const render::CurvePointRow& o) {
                return o.period == q.period && o.type == q.type && std::fabs(o.h - q.h) <= 1e-9
                       && std::fabs(o.v - q.v) <= 1e-9;
            });
        };
        ASSERT_GT(every.points.size(), 100u);
        size_t missing = 0;
        for (const auto& q : every.points)
            missing += !in(q, fast.points);
        for (const auto& q : fast.points)
            EXPECT_TRUE(in(q, every.points)) << q.h << " " << q.v << " period " << q.period;
        EXPECT_LE(missing, every.points.size() / 100) << missing << " of " << every.points.size();
        EXPECT_LT(fast.newtonRuns, every.newtonRuns);
        // Each crossing once: a branch that turned onto its saddle half at a
        // fold and back would report the fold again and again.
        for (size_t i = 0; i < fast.points.size(); ++i)
            EXPECT_FALSE(in(fast.points[i], {fast.points.begin() + i + 1, fast.points.end()}))
                << fast.points[i].h << " " << fast.points[i].v;
    }
}

TEST(CycleCurves, EachCrossingOnceOnALargerPlane)
{
    // At 400 pixels the widened default plane holds folds of periods 2 and 5
    // that one continuation met twice, turning at the fold, within 1e-11 of
    // each other; each was reported twice.
    render::Job job = render::DefaultJob();
    job.mode = render::ModeOf("parametric");
    job.range = {-3, 3, -3, 3};
    job.pixels = 400;
    std::vector<render::CurvePointRow> points = render::FindCycleCurves(render::MakePlan(job), 5).points;
    ASSERT_GT(points.size(), 1000u);
    const auto key = [](const render::CurvePointRow& q) { return std::tuple{q.period, q.type, q.v, q.h}; };
    std::sort(points.begin(), points.end(), [&](const auto& p, const auto& q) { return key(p) < key(q); });
    for (size_t i = 1; i < points.size(); ++i) {
        const auto& p = points[i - 1];
        const auto& q = points[i];
        EXPECT_FALSE(p.period == q.period && p.type == q.type && std::fabs(p.v - q.v) <= 1e-9
                     && std::fabs(p.h - q.h) <= 1e-9)
            << "period " << q.period << " at " << q.h << " " << q.v;
    }
}

TEST(CycleCurves, TheCommittedOrbitsGiveTheCurvesOfTheOrbitsRunAgain)
{
    // The curves start from the orbits the commit kept, in dot order; before
    // any commit they run the orbits again. Both must give the same bits, and
    // every kept orbit must be the one the classifier gives the dot alone.
    render::Job job = render::DefaultJob();
    job.mode = render::ModeOf("parametric");
    job.w = {4, -4.1, 2.65, -2.85, 1.75, 2.9};
    job.range = {-0.5, 2, 1, 3};
    job.pixels = 90;
    job.size = 2; // dots of two pixels: the dots' order is not the pixels'
    job.curves = true;
    job.curvesPeriod = 12;
    const render::Plan plan = render::MakePlan(job);
    ASSERT_TRUE(plan.orbits);
    const render::CycleCurves runAgain = render::FindCycleCurves(plan, 12);
    plots::Canvas canvas(job.pixels, job.pixels);
    render::Render(plan, canvas, nullptr);
    ASSERT_EQ(static_cast<int64_t>(plan.orbits->orbits.size()), plan.dots());
    const render::CycleCurves kept = render::FindCycleCurves(plan, 12);
    ASSERT_GT(runAgain.points.size(), 100u);
    ASSERT_EQ(kept.points.size(), runAgain.points.size());
    for (size_t i = 0; i < kept.points.size(); ++i) {
        const auto& p = kept.points[i];
        const auto& q = runAgain.points[i];
        EXPECT_TRUE(p.h == q.h && p.v == q.v && p.period == q.period && p.type == q.type
                    && p.argument == q.argument)
            << i;
    }
    EXPECT_EQ(kept.newtonRuns, runAgain.newtonRuns);
    for (int64_t d = 0; d < plan.dots(); d += 37) {
        model::Weights w;
        ASSERT_TRUE(params::PlaceWeights(plan.inputs, plan.raster.columnValue(d / plan.rows),
                                         plan.raster.rowValue(d % plan.rows), w));
        EXPECT_EQ(plan.orbits->orbits[static_cast<size_t>(d)],
                  model::kernel::Classify(w, job.iterations, job.accuracy, job.x0[0], job.x0[1],
                                          false))
            << d;
    }
    // Only where the curves of the cycles are drawn on the window's classifier.
    for (auto change : {+[](render::Job& j) { j.curvesPeriod = 1; },
                        +[](render::Job& j) { j.maxPeriod = 32; },
                        +[](render::Job& j) { j.curves = false, j.curvesPeriod = 16; }}) {
        render::Job other = job;
        change(other);
        EXPECT_FALSE(render::MakePlan(other).orbits);
    }
}
