#include "python/rendering.h"

#include "model/engine.h"
#include "model/long_period.h"
#include "model/network.h"
#include "model/numbers.h"
#include "plots/canvas.h"
#include "render/analyses.h"
#include "render/command_line.h"
#include "render/continuation.h"
#include "render/npy.h"
#include "render/orbit.h"
#include "render/options.h"
#include "render/output.h"
#include "render/plan.h"
#include "render/progress.h"
#include "render/tiles.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <memory>
#include <vector>

namespace pyvt {

namespace {

using Clock = std::chrono::steady_clock;

// A run of dots takes about this long, so that Ctrl-C and the progress
// callback are served a few times a second whatever a dot costs.
std::atomic<double> runSeconds{0.1};

// Runs fn with the GIL held: a pending signal raises its Python error first.
template <class Fn>
void withPython(Fn&& fn)
{
    py::gil_scoped_acquire held;
    if (PyErr_CheckSignals() != 0)
        throw py::error_already_set();
    fn();
}

// The dots of the next run, from the last one's n dots evaluated in seconds
// (the first run: run = 0): as many as take about runSeconds, but at least a
// few per thread, at most four times the last run asked for, and never more
// than fit. The first run is short: a column may hold dots that take long.
int64_t nextRun(int64_t run, int64_t n, double seconds, int64_t most)
{
    const double least = std::min(16.0 * model::ThreadCount(), 1.0 * most);
    const double high = std::clamp(4.0 * run, least, 1.0 * most);
    const double scaled = seconds > 0 ? n * (runSeconds / seconds) : high;
    return static_cast<int64_t>(std::clamp(scaled, least, high));
}

template <class T>
py::capsule owning(std::unique_ptr<T> object)
{
    return py::capsule(object.release(), [](void* p) { delete static_cast<T*>(p); });
}

py::array readOnly(py::array a)
{
    a.attr("setflags")(py::arg("write") = false);
    return a;
}

// The classes as a numpy array over the file's own data, its dtype and shape
// read from the file's header, so that every kind of classes file is one.
py::array classesArray(std::unique_ptr<render::NpyArray> classes)
{
    const std::vector<uint8_t>& file = classes->bytes();
    const py::module_ format = py::module_::import("numpy.lib.format");
    const py::object header = py::module_::import("io").attr("BytesIO")(
        py::bytes(reinterpret_cast<const char*>(file.data()), classes->dataOffset()));
    format.attr("read_magic")(header);
    const py::tuple described = format.attr("read_array_header_1_0")(header);
    auto* data = const_cast<uint8_t*>(file.data() + classes->dataOffset());
    return py::array(py::dtype::from_args(described[2]),
                     described[0].cast<std::vector<py::ssize_t>>(), data,
                     owning(std::move(classes)));
}

// The renderer's loop (render::Render) in runs of dots sized by time, which
// may end inside a column: the same picture, since dots may be evaluated in
// any order and runs, and are committed by whole columns in order. The
// results hold the columns of one renderer's tile; a mode evaluated a whole
// column at a time runs whole columns. between(done) follows every run.
template <class Between>
void renderInRuns(const render::Plan& plan, plots::Canvas& canvas, render::NpyArray* classes,
                  Between&& between)
{
    render::Committer committer(plan, canvas, classes);
    const int64_t rows = plan.rows;
    const int64_t most = render::TileColumns(plan) * rows;
    const int64_t unit = plan.traits->evaluateColumn ? rows : 1;
    std::vector<render::DotResult> results(static_cast<size_t>(most));
    int committed = 0; // columns committed; results[0] is the first dot after them
    for (int64_t next = 0, run = nextRun(0, 0, 0, most); next < plan.dots();) {
        const int64_t held = next - committed * rows;
        const int64_t fits = std::min(most - held, plan.dots() - next);
        const int n = static_cast<int>(std::min(fits, std::max(unit, run / unit * unit)));
        const auto start = Clock::now();
        render::EvaluateDots(plan, next, n, results.data() + held);
        next += n;
        if (const int c1 = static_cast<int>(next / rows); c1 > committed) {
            committer.commit(committed, c1, results.data());
            // The part of the next column evaluated already moves to the front.
            std::copy_n(results.data() + (c1 - committed) * rows, next - c1 * rows,
                        results.data());
            committed = c1;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        between(next);
        run = nextRun(run, n, seconds, most);
    }
}

// The continuation: the sweep one value after the other, each on every core;
// between two values, Ctrl-C and the progress function are served.
Result renderSweep(const render::Job& job, bool line, bool callback, const py::object& progress)
{
    Result r;
    auto canvas = std::make_unique<plots::Canvas>(job.pixels, job.pixels);
    auto classes = std::make_unique<std::vector<uint8_t>>();
    render::Progress shown(job.steps, line);
    const auto begin = Clock::now();
    {
        py::gil_scoped_release free;
        const auto result = render::RunContinuation(job, [&](int done) {
            shown.update(done);
            withPython([&] {
                if (callback)
                    progress(static_cast<double>(done) / job.steps);
            });
        });
        shown.finish();
        render::DrawFractions(job, result, *canvas);
        r.analyses = {{"continuation", render::ContinuationRecord(job, result)}};
        *classes = render::IdentityClasses(job, result);
    }
    r.job = job;
    r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    r.canvas = canvas.get();
    r.sweepClasses = classes.get();
    const auto n = static_cast<py::ssize_t>(job.pixels);
    auto* bytes = reinterpret_cast<uint8_t*>(canvas->bits());
    const bool little = std::endian::native == std::endian::little;
    r.image = readOnly(py::array(py::dtype("u1"), {n, n, py::ssize_t(3)},
                                 {4 * n, py::ssize_t(4), py::ssize_t(little ? -1 : 1)},
                                 bytes + (little ? 2 : 1), owning(std::move(canvas))));
    const size_t offset = 10 + ((*classes)[8] | (*classes)[9] << 8);
    auto* data = classes->data() + offset;
    const auto g = static_cast<py::ssize_t>(job.grid);
    r.classes = readOnly(py::array(py::dtype("<i4"), {static_cast<py::ssize_t>(job.steps), g, g},
                                   data, owning(std::move(classes))));
    return r;
}

} // namespace

void SetRunSeconds(double seconds) { runSeconds = seconds; }

Result RenderJob(const render::Job& job, int threads, const py::object& progress)
{
    const render::Plan plan = render::MakePlan(job);
    auto canvas = std::make_unique<plots::Canvas>(plan.pixels, plan.pixels);
    auto classes =
        std::make_unique<render::NpyArray>(plan.traits->classType, plan.pixels, plan.pixels);
    const bool line = py::isinstance<py::bool_>(progress) && progress.cast<bool>();
    const bool callback = !line && PyCallable_Check(progress.ptr());
    if (const int used = render::UseThreads(threads); used < threads) {
        const std::string warning = "--threads " + std::to_string(threads)
                                    + " is more than the " + std::to_string(used)
                                    + " cores of this machine; " + std::to_string(used)
                                    + " are used.";
        if (PyErr_WarnEx(PyExc_RuntimeWarning, warning.c_str(), 1) != 0)
            throw py::error_already_set();
    }
    if (job.mode == render::Mode::Continuation)
        return renderSweep(job, line, callback, progress);
    Result r;
    render::Progress shown(plan.dots(), line);
    const auto begin = Clock::now();
    {
        py::gil_scoped_release free;
        auto between = [&](int64_t done) {
            shown.update(done);
            withPython([&] {
                if (callback)
                    progress(static_cast<double>(done) / static_cast<double>(plan.dots()));
            });
        };
        if (render::OrbitsRenderedAlone(plan, false))
            // Continued orbits: one column after the other, as the renderer does.
            render::RenderOrbits(plan, *canvas, classes.get(), nullptr, between);
        else
            renderInRuns(plan, *canvas, classes.get(), between);
        shown.finish();
        // What the command line adds after the dots: curves, statistics, cycles.
        r.analyses = nlohmann::json::object();
        render::Analyse(plan, *canvas, classes.get(), r.analyses, nullptr);
    }

    r.job = job;
    r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    r.canvas = canvas.get();
    r.npy = classes.get();
    const auto n = static_cast<py::ssize_t>(plan.pixels);
    // Pixels are 0xFFRRGGBB words: the bytes of red, green and blue of a
    // pixel lie one apart, in the order the machine stores words.
    auto* bytes = reinterpret_cast<uint8_t*>(canvas->bits());
    const bool little = std::endian::native == std::endian::little;
    r.image = readOnly(py::array(py::dtype("u1"), {n, n, py::ssize_t(3)},
                                 {4 * n, py::ssize_t(4), py::ssize_t(little ? -1 : 1)},
                                 bytes + (little ? 2 : 1), owning(std::move(canvas))));
    r.classes = readOnly(classesArray(std::move(classes)));
    return r;
}

void Save(const Result& result, const std::string& picture,
          const std::optional<std::string>& classes)
{
    render::Request request;
    request.job = result.job;
    request.output = picture;
    request.classes = classes.value_or("");
    render::CheckRequest(request);
    py::gil_scoped_release free;
    render::CheckFiles(request);
    // Everything is encoded before the file set exists: while it does, its
    // handlers of SIGINT and SIGTERM end the process (after removing its
    // temporary files) instead of raising KeyboardInterrupt.
    const std::vector<uint8_t> encoded = render::EncodePicture(picture, *result.canvas);
    const std::vector<uint8_t> record =
        render::RecordBytes(request, result.seconds, 1, result.analyses);
    render::FileSet files;
    if (classes)
        files.add(*classes, result.npy ? result.npy->bytes() : *result.sweepClasses);
    files.add(picture, encoded, true);
    files.add(render::JobFileName(picture), record);
    files.commit();
}

py::array Trajectory(const model::Weights& w, double x, double y, int64_t steps)
{
    auto points = std::make_unique<std::vector<double>>(static_cast<size_t>(steps + 1) * 2);
    double* p = points->data();
    {
        py::gil_scoped_release free;
        p[0] = x;
        p[1] = y;
        bool ok = true;
        for (int64_t k = 1; k <= steps; ++k) {
            model::kernel::MapStep(w.data(), x, y, ok);
            if (!ok) {
                try {
                    model::ThrowOrbitFailed();
                } catch (const model::RuntimeError& e) {
                    throw OrbitFailure(std::string(e.what()) + " At step "
                                       + std::to_string(k) + ".");
                }
            }
            p[2 * k] = x;
            p[2 * k + 1] = y;
            if (k % (1 << 22) == 0)
                withPython([] {});
        }
    }
    const auto rows = static_cast<py::ssize_t>(steps + 1);
    return py::array(py::dtype("f8"), {rows, py::ssize_t(2)}, p, owning(std::move(points)));
}

int Period(const model::Weights& w, double x, double y, int iterations, int accuracy,
           int maxPeriod)
{
    py::gil_scoped_release free;
    bool failed;
    int cls;
    if (maxPeriod == model::kWindowPeriodCap) {
        const auto orbit = model::kernel::Classify(w, iterations, accuracy, x, y, false);
        failed = orbit.failed;
        cls = orbit.cls;
    } else {
        const auto orbit = model::kernel::ClassifyLong(w, iterations, accuracy, maxPeriod, x, y);
        failed = orbit.failed;
        cls = orbit.cls;
    }
    if (failed) {
        try {
            model::ThrowOrbitFailed();
        } catch (const model::RuntimeError& e) {
            throw OrbitFailure(e.what());
        }
    }
    return cls;
}

} // namespace pyvt
