// Reading the eight numbers of the command line, shared by every program.
#pragma once

#include <string>

#include "vellisk/sweep.h"

namespace vellisk {

// The names of the eight numbers, in command-line order.
inline constexpr const char* kNumberNames[] = {"rate",     "amplitude", "hzstart", "hzend",
                                               "duration", "silence",   "leadin",  "leadout"};

// Reads texts[0] to texts[7] as numbers, the way atof does: leading blanks
// skipped, the longest numeric prefix converted, no prefix reading as 0. A text
// with no number, or with more than blanks after its number, is read all the
// same, with a warning line on standard error.
SweepParams parse_numbers(const char* const* texts);

// An option's value read whole: a finite number, or a decimal integer in
// long's range, with nothing after it.
bool whole_number(const char* text, double& value);
bool whole_integer(const char* text, long& value);

// "--length (abc)": an option and the text given, as messages name them.
std::string quoted(const char* option, const char* text);

// Whether a name ends in extension (".svg"; any letter case) after a name of its own.
bool ends_with(const std::string& name, const std::string& extension);
bool ends_with_svg(const std::string& name);

}  // namespace vellisk
