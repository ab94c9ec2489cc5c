// Option reading for vellisk-ir: a response's options, and its own.
#include "options.h"

#include <getopt.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/arguments.h"
#include "common/setting_options.h"

namespace vellisk {

namespace {

// The response's options, then the program's own.
std::vector<option> long_options() {
  std::vector<option> longs = response_long_options();
  longs.pop_back();
  longs.push_back({"channels", required_argument, nullptr, 'c'});
  longs.push_back({"help", no_argument, nullptr, 'h'});
  longs.push_back({"version", no_argument, nullptr, 'V'});
  longs.push_back({nullptr, 0, nullptr, 0});
  return longs;
}

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

// Whether the option getopt found wanting, optopt, takes a value.
bool takes_value(const std::vector<option>& longs, int val) {
  for (const option& l : longs) {
    if (l.name != nullptr && l.val == val && l.has_arg == required_argument) return true;
  }
  return false;
}

}  // namespace

std::string parse_options(int argc, char** argv, IrOptions& o) {
  const std::vector<option> longs = long_options();
  opterr = 0;
  optind = 1;
  // "+": options end at the first argument that is not one, so that a negative
  // number among the eight (an amplitude of -0.5) is not taken for an option.
  for (int c; (c = getopt_long(argc, argv, "+l:p:c:H:hV", longs.data(), nullptr)) != -1;) {
    // "-length 3" reads as -l with "ength": a long option with one dash.
    if (std::string e = one_dash_error(argv[optind - 1], longs.data()); !e.empty()) return e;
    switch (c) {
      case 'c':
        if (std::string e = read_setting(Setting::channels, optarg, o.channels); !e.empty()) {
          return e;
        }
        break;
      case 'h':
        o.help = true;
        break;
      case 'V':
        o.version = true;
        break;
      case '?': {
        const std::string given = argv[optind - 1];
        if (takes_value(longs, optopt)) return "option " + given + " needs a value";
        return "unknown option " + given + "; vellisk-ir --help lists the options";
      }
      default:
        if (std::string e = read_response_option(c, optarg, o); !e.empty()) return e;
        if (const int second = second_value_of(c); second != 0) {
          if (optind >= argc) return "option --spl-cal needs a file and a level";
          if (std::string e = read_response_option(second, argv[optind++], o); !e.empty()) return e;
        }
    }
  }
  for (int i = optind; i < argc; ++i) o.arguments.push_back(argv[i]);
  return response_options_error(o);
}

}  // namespace vellisk
