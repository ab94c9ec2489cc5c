// The Python module's vellisk.spin: a loudspeaker's directivity from its responses at angles.
#pragma once

#include <pybind11/pybind11.h>

namespace vellisk {

// Adds spin to the module.
void register_spin(pybind11::module_& m);

}  // namespace vellisk
