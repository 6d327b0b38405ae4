// Times the plain one-dot-at-a-time loops against the column engine on the
// same work, in one run, and prints one line per figure ending in the ratio.
//
//   veltrane-bench [--threads N] [--quick] [--widths] [--lyapunov] [--curves] [--busy] [--shape N]
//
// --threads sets the engine's thread count (default: the machine's cores; the
// line shows how many threads worked together),
// --quick uses dot size 4 throughout, --widths times every shape of the vector
// step against a scalar lockstep of each width instead, --lyapunov only the
// Lyapunov kernel against the classifier, --curves only the bifurcation curves
// against the plane's dots and the stability plane against the parametric
// one, --busy only the cases with one core
// busy (at the dot sizes --quick gives them); --shape N runs the vector step in
// shape N instead of the one chosen for the processor (the first line names
// the shape and why it was chosen).
//
// Besides the plain loops of the program's own bits, each case is timed
// against the same plain loop on the C library's exponential (a yardstick, not
// the program's bits); each command runs with 1 and 2 threads while a second
// process, started and ended here, keeps one core busy; and "Veltrane" runs on
// 1, 2, ... threads up to the cores present.
#include "bench/scalar_lockstep.h"
#include "form/basins.h"
#include "form/coexisting.h"
#include "form/headless_window.h"
#include "form/parametric.h"
#include "form/plane.h"
#include "form/settings.h"
#include "model/engine.h"
#include "model/lyapunov.h"
#include "model/network.h"
#include "model/numbers.h"
#include "model/random.h"
#include "model/transfer_lanes.h"
#include "plots/raster.h"
#include "render/analyses.h"
#include "render/plan.h"
#include "render/tiles.h"

#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include "reference/plain_loops.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <set>
#include <optional>
#include <thread>
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

// The plain classification with the C library's exponential in the transfer
// function: not the program's bits, only a yardstick for how fast a plain
// loop on the system's exp is. Returns the class (17 for a located fixed
// point, its colour in fp).
int libraryClassify(const model::Weights& w, int iterations, double eps, double x, double y,
                    bool locateFp, model::Color& fp)
{
    auto transfer = [](double s) {
        const double e = std::exp(s + s);
        return (e - 1.0) / (e + 1.0);
    };
    double hx[16], hy[16];
    for (int step = 0; step < iterations + 16; ++step) {
        if (step >= iterations) {
            hx[step - iterations] = x;
            hy[step - iterations] = y;
        }
        const double s1 = model::kernel::Sum1(w.data(), x, y);
        const double s2 = model::kernel::Sum2(w.data(), x, y);
        y = transfer(s2);
        x = transfer(s1);
    }
    int cls = 0;
    for (int k = 1; k <= 16 && cls == 0; ++k) {
        const double dx = x - hx[16 - k], dy = y - hy[16 - k];
        if (dy * dy + dx * dx < eps)
            cls = k;
    }
    if (locateFp && cls == 1) {
        cls = 17;
        fp = model::kernel::FixpointColorOf(x, y);
    }
    return cls;
}

double libraryEps(int accuracy) { return std::exp(-accuracy * std::log(10.0)); }

// The default basin picture on the library's exp; a checksum of the classes.
uint64_t libraryBasins(const model::Weights& w, int iterations, int accuracy, int step)
{
    const double eps = libraryEps(accuracy);
    const int h = plots::HalfDot(static_cast<int16_t>(step));
    uint64_t sum = 0;
    model::Color fp = 0;
    for (int i = 0; i <= model::kLastCanvasIndex; i += step)
        for (int j = 0; j <= model::kLastCanvasIndex; j += step)
            sum = sum * 31
                  + static_cast<uint64_t>(libraryClassify(w, iterations, eps,
                                                          plots::StateCoordinate(i + h),
                                                          plots::StateCoordinate(j + h), false, fp));
    return sum;
}

