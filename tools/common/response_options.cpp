// Reading the options of a response: every value whole and in its range.
#include "common/response_options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "common/arguments.h"
#include "common/frd_output.h"

namespace vellisk {

namespace {

enum {
  kDrift = 256, kPlot, kReference, kRepeat, kFrd, kSmooth, kGate, kJson, kUncompensated, kAlign,
  kSweep
};
// The views and the calibration; kSplLevel is --spl-cal's second value, in no table.
enum { kCurves = 300, kStep, kWaterfall, kWaterfallRange, kMicCal, kSplCal, kSplLevel, kViews };

// The names of LIST, comma-separated, each a view once: "" or the refusal.
std::string read_views(const char* arg, std::vector<std::string>& views) {
  views.clear();
  std::string list = arg;
  std::size_t from = 0;
  while (true) {
    const std::size_t comma = list.find(',', from);
    const std::string name = list.substr(from, comma == std::string::npos ? comma : comma - from);
    bool known = false;
    for (const char* v : kViewNames) known = known || name == v;
    if (!known) {
      return quoted("--views", arg) + " must list views from level, phase, group-delay, step, "
                                      "waterfall, spectrogram and envelope, separated by commas";
    }
    if (std::find(views.begin(), views.end(), name) != views.end()) {
      return quoted("--views", arg) + " names " + name + " twice";
    }
    views.push_back(name);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return "";
}

bool has_view(const ResponseOptions& o, const char* name) {
  return std::find(o.views.begin(), o.views.end(), name) != o.views.end();
}


}  // namespace

const std::vector<option>& response_long_options() {
  static const std::vector<option> options = {
      {"length", required_argument, nullptr, 'l'},
      {"pre", required_argument, nullptr, 'p'},
      {"harmonics", required_argument, nullptr, 'H'},
      {"drift", required_argument, nullptr, kDrift},
      {"plot", required_argument, nullptr, kPlot},
      {"reference", required_argument, nullptr, kReference},
      {"repeat", required_argument, nullptr, kRepeat},
      {"frd", required_argument, nullptr, kFrd},
      {"smooth", required_argument, nullptr, kSmooth},
      {"gate", required_argument, nullptr, kGate},
      {"json", required_argument, nullptr, kJson},
      {"uncompensated", no_argument, nullptr, kUncompensated},
      {"align", no_argument, nullptr, kAlign},
      {"sweep", required_argument, nullptr, kSweep},
      {"curves", required_argument, nullptr, kCurves},
      {"step", required_argument, nullptr, kStep},
      {"waterfall", required_argument, nullptr, kWaterfall},
      {"waterfall-range", required_argument, nullptr, kWaterfallRange},
      {"mic-cal", required_argument, nullptr, kMicCal},
      {"spl-cal", required_argument, nullptr, kSplCal},
      {"views", required_argument, nullptr, kViews},
      {nullptr, 0, nullptr, 0},
  };
  return options;
}

const char* option_name(Setting setting) {
  switch (setting) {
    case Setting::pre: return "--pre";
    case Setting::length: return "--length";
    case Setting::harmonics: return "--harmonics";
    case Setting::drift: return "--drift";
    case Setting::reference: return "--reference";
    case Setting::repeat: return "--repeat";
    case Setting::smooth: return "--smooth";
    case Setting::gate: return "--gate";
    case Setting::align: return "--align";
    case Setting::waterfall_range: return "--waterfall-range";
    case Setting::mic_calibration: return "--mic-cal";
    case Setting::spl_calibration: return "--spl-cal";
    case Setting::spl_level: return "--spl-cal's level";
  }
  return "--";
}

std::string read_response_option(int val, const char* arg, ResponseOptions& o) {
  switch (val) {
    case 'l':
      if (!whole_number(arg, o.length) || !(o.length > 0)) {
        return quoted("--length", arg) + " must be a number of seconds greater than 0";
      }
      break;
    case 'p':
      if (!whole_number(arg, o.pre) || !(o.pre >= 0)) {
        return quoted("--pre", arg) + " must be a number of seconds, 0 or more";
      }
      break;
    case 'H':
      if (!whole_integer(arg, o.harmonics) || o.harmonics < 2 || o.harmonics > kMaxOrder) {
        return quoted("--harmonics", arg) + " must be a whole number from 2 to 10";
      }
      break;
    case kDrift:
      if (std::strcmp(arg, "auto") == 0) {
        o.drift_auto = true;
      } else if (whole_number(arg, o.drift_ppm) && std::abs(o.drift_ppm) <= kMaxDriftPpm) {
        o.drift_given = true;
      } else {
        return quoted("--drift", arg) + " must be auto, or a number of ppm from -1000 to 1000";
      }
      break;
    case kPlot:
      o.plot = arg;
      if (!ends_with_svg(o.plot)) return quoted("--plot", arg) + " must name a file ending in .svg";
      break;
    case kReference:
      if (!whole_integer(arg, o.reference) || o.reference < 1 || o.reference > 1024) {
        return quoted("--reference", arg) + " must be a channel number from 1 to 1024";
      }
      break;
    case kRepeat:
      if (!whole_integer(arg, o.repeat) || o.repeat < 1 || o.repeat > kMaxRepeats) {
        return quoted("--repeat", arg) + " must be a whole number from 1 to 1000";
      }
      break;
    case kFrd:
      o.frd = arg;
      if (!is_frd_name(o.frd)) return quoted("--frd", arg) + " must name a file ending in .frd or .txt";
      break;
    case kSmooth:
      if (!whole_integer(arg, o.smooth) || o.smooth < 1 || o.smooth > kMaxSmooth) {
        return quoted("--smooth", arg) + " must be a whole number from 1 to 96";
      }
      break;
    case kGate:
      if (std::string e = read_gate(arg, o.gate); !e.empty()) return e;
      break;
    case kJson:
      o.json = arg;
      if (o.json.empty()) return "--json must name a file";
      break;
    case kUncompensated:
      o.uncompensated = true;
      break;
    case kAlign:
      o.align = true;
      break;
    case kSweep:
      o.sweep = arg;
      if (o.sweep.empty()) return "--sweep must name a sweep file vellisk wrote with --wav";
      break;
    case kCurves:
      o.curves = arg;
      if (!ends_with(o.curves, ".csv")) {
        return quoted("--curves", arg) + " must name a file ending in .csv";
      }
      break;
    case kStep:
      o.step = arg;
      if (!ends_with(o.step, ".wav")) {
        return quoted("--step", arg) + " must name a file ending in .wav";
      }
      break;
    case kWaterfall:
      o.waterfall = arg;
      if (!ends_with(o.waterfall, ".csv")) {
        return quoted("--waterfall", arg) + " must name a file ending in .csv";
      }
      break;
    case kWaterfallRange:
      if (!whole_number(arg, o.waterfall_range) ||
          !(o.waterfall_range >= 0.1 && o.waterfall_range <= 10000)) {
        return quoted("--waterfall-range", arg) +
               " must be a number of milliseconds from 0.1 to 10000";
      }
      o.waterfall_range_given = true;
      break;
    case kMicCal:
      o.mic_cal = arg;
      if (o.mic_cal.empty()) return "--mic-cal must name a file";
      break;
    case kSplCal:
      o.spl_cal = arg;
      if (o.spl_cal.empty()) return "--spl-cal must name a file";
      break;
    case kViews:
      if (std::string e = read_views(arg, o.views); !e.empty()) return e;
      break;
    case kSplLevel:
      if (!whole_number(arg, o.spl_level) || !(o.spl_level >= 40 && o.spl_level <= 160)) {
        return quoted("--spl-cal's level", arg) + " must be a number of dB SPL from 40 to 160";
      }
      break;
    default:
      break;
  }
  return "";
}

int second_value_of(int val) { return val == kSplCal ? kSplLevel : 0; }

std::string response_options_error(const ResponseOptions& o) {
  if (o.waterfall_range_given && o.waterfall.empty() && !has_view(o, "waterfall")) {
    return "--waterfall-range is for --waterfall: give --waterfall FILE.csv too";
  }
  if (!o.views.empty() && o.plot.empty()) return "--views is for --plot: give --plot FILE.svg too";
  const std::optional<Problem> p = check_relations(request_of(o, SweepParams{}));
  return p ? describe(*p, option_name) : "";
}

std::string sweep_and_numbers_error(const std::string& sweep, std::size_t arguments) {
  if (sweep.empty() || arguments < 8) return "";
  return "--sweep (" + sweep +
         ") and the eight numbers must not both be given: the sweep's design comes from one of "
         "them";
}

std::string sweep_params(const std::string& sweep, const char* const* numbers,
                         SweepParams& params) {
  if (sweep.empty()) {
    params = parse_numbers(numbers);
    return "";
  }
  try {
    params = read_sweep_file(sweep).params;
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

ResponseRequest request_of(const ResponseOptions& o, const SweepParams& params) {
  ResponseRequest r;
  r.sweep = params;
  r.pre = o.pre;
  r.length = o.length;
  r.harmonics = static_cast<int>(o.harmonics);
  if (o.drift_given) r.drift_ppm = o.drift_ppm;
  r.drift_auto = o.drift_auto;
  r.reference = static_cast<int>(o.reference);
  r.repeat = static_cast<int>(o.repeat);
  r.gate_ms = o.gate;
  r.smooth = static_cast<int>(o.smooth);
  r.uncompensated = o.uncompensated;
  r.align = o.align;
  r.frequency_responses = !o.frd.empty();
  r.figure = !o.plot.empty();
  r.curves = !o.curves.empty() || has_view(o, "phase") || has_view(o, "group-delay");
  r.waterfall = !o.waterfall.empty() || has_view(o, "waterfall");
  r.spectrogram = has_view(o, "spectrogram");
  r.waterfall_range_ms = o.waterfall_range;
  r.mic_calibration = o.mic_cal;
  r.spl_calibration = o.spl_cal;
  r.spl_level_db = o.spl_level;
  return r;
}

}  // namespace vellisk
