// Option reading for vellisk-room: the values read as numbers, judged by the library.
#include "options.h"

#include <getopt.h>

#include <cstring>
#include <optional>

#include "common/arguments.h"
#include "common/room_report.h"
#include "common/setting_options.h"

namespace vellisk {

std::string parse_room_options(int argc, char** argv, RoomOptions& o) {
  enum { kCsv = 256, kJson, kPlot, kLevels, kAverage };
  static const option longs[] = {
      {"bands", required_argument, nullptr, 'b'},
      {"rate", required_argument, nullptr, 'r'},
      {"channels", required_argument, nullptr, 'c'},
      {"csv", required_argument, nullptr, kCsv},
      {"json", required_argument, nullptr, kJson},
      {"plot", required_argument, nullptr, kPlot},
      {"levels", required_argument, nullptr, kLevels},
      {"average", no_argument, nullptr, kAverage},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  optind = 1;
  for (int c; (c = getopt_long(argc, argv, "b:r:c:hV", longs, nullptr)) != -1;) {
    switch (c) {
      case 'b':
        if (std::string e = read_room_bands(optarg, o.third); !e.empty()) return e;
        break;
      case 'r': {
        RoomSetup setup;
        setup.rate = number_of(optarg);
        if (const std::optional<Problem> p = check_room(setup)) {
          return option_refusal("--rate", optarg, *p);
        }
        o.rate = setup.rate;
        break;
      }
      case 'c':
        if (std::string e = read_setting(Setting::channels, optarg, o.channels); !e.empty()) {
          return e;
        }
        break;
      case kCsv:
        o.csv = optarg;
        if (o.csv.empty()) return "--csv must name a file; an empty name was given";
        break;
      case kJson:
        o.json = optarg;
        if (o.json.empty()) return "--json must name a file; an empty name was given";
        break;
      case kPlot:
        o.plot = optarg;
        if (!ends_with_svg(o.plot))
          return quoted("--plot", optarg) + " must name a file ending in .svg";
        break;
      case kLevels:
        o.levels = optarg;
        if (o.levels.empty()) return "--levels must name a file; an empty name was given";
        break;
      case kAverage:
        o.average = true;
        break;
      case 'h':
        o.help = true;
        break;
      case 'V':
        o.version = true;
        break;
      default: {
        const std::string given = argv[optind - 1];
        const bool takes_value = optopt == kCsv || optopt == kJson || optopt == kPlot || optopt == kLevels ||
                                 (optopt > 0 && optopt < 128 && std::strchr("brc", optopt));
        if (takes_value) return "option " + given + " needs a value";
        return "unknown option " + given + "; vellisk-room --help lists the options";
      }
    }
  }
  for (int i = optind; i < argc; ++i) o.files.push_back(argv[i]);
  return "";
}

}  // namespace vellisk