// The default parameter-plane pictures on the library's exp: "Parametric"
// from the one start point, or "Coexisting" counting the kinds of attractor
// among the start points of every dot.
uint64_t libraryPlane(const model::Weights& w0, const form::Plane& p, int iterations,
                      int accuracy, int step, const std::vector<double>& sx,
                      const std::vector<double>& sy, bool coexisting)
{
    const double eps = libraryEps(accuracy);
    const int h = plots::HalfDot(static_cast<int16_t>(step));
    model::Weights w = w0;
    uint64_t sum = 0;
    for (int i = 0; i <= model::kLastCanvasIndex; i += step) {
        w[p.horizontalIndex] = form::PlaneValue(p.left, p.right, i + h);
        for (int j = 0; j <= model::kLastCanvasIndex; j += step) {
            w[p.verticalIndex] = form::PlaneValue(p.bottom, p.top, j + h);
            model::Color fp = 0;
            if (!coexisting) {
                sum = sum * 31 + static_cast<uint64_t>(libraryClassify(w, iterations, eps, sx[0],
                                                                       sy[0], false, fp));
                continue;
            }
            std::set<int> kinds;
            for (size_t k = 0; k < sx.size(); ++k) {
                const int cls = libraryClassify(w, iterations, eps, sx[k], sy[k], true, fp);
                kinds.insert(cls == 17 ? 17 : cls);
            }
            sum = sum * 31 + kinds.size();
        }
    }
    return sum;
}

struct Options {
    int threads = 0;
    bool quick = false;
    bool widths = false;
    bool lyapunov = false;
    bool curves = false;
    int shape = 0; // the vector step's shape, 0: as chosen for the processor
    bool busy = false;
};

void report(const char* name, double plain, double engine, bool same, int threads)
{
    std::printf("%-44s plain %7.3f s  engine %7.3f s  identical: %s  threads: %d  speedup: %.2f\n",
                name, plain, engine, same ? "yes" : "NO", threads, plain / engine);
    std::fflush(stdout);
}

void reportYardstick(const std::string& name, double library, double engine, int threads)
{
    std::printf("%-44s library exp %7.3f s  engine %7.3f s  threads: %d  speedup: %.2f\n",
                ("  yardstick: " + name).c_str(), library, engine, threads, library / engine);
    std::fflush(stdout);
}

void basinCase(const Options& o, int threads, bool yardstick)
{
    const int s = o.quick ? 4 : 1;
    form::HeadlessWindow plain, engine;
    for (form::HeadlessWindow* w : {&plain, &engine})
        w->setText(form::Control::txtStepSize, std::to_string(s));
    const double tp = seconds([&] { reference::BasinPlot(plain, false); });
    model::SetThreadCount(threads);
    model::LargestTeam();
    const double te = seconds([&] { form::cmdVeltrane_Click(engine); });
    const bool same = std::memcmp(plain.canvas().bits(), engine.canvas().bits(),
                                  model::kCanvasSize * model::kCanvasSize * sizeof(uint32_t)) == 0;
    const std::string name = "Veltrane, defaults, dot size " + std::to_string(s);
    const int team = model::LargestTeam();
    report(name.c_str(), tp, te, same, team);
    if (yardstick) {
        const double tl = seconds([&] {
            volatile uint64_t sink = libraryBasins(plain.state().w, plain.state().iterations,
                                                   plain.state().accuracy, s);
            (void)sink;
        });
        reportYardstick(name, tl, te, team);
    }
}

