// Between Python and the library: sample arrays and arguments in.
#include "convert.h"

#include <cstdio>
#include <limits>

#include "vellisk/problem.h"

namespace py = pybind11;

namespace vellisk {

namespace {

[[noreturn]] void refuse(const std::string& line) {
  throw Error(Problem(ProblemCode::invalid_recording, line));
}

}  // namespace

Samples samples_of(const py::object& array, const char* what) {
  const py::array given = py::array::ensure(array);
  if (!given) refuse(std::string(what) + " must be an array of samples");
  if (given.dtype().kind() != 'f') {
    refuse(std::string(what) + " must hold floating-point samples, full scale at 1 (" +
           std::string(py::str(given.dtype())) +
           " given); divide integer samples by their full scale");
  }
  if (given.ndim() != 1 && given.ndim() != 2) {
    refuse(std::string(what) + " must be 1-D (one channel) or frames x channels (" +
           std::to_string(given.ndim()) + " dimensions given)");
  }
  const py::ssize_t channels = given.ndim() == 2 ? given.shape(1) : 1;
  if (channels < 1 || channels > std::numeric_limits<int>::max()) {
    refuse(std::string(what) + " must have at least one channel (" + std::to_string(channels) +
           " given)");
  }
  Samples s;
  s.frames = given.shape(0);
  s.channels = static_cast<int>(channels);
  s.data = decltype(s.data)::ensure(given);
  if (!s.data) {
    // numpy could not allocate the float32 copy; ensure leaves no Python error set.
    char gb[32];
    std::snprintf(gb, sizeof gb, "%.3g",
                  static_cast<double>(s.frames) * static_cast<double>(channels) * 4e-9);
    const std::string shape = std::to_string(s.frames) + " frames x " + std::to_string(channels) +
                              (channels == 1 ? " channel" : " channels");
    PyErr_SetString(PyExc_MemoryError, (std::string(what) + " (" + shape + ") needs " + gb +
                                        " GB as 32-bit float samples, more than can be allocated")
                                           .c_str());
    throw py::error_already_set();
  }
  return s;
}

void refuse_type(const py::handle& o, const std::string& name, const char* kind) {
  std::string given = Py_TYPE(o.ptr())->tp_name;
  if (PyLong_Check(o.ptr())) given += " " + std::string(py::str(o));
  throw py::type_error(name + " must be " + kind + " (" + given + " given)");
}

}  // namespace vellisk
