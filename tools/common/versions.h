// The programs' names and version, as --version prints them and the files they write name
// their writer.
#pragma once

#include "vellisk/version.h"

namespace vellisk {

inline constexpr const char* kIrVersion = "vellisk-ir " VELLISK_VERSION;
inline constexpr const char* kMeasureVersion = "vellisk-measure " VELLISK_VERSION;
inline constexpr const char* kRoomVersion = "vellisk-room " VELLISK_VERSION;
inline constexpr const char* kAverageVersion = "vellisk-average " VELLISK_VERSION;

}  // namespace vellisk
