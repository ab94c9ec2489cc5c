// Option reading for vellisk.
#include "options.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace vellisk {

namespace {

// Starts with "-" and is not a number: "-x", "--wave", but not "-0.5" or "-inf".
bool looks_like_option(const char* text) {
  if (text[0] != '-' || text[1] == '\0') return false;
  char* end = nullptr;
  std::strtod(text, &end);
  return end == text;
}

// The edits (insertions, deletions, substitutions) that take a to b.
std::size_t edits(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The refusal of an unknown option, with the option it is probably a slip for.
std::string unknown_option(const std::string& given) {
  std::string line = "unknown option " + given;
  for (const char* known : {"--wav", "--help", "--version"}) {
    if (edits(given, known) <= 2) {
      line += " (perhaps " + std::string(known) + ")";
      break;
    }
  }
  return line + "; vellisk --help lists the options";
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
      // First, with fewer than ten arguments, it is the usage screen's.
      if (looks_like_option(argv[i]) && (i > 1 || argc > 10)) return unknown_option(arg);
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
