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
#include "model/random.h"
#include "params/coexisting.h"
#include "params/parametric.h"
#include "plots/basins.h"
#include "plots/headless_window.h"
#include "plots/raster.h"
#include "tests/reference.h"

#include <sys/resource.h>

#include <array>
#include <chrono>
#include <cmath>
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

// The same plain basin loop with the C library's exponential in the transfer
// function: not the program's bits, only a yardstick for how fast a plain
// loop on the system's exp is. Returns a checksum of the classes.
uint64_t libraryExpBasins(const model::Weights& w, int iterations, int accuracy)
{
    auto transfer = [](double s) {
        const double e = std::exp(s + s);
        return (e - 1.0) / (e + 1.0);
    };
    const double eps = std::exp(-accuracy * std::log(10.0));
    uint64_t sum = 0;
    for (int i = 0; i <= 799; ++i) {
        for (int j = 0; j <= 799; ++j) {
            double x = plots::StateCoordinate(i), y = plots::StateCoordinate(j);
            double hx[16], hy[16];
            for (int step = 0; step < iterations + 16; ++step) {
                if (step >= iterations) {
                    hx[step - iterations] = x;
                    hy[step - iterations] = y;
                }
                const double s1 = (w[0] * x + w[1] * y) + w[4];
                const double s2 = (w[2] * x + w[3] * y) + w[5];
                y = transfer(s2);
                x = transfer(s1);
            }
            int cls = 0;
            for (int k = 1; k <= 16 && cls == 0; ++k) {
                const double dx = x - hx[16 - k], dy = y - hy[16 - k];
                if (dy * dy + dx * dx < eps)
                    cls = k;
            }
            sum = sum * 31 + static_cast<uint64_t>(cls);
        }
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
    if (s == 1 && threads != 1) {
        model::ReadWeights(plain);
        const double tl = seconds([&] {
            volatile uint64_t sink = libraryExpBasins(plain.state().w, 1000, 8);
            (void)sink;
        });
        std::printf("%-44s plain %7.3f s  (the C library's exp, other bits)  engine is %.2fx faster\n",
                    "  yardstick: plain loop, library exp", tl, tl / te);
        std::fflush(stdout);
    }
}

// "Parametric" at the given dot size, or "Coexisting" (5 start points, the
// default field) at dot size 4: the plain loop and the command, each from the
// generator's start state, compared by picture and final state.
void planeCase(const Options& o, int threads, bool coexisting)
{
    const int s = coexisting ? 4 : (o.quick ? 4 : 1);
    plots::HeadlessWindow plain, engine;
    for (plots::HeadlessWindow* w : {&plain, &engine})
        w->setText(model::Control::txtStepSize, std::to_string(s));
    model::ResetRandomForTests();
    const double tp = seconds([&] {
        coexisting ? reference::Coexisting(plain) : reference::Parametric(plain);
    });
    const model::RandomGenerator::State plainRandom = model::Random().state();
    model::ResetRandomForTests();
    model::SetThreadCount(threads);
    model::LargestTeam();
    const double te = seconds([&] {
        coexisting ? params::cmdCoexisting_Click(engine) : params::cmdParametric_Click(engine);
    });
    const bool same = std::memcmp(plain.canvas().bits(), engine.canvas().bits(),
                                  800 * 800 * sizeof(uint32_t)) == 0
                      && plain.state().w == engine.state().w
                      && plain.state().fixpointColor == engine.state().fixpointColor
                      && plainRandom == model::Random().state();
    const std::string name = std::string(coexisting ? "Coexisting, 5 start points" : "Parametric")
                             + ", defaults, dot size " + std::to_string(s);
    report(name.c_str(), tp, te, same, model::LargestTeam());
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
            plots::HeadlessWindow plane;
            plane.setText(model::Control::txtStepSize, "4");
            const double tp = seconds([&] { params::cmdParametric_Click(plane); });
            std::printf("width %d, shortcut %-3s: Veltrane dot size 4 %.3f s, "
                        "Parametric dot size 4 %.3f s\n",
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
