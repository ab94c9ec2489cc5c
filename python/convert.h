// Between Python and the library: sample arrays and arguments in.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

namespace vellisk {

// Samples from Python: 1-D (one channel) or frames x channels, of any floating-point dtype,
// as float32 in C order (copied only when they are not already). what names the argument in
// refusals, which are vellisk.Errors.
struct Samples {
  pybind11::array_t<float, pybind11::array::c_style | pybind11::array::forcecast> data;
  std::int64_t frames = 0;
  int channels = 0;
};
Samples samples_of(const pybind11::object& array, const char* what);

// o as T (int, double, bool or std::string), or a TypeError naming the argument, what it must
// be and the type given; an optional one is None or a T.
[[noreturn]] void refuse_type(const pybind11::handle& o, const std::string& name, const char* kind);
template <class T>
const char* kind_of() {
  if constexpr (std::is_same_v<T, int>) return "a 32-bit integer";
  if constexpr (std::is_same_v<T, double>) return "a real number";
  if constexpr (std::is_same_v<T, bool>) return "True or False";
  if constexpr (std::is_same_v<T, std::string>) return "a str";
}
template <class T>
T argument(const pybind11::handle& o, const std::string& name, const char* kind = kind_of<T>()) {
  try {
    return o.cast<T>();
  } catch (const pybind11::cast_error&) {
    refuse_type(o, name, kind);
  }
}
template <class T>
std::optional<T> maybe_argument(const pybind11::handle& o, const std::string& name) {
  if (o.is_none()) return std::nullopt;
  return argument<T>(o, name);
}

}  // namespace vellisk
