// Text as printf writes it, except that no number reads "-0".
#include "format/formatted.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vellisk {

namespace {

// Whether text, one conversion's output, shows a zero with a minus sign
// ("-0.00", "  -0"): a negative value that rounds to zero.
bool negative_zero(const std::string& text) {
  const std::size_t minus = text.find_first_not_of(' ');
  if (minus == std::string::npos || text[minus] != '-') return false;
  const std::string number = text.substr(minus + 1, text.find_first_not_of("0123456789.", minus + 1));
  return number.find('0') != std::string::npos &&
         number.find_first_not_of("0.") == std::string::npos;
}

// One conversion (such as "%+.2f") of the next argument.
std::string convert(const std::string& conversion, va_list& args) {
  const char type = conversion.back();
  const std::string modifiers = conversion.substr(1, conversion.size() - 2);
  const auto has = [&modifiers](const char* m) { return modifiers.find(m) != std::string::npos; };
  char buffer[512];
  if (std::strchr("fFeEgGaA", type) != nullptr) {
    const double x = va_arg(args, double);
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), x);
    // A negative value that rounds to zero reads as zero, with the sign the
    // flags give zero ("0.00", "+0.00").
    if (negative_zero(buffer)) std::snprintf(buffer, sizeof buffer, conversion.c_str(), 0.0);
    return buffer;
  }
  if (type == 's') {
    const char* text = va_arg(args, const char*);
    std::string out(static_cast<std::size_t>(std::max(std::snprintf(nullptr, 0, conversion.c_str(), text), 0)), '\0');
    std::snprintf(out.data(), out.size() + 1, conversion.c_str(), text);
    return out;
  }
  if (type == 'p') {
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), va_arg(args, void*));
  } else if (has("ll")) {
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), va_arg(args, long long));
  } else if (has("l")) {
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), va_arg(args, long));
  } else if (has("z")) {
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), va_arg(args, std::size_t));
  } else if (has("j")) {
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), va_arg(args, std::intmax_t));
  } else {
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), va_arg(args, int));
  }
  return buffer;
}

}  // namespace

std::string vformatted(const char* format, va_list args) {
  va_list own;
  va_copy(own, args);
  std::string line;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      line += *p;
      continue;
    }
    if (p[1] == '%') {
      line += '%';
      ++p;
      continue;
    }
    const char* end = p + 1;
    while (*end != '\0' && !std::strchr("diouxXcsfFeEgGaAp", *end)) ++end;
    if (*end == '\0') break;
    line += convert(std::string(p, end + 1), own);
    p = end;
  }
  va_end(own);
  return line;
}

std::string formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = vformatted(format, args);
  va_end(args);
  return line;
}

}  // namespace vellisk
