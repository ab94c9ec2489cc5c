// Option reading for vellisk-spin.
#include "options.h"

#include <getopt.h>

#include "common/arguments.h"

namespace vellisk {

std::string parse_spin_options(int argc, char** argv, SpinProgramOptions& o) {
  enum { kAngles = 256, kAllowMissing, kPoints, kCta, kJson };
  static const option longs[] = {
      {"angles", required_argument, nullptr, kAngles},
      {"allow-missing", no_argument, nullptr, kAllowMissing},
      {"points", required_argument, nullptr, kPoints},
      {"cta", required_argument, nullptr, kCta},
      {"json", required_argument, nullptr, kJson},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  optind = 1;
  for (int c; (c = getopt_long(argc, argv, "+hV", longs, nullptr)) != -1;) {
    long points = 0;
    switch (c) {
      case kAngles: o.angles = optarg; break;
      case kAllowMissing: o.set.allow_missing = true; break;
      case kPoints:
        if (!whole_integer(optarg, points) || points < 0 || points > 1000) {
          return quoted("--points", optarg) + " must be a whole number from 0 (the inputs' own grid) to 1000";
        }
        o.set.points_per_octave = static_cast<int>(points);
        break;
      case kCta:
        o.cta = optarg;
        if (!ends_with(o.cta, ".csv")) return quoted("--cta", optarg) + " must name a file ending in .csv";
        break;
      case kJson:
        o.json = optarg;
        if (!ends_with(o.json, ".json")) return quoted("--json", optarg) + " must name a file ending in .json";
        break;
      case 'h': o.help = true; break;
      case 'V': o.version = true; break;
      default: {
        const std::string given = argv[optind - 1];
        if (optopt >= kAngles && optopt <= kJson) return "option " + given + " needs a value";
        return "unknown option " + given + "; vellisk-spin --help lists the options";
      }
    }
  }
  for (int i = optind; i < argc; ++i) o.inputs.emplace_back(argv[i]);
  return "";
}

}  // namespace vellisk
