// The options of vellisk-measure, read with getopt_long; the library judges their values.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/response_options.h"

namespace vellisk {

struct MeasureOptions {
  std::vector<std::string> outs;  // -o/--out: playback ports; empty: the first physical one
  std::vector<std::string> ins;   // -i/--in: capture ports; empty: the first physical one
  long repeats = 1;               // --repeat N: the sweep file played N times back to back
  double tail = 1;                // --tail SECONDS recorded after the last sweep file
  std::string sweep;              // --sweep FILE: the design from a sweep WAV
  bool level = false;             // --level: play a burst and suggest an amplitude
  bool list = false;
  bool help = false;
  bool version = false;
  // The response's options as given, each its val in response_long_options() and its value,
  // read once the eight numbers and the recording have been checked.
  std::vector<std::pair<int, std::string>> response;
  std::string response_only;  // the first of them that is not also the program's own, if any
  std::vector<const char*> arguments;  // the positional arguments
};

// Reads the options and keeps the positional arguments. Returns "", or one
// line naming the option, the rule and the value given.
std::string parse_measure_options(int argc, char** argv, MeasureOptions& options);

// Reads the response's options kept by parse_measure_options, in the order given. Returns "",
// or the first refusal.
std::string read_response_options(const MeasureOptions& options, ResponseOptions& response);

}  // namespace vellisk