// "Parametric" at the given dot size, or "Coexisting" (5 start points, the
// default field) at dot size 4: the plain loop and the command, each from the
// generator's start state, compared by picture and final state.
void planeCase(const Options& o, int threads, bool coexisting, bool yardstick)
{
    const int s = coexisting ? 4 : (o.quick ? 4 : 1);
    form::HeadlessWindow plain, engine;
    for (form::HeadlessWindow* w : {&plain, &engine})
        w->setText(form::Control::txtStepSize, std::to_string(s));
    model::ResetRandomForTests();
    const double tp = seconds([&] {
        coexisting ? reference::Coexisting(plain) : reference::Parametric(plain);
    });
    const model::RandomGenerator::State plainRandom = model::Random().state();
    model::ResetRandomForTests();
    model::SetThreadCount(threads);
    model::LargestTeam();
    const double te = seconds([&] {
        coexisting ? form::cmdCoexisting_Click(engine) : form::cmdParametric_Click(engine);
    });
    const bool same = std::memcmp(plain.canvas().bits(), engine.canvas().bits(),
                                  model::kCanvasSize * model::kCanvasSize * sizeof(uint32_t)) == 0
                      && plain.state().w == engine.state().w
                      && plain.state().fixpointColor == engine.state().fixpointColor
                      && plainRandom == model::Random().state();
    const std::string name = std::string(coexisting ? "Coexisting, 5 start points" : "Parametric")
                             + ", defaults, dot size " + std::to_string(s);
    const int team = model::LargestTeam();
    report(name.c_str(), tp, te, same, team);
    if (yardstick) {
        // The same start points as the first run of the command draws.
        const int n = coexisting ? 5 : 1;
        std::vector<double> sx(n), sy(n);
        model::RandomGenerator g;
        for (int k = 0; k < n; ++k) {
            sx[k] = params::StartCoordinate(g.next());
            sy[k] = params::StartCoordinate(g.next());
        }
        if (!coexisting) {
            sx[0] = model::ReadNumber(plain.text(form::Control::txtX00));
            sy[0] = model::ReadNumber(plain.text(form::Control::txtX01));
        }
        form::ReadWeights(plain);
        const form::Plane plane = form::ReadPlane(plain);
        const double tl = seconds([&] {
            volatile uint64_t sink = libraryPlane(plain.state().w, plane, plain.state().iterations,
                                                  plain.state().accuracy, s, sx, sy, coexisting);
            (void)sink;
        });
        reportYardstick(name, tl, te, team);
    }
}

// One run of a command on a fresh window at the given dot size, in seconds.
double engineRun(void (*command)(form::Window&), int dotSize, int threads)
{
    model::SetThreadCount(threads);
    model::ResetRandomForTests();
    form::HeadlessWindow win;
    win.setText(form::Control::txtStepSize, std::to_string(dotSize));
    return seconds([&] { command(win); });
}

// The best of three runs: the figure least disturbed by other programs.
double bestRun(void (*command)(form::Window&), int dotSize, int threads)
{
    double best = 1e300;
    for (int k = 0; k < 3; ++k)
        best = std::min(best, engineRun(command, dotSize, threads));
    return best;
}

struct CommandCase {
    const char* name;
    void (*command)(form::Window&);
    int dotSize;
};

// A second process that spins on a core until it is ended (or the bench ends).
class BusyCore {
public:
    BusyCore()
    {
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            volatile unsigned long spin = 0;
            for (;;)
                spin = spin + 1;
        }
    }
    ~BusyCore()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

void busyCoreCases(const std::vector<CommandCase>& cases)
{
    BusyCore busy;
    if (!busy.running()) {
        std::printf("busy core: could not start the spinning process\n");
        return;
    }
    for (const CommandCase& c : cases) {
        const double one = bestRun(c.command, c.dotSize, 1);
        const double two = bestRun(c.command, c.dotSize, 2);
        const std::string name = std::string("busy core, ") + c.name + ", dot size "
                                 + std::to_string(c.dotSize);
        std::printf("%-44s 1 thread %7.3f s  2 threads %7.3f s  2 threads / 1 thread  speedup: %.2f\n",
                    name.c_str(), one, two, one / two);
        std::fflush(stdout);
    }
}

// Processor time of the whole process (every thread), in seconds.
double processSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + 1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// "Veltrane" on 1, 2, ... threads: the best of three wall times, and the
// least processor time the process spent on a run (all threads). Where the
// machine is shared, the wall time tells little, but processor time close to
// that of one thread says that the threads waste nothing on waiting.
void scaling(int dotSize, int cores)
{
    double one = 0.0, oneCpu = 0.0;
    for (int threads = 1; threads <= cores; ++threads) {
        double t = 1e300, cpu = 1e300;
        for (int k = 0; k < 3; ++k) {
            const double c0 = processSeconds();
            t = std::min(t, engineRun(form::cmdVeltrane_Click, dotSize, threads));
            cpu = std::min(cpu, processSeconds() - c0);
        }
        if (threads == 1)
            one = t, oneCpu = cpu;
        const std::string name = "scaling, Veltrane, dot size " + std::to_string(dotSize)
                                 + ", " + std::to_string(threads) + " threads";
        std::printf("%-44s engine %7.3f s  processor time %7.3f s (%.2f of 1 thread's)  "
                    "against 1 thread  speedup: %.2f\n",
                    name.c_str(), t, cpu, cpu / oneCpu, one / t);
        std::fflush(stdout);
    }
}

