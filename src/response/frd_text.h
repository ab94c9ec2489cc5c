// The words of a frequency-response text file refused, or of an average that could not be made.
#pragma once

#include <string>

#include "response/frd_average.h"

namespace vellisk {

// The refusal of input `name` (or of the inputs together), in one line.
std::string frd_error_text(const FrdError& e, const std::string& name);

}  // namespace vellisk
