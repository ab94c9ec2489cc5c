// The level burst and each input's peak, noise and suggested amplitude.
#include "vellisk/measure.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace vellisk {

SweepParams level_burst(const SweepParams& sweep) {
  SweepParams burst = sweep;
  burst.silence = 1;
  burst.duration = std::min(sweep.duration, 3.0);
  if (check_design(burst)) burst.duration = sweep.duration;
  return burst;
}

double InputLevel::peak_dbfs() const { return 20 * std::log10(static_cast<double>(peak)); }

double InputLevel::peak_to_noise_db() const { return peak_dbfs() - 20 * std::log10(noise_rms); }

LevelMeter::LevelMeter(int channels, double rate)
    : channels_(channels),
      stretch_(std::max<std::int64_t>(1, std::llround(rate / 10))),
      levels_(static_cast<std::size_t>(channels)),
      sum_(static_cast<std::size_t>(channels), 0.0),
      quietest_(static_cast<std::size_t>(channels), -1.0) {}

bool LevelMeter::write(const float* frames, std::int64_t count) {
  const auto n = static_cast<std::size_t>(channels_);
  for (std::int64_t t = 0; t < count; ++t) {
    for (std::size_t c = 0; c < n; ++c) {
      const float x = frames[static_cast<std::size_t>(t) * n + c];
      const float magnitude = std::abs(x);
      InputLevel& l = levels_[c];
      l.peak = std::max(l.peak, magnitude);
      if (magnitude >= 1) ++l.clipped;
      sum_[c] += static_cast<double>(x) * x;
    }
    if (++filled_ < stretch_) continue;
    for (std::size_t c = 0; c < n; ++c) {
      if (quietest_[c] < 0 || sum_[c] < quietest_[c]) quietest_[c] = sum_[c];
      sum_[c] = 0;
    }
    filled_ = 0;
  }
  return true;
}

std::vector<InputLevel> LevelMeter::levels() const {
  std::vector<InputLevel> out = levels_;
  for (std::size_t c = 0; c < out.size(); ++c) {
    out[c].noise_rms =
        quietest_[c] > 0 ? std::sqrt(quietest_[c] / static_cast<double>(stretch_)) : 0.0;
  }
  return out;
}

double suggested_amplitude(double amplitude, float peak) {
  return std::abs(amplitude) *
         std::pow(10.0, (kLevelTargetDbfs - 20 * std::log10(static_cast<double>(peak))) / 20);
}

}  // namespace vellisk
