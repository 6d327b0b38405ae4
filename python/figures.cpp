#include "python/figures.h"

#include "model/long_period.h"
#include "model/scales.h"
#include "python/arguments.h"
#include "python/rendering.h"
#include "render/analyses.h"
#include "render/command_line.h"
#include "render/options.h"

#include <nlohmann/json.hpp>
#include <pybind11/stl.h>

#include <array>
#include <cstdint>

#ifndef VELTRANE_VERSION
#define VELTRANE_VERSION "unknown"
#endif

namespace pyvt {

namespace py = pybind11;

namespace {

std::array<int, 3> rgb(model::Color c)
{
    return {model::RedOf(c), model::GreenOf(c), model::BlueOf(c)};
}

// The record the renderer writes beside the picture of this result, with no
// files named: the job's options, the colour scales and what the analyses
// added.
py::object record(const Result& result)
{
    render::Request request;
    request.job = result.job;
    const std::vector<uint8_t> bytes =
        render::RecordBytes(request, result.seconds, result.threads, 1, result.analyses);
    return FromJson(nlohmann::json::parse(bytes.begin(), bytes.end()));
}

} // namespace

void RegisterFigures(py::module_& m)
{
    m.attr("__version__") = VELTRANE_VERSION;
    m.def("record", &record, py::arg("result"),
          "record(result) -> dict\n\n"
          "The job record of a result as veltrane-render writes it beside the picture\n"
          "(\"mode\", \"options\", the colour scales and what the analyses add), with no\n"
          "files named.");
    m.def(
        "period_colour",
        [](int period) {
            if (period < 0 || period > model::kernel::kMaxPeriodCap)
                throw py::value_error("period_colour: the period lies outside 0..4096.");
            return rgb(model::LongPeriodColor(period));
        },
        py::arg("period"),
        "period_colour(period) -> (r, g, b)\n\n"
        "The colour of a period class in the pictures: 0 (no period found) black,\n"
        "1..16 the window's palette, 17..4096 the long-period scale.");
    m.def(
        "stability_colour",
        [](int attracting, int fixedPoints) {
            if (attracting < 0 || fixedPoints < attracting)
                throw py::value_error("stability_colour: expects 0 <= attracting <= fixed_points.");
            return rgb(render::StabilityColour(attracting, fixedPoints));
        },
        py::arg("attracting"), py::arg("fixed_points"),
        "stability_colour(attracting, fixed_points) -> (r, g, b)\n\n"
        "The colour of a stability dot with that many attracting fixed points out\n"
        "of that many fixed points in all.");
    m.def(
        "orbit_density_colour",
        [](uint64_t count, uint64_t most) { return rgb(model::OrbitDensityColor(count, most)); },
        py::arg("count"), py::arg("most"),
        "orbit_density_colour(count, most) -> (r, g, b)\n\n"
        "The colour of an orbit-diagram pixel that count states fell into, out of at\n"
        "most most: white for none, darker for more.");
}

} // namespace pyvt
