// The report's lines on timing: the reference's latency, the repeats and the clock drift.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "vellisk/response.h"

namespace vellisk {

// The report's lines.
std::vector<std::string> timing_lines(const TimingFigures& f);

}  // namespace vellisk
