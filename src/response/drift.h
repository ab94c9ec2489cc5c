// Clock drift between playback and recording, measured on the response itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "response/bands.h"

namespace vellisk {

// With the recorder's clock (1 + drift) times as fast as the player's, the
// frequency the sweep plays n samples after its start arrives drift n samples
// late: the arrival of each band grows with log2 of its frequency by drift
// octavelen samples per octave.
struct DriftEstimate {
  bool measured = false;  // false when too few bands could be measured
  double drift = 0;       // recorder clock over player clock, minus 1
  double spread = 0;      // arrival difference from hzstart to hzend, samples
};

// Finds the arrival of half-octave bands, a quarter octave apart, from twice
// hzstart to hzend over the square root of 2, as the interpolated peak of each
// band's envelope, and fits arrival against log2 of frequency, weighting each
// band by its energy and the square of its width. spectrum is that of the
// linear response window.
DriftEstimate estimate_drift(const Spectrum& spectrum, double hzstart, double hzend,
                             double octavelen);

// The complex transform sizes estimate_drift uses on a spectrum of spectrum_size.
std::vector<std::size_t> drift_fft_sizes(std::size_t spectrum_size, double rate, double hzstart,
                                         double hzend);

}  // namespace vellisk
