// The sweep's design: the quantities derived once from the eight numeric arguments.
#pragma once

#include <cstdint>

#include "vellisk/sweep.h"

namespace vellisk {

inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kLn2 = 0.6931471805599453;

// Bytes per sample in the output files.
inline constexpr std::int64_t kSampleBytes = 4;

// Trunc toward zero of a length product, saturated to the 32-bit range.
std::int32_t to_length(double product);

}  // namespace vellisk