// The kernels of a state-plane "lyapunov" render (1000 + 1000 steps) and a
// "veltrane" render (1000 + 16) of the same raster, default parameters, on
// one thread; the ratio is what a Lyapunov picture costs against a basin
// picture.
void lyapunovCase(int n)
{
    form::HeadlessWindow win;
    form::ReadWeights(win);
    const model::State& st = win.state();
    std::vector<double> xs, ys;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            xs.push_back((2.0 * i + 1.0) / n - 1.0);
            ys.push_back((2.0 * j + 1.0) / n - 1.0);
        }
    }
    const int m = static_cast<int>(xs.size());
    std::vector<Orbit> classes(m);
    std::vector<model::kernel::Exponent> exponents(m);
    double tc = 1e300, tl = 1e300; // the best of three
    for (int k = 0; k < 3; ++k) {
        tc = std::min(tc, seconds([&] {
                          model::kernel::ClassifyMany(st.w, st.iterations, st.accuracy, xs.data(),
                                                      ys.data(), m, false, classes.data());
                      }));
        tl = std::min(tl, seconds([&] {
                          model::kernel::LyapunovMany(st.w, st.iterations, 1000, xs.data(),
                                                      ys.data(), m, exponents.data());
                      }));
    }
    const std::string name = "Lyapunov against Veltrane, " + std::to_string(n) + " x "
                             + std::to_string(n) + " states";
    std::printf("%-44s veltrane %7.3f s  lyapunov %7.3f s  threads: 1  lyapunov / veltrane: %.2f\n",
                name.c_str(), tc, tl, tl / tc);
    std::fflush(stdout);
}

// Seconds of processor time the calling thread spent in fn: unlike the wall
// clock, not lengthened while other programs hold the core.
double threadSeconds(const std::function<void()>& fn)
{
    auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    };
    const double t0 = now();
    fn();
    return now() - t0;
}

// The best of `runs` timings of fn in thread processor time.
double bestThreadSeconds(int runs, const std::function<void()>& fn)
{
    double best = 1e300;
    for (int k = 0; k < runs; ++k)
        best = std::min(best, threadSeconds(fn));
    return best;
}

// The classifier's kernel on one thread over the default basin raster at dot
// size 4: every shape of the vector step this processor runs, against the
// scalar lockstep at each width, compared orbit for orbit. Times are the
// calling thread's processor time, the best of three.
void widthSweep()
{
    form::HeadlessWindow win;
    form::ReadWeights(win);
    const model::State& st = win.state();
    std::vector<double> xs, ys;
    for (int i = 0; i < model::kCanvasSize; i += 4) {
        for (int j = 0; j < model::kCanvasSize; j += 4) {
            xs.push_back(plots::StateCoordinate(i + plots::HalfDot(4)));
            ys.push_back(plots::StateCoordinate(j + plots::HalfDot(4)));
        }
    }
    const int n = static_cast<int>(xs.size());
    std::vector<Orbit> lanes(n), scalar(n);
    auto vector = [&] {
        model::kernel::ClassifyMany(st.w, st.iterations, st.accuracy, xs.data(), ys.data(), n,
                                    false, lanes.data());
    };
    const double chosen = bestThreadSeconds(3, vector);
    const std::vector<Orbit> want = lanes;
    const double library = bestThreadSeconds(3, [&] {
        volatile uint64_t sink = libraryBasins(st.w, st.iterations, st.accuracy, 4);
        (void)sink;
    });
    std::printf("kernel: plain loop on the library's exp %.3f s, chosen vector step %.3f s  "
                "speedup: %.2f\n",
                library, chosen, library / chosen);
    for (int w : {1, 2, 4, 8}) {
        const double ts = bestThreadSeconds(3, [&] {
            bench::ClassifyScalarLockstep(w, true, st.w, st.iterations, st.accuracy, xs.data(),
                                          ys.data(), n, false, scalar.data());
        });
        std::printf("kernel: scalar width %d %.3f s, chosen vector step %.3f s  identical: %s  "
                    "speedup: %.2f\n",
                    w, ts, chosen, scalar == want ? "yes" : "NO", ts / chosen);
        std::fflush(stdout);
    }
    // Each shape over the whole raster at once, and in the engine's parts:
    // columns of 200 dots (dot size 4) and parts of kEntriesPerPart, where a
    // lane may idle at a part's end.
    auto inParts = [&](int part) {
        return [&, part] {
            for (int b = 0; b < n; b += part)
                model::kernel::ClassifyMany(st.w, st.iterations, st.accuracy, &xs[b], &ys[b],
                                            std::min(part, n - b), false, &lanes[b]);
        };
    };
    for (int shape = 1; shape <= model::kernel::StepShapeCount(); ++shape) {
        if (!model::kernel::UseStepLanesClone(shape))
            continue;
        const double tv = bestThreadSeconds(3, vector);
        const bool same = lanes == want;
        const double t200 = bestThreadSeconds(3, inParts(200));
        const double tPart = bestThreadSeconds(3, inParts(model::kEntriesPerPart));
        std::printf("kernel: %-30s %2d lanes %.3f s, in parts of 200 %.3f s, of %d %.3f s  "
                    "identical: %s  against the chosen: %.2f\n",
                    model::kernel::StepShapeName(shape), model::kernel::StepLanesWidth(), tv, t200,
                    model::kEntriesPerPart, tPart, same && lanes == want ? "yes" : "NO", chosen / tv);
        std::fflush(stdout);
    }
    model::kernel::UseStepLanesClone(0);
}

