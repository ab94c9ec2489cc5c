// The sweep's excitation band, its fades' level at each frequency, and the band-edge filter.
#include "response/compensation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "sweep/sweep_gen.h"

namespace vellisk {

namespace {

const double kTrustedLevel = std::pow(10.0, kTrustedDb / 20);

// The taper index, 0 to len - 1, where a fade of len samples reaches the
// trusted level; the fade rises monotonically, so halving finds it.
double trusted_index(double a, double b, std::int32_t len) {
  double lo = 0, hi = static_cast<double>(len - 1);
  for (int i = 0; i < 60; ++i) {
    const double mid = 0.5 * (lo + hi);
    const double w = (0.42 - 0.5 * std::cos(a * mid)) + 0.08 * std::cos(b * mid);
    (w < kTrustedLevel ? lo : hi) = mid;
  }
  return hi;
}

// The rising half-Blackman at a real taper index.
double fade(double a, double b, double m) {
  return (0.42 - 0.5 * std::cos(a * m)) + 0.08 * std::cos(b * m);
}

// The coefficients of the Butterworth polynomial of order kEdgeOrder, from
// s^0 up: the product of s^2 + 2 sin(theta) s + 1, theta = pi (2k + 1) / (2 order).
std::array<double, kEdgeOrder + 1> butterworth() {
  std::array<double, kEdgeOrder + 1> c{};
  c[0] = 1;
  for (int k = 0; k < kEdgeOrder / 2; ++k) {
    const double b = 2 * std::sin(std::numbers::pi * (2 * k + 1) / (2 * kEdgeOrder));
    for (int m = 2 * k + 2; m >= 1; --m) {
      const auto i = static_cast<std::size_t>(m);
      c[i] += b * c[i - 1] + (m >= 2 ? c[i - 2] : 0);
    }
  }
  return c;
}

}  // namespace

Compensation::Compensation(const SweepDesign& d) : on_(true), design_(d) {
  low_ = d.hzstart;
  high_ = d.hzend;
  if (d.leadinlen >= 2) {
    low_ *= std::exp(trusted_index(d.leadinstep, d.leadinstep2, d.leadinlen) * d.expstep);
  }
  if (d.leadoutlen >= 2) {
    high_ *= std::exp(-trusted_index(d.leadoutstep, d.leadoutstep2, d.leadoutlen) * d.expstep);
  }
}

double Compensation::taper_level(double hz) const {
  const SweepDesign& d = design_;
  if (!(hz >= d.hzstart && hz <= d.hzend)) return 0;
  // The sweep plays hz at phase index n: hzstart exp(n R) = hz.
  const double n = std::log(hz / d.hzstart) / d.expstep;
  const auto len = static_cast<double>(d.sweeplen);
  if (d.leadinlen >= 2 && n < d.leadinlen) return fade(d.leadinstep, d.leadinstep2, n);
  if (d.leadoutlen >= 2 && n > len - d.leadoutlen) {
    return fade(d.leadoutstep, d.leadoutstep2, len - n);
  }
  return 1;
}

std::complex<double> Compensation::edge(double hz) const {
  if (!on_) return 1;
  if (!(hz > 0)) return 0;
  // Above 100 corners the high-pass with its phase lead taken out is 1 within 1e-6.
  const double x = low_ / hz;
  if (x < 0.01) return 1;
  // T = 1 / D(u), u = corner / (i hz), D the Butterworth polynomial (its
  // coefficients read the same both ways), evaluated in w = u^2 = -x^2 by
  // its even and odd parts: D = E(w) + u O(w).
  static const std::array<double, kEdgeOrder + 1> c = butterworth();
  const double w = -x * x;
  double even = c[kEdgeOrder], odd = c[kEdgeOrder - 1];
  for (int m = kEdgeOrder - 2; m >= 0; m -= 2) even = even * w + c[static_cast<std::size_t>(m)];
  for (int m = kEdgeOrder - 3; m >= 1; m -= 2) odd = odd * w + c[static_cast<std::size_t>(m)];
  // The phase of a causal high-pass leads by c1 x far above its corner (x =
  // corner / hz), which would move every response's peak. From 1 to 4
  // corners that lead is taken out, raised-cosine in log frequency, in full
  // beyond: T is causal where it cuts, and within 1e-4 radians of 1 from 16
  // corners up. What is taken out advances the response by tens of
  // milliseconds at the corner, less above it.
  const double octaves = std::clamp(std::log2(1 / x) / 2, 0.0, 1.0);
  const double lead = c[1] * x * (0.5 - 0.5 * std::cos(std::numbers::pi * octaves));
  return std::polar(1.0, -lead) / std::complex<double>(even, -x * odd);
}

double Compensation::regularisation_growth(double hz) const {
  if (!on_ || hz <= high_) return 1;
  // Over the first half of the fade-out left above the band, in log
  // frequency: the division then boosts the fade-out by at most 16.8 dB over
  // the inverse of the sweep at full level, little more than at the band's
  // top (a rise over 1/6 octave let it boost a fade-out of 1/40 octave by
  // 35 dB, and cost 13 dB of peak-to-noise; one over its first quarter
  // turned the band's top row by 0.5 degrees). A sweep without a fade-out
  // falls within about sqrt(Hz per second) of hzend.
  const SweepDesign& d = design_;
  const double width = high_ < d.hzend ? std::log2(d.hzend / high_) / 2
                                       : std::log2(1 + std::sqrt(d.expstep * d.rate / d.hzend));
  const double rise = std::min(std::log2(hz / high_) / width, 1.0);
  return std::pow(kRegularisation, -(0.5 - 0.5 * std::cos(std::numbers::pi * rise)));
}

double Compensation::harmonic_gain(int k, double hz) const {
  return taper_level(hz) / std::max(taper_level(hz / k), kTrustedLevel);
}

double regularisation(double size, double expstep, double j) {
  // The unit sweep's power at w = 2 pi j / size: pi / (2 R w) = size / (4 R j).
  return kRegularisation * size / (4 * expstep * j);
}

}  // namespace vellisk
