// Options whose value is a request's setting: the text read as a number, the number judged by
// the library (check_setting), a refusal worded with the option and the text as given.
#pragma once

#include <string>

#include "vellisk/problem.h"

namespace vellisk {

// Reads text for setting into value, a number (double) or a whole number (long): "" or the
// library's refusal, "--pre (-1.0) must be a number of seconds, 0 or more". A text that is not
// wholly a number is refused as a value out of the range. value is left as it was when refused.
std::string read_setting(Setting setting, const char* text, double& value);
std::string read_setting(Setting setting, const char* text, long& value);

// The library's judgement of value, which text gave for setting: "" or the refusal worded as
// read_setting's. A value that text does not hold is not-a-number, which every range refuses.
std::string judged_setting(Setting setting, const char* text, double value);

// The library's refusal of a value that text gave for option, in the option's words: the line
// opens with the value's name and the value, "rate (0)", which become "--rate (0.0)".
std::string option_refusal(const char* option, const char* text, const Problem& problem);

// text read wholly as a number, or as a whole number; not-a-number when it is not one.
double number_of(const char* text);
double integer_of(const char* text);

}  // namespace vellisk