// The stability plane (every dot's fixed points, and their curves from the
// committed counts) against the parametric plane, both on the default plane
// at n x n pixels with their analyses: CPU time of each, and the ratio.
void stabilityCase(int n, int threads)
{
    model::RunThreads run(threads);
    double seconds[2] = {0, 0};
    const char* modes[2] = {"parametric", "stability"};
    for (int m = 0; m < 2; ++m) {
        render::Job job = render::DefaultJob();
        job.mode = render::ModeOf(modes[m]);
        job.pixels = n;
        const render::Plan plan = render::MakePlan(job);
        plots::Canvas canvas(n, n);
        // As the renderer keeps them: the stability plane's curves read the
        // committed counts.
        std::optional<render::NpyArray> classes;
        if (render::KeepsClasses(job))
            classes.emplace(plan.row->classType, plan.pixels, plan.pixels);
        nlohmann::json record = nlohmann::json::object();
        run.run([&] {
            const double t0 = processSeconds();
            render::Render(plan, canvas, classes ? &*classes : nullptr, [](int64_t) {});
            render::Analyse(plan, canvas, classes ? &*classes : nullptr, record, nullptr);
            seconds[m] = processSeconds() - t0;
        });
    }
    std::printf("Stability against parametric, %d x %d      parametric %7.3f s  stability %7.3f s "
                "CPU  threads: %d  stability / parametric: %.2f\n",
                n, n, seconds[0], seconds[1], run.count(), seconds[1] / seconds[0]);
    std::fflush(stdout);
}

