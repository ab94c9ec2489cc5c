// The --levels file of vellisk-room: the speech and background-noise levels at the listener.
#pragma once

#include <string>

#include "room/sti.h"

namespace vellisk {

// The levels each band may be given, dB SPL.
inline constexpr double kMinLevelDb = -50;
inline constexpr double kMaxLevelDb = 150;

// Reads a levels file: lines "speech" and "noise", each with seven levels in dB SPL for the
// octaves 125 Hz to 8 kHz; an optional line "band 125 250 500 1k 2k 4k 8k"; blank lines and
// lines from '#' ignored. Returns "", or one line naming the file, the line and the rule.
std::string read_levels(const std::string& name, SpeechLevels& levels);

}  // namespace vellisk
