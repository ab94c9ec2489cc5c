// Option reading for vellisk-eq.
#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <cstring>

#include "common/arguments.h"

namespace vellisk {

namespace {

enum {
  kMode = 256, kTarget, kHouse, kRange, kFilters, kMaxBoost, kMaxCut, kQRange, kGainStep,
  kFrequencyStep, kShelves, kRate, kApo, kCamilla, kBiquads, kJson, kPredicted, kFir, kFirLength,
  kPhase, kMixedAbove, kFirRaw, kPlot
};

const option kLongs[] = {
    {"mode", required_argument, nullptr, kMode},
    {"target", required_argument, nullptr, kTarget},
    {"house", required_argument, nullptr, kHouse},
    {"range", required_argument, nullptr, kRange},
    {"filters", required_argument, nullptr, kFilters},
    {"max-boost", required_argument, nullptr, kMaxBoost},
    {"max-cut", required_argument, nullptr, kMaxCut},
    {"q-range", required_argument, nullptr, kQRange},
    {"gain-step", required_argument, nullptr, kGainStep},
    {"frequency-step", required_argument, nullptr, kFrequencyStep},
    {"shelves", no_argument, nullptr, kShelves},
    {"rate", required_argument, nullptr, kRate},
    {"apo", required_argument, nullptr, kApo},
    {"camilladsp", required_argument, nullptr, kCamilla},
    {"biquads", required_argument, nullptr, kBiquads},
    {"json", required_argument, nullptr, kJson},
    {"predicted", required_argument, nullptr, kPredicted},
    {"fir", required_argument, nullptr, kFir},
    {"fir-length", required_argument, nullptr, kFirLength},
    {"phase", required_argument, nullptr, kPhase},
    {"mixed-above", required_argument, nullptr, kMixedAbove},
    {"fir-raw", required_argument, nullptr, kFirRaw},
    {"plot", required_argument, nullptr, kPlot},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// Two numbers separated by sep ("20-200", "3,-2"): the second may carry its own sign.
bool number_pair(const char* text, char sep, double& a, double& b) {
  const char* at = std::strchr(text + (*text == '-' || *text == '+' ? 1 : 0), sep);
  if (at == nullptr) return false;
  const std::string first(text, at);
  return whole_number(first.c_str(), a) && whole_number(at + 1, b);
}

// A comma-separated list of numbers.
bool number_list(const char* text, std::vector<double>& out) {
  out.clear();
  std::string rest = text;
  for (std::size_t start = 0;;) {
    const std::size_t comma = rest.find(',', start);
    double v = 0;
    if (!whole_number(rest.substr(start, comma - start).c_str(), v)) return false;
    out.push_back(v);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

std::string read_value(int c, const char* arg, EqOptions& o) {
  EqRequest& r = o.request;
  double* number = c == kMaxBoost        ? &r.max_boost_db
                   : c == kMaxCut        ? &r.max_cut_db
                   : c == kGainStep      ? &r.gain_step_db
                   : c == kFrequencyStep ? &r.frequency_step_hz
                   : c == kMixedAbove    ? &o.fir_request.mixed_above_hz
                                         : nullptr;
  const char* name = kLongs[c - kMode].name;
  const std::string given = quoted(("--" + std::string(name)).c_str(), arg);
  if (number != nullptr) return whole_number(arg, *number) ? "" : given + " must be a number";
  switch (c) {
    case kFilters:
    case kFirLength: {
      long n = 0;
      if (!whole_integer(arg, n)) return given + " must be a whole number";
      (c == kFilters ? r.filters : o.fir_request.length) =
          static_cast<int>(std::clamp(n, -1000000000L, 1000000000L));
      return "";
    }
    case kPhase:
      if (std::strcmp(arg, "minimum") == 0) o.fir_request.phase = EqPhase::minimum;
      else if (std::strcmp(arg, "linear") == 0) o.fir_request.phase = EqPhase::linear;
      else if (std::strcmp(arg, "mixed") == 0) o.fir_request.phase = EqPhase::mixed;
      else return given + " must be minimum, linear or mixed";
      return "";
    case kRange:
      return number_pair(arg, '-', r.range_low_hz, r.range_high_hz) ? ""
             : given + " must be LO-HI, in Hz";
    case kQRange:
      return number_pair(arg, '-', r.q_low, r.q_high) ? "" : given + " must be LO-HI";
    case kHouse:
      r.target = EqTarget::house;
      return number_pair(arg, ',', r.house_low_db, r.house_high_db) ? ""
             : given + " must be LF_DB,HF_DB";
    case kRate:
      return number_list(arg, r.rates) ? "" : given + " must be rates in Hz, separated by commas";
    case kTarget:
      if (std::strcmp(arg, "flat") == 0) {
        r.target = EqTarget::flat;
      } else {
        r.target = EqTarget::file;
        r.target_file = arg;
      }
      return "";
    case kMode:
      if (std::strcmp(arg, "power") == 0) r.mode = EqAverage::power;
      else if (std::strcmp(arg, "db") == 0) r.mode = EqAverage::db;
      else if (std::strcmp(arg, "vector") == 0) r.mode = EqAverage::vector;
      else return given + " must be power, db or vector";
      return "";
  }
  return "";
}

}  // namespace

std::string parse_eq_options(int argc, char** argv, EqOptions& o) {
  opterr = 0;
  optind = 1;
  for (int c; (c = getopt_long(argc, argv, "+hV", kLongs, nullptr)) != -1;) {
    switch (c) {
      case kShelves: o.request.shelves = true; break;
      case kApo: o.apo = optarg; break;
      case kCamilla: o.camilladsp = optarg; break;
      case kBiquads: o.biquads = optarg; break;
      case kJson: o.json = optarg; break;
      case kPredicted: o.predicted = optarg; break;
      case kFir: o.fir = optarg; break;
      case kFirRaw: o.fir_raw = optarg; break;
      case kPlot:
        o.plot = optarg;
        if (!ends_with_svg(o.plot)) return quoted("--plot", optarg) + " must name a file ending in .svg";
        break;
      case 'h': o.help = true; break;
      case 'V': o.version = true; break;
      case '?': {
        const std::string given = argv[optind - 1];
        if (optopt >= kMode) return "option " + given + " needs a value";
        return "unknown option " + given + "; vellisk-eq --help lists the options";
      }
      default:
        if (std::string e = read_value(c, optarg, o); !e.empty()) return e;
    }
  }
  for (int i = optind; i < argc; ++i) o.inputs.emplace_back(argv[i]);
  return "";
}

std::string fir_name(const std::string& name, const std::vector<double>& rates, double rate) {
  if (rates.size() == 1) return name;
  const std::size_t slash = name.find_last_of('/');
  const std::size_t dot = name.find_last_of('.');
  const std::size_t at = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? name.size() : dot;
  return name.substr(0, at) + "-" + std::to_string(static_cast<long>(rate)) + name.substr(at);
}

std::vector<std::string> output_names(const EqOptions& o) {
  std::vector<std::string> names;
  for (const std::string* n : {&o.apo, &o.camilladsp, &o.biquads, &o.json, &o.plot}) {
    if (!n->empty()) names.push_back(*n);
  }
  for (const std::string* n : {&o.predicted, &o.fir, &o.fir_raw}) {
    if (n->empty()) continue;
    for (const double rate : o.request.rates) names.push_back(fir_name(*n, o.request.rates, rate));
  }
  return names;
}

}  // namespace vellisk
