// The rules that tell a measurement that probably went wrong.
#include "response/plausibility.h"

#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "response/analysis.h"

namespace {

std::string line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string line(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace

std::vector<std::string> plausibility_warnings(const ChannelResult& r, int channel,
                                               const Layout& layout, double rate) {
  std::vector<std::string> warnings;
  if (r.recorded.peak == 0) {
    warnings.push_back(
        line("Warning: channel %d: the recording is silent where the sweep should "
             "be (every sample read is 0); check the input's connection and channel",
             channel));
    return warnings;
  }
  const double recorded_db = decibels(r.recorded.peak);
  if (r.recorded.clipped > 0) {
    warnings.push_back(line("Warning: channel %d: %" PRId64
                            " %s of the recording %s at full scale: it probably clipped; lower "
                            "the playback or input level and measure again",
                            channel, r.recorded.clipped,
                            r.recorded.clipped == 1 ? "sample" : "samples",
                            r.recorded.clipped == 1 ? "is" : "are"));
  } else if (recorded_db < kMinRecordedDbfs) {
    warnings.push_back(
        line("Warning: channel %d: the recording peaks at only %.1f dBFS, so the "
             "measurement is limited by noise; raise the playback or input level",
             channel, recorded_db));
  }
  const double peak = std::abs(r.peak);
  if (peak == 0) return warnings;
  const double at = r.arrival + static_cast<double>(layout.pre);
  const double last = static_cast<double>(layout.window(1) - 1);
  if (r.before >= peak || at < kEdgeSamples || at > last - kEdgeSamples) {
    const double where = r.before >= peak ? r.before_at : r.arrival;
    warnings.push_back(
        line("Warning: channel %d: the response's peak lies outside the window or "
             "at its edge (%.3f s from the zero instant); the recording may have "
             "begun after playback, or the latency exceeds --length",
             channel, where / rate));
  }
  const double to_noise = decibels(peak) - decibels(r.noise);
  const double crest = decibels(peak) - decibels(r.window_rms);
  const char* advice =
      "check that the eight numbers are those of the played sweep, that the recording began "
      "before playback and that --length exceeds the latency";
  if (to_noise < kMinPeakToNoiseDb) {
    warnings.push_back(line("Warning: channel %d: the response's peak-to-noise is only %.1f dB; %s",
                            channel, to_noise, advice));
  } else if (crest < kMinCrestDb &&
             static_cast<double>(layout.window(1)) >= kMinCrestWindow * rate) {
    warnings.push_back(
        line("Warning: channel %d: the response does not look like an impulse, its "
             "peak only %.1f dB above its rms over the window; %s",
             channel, crest, advice));
  }
  return warnings;
}
