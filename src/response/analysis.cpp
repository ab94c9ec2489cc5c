// Peak interpolation and levels.
#include "response/analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace vellisk {

namespace {

// Half-width in samples of the interpolation kernel: a sinc windowed by a
// Blackman window, accurate to well below a hundredth of a sample for content
// up to 0.95 of the Nyquist frequency.
constexpr std::int64_t kTaps = 48;

double value_at(const float* x, std::int64_t n, double t) {
  const auto centre = static_cast<std::int64_t>(std::floor(t));
  double sum = 0;
  for (std::int64_t i = std::max<std::int64_t>(0, centre - kTaps + 1);
       i <= std::min(n - 1, centre + kTaps); ++i) {
    const double d = t - static_cast<double>(i);
    const double a = std::numbers::pi * d;
    const double sinc = d == 0 ? 1.0 : std::sin(a) / a;
    const double w = 0.42 + 0.5 * std::cos(a / kTaps) + 0.08 * std::cos(2 * a / kTaps);
    sum += x[i] * sinc * w;
  }
  return sum;
}

}  // namespace

Peak interpolated_peak(const float* x, std::int64_t n) {
  Peak peak;
  if (n <= 0) return peak;
  std::int64_t best = 0;
  for (std::int64_t i = 1; i < n; ++i) {
    if (std::abs(x[i]) > std::abs(x[best])) best = i;
  }
  peak.position = static_cast<double>(best);
  peak.value = x[best];
  // Search a grid of 1/8 sample within one sample of the peak, then halve the
  // step around the best point.
  double step = 0.125;
  for (int round = 0; round < 6; ++round, step /= 2) {
    const double centre = peak.position;
    for (int k = -8; k <= 8; ++k) {
      const double t = centre + k * step;
      if (t < 0 || t > static_cast<double>(n - 1)) continue;
      const double v = value_at(x, n, t);
      if (std::abs(v) > std::abs(peak.value)) {
        peak.position = t;
        peak.value = v;
      }
    }
  }
  return peak;
}

double rms(const float* x, std::int64_t n) {
  if (n <= 0) return 0;
  double sum = 0;
  for (std::int64_t i = 0; i < n; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / static_cast<double>(n));
}

double median(std::vector<double>& v) {
  const std::size_t n = v.size();
  const auto upper = v.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(v.begin(), upper, v.end());
  return n % 2 == 1 ? *upper : 0.5 * (*std::max_element(v.begin(), upper) + *upper);
}

double decibels(double x) {
  return x > 0 ? 20 * std::log10(x) : -std::numeric_limits<double>::infinity();
}

}  // namespace vellisk
