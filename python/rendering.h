// What the Python functions compute: a render whose arrays own the
// renderer's buffers, its files, and the orbit of one start point.
#pragma once

#include "model/state.h"
#include "render/job.h"

#include <nlohmann/json.hpp>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace plots {
class Canvas;
}
namespace render {
class NpyArray;
}

namespace pyvt {

namespace py = pybind11;

// A rendered picture. The arrays are read-only views of the picture and the
// classes array as the renderer holds them (no copy): each keeps its buffer
// alive through the capsule that is its base.
struct Result {
    render::Job job;
    double seconds = 0;        // the time the picture took
    int threads = 1;           // the threads it took
    nlohmann::json analyses;   // what the analyses add to the job record
    py::array image;   // uint8 (N, N, 3): red, green, blue of every pixel
    py::array classes; // (N, N), the dtype of the classes file
    const plots::Canvas* canvas = nullptr;     // owned through image's base
    const render::NpyArray* npy = nullptr;     // owned through classes' base
};

// Renders job on threads threads (0: every core), with the GIL released.
// Between tiles, with the GIL held, a pending signal raises its Python error
// (Ctrl-C: KeyboardInterrupt) and progress, when callable, is called with the
// fraction done; progress=True draws the renderer's progress line on stderr.
Result RenderJob(const render::Job& job, int threads, const py::object& progress);

// The time a run of dots between two returns to Python aims at (0.1 s); 0
// makes every run as short as it may be, for tests.
void SetRunSeconds(double seconds);

// Writes the picture (its format by its extension), beside it the job record,
// and the classes when named, as the renderer writes them.
void Save(const Result& result, const std::string& picture,
          const std::optional<std::string>& classes);

// An orbit that could not be iterated outside a picture (a trajectory, one
// period): no pixel to name.
class OrbitFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The points of the orbit from (x, y): the start and steps steps after it,
// float64 (steps + 1, 2).
py::array Trajectory(const model::Weights& w, double x, double y, int64_t steps);

// The period of the orbit from (x, y): 1..maxPeriod, or 0 when none was
// found; the window's classifier at 16, the long-period classifier above.
int Period(const model::Weights& w, double x, double y, int iterations, int accuracy,
           int maxPeriod);

} // namespace pyvt
