// Option reading for vellisk-ir: every value whole and in its range.
#include "options.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/arguments.h"
#include "common/frd_output.h"

namespace vellisk {

namespace {

enum { kDrift = 256, kPlot, kReference, kRepeat, kFrd, kSmooth, kGate, kJson, kUncompensated, kAlign };
const option kLongOptions[] = {
    {"length", required_argument, nullptr, 'l'},
    {"pre", required_argument, nullptr, 'p'},
    {"channels", required_argument, nullptr, 'c'},
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
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// An argument such as "-length" or "-plot=f.svg" that names a long option with
// one dash: what was probably meant, or "".
std::string one_dash_error(const char* arg, const option* longs) {
  if (arg == nullptr || arg[0] != '-' || arg[1] == '-' || std::strlen(arg) < 3) return "";
  const std::string word = std::string(arg + 1).substr(0, std::strcspn(arg + 1, "="));
  for (const option* o = longs; o->name != nullptr; ++o) {
    if (word == o->name) {
      return std::string("option ") + arg + " has one dash; --" + word + " was probably meant";
    }
  }
  return "";
}

}  // namespace

const option* ir_long_options() { return kLongOptions; }

std::string parse_options(int argc, char** argv, IrOptions& o) {
  const option* longs = kLongOptions;
  opterr = 0;
  optind = 1;
  // "+": options end at the first argument that is not one, so that a negative
  // number among the eight (an amplitude of -0.5) is not taken for an option.
  for (int c; (c = getopt_long(argc, argv, "+l:p:c:H:hV", longs, nullptr)) != -1;) {
    // "-length 3" reads as -l with "ength": a long option with one dash.
    if (std::string e = one_dash_error(argv[optind - 1], longs); !e.empty()) return e;
    switch (c) {
      case 'l':
        if (!whole_number(optarg, o.length) || !(o.length > 0)) {
          return quoted("--length", optarg) + " must be a number of seconds greater than 0";
        }
        break;
      case 'p':
        if (!whole_number(optarg, o.pre) || !(o.pre >= 0)) {
          return quoted("--pre", optarg) + " must be a number of seconds, 0 or more";
        }
        break;
      case 'c':
        if (!whole_integer(optarg, o.channels) || o.channels < 1 || o.channels > 1024) {
          return quoted("--channels", optarg) + " must be a whole number from 1 to 1024";
        }
        break;
      case 'H':
        if (!whole_integer(optarg, o.harmonics) || o.harmonics < 2 || o.harmonics > kMaxOrder) {
          return quoted("--harmonics", optarg) + " must be a whole number from 2 to 10";
        }
        break;
      case kDrift:
        if (std::strcmp(optarg, "auto") == 0) {
          o.drift_auto = true;
        } else if (whole_number(optarg, o.drift_ppm) && std::abs(o.drift_ppm) <= kMaxDriftPpm) {
          o.drift_given = true;
        } else {
          return quoted("--drift", optarg) + " must be auto, or a number of ppm from -1000 to 1000";
        }
        break;
      case kPlot:
        o.plot = optarg;
        if (!ends_with_svg(o.plot))
          return quoted("--plot", optarg) + " must name a file ending in .svg";
        break;
      case kReference:
        if (!whole_integer(optarg, o.reference) || o.reference < 1 || o.reference > 1024) {
          return quoted("--reference", optarg) + " must be a channel number from 1 to 1024";
        }
        break;
      case kRepeat:
        if (!whole_integer(optarg, o.repeat) || o.repeat < 1 || o.repeat > kMaxRepeats) {
          return quoted("--repeat", optarg) + " must be a whole number from 1 to 1000";
        }
        break;
      case kFrd:
        o.frd = optarg;
        if (!is_frd_name(o.frd))
          return quoted("--frd", optarg) + " must name a file ending in .frd or .txt";
        break;
      case kSmooth:
        if (!whole_integer(optarg, o.smooth) || o.smooth < 1 || o.smooth > kMaxSmooth) {
          return quoted("--smooth", optarg) + " must be a whole number from 1 to 96";
        }
        break;
      case kGate:
        if (!whole_number(optarg, o.gate) || !(o.gate > 0)) {
          return quoted("--gate", optarg) + " must be a number of milliseconds greater than 0";
        }
        break;
      case kJson:
        o.json = optarg;
        if (o.json.empty()) return "--json must name a file";
        break;
      case kUncompensated:
        o.uncompensated = true;
        break;
      case kAlign:
        o.align = true;
        break;
      case 'h':
        o.help = true;
        break;
      case 'V':
        o.version = true;
        break;
      default: {
        const std::string given = argv[optind - 1];
        const bool takes_value = (optopt >= kDrift && optopt <= kJson) ||
                                 (optopt > 0 && optopt < 128 && std::strchr("lpcH", optopt));
        if (takes_value) return "option " + given + " needs a value";
        return "unknown option " + given + "; vellisk-ir --help lists the options";
      }
    }
  }
  for (int i = optind; i < argc; ++i) o.arguments.push_back(argv[i]);
  if (o.align && (o.reference > 0 || o.repeat > 1)) {
    return std::string("--align is for a single sweep without a reference: ") +
           (o.reference > 0 ? "--reference" : "--repeat") +
           " places the windows by its own timing; leave one of them out";
  }
  return "";
}

}  // namespace vellisk
