// Option reading for vellisk-average.
#include "options.h"

#include <getopt.h>

#include <cstring>

#include "common/arguments.h"

namespace vellisk {

std::string parse_average_options(int argc, char** argv, AverageOptions& o) {
  enum { kMode = 256, kCsv };
  static const option longs[] = {
      {"mode", required_argument, nullptr, kMode},
      {"csv", required_argument, nullptr, kCsv},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  optind = 1;
  for (int c; (c = getopt_long(argc, argv, "+hV", longs, nullptr)) != -1;) {
    switch (c) {
      case kMode:
        if (std::strcmp(optarg, "power") == 0) {
          o.mode = AverageMode::power;
        } else if (std::strcmp(optarg, "db") == 0) {
          o.mode = AverageMode::db;
        } else if (std::strcmp(optarg, "vector") == 0) {
          o.mode = AverageMode::vector;
        } else {
          return quoted("--mode", optarg) + " must be power, db or vector";
        }
        break;
      case kCsv:
        o.csv = optarg;
        if (!ends_with(o.csv, ".csv")) return quoted("--csv", optarg) + " must name a file ending in .csv";
        break;
      case 'h':
        o.help = true;
        break;
      case 'V':
        o.version = true;
        break;
      default: {
        const std::string given = argv[optind - 1];
        if (optopt == kMode || optopt == kCsv) return "option " + given + " needs a value";
        return "unknown option " + given + "; vellisk-average --help lists the options";
      }
    }
  }
  for (int i = optind; i < argc; ++i) o.arguments.emplace_back(argv[i]);
  return "";
}

}  // namespace vellisk
