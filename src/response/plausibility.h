// The plausibility of a channel's measurement: the warnings a run that probably went wrong draws.
#pragma once

#include <string>
#include <vector>

#include "response/layout.h"
#include "response/measurement.h"
#include "vellisk/problem.h"

namespace vellisk {

// The thresholds of the warnings.
inline constexpr double kMinResponseToNoiseDb = 20;  // the peak over the noise's rms
inline constexpr double kMinCrestDb = 20;        // the peak over the window's rms,
inline constexpr double kMinCrestWindow = 0.1;   // s, in a window at least this long
inline constexpr double kMinRecordedDbfs = -50;  // the recording's peak
inline constexpr int kEdgeSamples = 3;           // a peak this near the window's ends

// A window whose peak, times the sweep's amplitude, lies this far below the
// recording's peak holds little of what was recorded.
inline constexpr double kMaxRecordedOverPeakDb = 40;

// Whether the response probably lies outside the window: the largest value
// computed before it is at least the window's peak, the peak lies at the
// window's edge, it stands less than kMinResponseToNoiseDb above the noise, or
// it is too weak for the recording (kMaxRecordedOverPeakDb; a noiseless
// recording's window holds only the far response's faint ringing).
bool response_elsewhere(const ChannelResult& r, const Layout& layout, double amplitude);

inline constexpr double kMaxTailDb = 10;      // a window ending this far above where the
inline constexpr double kWindowRangeDb = 50;  // decay ends (the noise, or this far below the
                                              // window's first tenth) is too short

// The tail of a linear window of n samples whose zero instant is sample pre,
// against the noise's rms: cut when its last tenth lies more than kMaxTailDb
// above where the decay ends.
WindowTail window_tail(const float* window, std::int64_t pre, std::int64_t n, double noise,
                       double rate);

// The warnings on channel `channel` (counted from 1) of a measurement; none
// for a clean measurement. found: where a search of the whole recording found
// the response, when it lies outside the window, which the warning then gives.
std::vector<Warning> plausibility_warnings(const ChannelResult& r, int channel,
                                           const Layout& layout, double rate,
                                           const FoundResponse* found = nullptr);

}  // namespace vellisk
