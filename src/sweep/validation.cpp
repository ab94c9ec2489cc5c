// The checks that run before a design is reported or written.
#include "sweep/validation.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <system_error>

#include "sweep/inverse_gen.h"

namespace {

constexpr double kLengthLimit = 2147483648.0;  // 2^31: lengths are 32-bit signed
constexpr std::int64_t kMaxLength = 2147483647;

// The shortest text that reads back as the same double.
std::string text(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

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

// The path a name leads to: absolute, with every symbolic link followed (also
// a dangling one, whose target the open would create) and "." and ".." removed.
std::filesystem::path resolve(const char* name, std::error_code& error) {
  namespace fs = std::filesystem;
  fs::path path = fs::absolute(name, error);
  std::error_code missing;  // a name that does not exist yet is no link
  for (int links = 0; !error && links < 40 && fs::is_symlink(fs::symlink_status(path, missing));
       ++links) {
    const fs::path target = fs::read_symlink(path, error);
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return error ? path : fs::weakly_canonical(path, error);
}

}  // namespace

std::string design_error(const SweepParams& params, const SweepDesign& design) {
  std::string error = range_error(params);
  if (error.empty()) error = relation_error(params, design);
  if (error.empty()) error = derived_error(design);
  return error;
}

std::string output_names_error(const char* sweepfile, const char* inversefile) {
  namespace fs = std::filesystem;
  // An empty name is no file; its open fails and says so.
  if (*sweepfile == '\0' || *inversefile == '\0') return "";
  std::error_code ignored;
  const fs::file_status first = fs::status(sweepfile, ignored);
  const fs::file_status second = fs::status(inversefile, ignored);
  const auto special = [](const fs::file_status& s) {
    return fs::exists(s) && !fs::is_regular_file(s);
  };
  if (special(first) || special(second)) return "";
  bool same =
      fs::exists(first) && fs::exists(second) && fs::equivalent(sweepfile, inversefile, ignored);
  if (!same) {
    std::error_code first_error, second_error;
    const fs::path a = resolve(sweepfile, first_error);
    const fs::path b = resolve(inversefile, second_error);
    same = !first_error && !second_error && a == b;
  }
  if (!same) return "";
  return std::string("sweepfile and inversefile (") + sweepfile + ", " + inversefile +
         ") must not name the same file: the inverse filter would overwrite the sweep";
}
