// The options of vellisk-average, read with getopt_long.
#pragma once

#include <string>
#include <vector>

#include "vellisk/average.h"

namespace vellisk {

struct AverageOptions {
  AverageMode mode = AverageMode::power;  // --mode power|db|vector
  std::string csv;                        // --csv SPREAD.csv; empty when not given
  bool help = false;
  bool version = false;
  std::vector<std::string> arguments;  // out.frd, then the inputs
};

// Reads the options and keeps the positional arguments. Returns "", or one line naming the
// option, the rule and the value given.
std::string parse_average_options(int argc, char** argv, AverageOptions& options);

}  // namespace vellisk
