// Curves of a correction: levels interpolated in log frequency, smoothed, and the targets.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "eq/eq_internal.h"

namespace vellisk {

double level_at(const EqCurve& c, double f) {
  const auto& x = c.frequencies;
  if (f <= x.front()) return c.level.front();
  if (f >= x.back()) return c.level.back();
  const std::size_t i = static_cast<std::size_t>(std::upper_bound(x.begin(), x.end(), f) - x.begin());
  const double t = std::log(f / x[i - 1]) / std::log(x[i] / x[i - 1]);
  return c.level[i - 1] + t * (c.level[i] - c.level[i - 1]);
}

namespace {

// 0 at t <= 0, 1 at t >= 1, a raised cosine between.
double ramp(double t) {
  if (t <= 0) return 0;
  if (t >= 1) return 1;
  return (1 - std::cos(std::numbers::pi * t)) / 2;
}

}  // namespace

double target_at(const EqRequest& r, const EqCurve& file, double f) {
  switch (r.target) {
    case EqTarget::flat:
      return 0;
    case EqTarget::file:
      return level_at(file, f);
    case EqTarget::house:
      // The rise: 200 Hz down to 50 Hz, two octaves; the fall: 1 kHz up to 20 kHz.
      return r.house_low_db * ramp(std::log2(200 / f) / 2) -
             r.house_high_db * ramp(std::log2(f / 1000) / std::log2(20.0));
  }
  return 0;
}

double sixth_octave_level(const EqCurve& c, double f) {
  const double lo = f * std::exp2(-1.0 / 12), hi = f * std::exp2(1.0 / 12);
  const auto& x = c.frequencies;
  auto i = static_cast<std::size_t>(std::lower_bound(x.begin(), x.end(), lo) - x.begin());
  double power = 0;
  int count = 0;
  for (; i < x.size() && x[i] <= hi; ++i, ++count) power += std::pow(10.0, c.level[i] / 10);
  if (count == 0) return level_at(c, f);
  return 10 * std::log10(std::max(power / count, 1e-30));
}

}  // namespace vellisk
