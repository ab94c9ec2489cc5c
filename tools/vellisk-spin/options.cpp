// Option reading for vellisk-spin.
#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <iterator>

#include "common/arguments.h"
#include "common/setting_options.h"
#include "spin_figure.h"

namespace vellisk {
namespace {

// The views of a comma-separated list, each of kSpinViews and named once.
std::string read_views(const char* text, std::vector<std::string>& views) {
  views.clear();
  std::string list = text;
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t end = std::min(list.find(',', start), list.size());
    const std::string view = list.substr(start, end - start);
    const bool known = std::find(std::begin(kSpinViews), std::end(kSpinViews), view) != std::end(kSpinViews);
    if (!known) {
      return quoted("--views", text) + " names " + (view.empty() ? "an empty view" : "\"" + view + "\"") +
             ": the views are spin, polar-h, polar-v and polar-normalised";
    }
    if (std::find(views.begin(), views.end(), view) != views.end()) {
      return quoted("--views", text) + " names \"" + view + "\" twice";
    }
    views.push_back(view);
    start = end + 1;
  }
  return "";
}

}  // namespace

std::string parse_spin_options(int argc, char** argv, SpinProgramOptions& o) {
  enum { kAngles = 256, kAllowMissing, kPoints, kCta, kJson, kPlot, kViews, kGate };
  static const option longs[] = {
      {"angles", required_argument, nullptr, kAngles},
      {"allow-missing", no_argument, nullptr, kAllowMissing},
      {"points", required_argument, nullptr, kPoints},
      {"cta", required_argument, nullptr, kCta},
      {"json", required_argument, nullptr, kJson},
      {"plot", required_argument, nullptr, kPlot},
      {"views", required_argument, nullptr, kViews},
      {"gate", required_argument, nullptr, kGate},
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
        if (std::string e = read_setting(Setting::points, optarg, points); !e.empty()) return e;
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
      case kPlot:
        o.plot = optarg;
        if (!ends_with_svg(o.plot)) return quoted("--plot", optarg) + " must name a file ending in .svg";
        break;
      case kViews:
        if (std::string e = read_views(optarg, o.views); !e.empty()) return e;
        break;
      case kGate:
        if (std::string e = read_setting(Setting::gate, optarg, o.gate); !e.empty()) return e;
        break;
      case 'h': o.help = true; break;
      case 'V': o.version = true; break;
      default: {
        const std::string given = argv[optind - 1];
        if (optopt >= kAngles && optopt <= kGate) return "option " + given + " needs a value";
        return "unknown option " + given + "; vellisk-spin --help lists the options";
      }
    }
  }
  for (int i = optind; i < argc; ++i) o.inputs.emplace_back(argv[i]);
  if (!o.views.empty() && o.plot.empty()) return "--views draws on a figure: give --plot FILE.svg too";
  return "";
}

}  // namespace vellisk
