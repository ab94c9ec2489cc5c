// The options of vellisk, given before the eight numbers.
#pragma once

#include <string>

namespace vellisk {

struct VelliskOptions {
  bool given = false;    // the command line begins with an option (or "--")
  bool wav = false;      // --wav: both files as 32-bit float WAV carrying their design
  bool help = false;     // -h, --help
  bool version = false;  // -V, --version
  int first = 1;         // index in argv of the first of the ten arguments
};

// Whether text names one of the options.
bool is_option(const std::string& text);

// Reads the options at the start of the command line, up to the first
// argument that is not one, or up to "--". A command line whose first argument
// is not an option has none: it reads as it always has, so that a number
// (a negative one included) there is the rate, and fewer than ten arguments
// show the usage screen. An argument that starts with "-" and is not a number
// is refused as unknown after an option, and first when ten or more follow it
// (it would be read as the rate).
// Returns "" or the refusal line.
std::string read_options(int argc, const char* const* argv, VelliskOptions& options);

}  // namespace vellisk
