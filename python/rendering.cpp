#include "python/rendering.h"

#include "model/engine.h"
#include "model/long_period.h"
#include "model/network.h"
#include "model/numbers.h"
#include "plots/canvas.h"
#include "render/analyses.h"
#include "render/command_line.h"
#include "render/npy.h"
#include "render/options.h"
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

} // namespace

void SetRunSeconds(double seconds) { runSeconds = seconds; }

Result RenderJob(const render::Job& job, int threads, const py::object& progress)
{
    const render::Plan plan = render::MakePlan(job);
    auto canvas = std::make_unique<plots::Canvas>(plan.pixels, plan.pixels);
    auto classes =
        std::make_unique<render::NpyArray>(plan.row->classType, plan.pixels, plan.pixels);
    const bool line = py::isinstance<py::bool_>(progress) && progress.cast<bool>();
    const bool callback = !line && PyCallable_Check(progress.ptr());
    Result r;
    r.threads = render::ThreadsFor(threads);
    if (const std::string note = render::ThreadsNote(threads, r.threads); !note.empty())
        if (PyErr_WarnEx(PyExc_RuntimeWarning, note.c_str(), 1) != 0)
            throw py::error_already_set();
    render::Progress shown(plan.dots(), line);
    const auto begin = Clock::now();
    {
        py::gil_scoped_release free;
        // Runs of dots sized by time, which may end inside a column: the same
        // picture, since dots may be evaluated in any order and runs, and are
        // committed by whole columns in order.
        auto between = [&](int64_t done) {
            shown.update(done);
            withPython([&] {
                if (callback)
                    progress(static_cast<double>(done) / static_cast<double>(plan.dots()));
            });
        };
        int64_t run = 0;
        auto runSize = [&](int64_t n, double seconds, int64_t most) {
            return run = nextRun(run, n, seconds, most);
        };
        model::RunThreads team(r.threads);
        r.analyses = nlohmann::json::object();
        team.run([&] {
            render::Render(plan, *canvas, classes.get(), between, runSize);
            shown.finish();
            // What the command line adds after the dots: curves, statistics, cycles.
            render::Analyse(plan, *canvas, classes.get(), r.analyses, nullptr);
        });
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
    render::Rendered rendered;
    rendered.canvas = result.canvas;
    rendered.classes = result.npy;
    rendered.seconds = result.seconds;
    rendered.threads = result.threads;
    rendered.analyses = &result.analyses;
    render::WriteRender(request, rendered);
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
