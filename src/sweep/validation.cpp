// The checks that run before a design is reported or written.
#include "sweep/validation.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>

#include "sweep/design_text.h"
#include "sweep/inverse_gen.h"
#include "sweep/wav_header.h"

namespace vellisk {

namespace {

constexpr double kLengthLimit = 2147483648.0;  // 2^31: lengths are 32-bit signed
constexpr std::int64_t kMaxLength = 2147483647;

std::string text(double value) { return number_text(value); }

std::string text(std::int64_t value) { return std::to_string(value); }

struct NamedValue {
  const char* name;
  double value;
};

// The first of the values that is not finite, if any.
std::optional<NamedValue> first_non_finite(std::initializer_list<NamedValue> values) {
  for (const NamedValue& v : values) {
    if (!std::isfinite(v.value)) return v;
  }
  return std::nullopt;
}

std::string range_error(const SweepParams& p) {
  if (const auto bad = first_non_finite({{"rate", p.rate},
                                         {"amplitude", p.amplitude},
                                         {"hzstart", p.hzstart},
                                         {"hzend", p.hzend},
                                         {"duration", p.duration},
                                         {"silence", p.silence},
                                         {"leadin", p.leadin},
                                         {"leadout", p.leadout}})) {
    return std::string(bad->name) + " (" + text(bad->value) + ") must be a finite number";
  }
  // Larger samples cannot be written as float32: they would become infinite.
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  if (!(std::abs(p.amplitude) <= kFloatMax)) {
    return "amplitude (" + text(p.amplitude) +
           ") must not exceed the largest float32 in magnitude (" + text(kFloatMax) + ")";
  }
  if (!(p.rate > 0)) return "rate (" + text(p.rate) + ") must be greater than 0";
  const double sweep_product = p.rate * p.duration;
  const std::string sweep_text = "rate * duration (" + text(p.rate) + " * " + text(p.duration) +
                                 " = " + text(sweep_product) + ")";
  if (!(sweep_product >= 1)) return sweep_text + " must be at least 1 sample";
  if (!(sweep_product < kLengthLimit)) return sweep_text + " must be below 2147483648 samples";
  if (!(p.silence >= 0)) return "silence (" + text(p.silence) + ") must not be negative";
  const double silence_product = p.rate * p.silence;
  if (!(silence_product < kLengthLimit)) {
    return "rate * silence (" + text(p.rate) + " * " + text(p.silence) + " = " +
           text(silence_product) + ") must be below 2147483648 samples";
  }
  if (!(p.hzstart > 0)) return "hzstart (" + text(p.hzstart) + ") must be greater than 0";
  if (!(p.leadin >= 0)) return "leadin (" + text(p.leadin) + ") must not be negative";
  if (!(p.leadout >= 0)) return "leadout (" + text(p.leadout) + ") must not be negative";
  return "";
}

std::string relation_error(const SweepParams& p, const SweepDesign& d) {
  if (!(p.hzend > p.hzstart)) {
    return "hzend (" + text(p.hzend) + ") must be greater than hzstart (" + text(p.hzstart) + ")";
  }
  if (!(p.hzend <= p.rate / 2)) {
    return "hzend (" + text(p.hzend) + ") must not exceed half the sample rate (" +
           text(p.rate / 2) + ")";
  }
  const std::int64_t n = d.sweeplen;
  const std::int64_t total = n + 2 * std::int64_t{d.silencelen};
  if (total > kMaxLength) {
    return "sweep file length sweeplen + 2 * silencelen (" + text(n) + " + 2 * " +
           text(std::int64_t{d.silencelen}) + " = " + text(total) +
           ") must not exceed 2147483647 samples";
  }
  const struct {
    const char* name;
    double fraction;
    std::int64_t length;
  } tapers[] = {{"leadin", p.leadin, d.leadinlen}, {"leadout", p.leadout, d.leadoutlen}};
  for (const auto& taper : tapers) {
    if (taper.length == 1) {
      return std::string(taper.name) + " (" + text(taper.fraction) +
             ") gives a taper of 1 sample; a taper must be 0 or at least 2 samples long";
    }
  }
  const std::int64_t tapered = std::int64_t{d.leadinlen} + d.leadoutlen;
  if (tapered > n) {
    return "leadin + leadout (" + text(p.leadin) + " + " + text(p.leadout) + ") give tapers of " +
           text(std::int64_t{d.leadinlen}) + " + " + text(std::int64_t{d.leadoutlen}) +
           " samples, more than the sweep's " + text(n);
  }
  return "";
}

std::string derived_error(const SweepDesign& d) {
  if (const auto bad = first_non_finite({{"startomega", d.startomega},
                                         {"logratio", d.logratio},
                                         {"phasescale", d.phasescale},
                                         {"expstep", d.expstep},
                                         {"octavelen", d.octavelen},
                                         {"leadinstep", d.leadinstep},
                                         {"leadinstep2", d.leadinstep2},
                                         {"leadoutstep", d.leadoutstep},
                                         {"leadoutstep2", d.leadoutstep2},
                                         {"octaves", octaves(d)},
                                         {"normfactor", normfactor(d)}})) {
    return "hzstart and hzend (" + text(d.hzstart) + ", " + text(d.hzend) +
           ") give a design that cannot be computed: " + bad->name + " is " + text(bad->value);
  }
  return "";
}

}  // namespace

std::string design_error(const SweepParams& params, const SweepDesign& design) {
  std::string error = range_error(params);
  if (error.empty()) error = relation_error(params, design);
  if (error.empty()) error = derived_error(design);
  return error;
}

std::string wav_error(const SweepParams& p, const SweepDesign& d) {
  if (p.rate != std::floor(p.rate)) {
    return "rate (" + text(p.rate) + ") must be a whole number in a WAV file";
  }
  if (p.rate > kWavMaxRate) {
    return "rate (" + text(p.rate) +
           ") must not exceed 1073741823 in a WAV file, whose byte rate 4 * rate is a 32-bit "
           "field";
  }
  for (const DesignFile file : {DesignFile::sweep, DesignFile::inverse}) {
    const std::int64_t limit = wav_max_samples(design_info_list(p, file));
    const std::int64_t samples = file_samples(d, file);
    if (samples <= limit) continue;
    const std::string length = file == DesignFile::sweep
                                   ? "sweep file length sweeplen + 2 * silencelen (" +
                                         text(std::int64_t{d.sweeplen}) + " + 2 * " +
                                         text(std::int64_t{d.silencelen}) + " = " + text(samples)
                                   : "inverse file length sweeplen (" + text(samples);
    return length + ") must not exceed " + text(limit) +
           " samples in a WAV file, whose 32-bit sizes end at 4 GiB";
  }
  return "";
}

std::string measurement_error(const SweepParams& params) {
  if (params.amplitude == 0) {
    return "amplitude (0) must not be 0 for a measurement: a silent sweep measures nothing";
  }
  return "";
}

std::string drift_error(const SweepParams& params, double drift, const std::string& what) {
  if (!(std::abs(drift) <= kMaxDrift)) {
    return what + " is beyond 1000 ppm, more than any two clocks differ";
  }
  // At the recorder's clock the sweep is longer or shorter by the drift: a
  // sweep or taper of a sample or two may lose the samples it needs.
  const SweepDesign d = drift_design(params, drift);
  if (d.sweeplen < 1 || d.leadinlen == 1 || d.leadoutlen == 1 ||
      std::int64_t{d.leadinlen} + d.leadoutlen > d.sweeplen ||
      first_non_finite({{"", d.expstep},
                        {"", d.octavelen},
                        {"", d.leadinstep},
                        {"", d.leadinstep2},
                        {"", d.leadoutstep},
                        {"", d.leadoutstep2}})) {
    return what + " cannot be corrected on this sweep: at the recorder's clock its " +
           text(std::int64_t{d.sweeplen}) + " samples and tapers of " +
           text(std::int64_t{d.leadinlen}) + " and " + text(std::int64_t{d.leadoutlen}) +
           " samples are no longer a valid sweep";
  }
  return "";
}

}  // namespace vellisk
