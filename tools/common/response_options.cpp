// Reading the options of a response: every value whole and in its range.
#include "common/response_options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>

#include "common/arguments.h"
#include "common/frd_output.h"
#include "common/setting_options.h"

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

namespace {

// The options whose value is a setting's number, which the library judges: "" or the
// refusal; none when val is not one of them.
std::optional<std::string> read_number_option(int val, const char* arg, ResponseOptions& o) {
  switch (val) {
    case 'l':
      return read_setting(Setting::length, arg, o.length);
    case 'p':
      return read_setting(Setting::pre, arg, o.pre);
    case 'H': {
      // The highest order measured: 1, none, is what leaving the option out says.
      const double k = integer_of(arg);
      const double given = k >= 2 ? k : std::nan("");
      if (std::string e = judged_setting(Setting::harmonics, arg, given); !e.empty()) return e;
      o.harmonics = static_cast<long>(k);
      return "";
    }
    case kDrift:
      if (std::strcmp(arg, "auto") == 0) {
        o.drift_auto = true;
        return "";
      }
      if (std::string e = read_setting(Setting::drift, arg, o.drift_ppm); !e.empty()) return e;
      o.drift_given = true;
      return "";
    case kReference:
      return read_setting(Setting::reference, arg, o.reference);
    case kRepeat:
      return read_setting(Setting::repeat, arg, o.repeat);
    case kSmooth:
      return read_setting(Setting::smooth, arg, o.smooth);
    case kGate:
      return read_setting(Setting::gate, arg, o.gate);
    case kWaterfallRange:
      o.waterfall_range_given = true;
      return read_setting(Setting::waterfall_range, arg, o.waterfall_range);
    case kSplLevel:
      return read_setting(Setting::spl_level, arg, o.spl_level);
    default:
      return std::nullopt;
  }
}

// A file's name read into name: "" or the refusal of one that does not end in extension.
std::string read_name(const char* option, const char* arg, const char* extension,
                      std::string& name) {
  name = arg;
  if (ends_with(name, extension)) return "";
  return quoted(option, arg) + " must name a file ending in " + extension;
}

}  // namespace

std::string read_response_option(int val, const char* arg, ResponseOptions& o) {
  if (std::optional<std::string> e = read_number_option(val, arg, o)) return *e;
  switch (val) {
    case kPlot:
      return read_name("--plot", arg, ".svg", o.plot);
    case kFrd:
      o.frd = arg;
      if (!is_frd_name(o.frd)) return quoted("--frd", arg) + " must name a file ending in .frd or .txt";
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
      return read_name("--curves", arg, ".csv", o.curves);
    case kStep:
      return read_name("--step", arg, ".wav", o.step);
    case kWaterfall:
      return read_name("--waterfall", arg, ".csv", o.waterfall);
    case kMicCal:
      o.mic_cal = arg;
      if (o.mic_cal.empty()) return "--mic-cal must name a file";
      break;
    case kSplCal:
      o.spl_cal = arg;
      if (o.spl_cal.empty()) return "--spl-cal must name a file";
      break;
    case kViews:
      return read_views(arg, o.views);
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
    return option_words(e);
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
