// The compiled core of the Python package `veltrane` (veltrane._core): the
// renderer's compute core in the calling process, with keyword arguments read
// as the command line reads its options. The package re-exports it.
#include "model/errors.h"
#include "python/arguments.h"
#include "python/figures.h"
#include "python/rendering.h"
#include "render/job.h"
#include "render/record.h"
#include "render/tiles.h"

#include <pybind11/stl.h>

#include <climits>

namespace py = pybind11;

namespace {

// The module's exception types; they live as long as the interpreter.
PyObject* usageError = nullptr;
PyObject* orbitError = nullptr;

void raiseOrbitError(const char* what, py::object column, py::object row, py::object values)
{
    py::object error = py::reinterpret_borrow<py::object>(orbitError)(what);
    error.attr("column") = std::move(column);
    error.attr("row") = std::move(row);
    error.attr("values") = std::move(values);
    PyErr_SetObject(orbitError, error.ptr());
}

void translate(std::exception_ptr p)
{
    try {
        std::rethrow_exception(p);
    } catch (const render::UsageError& e) {
        PyErr_SetString(usageError, e.what());
    } catch (const render::DotFailure& e) {
        raiseOrbitError(e.what(), py::int_(e.pixelColumn), py::int_(e.pixelRow),
                        py::make_tuple(e.horizontal, e.vertical));
    } catch (const pyvt::OrbitFailure& e) {
        raiseOrbitError(e.what(), py::none(), py::none(), py::none());
    } catch (const model::Cancelled&) {
        if (!PyErr_Occurred())
            PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const model::RuntimeError& e) {
        using Kind = model::RuntimeError::Kind;
        PyErr_SetString(e.kind() == Kind::FileNotWritten ? PyExc_OSError
                        : e.kind() == Kind::OutOfMemory  ? PyExc_MemoryError
                                                         : PyExc_ArithmeticError,
                        e.what());
    }
}

pyvt::Result renderMode(const std::string& mode, const py::kwargs& kwargs)
{
    py::dict options;
    py::object progress = py::none();
    for (auto [key, value] : kwargs) {
        if (py::isinstance<py::str>(key) && key.equal(py::str("progress")))
            progress = py::reinterpret_borrow<py::object>(value);
        else
            options[key] = value;
    }
    if (!progress.is_none() && !py::isinstance<py::bool_>(progress)
        && !PyCallable_Check(progress.ptr()))
        throw render::UsageError("progress: expects True, False or a function of the fraction "
                                 "done.");
    const render::Request request = pyvt::RequestOf(mode, options);
    return pyvt::RenderJob(request.job, request.threads, progress);
}

// A file name given as a str, bytes or path object, as the file system spells it.
std::string fileName(const char* argument, py::handle name)
{
    if (!py::isinstance<py::str>(name) && !py::isinstance<py::bytes>(name)
        && !py::hasattr(name, "__fspath__"))
        throw render::UsageError(std::string(argument) + ": expects a file name, not "
                                 + std::string(py::str(py::type::handle_of(name).attr("__name__")))
                                 + ".");
    py::object bytes;
    try {
        bytes = py::module_::import("os").attr("fsencode")(name);
    } catch (const py::error_already_set&) {
        throw render::UsageError(std::string(argument)
                                 + ": the name cannot be spelt as a file name on this system.");
    }
    if (!py::isinstance<py::bytes>(bytes))
        throw render::UsageError(std::string(argument) + ": expects a file name, not "
                                 + std::string(py::str(py::type::handle_of(name).attr("__name__")))
                                 + ".");
    return render::FileArgument(argument, bytes.cast<std::string>());
}

void save(const pyvt::Result& result, py::handle picture, py::handle classes)
{
    pyvt::Save(result, fileName("picture", picture),
               classes.is_none() ? std::nullopt
                                 : std::optional<std::string>(fileName("classes", classes)));
}

py::array trajectory(py::object w, py::object x0, py::object steps)
{
    // Read as parametric reads its parameters and start point.
    py::dict options;
    options["w"] = w;
    options["x0"] = x0;
    const render::Job job = pyvt::RequestOf("parametric", options).job;
    return pyvt::Trajectory(job.w, job.x0[0], job.x0[1],
                            pyvt::WholeNumber("steps", steps, 0, INT_MAX - 1));
}

int period(py::object w, py::object x, py::object y, py::object iterations,
           py::object accuracy, py::object maxPeriod)
{
    // The settings as render() reads them, with its ranges and messages.
    py::dict options;
    options["w"] = w;
    options["iterations"] = iterations;
    options["accuracy"] = accuracy;
    options["max_period"] = maxPeriod;
    const render::Job job = pyvt::RequestOf("veltrane", options).job;
    return pyvt::Period(job.w, pyvt::Number("x", x), pyvt::Number("y", y), job.iterations,
                        job.accuracy, job.maxPeriod);
}

const std::string& renderDoc()
{
    static const std::string doc =
        "render(mode, **options) -> Result\n\n"
        "Renders one picture of a mode of veltrane-render in this process, on every\n"
        "core, as the command line renders it: the same pixels and classes, bit for\n"
        "bit. Modes: " + render::ModeNames() + ".\n\n"
        "Options, as on the command line, with underscores for dashes. A number may be\n"
        "an int, a float, a numpy scalar or a text read as the command line reads it;\n"
        "a list option takes a sequence of that many numbers. None leaves an option\n"
        "at its default. An option in [...] applies to those modes only.\n\n"
        + pyvt::OptionsHelp() +
        "    progress: True draws the renderer's progress line on stderr; a function\n"
        "        is called with the fraction done between tiles\n\n"
        "Raises UsageError for an option that is unknown, of the wrong type or out of\n"
        "range, before anything is computed; OrbitError when a dot's orbit cannot be\n"
        "iterated; KeyboardInterrupt on Ctrl-C, within a fraction of a second.\n"
        "The GIL is released while the picture is computed.\n";
    return doc;
}

} // namespace

