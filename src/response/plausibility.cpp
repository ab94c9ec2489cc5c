// The rules that tell a measurement that probably went wrong.
#include "response/plausibility.h"

#include <cinttypes>
#include <cmath>

#include "cli/console.h"
#include "response/analysis.h"

namespace {

const auto line = formatted;

}  // namespace

namespace {

bool at_edge(const ChannelResult& r, const Layout& layout) {
  const double at = r.arrival + static_cast<double>(layout.pre);
  const double last = static_cast<double>(layout.window(1) - 1);
  return r.before >= std::abs(r.peak) || at < kEdgeSamples || at > last - kEdgeSamples;
}

}  // namespace

bool response_elsewhere(const ChannelResult& r, const Layout& layout) {
  if (r.peak == 0) return false;
  return at_edge(r, layout) || decibels(std::abs(r.peak)) - decibels(r.noise) < kMinPeakToNoiseDb;
}

std::string found_text(double at, double rate) {
  const double s = at / rate;
  if (at > 0) {
    return formatted("%.3f s after the zero instant: the recorder probably started that much "
                     "before playback, or the latency is that long", s);
  }
  return formatted("%.3f s before the zero instant: the recording probably began that much "
                   "after playback, and misses the sweep's start", -s);
}

std::vector<std::string> plausibility_warnings(const ChannelResult& r, int channel,
                                               const Layout& layout, double rate,
                                               const FoundResponse* found) {
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
  if (found != nullptr) {
    warnings.push_back(line("Warning: channel %d: the response lies %s; --align moves the window "
                            "onto it", channel, found_text(found->at, rate).c_str()));
    return warnings;
  }
  if (at_edge(r, layout)) {
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
