// Python arguments read as the command line reads its options.
//
// A Python value becomes the text the command line would have been given:
// a str as it stands, an int in decimal, a float (a numpy scalar too) in the
// shortest text that reads back to the same double. The renderer's own
// readers then take the text, so every keyword has the command line's
// ranges, defaults and messages.
#pragma once

#include "render/job.h"

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace pyvt {

namespace py = pybind11;

// What kind of value an option takes.
enum class ValueKind { Number, Flag, Word };

// The texts of value for an option of count values: one value, or a
// sequence (list, tuple, numpy array) of exactly count of them. Throws
// render::UsageError naming the option for a value of the wrong type.
std::vector<std::string> TextsOf(const std::string& option, py::handle value, ValueKind kind,
                                 int count);

// A keyword of a function as its command-line option: "max_period" is "--max-period".
std::string OptionOf(const std::string& keyword);
// And back: "--max-period" (or "max-period") is "max_period".
std::string KeywordOf(const std::string& option);

// The job that mode and the keyword arguments ask for, checked as the command
// line checks it (render::UsageError). Keywords given as None are left out.
render::Job JobOf(const std::string& mode, const py::dict& options);

// The job as keyword arguments: {"mode": ..., option: value, ...} with the
// values the job record holds, so that render(**JobKeywords(job)) renders it
// again.
py::dict JobKeywords(const render::Job& job);

// One line per option of render(): keyword, the values it takes, help text.
std::string OptionsHelp();

// A whole number in lo..hi, read strictly from a Python value.
int WholeNumber(const std::string& option, py::handle value, int lo, int hi);

} // namespace pyvt
