// The words of a measurement's warnings, with the settings they advise named as the caller names
// them.
#include <cinttypes>
#include <cmath>

#include "sweep/printf_line.h"
#include "sweep/settings.h"
#include "vellisk/problem.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

// The warnings of a channel's response.
std::string response_warning(const Warning& w, SettingNames name) {
  const int c = w.channel;
  const std::string advice = std::string(
      "check that the eight numbers are those of the played sweep, that the recording began "
      "before playback and that ") + name(Setting::length) + " exceeds the latency";
  switch (w.code) {
    case WarningCode::response_elsewhere:
      return printf_line("channel %d: the response lies %s; %s moves the window onto it", c,
                       found_response_text(w.value, w.second).c_str(), name(Setting::align));
    case WarningCode::outside_window:
      return printf_line("channel %d: the response's peak lies outside the window or at its edge "
                       "(%.3f s from the zero instant); the recording may have begun after "
                       "playback, or the latency exceeds %s", c, w.value, name(Setting::length));
    case WarningCode::low_peak_to_noise:
      return printf_line("channel %d: the response's peak-to-noise is only %.1f dB; %s", c, w.value,
                       advice.c_str());
    case WarningCode::not_an_impulse:
      return printf_line("channel %d: the response does not look like an impulse, its peak only "
                       "%.1f dB above its rms over the window; %s", c, w.value, advice.c_str());
    default: {
      // window_ends_early. Room to see the floor beyond the decay: a quarter more, in tenths
      // of a second.
      const std::string length =
          w.second > 0 ? printf_line("; %s %.1f or more would hold it", name(Setting::length),
                                   std::ceil(12.5 * w.second) / 10)
                       : printf_line("; a longer %s would hold more of it", name(Setting::length));
      return printf_line("channel %d: the response has not decayed into the noise by the end of "
                       "its window (its last tenth is %.0f dB above the noise)%s",
                       c, w.value, length.c_str());
    }
  }
}

// The run's drift that spreads the arrival.
std::string drift_warning(const Warning& w, SettingNames name) {
  const std::string how = w.count > 0 ? printf_line("on the reference (channel %" PRId64 ")", w.count)
                                      : std::string("from the spacing of the repeats");
  // With a drift given, the warning is about what is left after it.
  const std::string left =
      w.second != 0 ? printf_line(", %.1f ppm beyond the %.1f ppm applied,", w.value - w.second,
                                w.second)
                    : std::string();
  return printf_line(
      "a clock drift of %.1f ppm, measured %s%s spreads the response's arrival over %.1f "
      "samples across the band; %s auto corrects it",
      w.value, how.c_str(), left.empty() ? "," : left.c_str(), w.third, name(Setting::drift));
}

}  // namespace

std::string found_response_text(double at, double rate) {
  const double s = at / rate;
  if (at > 0) {
    return printf_line("%.3f s after the zero instant: the recorder probably started that much "
                     "before playback, or the latency is that long", s);
  }
  return printf_line("%.3f s before the zero instant: the recording probably began that much "
                   "after playback, and misses the sweep's start", -s);
}

std::string describe(const Warning& w, SettingNames names, const std::string& recording) {
  const SettingNames name = names != nullptr ? names : field_name;
  const int c = w.channel;
  switch (w.code) {
    case WarningCode::silent_recording:
      return printf_line("channel %d: the recording is silent where the sweep should be (every "
                       "sample read is 0); check the input's connection and channel", c);
    case WarningCode::clipped:
      return printf_line("channel %d: %" PRId64 " %s of the recording %s at full scale: it probably "
                       "clipped; lower the playback or input level and measure again",
                       c, w.count, w.count == 1 ? "sample" : "samples", w.count == 1 ? "is" : "are");
    case WarningCode::low_recording:
      return printf_line("channel %d: the recording peaks at only %.1f dBFS, so the measurement is "
                       "limited by noise; raise the playback or input level", c, w.value);
    case WarningCode::drift_spreads_arrival:
      return drift_warning(w, name);
    case WarningCode::recording_ends_early:
      return "recording (" + recording + ") ends " + std::to_string(w.count) +
             " samples before the window does; they are read as silence";
    default:
      return response_warning(w, name);
  }
}

}  // namespace vellisk