PYBIND11_MODULE(_core, m)
{
    // Every docstring starts with its own signature, in Python's terms.
    py::options options;
    options.disable_function_signatures();
    m.doc() = "The dynamics of a network of two tanh neurons with bias: the pictures of\n"
              "veltrane-render as numpy arrays, computed in this process.\n\n"
              "    import veltrane as vt\n"
              "    r = vt.render(\"veltrane\", w=(0.4, 1.9, -2.7, -4.311, -0.9, 1.8), pixels=800)\n"
              "    r.image, r.classes, r.job\n"
              "    vt.save(r, \"out.png\", classes=\"out.npy\")\n";

    usageError = PyErr_NewExceptionWithDoc(
        "veltrane.UsageError",
        "An option that cannot be used as given; the message is the renderer's.",
        PyExc_ValueError, nullptr);
    orbitError = PyErr_NewExceptionWithDoc(
        "veltrane.OrbitError",
        "An orbit that could not be iterated (a floating-point error). In a picture,\n"
        "column and row give the failed dot's centre and values its two plane values\n"
        "(horizontal, vertical); elsewhere they are None.",
        PyExc_ArithmeticError, nullptr);
    if (!usageError || !orbitError)
        throw py::error_already_set();
    m.add_object("UsageError", py::handle(usageError));
    m.add_object("OrbitError", py::handle(orbitError));
    py::register_exception_translator(translate);

    m.attr("modes") = py::tuple(py::str(render::ModeNames()).attr("split")(", "));

    py::class_<pyvt::Result>(m, "Result",
                             "A rendered picture: image, classes and the job that made it.")
        .def_property_readonly(
            "image", [](const pyvt::Result& r) { return r.image; },
            "uint8 (N, N, 3): the picture's red, green and blue, the pixels of its PNG.\n"
            "Read-only; a view of the renderer's picture, which it keeps alive.")
        .def_property_readonly(
            "classes", [](const pyvt::Result& r) { return r.classes; },
            "(N, N): what --classes writes, the same dtype (uint8, uint16 or float32);\n"
            "for continuation int32 (steps, grid, grid); for stability with cycles=K\n"
            "uint8 (N, N, 4, K).\n"
            "Read-only; a view of the renderer's array, which it keeps alive.")
        .def_property_readonly(
            "job", [](const pyvt::Result& r) { return pyvt::JobKeywords(r.job); },
            "dict: the mode and the options it reads, as the job record holds them;\n"
            "render(**r.job) renders the same picture again.")
        .def_property_readonly(
            "analyses", [](const pyvt::Result& r) { return pyvt::FromJson(r.analyses); },
            "dict: what the analyses add to the job record: stability's colour scheme\n"
            "and curves, the curves of parametric(curves=True), the statistics of\n"
            "stats=True, the cycles of cycles; empty for a picture alone.")
        .def_property_readonly(
            "curves_data", [](const pyvt::Result& r) { return r.curvesData; },
            "float64 (M, 5) or None: every located curve point of curves=True, as\n"
            "--curves-data writes it: horizontal and vertical parameter value, period,\n"
            "type (1 fold, 2 flip, 3 Neimark-Sacker), argument of the critical multiplier.")
        .def("__repr__", [](const pyvt::Result& r) {
            return "<veltrane.Result " + std::string(render::ModeName(r.job.mode)) + " "
                   + std::to_string(r.job.pixels) + " x " + std::to_string(r.job.pixels) + ">";
        });

    m.def("_set_run_seconds", &pyvt::SetRunSeconds, py::arg("seconds"),
          "_set_run_seconds(seconds)\n\nFor tests: the time a run of dots between two "
          "checks for Ctrl-C aims at\n(0.1 s); 0 makes every run as short as it may be.");
    m.def("render", &renderMode, py::arg("mode"), renderDoc().c_str());
    m.def("options", &pyvt::OptionTable, py::arg("mode") = py::none(),
          "options(mode=None) -> list of dict\n\n"
          "The options a mode reads beyond the common ones, as `veltrane-render MODE\n"
          "--help` lists them, with the mode's ranges; without a mode, the common\n"
          "ones. Each a dict of option (\"--size\"), keyword (None for a file of the\n"
          "command line), names, help, range (\"1..100\" or None) and default (a text,\n"
          "or None for a flag or a file).");
    m.def(
        "cycles",
        [](const py::kwargs& options) {
            return pyvt::FromJson(
                renderMode("cycles", options).analyses.value("cycles", nlohmann::json::array()));
        },
        "cycles(**options) -> list of dict\n\n"
        "The periodic orbits at one parameter vector, as render(\"cycles\", **options)\n"
        "finds them: each a dict of period, points, multipliers ([re, im] pairs),\n"
        "type and basin_share.");
    m.def(
        "orbit", [](const py::kwargs& options) { return renderMode("orbit", options); },
        "orbit(**options) -> Result\n\n"
        "The orbit diagram over a parameter sweep: render(\"orbit\", **options);\n"
        "continue_=True continues the orbits from column to column.");
    m.def(
        "continuation",
        [](const py::kwargs& options) {
            const pyvt::Result r = renderMode("continuation", options);
            return py::make_tuple(pyvt::FromJson(r.analyses.at("continuation")), r.classes);
        },
        "continuation(**options) -> (dict, numpy.ndarray)\n\n"
        "Attractors followed over a parameter sweep, as render(\"continuation\",\n"
        "**options) follows them (sweep=(K, L, R), steps, grid, region, reverse,\n"
        "match_distance): the record (per identity its period, colour, first and last\n"
        "value, parents and fractions per value; the events) and the classes, int32\n"
        "(steps, grid, grid), the identity of each start at each value.");
    m.def(
        "stability", [](const py::kwargs& options) { return renderMode("stability", options); },
        "stability(**options) -> Result\n\n"
        "The fixed points over a parameter plane: render(\"stability\", **options).");
    m.def("save", &save, py::arg("result"), py::arg("picture"),
          py::arg("classes") = py::none(),
          "save(result, picture, classes=None)\n\n"
          "Writes the picture (.png or .bmp, by its name), its job record beside it\n"
          "(.json) and, when named, the classes (.npy), with the renderer's writers.\n"
          "Names may be str, bytes or path objects. Raises UsageError for a name that\n"
          "holds a NUL character or is no file name, naming the argument; OSError when\n"
          "a file cannot be written; no file is left half written. Ctrl-C raises\n"
          "KeyboardInterrupt, after the commit when it comes during it.");
    m.def("trajectory", &trajectory, py::arg("w"), py::arg("x0"), py::arg("steps"),
          "trajectory(w, x0, steps) -> numpy.ndarray\n\n"
          "The orbit of the network with parameters w (w11 w12 w21 w22 b1 b2) from the\n"
          "start point x0 = (x, y): float64 (steps + 1, 2), the start point first, then\n"
          "the point after every step. Raises OrbitError when a step overflows.");
    const render::Job defaults = render::DefaultJob();
    m.def("period", &period, py::arg("w"), py::arg("x"), py::arg("y"),
          py::arg("iterations") = defaults.iterations, py::arg("accuracy") = defaults.accuracy,
          py::arg("max_period") = defaults.maxPeriod,
          "period(w, x, y, iterations=1000, accuracy=8, max_period=16) -> int\n\n"
          "The period of the orbit from (x, y) as the pictures classify it: after\n"
          "iterations steps, the smallest period 1..max_period whose points agree to\n"
          "10^-accuracy, or 0 when there is none. The window's classifier at 16, the\n"
          "long-period classifier above. Raises OrbitError when a step overflows.");
    pyvt::RegisterFigures(m);
}
