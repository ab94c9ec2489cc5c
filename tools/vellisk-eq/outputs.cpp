// The texts vellisk-eq writes: the equalisers' files, the predicted response, the JSON report
// and the printed report's lines.
#include "outputs.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "common/console.h"
#include "texts.h"

namespace vellisk {

namespace {

// A parameter as the fit left it: a multiple of its step, at most 12 significant digits.
std::string value(double x) { return formatted("%.12g", x); }

const char* camilla_type(EqFilterType t) {
  return t == EqFilterType::peaking ? "Peaking" : t == EqFilterType::low_shelf ? "Lowshelf" : "Highshelf";
}

const char* target_name(const EqRequest& r) {
  return r.target == EqTarget::flat ? "flat" : r.target == EqTarget::file ? "file" : "house";
}

std::string filter_words(const EqFilter& f) {
  return std::string(apo_type(f.type)) + " Fc " + value(f.frequency_hz) + " Hz Gain " +
         value(f.gain_db) + " dB Q " + value(f.q);
}

}  // namespace

std::size_t lowest_rate(const std::vector<double>& rates) {
  return static_cast<std::size_t>(std::min_element(rates.begin(), rates.end()) - rates.begin());
}

const char* apo_type(EqFilterType t) {
  return t == EqFilterType::peaking ? "PK" : t == EqFilterType::low_shelf ? "LSC" : "HSC";
}

std::string apo_text(const EqCorrection& c) {
  std::string t = "Preamp: " + value(c.preamp_db) + " dB\n";
  for (std::size_t i = 0; i < c.filters.size(); ++i) {
    t += "Filter " + std::to_string(i + 1) + ": ON " + filter_words(c.filters[i]) + "\n";
  }
  return t;
}

std::string camilladsp_text(const EqCorrection& c, const std::string& fir) {
  std::string t = std::string("# ") + kEqVersion + ": the correction's filters, in the order they apply\n";
  t += "filters:\n  preamp:\n    type: Gain\n    parameters:\n      gain: " + value(c.preamp_db) + "\n";
  for (std::size_t i = 0; i < c.filters.size(); ++i) {
    const EqFilter& f = c.filters[i];
    t += "  eq" + std::to_string(i + 1) + ":\n    type: Biquad\n    parameters:\n      type: " +
         camilla_type(f.type) + "\n      freq: " + value(f.frequency_hz) + "\n      gain: " +
         value(f.gain_db) + "\n      q: " + value(f.q) + "\n";
  }
  if (!fir.empty()) {
    t += "  fir:\n    type: Conv\n    parameters:\n      type: Wav\n      filename: " +
         nlohmann::json(fir).dump() + "\n";
    // The FIR is a correction of its own, with its gain in it: the pipeline applies it alone.
    return t + "pipeline:\n  - type: Filter\n    channels: [0]\n    names:\n      - fir\n";
  }
  t += "pipeline:\n  - type: Filter\n    channels: [0]\n    names:\n      - preamp\n";
  for (std::size_t i = 0; i < c.filters.size(); ++i) t += "      - eq" + std::to_string(i + 1) + "\n";
  return t;
}

std::string biquads_text(const EqCorrection& c, const std::vector<double>& rates) {
  std::string t = std::string("# ") + kEqVersion + ": each filter's coefficients b0 b1 b2 a1 a2 " +
                  "(a0 = 1), in the order they apply, after a gain of " + value(c.preamp_db) + " dB\n";
  for (const double rate : rates) {
    t += formatted("rate %.0f\n", rate);
    for (std::size_t i = 0; i < c.filters.size(); ++i) {
      const Biquad q = biquad_of(c.filters[i], rate);
      t += "# Filter " + std::to_string(i + 1) + ": " + filter_words(c.filters[i]) + "\n";
      t += formatted("%.17g %.17g %.17g %.17g %.17g\n", q.b0, q.b1, q.b2, q.a1, q.a2);
    }
  }
  return t;
}

std::string predicted_text(const EqCurve& p, const std::string& through) {
  std::string t = std::string("* ") + kEqVersion + "\n";
  t += "* Predicted: the measured response through " + through + "\n* Freq(Hz) SPL(dB)\n";
  for (std::size_t i = 0; i < p.frequencies.size(); ++i) {
    t += formatted("%.3f\t%.2f\n", p.frequencies[i], p.level[i]);
  }
  return t;
}

namespace {

const char* phase_name(EqPhase p) {
  return p == EqPhase::minimum ? "minimum" : p == EqPhase::linear ? "linear" : "mixed";
}

}  // namespace

std::string eq_json(const EqOptions& o, const EqPlan& plan, const EqCorrection& c,
                    const std::vector<EqFir>& firs) {
  nlohmann::ordered_json j;
  j["program"] = kEqVersion;
  j["inputs"] = o.inputs;
  j["responses"] = plan.responses;
  j["range_hz"] = {plan.low_hz, plan.high_hz};
  j["target"] = {{"kind", target_name(plan.request)}, {"offset_db", c.target_offset_db}};
  j["rates_hz"] = plan.request.rates;
  j["preamp_db"] = c.preamp_db;
  j["latency_samples"] = firs.empty() ? 0.0 : firs.front().latency_samples;
  nlohmann::ordered_json filters = nlohmann::ordered_json::array();
  for (const EqFilter& f : c.filters) {
    filters.push_back({{"type", camilla_type(f.type)}, {"frequency_hz", f.frequency_hz},
                       {"gain_db", f.gain_db}, {"q", f.q}});
  }
  j["filters"] = filters;
  if (!firs.empty()) {
    nlohmann::ordered_json after = nlohmann::ordered_json::array();
    for (const EqFir& f : firs) {
      after.push_back(
          {{"rate_hz", f.rate}, {"rms_db", f.after.rms_db}, {"max_db", f.after.max_db}});
    }
    j["fir"] = {{"length", o.fir_request.length},
                {"phase", phase_name(o.fir_request.phase)},
                {"gain_db", firs.front().preamp_db},
                {"latency_samples", firs.front().latency_samples},
                {"error_after", after}};
  }
  j["error_before"] = {{"rms_db", c.before.rms_db}, {"max_db", c.before.max_db}};
  j["error_after"] = {{"rms_db", c.after.rms_db}, {"max_db", c.after.max_db}};
  return j.dump(2) + "\n";
}

std::vector<std::string> report_lines(const EqOptions& o, const EqPlan& plan, const EqCorrection& c,
                                      const std::vector<EqFir>& firs) {
  std::vector<std::string> lines;
  lines.push_back(formatted("Inputs: %zu file%s, %d response%s averaged over %.3f Hz to %.3f Hz",
                            o.inputs.size(), o.inputs.size() == 1 ? "" : "s", plan.responses,
                            plan.responses == 1 ? "" : "s", plan.measured.frequencies.front(),
                            plan.measured.frequencies.back()));
  lines.push_back(formatted("Range: %.2f Hz to %.2f Hz; target %s, moved by %+.2f dB to the mean "
                            "of the 1/6-octave levels there",
                            plan.low_hz, plan.high_hz, target_name(plan.request), c.target_offset_db));
  lines.push_back(formatted("Filters: %zu of at most %d, preamp %s dB, latency 0 samples",
                            c.filters.size(), plan.request.filters, value(c.preamp_db).c_str()));
  for (std::size_t i = 0; i < c.filters.size(); ++i) {
    lines.push_back(formatted("  %2zu  ", i + 1) + filter_words(c.filters[i]));
  }
  if (!firs.empty()) {
    const EqFir& f = firs[lowest_rate(plan.request.rates)];
    lines.push_back(formatted("FIR: %d taps, %s phase, latency %g samples, gain %.2f dB",
                              o.fir_request.length, phase_name(o.fir_request.phase),
                              f.latency_samples, f.preamp_db));
    lines.push_back(formatted("  error through the FIR at %.0f Hz: rms %.2f dB, largest %.2f dB",
                              f.rate, f.after.rms_db, f.after.max_db));
  }
  lines.push_back(
      formatted("Error over the range: rms %.2f dB before, %.2f dB after the filters; "
                "largest %.2f dB before, %.2f dB after",
                c.before.rms_db, c.after.rms_db, c.before.max_db, c.after.max_db));
  return lines;
}

}  // namespace vellisk
