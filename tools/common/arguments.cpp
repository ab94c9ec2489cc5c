// Argument reading with warnings for text that is not wholly a number.
#include "common/arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "vellisk/number_text.h"

namespace vellisk {

namespace {

double read_number(const char* name, const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  bool whole = end != text;
  for (const char* c = end; whole && *c != '\0'; ++c) {
    whole = std::isspace(static_cast<unsigned char>(*c)) != 0;
  }
  if (!whole) {
    std::fprintf(stderr, "Warning: %s '%s' was read as %s\n", name, text,
                 number_text(value).c_str());
  }
  return value;
}

}  // namespace

SweepParams parse_numbers(const char* const* texts) {
  SweepParams p;
  p.rate = read_number(kNumberNames[0], texts[0]);
  p.amplitude = read_number(kNumberNames[1], texts[1]);
  p.hzstart = read_number(kNumberNames[2], texts[2]);
  p.hzend = read_number(kNumberNames[3], texts[3]);
  p.duration = read_number(kNumberNames[4], texts[4]);
  p.silence = read_number(kNumberNames[5], texts[5]);
  p.leadin = read_number(kNumberNames[6], texts[6]);
  p.leadout = read_number(kNumberNames[7], texts[7]);
  return p;
}

bool whole_number(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(value);
}

bool whole_integer(const char* text, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && errno == 0;
}

std::string quoted(const char* option, const char* text) {
  return std::string(option) + " (" + text + ")";
}

bool ends_with(const std::string& name, const std::string& extension) {
  const std::size_t n = extension.size();
  if (name.size() <= n || name[name.size() - n - 1] == '/') return false;
  std::string tail = name.substr(name.size() - n);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == extension;
}

bool ends_with_svg(const std::string& name) { return ends_with(name, ".svg"); }

}  // namespace vellisk
