// What a figure of a render needs from the compute core: the job record as
// the renderer writes it, and the colours of the pictures' keys, taken from
// the functions that colour the pictures themselves.
#pragma once

#include <pybind11/pybind11.h>

namespace pyvt {

void RegisterFigures(pybind11::module_& m);

} // namespace pyvt
