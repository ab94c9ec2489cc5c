// Option reading for vellisk-room: the values read as numbers, judged by the library.
#include "options.h"

#include <getopt.h>

#include <cstring>
#include <optional>

#include "common/arguments.h"
#include "common/room_report.h"
#include "common/setting_options.h"

namespace vellisk {

namespace {

enum { kCsv = 256, kJson, kPlot, kLevels, kAverage };

// Why getopt refused the option given (its optopt): it needs a value, or is unknown.
std::string refused_option(const std::string& given) {
  const bool takes_value = optopt == kCsv || optopt == kJson || optopt == kPlot ||
                           optopt == kLevels ||
                           (optopt > 0 && optopt < 128 && std::strchr("brc", optopt));
  if (takes_value) return "option " + given + " needs a value";
  return "unknown option " + given + "; vellisk-room --help lists the options";
}

// Reads option c, with its value in optarg, into o: "" or why it is refused.
std::string read_room_option(int c, char** argv, RoomOptions& o) {
  switch (c) {
    case 'b':
      return read_room_bands(optarg, o.third);
    case 'r': {
      RoomSetup setup;
      setup.rate = number_of(optarg);
      if (const std::optional<Problem> p = check_room(setup)) {
        return option_refusal("--rate", optarg, *p);
      }
      o.rate = setup.rate;
      return "";
    }
    case 'c':
      return read_setting(Setting::channels, optarg, o.channels);
    case kCsv:
      o.csv = optarg;
      return o.csv.empty() ? "--csv must name a file; an empty name was given" : "";
    case kJson:
      o.json = optarg;
      return o.json.empty() ? "--json must name a file; an empty name was given" : "";
    case kPlot:
      o.plot = optarg;
      if (!ends_with_svg(o.plot))
        return quoted("--plot", optarg) + " must name a file ending in .svg";
      return "";
    case kLevels:
      o.levels = optarg;
      return o.levels.empty() ? "--levels must name a file; an empty name was given" : "";
    case kAverage:
      o.average = true;
      return "";
    case 'h':
      o.help = true;
      return "";
    case 'V':
      o.version = true;
      return "";
    default:
      return refused_option(argv[optind - 1]);
  }
}

}  // namespace

std::string parse_room_options(int argc, char** argv, RoomOptions& o) {
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
    if (std::string e = read_room_option(c, argv, o); !e.empty()) return e;
  }
  for (int i = optind; i < argc; ++i) o.files.push_back(argv[i]);
  return "";
}

}  // namespace vellisk
