// The rules that tell a measurement that probably went wrong.
#include "response/plausibility.h"

#include <cinttypes>
#include <cmath>

#include "cli/console.h"
#include "response/analysis.h"

namespace {

const auto line = formatted;

bool at_edge(const ChannelResult& r, const Layout& layout) {
  const double at = r.arrival + static_cast<double>(layout.pre);
  const double last = static_cast<double>(layout.window(1) - 1);
  return r.before >= std::abs(r.peak) || at < kEdgeSamples || at > last - kEdgeSamples;
}

// The mean square of x[first, last).
double mean_square(const float* x, std::int64_t first, std::int64_t last) {
  double sum = 0;
  for (std::int64_t i = first; i < last; ++i) sum += static_cast<double>(x[i]) * x[i];
  return last > first ? sum / static_cast<double>(last - first) : 0;
}

}  // namespace

bool response_elsewhere(const ChannelResult& r, const Layout& layout, double amplitude) {
  if (r.peak == 0) return false;
  const double peak_db = decibels(std::abs(r.peak));
  return at_edge(r, layout) || peak_db - decibels(r.noise) < kMinPeakToNoiseDb ||
         peak_db + decibels(std::abs(amplitude)) < decibels(r.recorded.peak) - kMaxRecordedOverPeakDb;
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

WindowTail window_tail(const float* window, std::int64_t pre, std::int64_t n, double noise,
                       double rate) {
  WindowTail tail;
  const std::int64_t length = n - pre;
  if (length < 20 || !(noise > 0)) return tail;
  // The levels of the window's tenths after the zero instant, dB.
  double level[10];
  for (int k = 0; k < 10; ++k) {
    level[k] = 10 * std::log10(std::max(
        mean_square(window, pre + k * length / 10, pre + (k + 1) * length / 10), 1e-300));
  }
  // Where the decay ends: in the noise, or (a response with next to no noise)
  // kWindowRangeDb below its first tenth, past which nothing it holds matters.
  const double end_db = std::max(decibels(noise), level[0] - kWindowRangeDb);
  tail.above_noise_db = level[9] - decibels(noise);
  tail.cut = level[9] - end_db > kMaxTailDb;
  if (!tail.cut) return tail;
  // A line through the levels of the second half (the late decay, past the
  // direct sound), continued down to that end.
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int k = 5; k < 10; ++k) {
    const double t = (k + 0.5) * static_cast<double>(length) / 10 / rate;
    sx += t, sy += level[k], sxx += t * t, sxy += t * level[k];
  }
  const double slope = (sxy - sx * sy / 5) / (sxx - sx * sx / 5);  // dB/s
  if (slope < 0) {
    const double last = 9.5 * static_cast<double>(length) / 10 / rate;
    tail.reaches_noise = last + (level[9] - end_db) / -slope;
  }
  return tail;
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
  const bool outside = at_edge(r, layout);
  if (outside) {
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
  } else if (!outside && r.tail.cut &&
             static_cast<double>(layout.window(1)) >= kMinCrestWindow * rate) {
    // (A shorter window is a deliberate gate, and one that misses the peak is
    // wrong in another way.) Room to see the floor beyond the decay: a quarter
    // more, in tenths of a second.
    const std::string length =
        r.tail.reaches_noise > 0
            ? line("; --length %.1f or more would hold it",
                   std::ceil(12.5 * r.tail.reaches_noise) / 10)
            : std::string("; a longer --length would hold more of it");
    warnings.push_back(line("Warning: channel %d: the response has not decayed into the noise by "
                            "the end of its window (its last tenth is %.0f dB above the noise)%s",
                            channel, r.tail.above_noise_db, length.c_str()));
  }
  return warnings;
}
