// Python arguments read as the command line reads its options.
//
// A keyword is an option of the renderer's option table, with "_" for "-".
// A Python value becomes the texts the command line would have been given:
// a str as it stands, an int in decimal, a float (a numpy scalar too) in the
// shortest text that reads back as the same double, True or False for a
// flag. The table's readers then take the texts, so every keyword has the
// command line's reading, range, default and messages.
#pragma once

#include "render/options.h"

#include <nlohmann/json_fwd.hpp>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <string_view>

namespace pyvt {

namespace py = pybind11;

// The request that mode and the keyword arguments ask for, checked as the
// command line checks it (render::UsageError). Keywords given as None are
// left at their defaults.
render::Request RequestOf(const std::string& mode, const py::dict& options);

// The job as keyword arguments: {"mode": ..., keyword: value, ...}, the
// options its mode reads with the values the job record holds, so that
// render(**JobKeywords(job)) renders it again.
py::dict JobKeywords(const render::Job& job);

// A JSON value as Python's: numbers, texts, lists and dicts.
py::object FromJson(const nlohmann::json& value);

// One line per keyword of render(), from the option table.
std::string OptionsHelp();
// The table of `veltrane-render MODE --help` as dicts (option, keyword or
// None for a file, names, help, range, default); without a mode, that of the
// options every mode reads.
py::list OptionTable(const std::optional<std::string>& mode);

// An option's name as a keyword: "max-period" is "max_period".
std::string KeywordOf(std::string_view name);

// A number, and a whole number in lo..hi, read strictly from a Python value;
// messages name the argument as name.
double Number(const std::string& name, py::handle value);
int WholeNumber(const std::string& name, py::handle value, int lo, int hi);

} // namespace pyvt
