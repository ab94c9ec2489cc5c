// Option reading for vellisk-measure: its own options, and vellisk-ir's passed on as given.
#include "measure/options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool whole_number(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(value);
}

bool whole_integer(const char* text, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && errno == 0;
}

std::string quoted(const char* option, const char* text) {
  return std::string(option) + " (" + text + ")";
}

}  // namespace

std::string parse_measure_options(int argc, char** argv, MeasureOptions& o) {
  enum { kList = 256, kRepeat, kTail, kDrift, kPlot };
  static const option longs[] = {
      {"out", required_argument, nullptr, 'o'},
      {"in", required_argument, nullptr, 'i'},
      {"list", no_argument, nullptr, kList},
      {"repeat", required_argument, nullptr, kRepeat},
      {"tail", required_argument, nullptr, kTail},
      // vellisk-ir's, read by its own option reader.
      {"length", required_argument, nullptr, 'l'},
      {"pre", required_argument, nullptr, 'p'},
      {"harmonics", required_argument, nullptr, 'H'},
      {"drift", required_argument, nullptr, kDrift},
      {"plot", required_argument, nullptr, kPlot},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  optind = 1;
  int index = -1;
  // "+": options end at the first argument that is not one, so that a negative
  // amplitude is not taken for an option.
  for (int c; (c = getopt_long(argc, argv, "+o:i:l:p:H:hV", longs, &index)) != -1; index = -1) {
    switch (c) {
      case 'o':
      case 'i': {
        std::vector<std::string>& ports = c == 'o' ? o.outs : o.ins;
        if (*optarg == '\0') return std::string(c == 'o' ? "--out" : "--in") + " needs a port name";
        if (static_cast<long>(ports.size()) == kMaxPorts) {
          return std::string(c == 'o' ? "--out" : "--in") + " may be given at most 64 times";
        }
        ports.push_back(optarg);
        break;
      }
      case kList:
        o.list = true;
        break;
      case kRepeat:
        if (!whole_integer(optarg, o.repeats) || o.repeats < 1 || o.repeats > kMaxRepeats) {
          return quoted("--repeat", optarg) + " must be a whole number from 1 to 1000";
        }
        break;
      case kTail:
        if (!whole_number(optarg, o.tail) || !(o.tail >= 0) || o.tail > 3600) {
          return quoted("--tail", optarg) + " must be a number of seconds from 0 to 3600";
        }
        o.tail_given = true;
        break;
      case 'h':
        o.help = true;
        break;
      case 'V':
        o.version = true;
        break;
      case '?': {
        const std::string given = argv[optind - 1];
        const bool takes_value = optopt == kRepeat || optopt == kTail || optopt == kDrift ||
                                 optopt == kPlot ||
                                 (optopt > 0 && optopt < 128 && std::strchr("oilpH", optopt));
        if (takes_value) return "option " + given + " needs a value";
        return "unknown option " + given + "; vellisk-measure --help lists the options";
      }
      default: {
        // One of vellisk-ir's: kept in its long form for its reader.
        const char* name = nullptr;
        if (index >= 0) {
          name = longs[index].name;
        } else {
          for (const option* l = longs; l->name != nullptr && name == nullptr; ++l) {
            if (l->val == c) name = l->name;
          }
        }
        o.ir_arguments.push_back(std::string("--") + name + "=" + optarg);
        break;
      }
    }
  }
  for (int i = optind; i < argc; ++i) o.arguments.push_back(argv[i]);
  return "";
}
