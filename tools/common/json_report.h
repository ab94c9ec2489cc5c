// The JSON report of a vellisk-ir run: every figure of the printed report, as numbers.
#pragma once

#include <string>

#include "common/ir_report.h"

namespace vellisk {

// The report as a JSON document, keys in the order the printed report gives
// them, units in their names; a figure the printed report gives as a word
// ("not measured", "above 300 dB") is null.
std::string json_report(const RunFigures& f);

}  // namespace vellisk
