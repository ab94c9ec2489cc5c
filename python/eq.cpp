// The Python function vellisk.correction: vellisk-eq's fit of correction filters (and FIRs) to
// a measured response, on numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vellisk/eq.h"

namespace py = pybind11;

namespace vellisk {

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<double> vector_of(const Doubles& a, const char* what) {
  if (a.ndim() != 1) throw py::value_error(std::string(what) + " must be a 1-D array");
  return {a.data(), a.data() + a.size()};
}

py::array_t<double> array_of(const std::vector<double>& v) {
  return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

const char* type_name(EqFilterType t) {
  return t == EqFilterType::peaking ? "peaking" : t == EqFilterType::low_shelf ? "low_shelf" : "high_shelf";
}

EqPhase phase_of(const std::string& p) {
  if (p == "minimum") return EqPhase::minimum;
  if (p == "linear") return EqPhase::linear;
  if (p == "mixed") return EqPhase::mixed;
  throw py::value_error("phase (" + p + ") must be minimum, linear or mixed");
}

void read_target(const py::object& target, const std::optional<std::pair<double, double>>& house,
                 EqRequest& r) {
  if (house) {
    r.target = EqTarget::house;
    r.house_low_db = house->first;
    r.house_high_db = house->second;
  } else if (!py::isinstance<py::str>(target)) {
    throw py::type_error("target must be \"flat\" or the name of a file of frequency and dB");
  } else if (const std::string t = target.cast<std::string>(); t != "flat") {
    r.target = EqTarget::file;
    r.target_file = t;
  }
}

py::dict result_of(const EqPlan& plan, const EqCorrection& c, const std::vector<EqFir>& firs) {
  py::list filters;
  for (const EqFilter& f : c.filters) {
    py::dict d;
    d["type"] = type_name(f.type);
    d["frequency_hz"] = f.frequency_hz;
    d["gain_db"] = f.gain_db;
    d["q"] = f.q;
    filters.append(d);
  }
  py::dict out;
  out["filters"] = filters;
  out["preamp_db"] = c.preamp_db;
  out["range_hz"] = py::make_tuple(plan.low_hz, plan.high_hz);
  out["target_offset_db"] = c.target_offset_db;
  out["error_before"] = py::dict(py::arg("rms_db") = c.before.rms_db, py::arg("max_db") = c.before.max_db);
  out["error_after"] = py::dict(py::arg("rms_db") = c.after.rms_db, py::arg("max_db") = c.after.max_db);
  out["predicted"] = py::make_tuple(array_of(c.predicted.frequencies), array_of(c.predicted.level));
  py::list fir_list;
  for (const EqFir& f : firs) {
    py::dict d;
    d["rate"] = f.rate;
    d["taps"] = py::array_t<float>(static_cast<py::ssize_t>(f.taps.size()), f.taps.data());
    d["latency_samples"] = f.latency_samples;
    d["gain_db"] = f.preamp_db;
    d["error_after"] =
        py::dict(py::arg("rms_db") = f.after.rms_db, py::arg("max_db") = f.after.max_db);
    fir_list.append(d);
  }
  out["fir"] = firs.empty() ? py::object(py::none()) : py::object(fir_list);
  return out;
}

constexpr const char* kCorrectionDoc =
    R"(correction(frequencies, level, *, target="flat", house=None, range=None, filters=10,
max_boost=0, max_cut=20, q_range=(0.5, 10), gain_step=0, frequency_step=0, shelves=False,
rates=(48000,), fir_length=None, phase="minimum", mixed_above=300)

vellisk-eq's correction of a measured response (frequencies in Hz, ascending, and level in
dB): RBJ cookbook peaking (and with shelves, shelving) filters fitted to the target ("flat",
the name of a file of frequency and dB, or house=(LF_DB, HF_DB)) over range=(LO, HI) (default:
the response's band), the target aligned by the mean of the 1/6-octave levels there. The
keywords are vellisk-eq's options. Returns a dict: filters (a list of dicts of type,
frequency_hz, gain_db, q, in the order they apply), preamp_db, range_hz, target_offset_db,
error_before and error_after (dicts of rms_db and max_db over the range), predicted (arrays of
frequency and level through the filters and the preamp) and fir: with fir_length, a list of
dicts of rate, taps (float32), latency_samples, gain_db and error_after (through that FIR),
one a rate; else None. Raises
ValueError with vellisk-eq's message (naming its options) for a setting it refuses.)";

}  // namespace

void add_correction(py::module_& m) {
  m.def(
      "correction",
      [](const Doubles& frequencies, const Doubles& level, const py::object& target,
         std::optional<std::pair<double, double>> house, std::optional<std::pair<double, double>> range,
         int filters, double max_boost, double max_cut, std::pair<double, double> q_range,
         double gain_step, double frequency_step, bool shelves, std::vector<double> rates,
         std::optional<int> fir_length, const std::string& phase, double mixed_above) {
        EqRequest r;
        read_target(target, house, r);
        if (range) std::tie(r.range_low_hz, r.range_high_hz) = *range;
        r.filters = filters;
        r.max_boost_db = max_boost;
        r.max_cut_db = max_cut;
        std::tie(r.q_low, r.q_high) = q_range;
        r.gain_step_db = gain_step;
        r.frequency_step_hz = frequency_step;
        r.shelves = shelves;
        r.rates = std::move(rates);
        const EqPlan plan = plan_correction(r, EqCurve{vector_of(frequencies, "frequencies"), vector_of(level, "level")});
        FirRequest fir;
        if (fir_length) {
          fir.length = *fir_length;
          fir.phase = phase_of(phase);
          fir.mixed_above_hz = mixed_above;
          check_fir(plan, fir);
        }
        EqCorrection c;
        std::vector<EqFir> firs;
        {
          py::gil_scoped_release free;
          c = fit_correction(plan);
          if (fir_length) firs = design_fir(plan, c, fir);
        }
        return result_of(plan, c, firs);
      },
      kCorrectionDoc, py::arg("frequencies"), py::arg("level"), py::kw_only(),
      py::arg("target") = "flat", py::arg("house") = py::none(), py::arg("range") = py::none(),
      py::arg("filters") = 10, py::arg("max_boost") = 0.0, py::arg("max_cut") = 20.0,
      py::arg("q_range") = std::pair<double, double>(0.5, 10), py::arg("gain_step") = 0.0,
      py::arg("frequency_step") = 0.0, py::arg("shelves") = false,
      py::arg("rates") = std::vector<double>{48000}, py::arg("fir_length") = py::none(),
      py::arg("phase") = "minimum", py::arg("mixed_above") = 300.0);
}

}  // namespace vellisk
