// Times the plain one-dot-at-a-time loops against the column engine on the
// same work, in one run, and prints one line per case ending in the ratio.
//
//   veltrane-bench [--threads N] [--width W] [--quick] [--widths]
//
// --threads sets the engine's thread count (default: the machine's cores; the
// line shows how many threads worked together),
// --width the lockstep width, --quick uses dot size 4 throughout, --widths
// times the engine on one thread at every lockstep width instead.
#include "model/engine.h"
#include "model/network.h"
#include "model/settings.h"
#include "params/plane.h"
#include "plots/basins.h"
#include "plots/headless_window.h"
#include "plots/raster.h"
#include "tests/reference.h"

#include <sys/resource.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using model::kernel::Orbit;

double seconds(const std::function<void()>& fn)
{
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The parameter plane of the default fields: w(4) across, w(5) up, both
// -1..1, one start point (1, 1). Written out here as a kernel workload, one
// classification per dot; the result is a class per dot, checksummed.
struct PlaneWork {
    model::Weights base;
    params::Plane plane;
    int step;
    int iterations, accuracy;
};

PlaneWork defaultPlane(int step)
{
    plots::HeadlessWindow win;
    model::ReadWeights(win);
    return {win.state().w, params::ReadPlane(win), step, win.state().iterations,
            win.state().accuracy};
}

// "Coexisting" shaped: every dot classifies the same starts under its weights
// and counts the distinct classes; "Parametric" shaped: one start (1, 1).
uint64_t planePlain(const PlaneWork& p, const std::vector<double>& sx,
                    const std::vector<double>& sy)
{
    model::State st;
    st.w = p.base;
    st.iterations = static_cast<int16_t>(p.iterations);
    st.accuracy = static_cast<int16_t>(p.accuracy);
    const int h = plots::HalfDot(static_cast<int16_t>(p.step));
    uint64_t sum = 0;
    for (int i = 0; i <= 799; i += p.step) {
        st.w[p.plane.horizontalIndex] = params::PlaneValue(p.plane.left, p.plane.right, i + h);
        for (int j = 0; j <= 799; j += p.step) {
            st.w[p.plane.verticalIndex] = params::PlaneValue(p.plane.bottom, p.plane.top, j + h);
            for (size_t k = 0; k < sx.size(); ++k)
                sum = sum * 31 + static_cast<uint64_t>(model::ClassifyOrbitFp(st, sx[k], sy[k]));
        }
    }
    return sum;
}

uint64_t planeEngine(const PlaneWork& p, const std::vector<double>& sx,
                     const std::vector<double>& sy)
{
    const int h = plots::HalfDot(static_cast<int16_t>(p.step));
    const int starts = static_cast<int>(sx.size());
    std::array<model::Weights, plots::kCanvasRows> ws;
    std::vector<Orbit> results(plots::kCanvasRows * starts);
    std::vector<double> xs(plots::kCanvasRows), ys(plots::kCanvasRows);
    uint64_t sum = 0;
    model::Weights w = p.base;
    for (int i = 0; i <= 799; i += p.step) {
        w[p.plane.horizontalIndex] = params::PlaneValue(p.plane.left, p.plane.right, i + h);
        int n = 0;
        for (int j = 0; j <= 799; j += p.step, ++n) {
            w[p.plane.verticalIndex] = params::PlaneValue(p.plane.bottom, p.plane.top, j + h);
            ws[n] = w;
        }
        if (starts == 1) {
            std::fill(xs.begin(), xs.end(), sx[0]);
            std::fill(ys.begin(), ys.end(), sy[0]);
            auto body = [&](int b, int e) {
                model::kernel::ClassifyManyEach(&ws[b], p.iterations, p.accuracy, &xs[b],
                                                &ys[b], e - b, true, &results[b]);
            };
            model::ForEachChunk(n, plots::kDotsPerChunk, body);
        } else {
            auto body = [&](int b, int e) {
                for (int d = b; d < e; ++d)
                    model::kernel::ClassifyMany(ws[d], p.iterations, p.accuracy, sx.data(),
                                                sy.data(), starts, true, &results[d * starts]);
            };
            model::ForEachChunk(n, 2, body);
        }
        for (int d = 0; d < n * starts; ++d)
            sum = sum * 31 + static_cast<uint64_t>(results[d].cls);
    }
    return sum;
}

struct Options {
    int threads = 0;
    int width = 0;
    bool quick = false;
    bool widths = false;
};

void report(const char* name, double plain, double engine, bool same, int threads)
{
    std::printf("%-44s plain %7.3f s  engine %7.3f s  identical: %s  threads: %d  speedup: %.2f\n",
                name, plain, engine, same ? "yes" : "NO", threads, plain / engine);
    std::fflush(stdout);
}

void basinCase(const Options& o, int threads)
{
    const int s = o.quick ? 4 : 1;
    plots::HeadlessWindow plain, engine;
    for (plots::HeadlessWindow* w : {&plain, &engine})
        w->setText(model::Control::txtStepSize, std::to_string(s));
    const double tp = seconds([&] { reference::BasinPlot(plain, false); });
    model::SetThreadCount(threads);
    model::LargestTeam();
    const double te = seconds([&] { plots::cmdVeltrane_Click(engine); });
    const bool same = std::memcmp(plain.canvas().bits(), engine.canvas().bits(),
                                  800 * 800 * sizeof(uint32_t)) == 0;
    const std::string name = "Veltrane, defaults, dot size " + std::to_string(s);
    report(name.c_str(), tp, te, same, model::LargestTeam());
}

void planeCase(const Options& o, int threads, bool coexisting)
{
    const int s = coexisting ? 4 : (o.quick ? 4 : 1);
    const PlaneWork p = defaultPlane(s);
    std::vector<double> sx{1.0}, sy{1.0};
    if (coexisting) { // five fixed start points in the square, as a run draws them
        sx = {-0.61, 0.23, 0.87, -0.05, 0.44};
        sy = {0.72, -0.91, 0.15, -0.33, 0.58};
    }
    uint64_t a = 0, b = 0;
    const double tp = seconds([&] { a = planePlain(p, sx, sy); });
    model::SetThreadCount(threads);
    model::LargestTeam();
    const double te = seconds([&] { b = planeEngine(p, sx, sy); });
    const std::string name = std::string(coexisting ? "Coexisting-shaped kernel work" : "Parametric-shaped kernel work")
                             + ", dot size " + std::to_string(s);
    report(name.c_str(), tp, te, a == b, model::LargestTeam());
}

void widthSweep()
{
    model::SetThreadCount(1);
    for (int w : {1, 2, 4, 8}) {
        model::kernel::SetLockstepWidth(w);
        for (bool shortcut : {false, true}) {
            model::kernel::SetRepeatShortcut(shortcut);
            plots::HeadlessWindow win;
            win.setText(model::Control::txtStepSize, "4");
            const double t = seconds([&] { plots::cmdVeltrane_Click(win); });
            const PlaneWork p = defaultPlane(4);
            const double tp = seconds([&] { planeEngine(p, {1.0}, {1.0}); });
            std::printf("width %d, shortcut %-3s: Veltrane dot size 4 %.3f s, "
                        "Parametric-shaped dot size 4 %.3f s\n",
                        w, shortcut ? "on" : "off", t, tp);
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--threads") && i + 1 < argc)
            o.threads = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--width") && i + 1 < argc)
            o.width = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--quick"))
            o.quick = true;
        else if (!std::strcmp(argv[i], "--widths"))
            o.widths = true;
        else {
            std::fprintf(stderr, "usage: veltrane-bench [--threads N] [--width W] [--quick] [--widths]\n");
            return 2;
        }
    }
    const long baseline = peakKiB();
    if (o.width > 0)
        model::kernel::SetLockstepWidth(o.width);
    model::SetThreadCount(o.threads);
    std::printf("lockstep width %d, repeat shortcut on, %d cores\n",
                model::kernel::LockstepWidth(), model::ThreadCount());
    if (o.widths) {
        widthSweep();
    } else {
        for (int threads : {o.threads, 1}) {
            basinCase(o, threads);
            planeCase(o, threads, false);
            planeCase(o, threads, true);
            if (threads == 1)
                break; // the single-thread ratios were just printed
        }
    }
    const long peak = peakKiB();
    std::printf("peak memory: %.1f MiB (%.1f MiB at start, %.1f MiB more)\n", peak / 1024.0,
                baseline / 1024.0, (peak - baseline) / 1024.0);
    return 0;
}
