// The options of vellisk-ir, read with getopt_long: a response's, and its own.
#pragma once

#include <string>
#include <vector>

#include "common/response_options.h"

namespace vellisk {

struct IrOptions : ResponseOptions {
  long channels = 0;  // channels of a headerless recording; 0 when not given
  bool help = false;
  bool version = false;
  std::vector<const char*> arguments;  // the positional arguments
};

// Reads the options and keeps the positional arguments. Returns "", or one
// line naming the option, the rule and the value given.
std::string parse_options(int argc, char** argv, IrOptions& options);

}  // namespace vellisk
