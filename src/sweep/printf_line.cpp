// A line of the library's words, printf-formatted into a string.
#include "sweep/printf_line.h"

#include <cstdarg>
#include <cstdio>

namespace vellisk {

std::string printf_line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, again);
  va_end(again);
  return out;
}

}  // namespace vellisk
