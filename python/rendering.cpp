#include "python/rendering.h"

#include "model/engine.h"
#include "model/long_period.h"
#include "model/network.h"
#include "model/numbers.h"
#include "plots/canvas.h"
#include "render/command_line.h"
#include "render/npy.h"
#include "render/options.h"
#include "render/output.h"
#include "render/plan.h"
#include "render/progress.h"
#include "render/tiles.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <memory>
#include <vector>

namespace pyvt {

namespace {

using Clock = std::chrono::steady_clock;

// A tile takes about this long, so that Ctrl-C and the progress callback are
// served a few times a second whatever the mode costs per dot.
constexpr double kTileSeconds = 0.1;

// Runs fn with the GIL held: a pending signal raises its Python error first.
template <class Fn>
void withPython(Fn&& fn)
{
    py::gil_scoped_acquire held;
    if (PyErr_CheckSignals() != 0)
        throw py::error_already_set();
    fn();
}

// The columns of the next tile: scaled towards kTileSeconds from the last
// one's time, at most four times as many, and never more than the renderer's
// own tile (its bound on the results held).
int nextTile(int columns, double seconds, int most)
{
    const double scaled = seconds > 0 ? columns * (kTileSeconds / seconds) : 4.0 * columns;
    return static_cast<int>(std::clamp(scaled, 1.0, std::min(4.0 * columns, 1.0 * most)));
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

py::dtype dtypeOf(render::ClassType type)
{
    switch (type) {
    case render::ClassType::UInt8: return py::dtype("u1");
    case render::ClassType::UInt16: return py::dtype("<u2");
    default: return py::dtype("<f4");
    }
}

} // namespace

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
    render::Progress shown(plan.dots(), line);
    const auto begin = Clock::now();
    {
        py::gil_scoped_release free;
        // The renderer's loop (render::Render) with tiles sized by time: the
        // same picture, since tiles may be evaluated in any size and order.
        render::Committer committer(plan, *canvas, classes.get());
        const int most = render::TileColumns(plan);
        std::vector<render::DotResult> results(static_cast<size_t>(most) * plan.rows);
        int64_t done = 0;
        for (int c0 = 0, tile = 1; c0 < plan.columns;) {
            const int c1 = std::min(plan.columns, c0 + tile);
            const auto start = Clock::now();
            render::EvaluateTile(plan, c0, c1, results.data());
            committer.commit(c0, c1, results.data());
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            done += static_cast<int64_t>(c1 - c0) * plan.rows;
            shown.update(done);
            withPython([&] {
                if (callback)
                    progress(static_cast<double>(done) / static_cast<double>(plan.dots()));
            });
            tile = nextTile(c1 - c0, seconds, most);
            c0 = c1;
        }
        shown.finish();
    }

    Result r;
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
    auto* data = const_cast<uint8_t*>(classes->bytes().data() + classes->dataOffset());
    r.classes = readOnly(py::array(dtypeOf(plan.traits->classType), {n, n}, data,
                                   owning(std::move(classes))));
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
    const std::vector<uint8_t> record = render::RecordBytes(request, result.seconds, 1);
    render::FileSet files;
    if (classes)
        files.add(*classes, result.npy->bytes());
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
