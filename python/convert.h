// Between numpy and the library: sample arrays in, responses and JSON reports out.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace vellisk {

// Samples from Python: 1-D (one channel) or frames x channels, of any floating-point dtype,
// as float32 in C order (copied only when they are not already). what names the argument in
// refusals, which are ValueErrors.
struct Samples {
  pybind11::array_t<float, pybind11::array::c_style | pybind11::array::forcecast> data;
  std::int64_t frames = 0;
  int channels = 0;
};
Samples samples_of(const pybind11::object& array, const char* what);

// A JSON value as Python objects: dicts (in the document's order), lists, floats, ints, bools,
// strings and None.
pybind11::object python_of(const nlohmann::ordered_json& json);

}  // namespace vellisk
