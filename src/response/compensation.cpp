// The sweep's excitation band, its fades' level at each frequency, and the band-edge filter.
#include "response/compensation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "response/analysis.h"
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

// 2 sin(theta_k), theta_k = pi (2k + 1) / (2 order): the damping of the
// Butterworth section k, s^2 + 2 sin(theta_k) s + 1.
double damping(int k, int order) {
  return 2 * std::sin(std::numbers::pi * (2 * k + 1) / (2 * order));
}

// The dampings of a Butterworth filter of even order, its sections from the least damped.
template <int order>
const std::array<double, order / 2>& dampings() {
  static const std::array<double, order / 2> a = [] {
    std::array<double, order / 2> d{};
    for (int k = 0; k < order / 2; ++k) d[static_cast<std::size_t>(k)] = damping(k, order);
    return d;
  }();
  return a;
}

// The prewarped corner of a Butterworth filter `down_db` below its pass band
// at a prewarped frequency w: the magnitude squared is 1 / (1 + (w / wc)^2n)
// for a low-pass, 1 / (1 + (wc / w)^2n) for a high-pass.
double corner_ratio(double down_db, int order) {
  return std::pow(std::pow(10.0, down_db / 10) - 1, 1.0 / (2 * order));
}

// The section of damping d at a prewarped corner w (tan(pi corner / rate)), by
// the bilinear transform: b0 b1 b2 1 a1 a2, unit gain in the pass band.
std::array<double, 6> section(double w, double d, bool highpass) {
  const double a0 = (1 + d * w) + w * w;
  const double a1 = 2 * (w * w - 1) / a0;
  const double a2 = ((1 - d * w) + w * w) / a0;
  if (highpass) return {1 / a0, -2 / a0, 1 / a0, 1, a1, a2};
  const double g = w * w / a0;
  return {g, 2 * g, g, 1, a1, a2};
}

// Runs x[0..n) through the sections in place, from rest, in double precision
// (transposed direct form II).
void run_sections(const std::vector<std::array<double, 6>>& sections, float* x, std::int64_t n) {
  for (const std::array<double, 6>& c : sections) {
    double s1 = 0, s2 = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      const double in = x[i];
      const double out = c[0] * in + s1;
      s1 = c[1] * in - c[4] * out + s2;
      s2 = c[2] * in - c[5] * out;
      x[i] = static_cast<float>(out);
    }
  }
}

// The sections' impulse response, its first `length` samples.
std::vector<float> impulse(const std::vector<std::array<double, 6>>& sections, int length) {
  std::vector<float> x(static_cast<std::size_t>(length), 0.0f);
  x[0] = 1;
  run_sections(sections, x.data(), length);
  return x;
}

// Where the impulse response h peaks, samples after its start, found as
// interpolated_peak finds a response's largest sample.
double impulse_peak(const std::vector<float>& h) {
  constexpr std::size_t kLead = 64;
  std::vector<float> y(kLead + h.size(), 0.0f);
  std::copy(h.begin(), h.end(), y.begin() + static_cast<std::ptrdiff_t>(kLead));
  return interpolated_peak(y.data(), std::ssize(y)).position - static_cast<double>(kLead);
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
  const double pi = std::numbers::pi;
  warped_low_ = std::tan(pi * low_ / d.rate) * corner_ratio(kEdgeLowDb, kHighpassOrder);
  warped_high_ = std::tan(pi * high_ / d.rate) / corner_ratio(kEdgeTopDb, kLowpassOrder);
  highpass_hz_ = d.rate / pi * std::atan(warped_low_);
  lowpass_hz_ = d.rate / pi * std::atan(warped_high_);
  impulse_ = impulse(highpass_sections(), kImpulseLength);
  peak_delay_ = impulse_peak(impulse_);
}

