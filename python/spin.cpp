// vellisk.spin: the CTA-2034-A curves, the rating and the beamwidths of responses at angles, as
// numpy arrays and dicts; refusals raise vellisk.Error (a ValueError) with vellisk-spin's line.
#include "spin.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "vellisk/response.h"
#include "vellisk/spin.h"

namespace py = pybind11;

namespace vellisk {
namespace {

py::array_t<double> array_of(const std::vector<double>& v) {
  return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

py::dict curves_of(const SpinCurves& c) {
  py::dict d;
  const std::pair<const char*, const std::vector<double>*> columns[] = {
      {"on_axis", &c.on_axis}, {"listening_window", &c.listening_window}, {"floor_bounce", &c.floor_bounce},
      {"ceiling_bounce", &c.ceiling_bounce}, {"front_wall", &c.front_wall}, {"side_wall", &c.side_wall},
      {"rear_wall", &c.rear_wall}, {"early_reflections", &c.early_reflections},
      {"horizontal_early_reflections", &c.horizontal_early_reflections},
      {"vertical_early_reflections", &c.vertical_early_reflections}, {"sound_power", &c.sound_power},
      {"predicted_in_room", &c.predicted_in_room}, {"erdi", &c.erdi}, {"spdi", &c.spdi}};
  for (const auto& [name, column] : columns) d[name] = array_of(*column);
  return d;
}

py::object rating_of(const SpinCurves& c) {
  if (check_rating_range(c.frequencies.front(), c.frequencies.back())) return py::none();
  const PreferenceRating r = preference_rating(c);
  py::dict d;
  d["rating"] = r.rating;
  d["rating_with_subwoofer"] = r.rating_with_subwoofer;
  d["nbd_on_db"] = r.nbd_on;
  d["nbd_pir_db"] = r.nbd_pir;
  d["lfx_hz"] = r.lfx_hz;
  d["lfx"] = r.lfx;
  d["lfx_below_grid"] = r.lfx_below_grid;
  d["sm_pir"] = r.sm_pir;
  return d;
}

py::dict spin(const std::vector<std::string>& files, const std::optional<std::string>& angles,
              bool allow_missing, int points, const std::optional<double>& gate) {
  if (gate) {
    if (std::optional<Problem> p = check_setting(Setting::gate, *gate)) throw Error(*p);
  }
  SpinOptions o;
  o.allow_missing = allow_missing;
  o.points_per_octave = points;
  SpinSet set;
  {
    py::gil_scoped_release unlocked;
    set = make_spin_set(read_angle_responses(files, angles.value_or(""), gate.value_or(0)), o);
  }
  const SpinCurves c = spin_curves(set);
  const Beamwidths b = beamwidths(set);
  py::dict out;
  out["frequency_hz"] = array_of(c.frequencies);
  out["curves"] = curves_of(c);
  out["rating"] = rating_of(c);
  py::dict widths;
  widths["frequency_hz"] = array_of(b.frequencies);
  widths["horizontal_deg"] = array_of(b.horizontal_deg);
  widths["vertical_deg"] = array_of(b.vertical_deg);
  out["beamwidths"] = widths;
  py::list filled;
  for (const SpinAngle& a : set.filled_in) filled.append(spin_angle_text(a));
  out["filled_in"] = filled;
  return out;
}

constexpr const char* kSpinDoc = R"(spin(files, *, angles=None, allow_missing=False, points=20, gate=None)

A loudspeaker's directivity from its responses every 10 degrees of both orbits, as vellisk-spin
computes it: files are .frd or .txt files whose names end in their angles ("name_H 30.frd",
"name_V -10.txt", or the names of an angles file of lines "H 30 name"), or tables of one
orbit's angles ("SPL Horizontal.txt"). Returns a dict: frequency_hz (the grid, points an
octave; 0: the inputs' own), curves (a dict of the CTA-2034-A curves in dB, vellisk-spin's
--cta columns), rating (Olive's preference rating and its parts, as vellisk-spin's --json; None
when the responses do not reach from 100 Hz to 16 kHz), beamwidths (frequency_hz,
horizontal_deg, vertical_deg: -6 dB per 1/3 octave) and filled_in (the angles allow_missing
filled in). gate: read the response WAV files among files gated at this many ms after their
arrival, as vellisk-spin --gate reads them (None: not gated). Raises vellisk.Error (a
ValueError) with vellisk-spin's line for a value, a file's content or a set it refuses, and
OSError for a file that cannot be read.)";

}  // namespace

void register_spin(py::module_& m) {
  m.def("spin", &spin, kSpinDoc, py::arg("files"), py::kw_only(), py::arg("angles") = py::none(),
        py::arg("allow_missing") = false, py::arg("points") = 20, py::arg("gate") = py::none());
}

}  // namespace vellisk