// The bifurcation curves of parametric --curves over the default plane widened
// to -3..3 at n x n pixels, with the cycles' curves up to period k, against
// the plane's own dots: CPU time of the process (every thread), so that a
// machine shared with other work still gives a fair ratio, and of each the
// least of three rounds, as other work on a shared machine only ever adds to
// a time. With the cycles' curves the dots keep their orbits for them, which
// costs the dots a little: the plain plane's dots, without curves, are timed
// too, and the ratio against them printed beside.
void curvesCase(int n, int k, int threads)
{
    render::Job job = render::DefaultJob();
    job.mode = render::ModeOf("parametric");
    job.range = {-3, 3, -3, 3};
    job.pixels = n;
    const render::Plan plain = render::MakePlan(job);
    job.curves = true;
    job.curvesPeriod = k;
    const render::Plan plan = render::MakePlan(job);
    plots::Canvas canvas(n, n);
    const auto cpu = processSeconds;
    model::RunThreads run(threads);
    double dots = INFINITY, curves = INFINITY, plainDots = INFINITY;
    for (int round = 0; round < 3; ++round) {
        nlohmann::json record = nlohmann::json::object();
        run.run([&] {
            const double t = cpu();
            render::Render(plain, canvas, nullptr, [](int64_t) {});
            const double t0 = cpu();
            render::Render(plan, canvas, nullptr, [](int64_t) {});
            const double t1 = cpu();
            render::Analyse(plan, canvas, nullptr, record, nullptr);
            curves = std::min(curves, cpu() - t1);
            dots = std::min(dots, t1 - t0);
            plainDots = std::min(plainDots, t0 - t);
        });
    }
    const std::string name = "Curves to period " + std::to_string(k) + ", " + std::to_string(n)
                             + " x " + std::to_string(n) + " parametric";
    std::printf("%-44s dots %7.3f s  curves %7.3f s CPU  threads: %d  curves / dots: %.2f"
                "  (plain dots %.3f s, curves / plain dots: %.2f)\n",
                name.c_str(), dots, curves, run.count(), curves / dots, plainDots,
                curves / plainDots);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--threads") && i + 1 < argc)
            o.threads = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--quick"))
            o.quick = true;
        else if (!std::strcmp(argv[i], "--widths"))
            o.widths = true;
        else if (!std::strcmp(argv[i], "--lyapunov"))
            o.lyapunov = true;
        else if (!std::strcmp(argv[i], "--curves"))
            o.curves = true;
        else if (!std::strcmp(argv[i], "--busy"))
            o.busy = true;
        else if (!std::strcmp(argv[i], "--shape") && i + 1 < argc)
            o.shape = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: veltrane-bench [--threads N] [--quick] [--widths] [--lyapunov] [--curves] [--busy] [--shape N]\n");
            return 2;
        }
    }
    const long baseline = peakKiB();
    if (!model::kernel::UseStepLanesClone(o.shape)) {
        std::fprintf(stderr, "veltrane-bench: shape %d does not run on this processor; the shapes:\n",
                     o.shape);
        for (int k = 1; k <= model::kernel::StepShapeCount(); ++k)
            std::fprintf(stderr, "  %d  %s\n", k, model::kernel::StepShapeName(k));
        return 2;
    }
    model::SetThreadCount(o.threads);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const model::kernel::Processor cpu = model::kernel::ThisProcessor();
    const char* vendor = cpu.vendor == model::kernel::Processor::Intel ? "Intel"
                         : cpu.vendor == model::kernel::Processor::Amd ? "AMD"
                                                                        : "other vendor";
    std::printf("vector step: %s (%s; %s family %d model %d%s%s%s), repeat shortcut on, "
                "%d threads, %d cores\n",
                model::kernel::StepLanesClone(), model::kernel::StepLanesReason(), vendor,
                cpu.family, cpu.model, cpu.avx2 ? ", AVX2" : "", cpu.avx512f ? ", AVX-512F" : "",
                cpu.avx512vl ? ", AVX-512VL" : "", model::ThreadCount(), cores);
    if (o.curves) {
        curvesCase(o.quick ? 200 : 800, 1, o.threads);
        curvesCase(o.quick ? 200 : 800, 16, o.threads);
        stabilityCase(o.quick ? 200 : 800, o.threads);
    } else if (o.widths) {
        widthSweep();
    } else if (o.busy) {
        scaling(4, cores);
        busyCoreCases({{"Veltrane", form::cmdVeltrane_Click, 4},
                       {"Parametric", form::cmdParametric_Click, o.quick ? 4 : 1},
                       {"Coexisting", form::cmdCoexisting_Click, 4}});
    } else if (o.lyapunov) {
        lyapunovCase(o.quick ? 200 : 400);
    } else {
        bool yardstick = true; // against the library's exp once, at the first thread count
        for (int threads : {o.threads, 1}) {
            basinCase(o, threads, yardstick);
            planeCase(o, threads, false, yardstick);
            planeCase(o, threads, true, yardstick);
            yardstick = false;
            if (threads == 1)
                break; // the single-thread ratios were just printed
        }
        const int s = o.quick ? 4 : 1;
        busyCoreCases({{"Veltrane", form::cmdVeltrane_Click, 4},
                       {"Parametric", form::cmdParametric_Click, s},
                       {"Coexisting", form::cmdCoexisting_Click, 4}});
        scaling(4, cores);
        lyapunovCase(o.quick ? 200 : 400);
    }
    const long peak = peakKiB();
    std::printf("peak memory: %.1f MiB (%.1f MiB at start, %.1f MiB more)\n", peak / 1024.0,
                baseline / 1024.0, (peak - baseline) / 1024.0);
    return 0;
}
