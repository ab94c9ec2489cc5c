// Reading the eight numbers of the command line, shared by every program.
#pragma once

#include "sweep/sweep_design.h"

// The names of the eight numbers, in command-line order.
inline constexpr const char* kNumberNames[] = {"rate",     "amplitude", "hzstart", "hzend",
                                               "duration", "silence",   "leadin",  "leadout"};

// Reads texts[0] to texts[7] as numbers, the way atof does: leading blanks
// skipped, the longest numeric prefix converted, no prefix reading as 0. A text
// with no number, or with more than blanks after its number, is read all the
// same, with a warning line on standard error.
SweepParams parse_numbers(const char* const* texts);
