// Measurements on a computed response: its interpolated peak and the level of its noise.
#pragma once

#include <cstdint>
#include <vector>

#include "vellisk/number_text.h"

namespace vellisk {

// The peak of a band-limited signal between its samples.
struct Peak {
  double position = 0;  // fractional sample index
  double value = 0;     // signed value of the signal there
};

// The largest magnitude of x[0..n), refined between samples by band-limited
// (windowed sinc) interpolation to about a hundredth of a sample.
Peak interpolated_peak(const float* x, std::int64_t n);

// Root mean square of x[0..n); 0 when n is 0.
double rms(const float* x, std::int64_t n);

// The median of v, whose order it changes; the mean of the middle two for an
// even count. v must not be empty.
double median(std::vector<double>& v);

}  // namespace vellisk
