/// @file
/// Numbers as the library's messages and files print them, and magnitudes as levels.
///
/// Threads: each function depends on its argument alone; may be called from any thread.
#pragma once

#include <charconv>
#include <string>

namespace vellisk {

/// The shortest text that reads back as the same double ("0.1", "48000", "1e-05", "inf"), as
/// the library's messages, response texts and reports print numbers.
inline std::string number_text(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

/// A magnitude as a level: 20 log10(x) dB re 1, minus infinity for 0.
double decibels(double x);

}  // namespace vellisk
