// Text as printf writes it, except that no number reads "-0": the words of every report line,
// message and figure label.
#pragma once

#include <cstdarg>
#include <string>

namespace vellisk {

// The text printf would write, as a string, except that a number that rounds
// to zero never shows a minus sign ("-0.00" reads "0.00", "%+.1f" of -0.01
// "+0.0"). Every report line and message goes through it.
std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// formatted, of a va_list.
std::string vformatted(const char* format, va_list args);

}  // namespace vellisk
