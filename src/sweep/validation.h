// Refusal of arguments that would write wrong files, before anything is written.
#pragma once

#include <string>

#include "sweep/sweep_design.h"
#include "vellisk/number_text.h"

namespace vellisk {

// Checks the numbers and the design computed from them: each value's range
// first, then the relations between values, then that every derived quantity
// is finite. Returns "" when the design may be written, otherwise one line that
// names the parameters, the rule and the values given.
std::string design_error(const SweepParams& params, const SweepDesign& design);

// The rules a WAV file adds to a design's: a whole rate of at most
// kWavMaxRate, and each file, header included, within the 4 GiB its 32-bit
// sizes reach. Call it on a design design_error accepts. Returns "" or one
// line, as design_error does.
std::string wav_error(const SweepParams& params, const SweepDesign& design);

// The rules a measurement adds to a design's: the sweep that was played must
// not have been silent. Returns "" or one line, as design_error does.
std::string measurement_error(const SweepParams& params);

// The largest clock drift that may be corrected: 1000 ppm either way.
inline constexpr double kMaxDrift = 1e-3;

// The rules on a clock drift to be corrected (what names it in the message:
// "--drift (50)", say): at most kMaxDrift either way, and a sweep that, at the
// recorder's clock, still has its samples and tapers. Returns "" or one line.
std::string drift_error(const SweepParams& params, double drift, const std::string& what);

}  // namespace vellisk
