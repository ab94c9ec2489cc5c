// Option reading for vellisk-measure: its own options, and a response's, read as vellisk-ir
// reads them.
#include "options.h"

#include <getopt.h>

#include <cstring>
#include <optional>

#include "common/arguments.h"
#include "common/ir_report.h"
#include "common/setting_options.h"
#include "vellisk/measure.h"

namespace vellisk {

namespace {

// The program's own options. Long-only ones have vals above any of vellisk-ir's.
enum { kList = 1000, kRepeat, kTail, kSweep, kLevel };
const option kOwn[] = {
    {"out", required_argument, nullptr, 'o'},    {"in", required_argument, nullptr, 'i'},
    {"list", no_argument, nullptr, kList},       {"repeat", required_argument, nullptr, kRepeat},
    {"tail", required_argument, nullptr, kTail}, {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"sweep", required_argument, nullptr, kSweep}, {"level", no_argument, nullptr, kLevel},
};
constexpr int kOwnCount = sizeof kOwn / sizeof kOwn[0];

// Reads one of the program's own options.
std::string read_own(int val, MeasureOptions& o) {
  switch (val) {
    case 'o':
    case 'i': {
      std::vector<std::string>& ports = val == 'o' ? o.outs : o.ins;
      const char* name = val == 'o' ? "--out" : "--in";
      if (*optarg == '\0') return std::string(name) + " needs a port name";
      ports.push_back(optarg);
      // The library's rule on the lists' lengths, at the first name beyond it.
      if (std::optional<Problem> p = check_live_port_count(o.outs, o.ins)) {
        return describe(*p, option_name);
      }
      return "";
    }
    case kList:
      o.list = true;
      return "";
    case kRepeat:
      return read_setting(Setting::repeat, optarg, o.repeats);
    case kTail:
      return read_setting(Setting::tail, optarg, o.tail);
    case kSweep:
      o.sweep = optarg;
      return "";
    case kLevel:
      o.level = true;
      return "";
    case 'h':
      o.help = true;
      return "";
    default:
      o.version = true;
      return "";
  }
}

// The table getopt_long reads: the program's own options, then the response's, with the
// response's option each entry stands for (nullptr: none). A response's option named like one
// of the program's is read by both.
struct OptionTable {
  std::vector<option> longs = std::vector<option>(kOwn, kOwn + kOwnCount);
  std::vector<const option*> theirs = std::vector<const option*>(kOwnCount, nullptr);
  std::string shorts = "+o:i:hV";
};

OptionTable option_table() {
  OptionTable t;
  for (const option* l = response_long_options().data(); l->name != nullptr; ++l) {
    bool shared = false;
    for (int i = 0; i < kOwnCount; ++i) {
      if (std::strcmp(kOwn[i].name, l->name) == 0) t.theirs[static_cast<std::size_t>(i)] = l;
      shared = shared || std::strcmp(kOwn[i].name, l->name) == 0;
    }
    if (shared) continue;
    t.longs.push_back(*l);
    t.theirs.push_back(l);
    if (l->val > 0 && l->val < 128) {
      t.shorts += static_cast<char>(l->val);
      if (l->has_arg == required_argument) t.shorts += ':';
    }
  }
  t.longs.push_back({nullptr, 0, nullptr, 0});
  return t;
}

// The line of an option given that getopt_long did not take (its val optopt): one that needs a
// value given none, or one unknown.
std::string refused_option(const std::vector<option>& longs, const std::string& given, int val) {
  bool takes_value = false;
  for (const option& l : longs) {
    takes_value =
        takes_value || (l.name != nullptr && l.val == val && l.has_arg == required_argument);
  }
  if (takes_value) return "option " + given + " needs a value";
  return "unknown option " + given + "; vellisk-measure --help lists the options";
}

// The entry of short option c: the program's own, or else the response's.
int short_entry(const std::vector<option>& longs, int c) {
  for (std::size_t i = 0; i + 1 < longs.size(); ++i) {
    if (longs[i].val == c && (i < kOwnCount || c < 128)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

std::string parse_measure_options(int argc, char** argv, MeasureOptions& o) {
  const OptionTable table = option_table();
  const std::vector<option>& longs = table.longs;
  opterr = 0;
  optind = 1;
  int index = -1;
  // "+": options end at the first argument that is not one, so that a negative
  // amplitude is not taken for an option.
  for (int c; (c = getopt_long(argc, argv, table.shorts.c_str(), longs.data(), &index)) != -1;
       index = -1) {
    if (c == '?') return refused_option(longs, argv[optind - 1], optopt);
    if (index < 0) index = short_entry(longs, c);
    const auto i = static_cast<std::size_t>(index);
    if (i < kOwnCount) {
      if (std::string e = read_own(kOwn[i].val, o); !e.empty()) return e;
    }
    if (const option* l = table.theirs[i]) {
      o.response.emplace_back(l->val, l->has_arg == no_argument ? "" : optarg);
      if (const int second = second_value_of(l->val); second != 0) {
        if (optind >= argc) return std::string("option --") + l->name + " needs a file and a level";
        o.response.emplace_back(second, argv[optind++]);
      }
      if (i >= kOwnCount && o.response_only.empty()) o.response_only = std::string("--") + l->name;
    }
  }
  for (int i = optind; i < argc; ++i) o.arguments.push_back(argv[i]);
  return "";
}

std::string read_response_options(const MeasureOptions& o, ResponseOptions& response) {
  for (const auto& [val, value] : o.response) {
    if (std::string e = read_response_option(val, value.c_str(), response); !e.empty()) return e;
  }
  return response_options_error(response);
}

}  // namespace vellisk