std::vector<std::array<double, 6>> Compensation::highpass_sections() const {
  std::vector<std::array<double, 6>> out;
  if (!on_) return out;
  for (const double d : dampings<kHighpassOrder>()) out.push_back(section(warped_low_, d, true));
  return out;
}

std::vector<std::array<double, 6>> Compensation::lowpass_sections() const {
  std::vector<std::array<double, 6>> out;
  if (!on_) return out;
  for (const double d : dampings<kLowpassOrder>()) out.push_back(section(warped_high_, d, false));
  return out;
}

std::vector<std::array<double, 6>> Compensation::sections() const {
  std::vector<std::array<double, 6>> out = highpass_sections();
  for (const std::array<double, 6>& c : lowpass_sections()) out.push_back(c);
  return out;
}

void Compensation::limit_top(float* x, std::int64_t n) const {
  if (on_) run_sections(lowpass_sections(), x, n);
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

double Compensation::arrival(const float* x, std::int64_t n) const {
  const Peak peak = interpolated_peak(x, n);
  if (!on_) return peak.position;
  // Matched to T: the lag of x against T's own response, by their
  // cross-correlation near x's largest sample. T's response rings (a steep
  // low-pass near the Nyquist frequency swings almost as far below 0 as its
  // peak), so the largest sample alone may fall a lobe away; the correlation's
  // peak is T's autocorrelation's, single and symmetric, at the delay itself.
  constexpr std::int64_t kBefore = 48, kAfter = 16;
  const auto best = static_cast<std::int64_t>(std::llround(peak.position));
  const std::int64_t first = best - kBefore;
  std::vector<float> c(static_cast<std::size_t>(kBefore + kAfter + 1));
  for (std::size_t k = 0; k < c.size(); ++k) {
    double sum = 0;
    for (std::size_t i = 0; i < impulse_.size(); ++i) {
      const std::int64_t at = first + static_cast<std::int64_t>(k + i);
      if (at >= 0 && at < n) sum += static_cast<double>(x[at]) * impulse_[i];
    }
    c[k] = static_cast<float>(sum);
  }
  return static_cast<double>(first) + interpolated_peak(c.data(), std::ssize(c)).position;
}

BandFilter Compensation::band_filter() const {
  BandFilter f;
  f.highpass_order = kHighpassOrder;
  f.lowpass_order = kLowpassOrder;
  f.highpass_hz = highpass_hz_;
  f.lowpass_hz = lowpass_hz_;
  f.highpass_down_db = kEdgeLowDb;
  f.lowpass_down_db = kEdgeTopDb;
  f.rate_hz = design_.rate;
  f.sections = sections();
  return f;
}

std::complex<double> Compensation::response(double hz, bool low, bool top) const {
  if (!on_) return 1;
  if (!(hz > 0)) return 0;
  // The bilinear transform maps hz to the analog frequency tan(pi hz / rate),
  // where each section is evaluated: exactly the digital sections' response,
  // without the cancellation of 1 + a1 z^-1 + a2 z^-2 near z = 1. Above the
  // Nyquist frequency the sections repeat, as sampled filters do.
  const double turns = hz / design_.rate;
  const double w = std::tan(std::numbers::pi * (turns < 1 ? turns : std::fmod(turns, 1.0)));
  if (w == 0) return 0;  // a multiple of the rate: DC again
  // A high-pass section p^2 / (p^2 + d p + 1) at p = i w / wl is
  // 1 / ((1 - q^2) - i d q), q = wl / w; a low-pass one 1 / (p^2 + d p + 1) is
  // 1 / ((1 - v^2) + i d v), v = w / wh. Their product is taken in real
  // arithmetic, as std::complex's product without its checks for infinities
  // (every factor is finite): a run evaluates T at every bin of its transform.
  double re = 1, im = 0;
  const auto times = [&re, &im](double a, double b) {
    const double r = re * a - im * b;
    im = re * b + im * a;
    re = r;
  };
  const double q = warped_low_ / w, v = w / warped_high_;
  if (low) {
    for (const double d : dampings<kHighpassOrder>()) times(1 - q * q, -d * q);
  }
  if (top) {
    for (const double d : dampings<kLowpassOrder>()) times(1 - v * v, d * v);
  }
  return 1.0 / std::complex<double>(re, im);
}

EdgeBins::EdgeBins(const Compensation& c, std::size_t size)
    : on_(c.on()), warped_low_(c.warped_low()), size_(size) {
  const double angle = std::numbers::pi / static_cast<double>(size);
  step_ = std::polar(1.0, angle);
  // The product of s^2 + d s + 1 over the sections.
  c_[0] = 1;
  for (int k = 0; k < kHighpassOrder / 2; ++k) {
    const double d = damping(k, kHighpassOrder);
    for (int m = 2 * k + 2; m >= 1; --m) {
      const auto i = static_cast<std::size_t>(m);
      c_[i] += d * c_[i - 1] + (m >= 2 ? c_[i - 2] : 0);
    }
  }
}

std::complex<double> EdgeBins::next() {
  ++j_;
  if (!on_) return 1;
  if (j_ % 256 == 1) {
    turn_ = std::polar(1.0, std::numbers::pi * static_cast<double>(j_) / static_cast<double>(size_));
  } else {  // turn_ * step_, every factor finite
    const double re = turn_.real() * step_.real() - turn_.imag() * step_.imag();
    turn_ = {re, turn_.real() * step_.imag() + turn_.imag() * step_.real()};
  }
  if (turn_.imag() <= 0) return 0;
  // Each section is 1 / (1 + d u + u^2) at u = -i q, q = wl / w, w = tan(angle):
  // one over the polynomial at u, its even part E(-q^2) less i q times its odd part.
  const double q = turn_.real() <= 0 ? 0 : warped_low_ * turn_.real() / turn_.imag();
  const double x = -q * q;
  static_assert(kHighpassOrder == 12, "the even and odd parts below are written out for 12");
  const auto& c = c_;
  const double even =
      ((((((c[12] * x + c[10]) * x + c[8]) * x + c[6]) * x + c[4]) * x + c[2]) * x + c[0]);
  const double odd = (((((c[11] * x + c[9]) * x + c[7]) * x + c[5]) * x + c[3]) * x + c[1]);
  const double im = -q * odd, scale = 1 / (even * even + im * im);
  return {even * scale, -im * scale};
}

double Compensation::edge_delay(double hz) const {
  if (!on_ || !(hz > 0)) return 0;
  const double w = std::tan(std::numbers::pi * std::fmod(hz / design_.rate, 1.0));
  if (!(w > 0)) return 0;
  // A section's phase is atan2(d q, 1 - q^2), q = wl / w: its derivative in q
  // is d (1 + q^2) / ((1 - q^2)^2 + d^2 q^2); dq/dw = -q / w, and the bilinear
  // transform's dw/domega = (1 + w^2) / 2.
  const double q = warped_low_ / w;
  double sum = 0;
  for (const double d : dampings<kHighpassOrder>()) {
    const double a = 1 - q * q;
    sum += d * (1 + q * q) / (a * a + d * d * q * q);
  }
  return sum * (q / w) * (1 + w * w) / 2;
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

double Compensation::division(double hz) const {
  if (!on_) return 1;
  const double l2 = taper_level(hz) * taper_level(hz);
  const double e = kRegularisation * regularisation_growth(hz);
  return l2 * l2 / (l2 * l2 + e * e);
}

double Compensation::harmonic_gain(int k, double hz) const {
  return taper_level(hz) / std::max(taper_level(hz / k), kTrustedLevel);
}

double regularisation(double size, double expstep, double j) {
  // The unit sweep's power at w = 2 pi j / size: pi / (2 R w) = size / (4 R j).
  return kRegularisation * size / (4 * expstep * j);
}

}  // namespace vellisk
