// The rules that tell a measurement that probably went wrong.
#include "response/plausibility.h"

#include <cinttypes>
#include <cmath>

#include "response/analysis.h"

namespace vellisk {

namespace {

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
  return at_edge(r, layout) || peak_db - decibels(r.noise) < kMinResponseToNoiseDb ||
         peak_db + decibels(std::abs(amplitude)) < decibels(r.recorded.peak) - kMaxRecordedOverPeakDb;
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

std::vector<Warning> plausibility_warnings(const ChannelResult& r, int channel,
                                           const Layout& layout, double rate,
                                           const FoundResponse* found) {
  std::vector<Warning> warnings;
  const auto warn = [&](WarningCode code, double value = 0, double second = 0) {
    warnings.push_back(Warning{code, channel, value, second, 0, 0});
    return &warnings.back();
  };
  if (r.recorded.peak == 0) {
    warn(WarningCode::silent_recording);
    return warnings;
  }
  const double recorded_db = decibels(r.recorded.peak);
  if (r.recorded.clipped > 0) {
    warn(WarningCode::clipped)->count = r.recorded.clipped;
  } else if (recorded_db < kMinRecordedDbfs) {
    warn(WarningCode::low_recording, recorded_db);
  }
  const double peak = std::abs(r.peak);
  if (peak == 0) return warnings;
  if (found != nullptr) {
    warn(WarningCode::response_elsewhere, found->at, rate);
    return warnings;
  }
  const bool outside = at_edge(r, layout);
  if (outside) {
    const double where = r.before >= peak ? r.before_at : r.arrival;
    warn(WarningCode::outside_window, where / rate);
  }
  const double to_noise = decibels(peak) - decibels(r.noise);
  const double crest = decibels(peak) - decibels(r.window_rms);
  if (to_noise < kMinResponseToNoiseDb) {
    warn(WarningCode::low_peak_to_noise, to_noise);
  } else if (crest < kMinCrestDb &&
             static_cast<double>(layout.window(1)) >= kMinCrestWindow * rate) {
    warn(WarningCode::not_an_impulse, crest);
  } else if (!outside && r.tail.cut &&
             static_cast<double>(layout.window(1)) >= kMinCrestWindow * rate) {
    // (A shorter window is a deliberate gate, and one that misses the peak is
    // wrong in another way.)
    warn(WarningCode::window_ends_early, r.tail.above_noise_db, r.tail.reaches_noise);
  }
  return warnings;
}

}  // namespace vellisk
