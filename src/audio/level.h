// Setting the level before a measurement: a short burst of the sweep, and what each input
// recorded of it.
#pragma once

#include <cstdint>
#include <vector>

#include "vellisk/sweep.h"

namespace vellisk {

// The peak a suggested amplitude aims at, dBFS: room for a louder resonance than the
// burst found, and for the longer sweep's fuller build-up.
inline constexpr double kLevelTargetDbfs = -12;

// The burst: the sweep's band, amplitude and tapers over at most 3 s, between 1 s of silence
// each side, in which the noise is measured. When the tapers do not fit so short a sweep
// (a taper of 1 sample), the sweep's own design, silence 1 s.
SweepParams level_burst(const SweepParams& sweep);

// What one input recorded.
struct InputLevel {
  float peak = 0;            // largest magnitude
  std::int64_t clipped = 0;  // samples of magnitude 1 or more
  double noise_rms = 0;      // rms of the quietest tenth of a second: the noise
  bool clips() const { return clipped > 0; }
  bool silent() const { return peak == 0; }
  double peak_dbfs() const;  // of a peak above 0
  // Peak over noise, dB; none when the noise is 0 (a digital path).
  bool has_noise() const { return noise_rms > 0; }
  double peak_to_noise_db() const;
};

// Takes in a recording's interleaved frames in order, a block at a time; memory does not grow
// with the recording's length.
class LevelMeter {
 public:
  LevelMeter(int channels, double rate);
  void add(const float* frames, std::int64_t count);
  // The levels, the noise over the tenths of a second completed.
  std::vector<InputLevel> levels() const;

 private:
  int channels_;
  std::int64_t stretch_;  // frames in a tenth of a second
  std::int64_t filled_ = 0;
  std::vector<InputLevel> levels_;
  std::vector<double> sum_;       // squares of the current stretch
  std::vector<double> quietest_;  // the lowest stretch's sum so far, -1 before the first
};

// The amplitude that would bring a peak recorded at amplitude to kLevelTargetDbfs, for a
// system that scales with the level.
double suggested_amplitude(double amplitude, float peak);

}  // namespace vellisk
