// A line of the library's words, printf-formatted into a string.
#pragma once

#include <string>

namespace vellisk {

std::string printf_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vellisk
