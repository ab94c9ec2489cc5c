// Option reading for vellisk.
#include "options.h"

#include <cstdlib>

namespace vellisk {

namespace {

// Starts with "-" and is not a number: "-x", "--wave", but not "-0.5" or "-inf".
bool looks_like_option(const char* text) {
  if (text[0] != '-' || text[1] == '\0') return false;
  char* end = nullptr;
  std::strtod(text, &end);
  return end == text;
}

}  // namespace

bool is_option(const std::string& text) {
  return text == "--wav" || text == "-h" || text == "--help" || text == "-V" || text == "--version";
}

std::string read_options(int argc, const char* const* argv, VelliskOptions& o) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (!is_option(arg)) {
      if (i > 1 && looks_like_option(argv[i])) {
        return "unknown option " + arg + "; vellisk --help lists the options";
      }
      break;
    }
    o.wav = o.wav || arg == "--wav";
    o.help = o.help || arg == "-h" || arg == "--help";
    o.version = o.version || arg == "-V" || arg == "--version";
  }
  o.given = i > 1;
  o.first = i;
  return "";
}

}  // namespace vellisk
