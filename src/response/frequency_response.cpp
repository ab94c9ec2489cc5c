// Gating, sampling and smoothing of a window's frequency response.
#include "response/frequency_response.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace vellisk {

namespace {

using Complex = std::complex<double>;

// The turn that removes a delay of `delay` samples from bin j of a transform
// of `size`: exp(+2 pi i j delay / size), reduced to [0, 1) of a turn first
// so that it stays exact for long delays.
Complex delay_turn(std::size_t size, double j, double delay) {
  double turns = j * delay / static_cast<double>(size);
  turns -= std::floor(turns);
  return std::polar(1.0, 2 * std::numbers::pi * turns);
}

Complex bin(const Spectrum& s, std::int64_t j) {
  return {s.bins[static_cast<std::size_t>(2 * j)], s.bins[static_cast<std::size_t>(2 * j + 1)]};
}

// Bin j of s with the delay removed.
Complex delay_free(const Spectrum& s, std::int64_t j, double delay) {
  return bin(s, j) * delay_turn(s.size, static_cast<double>(j), delay);
}

// Bin j of s with the delay and the compensation's band edge removed.
Complex edge_free(const Spectrum& s, std::int64_t j, double delay, const Compensation& edge) {
  const Complex z = delay_free(s, j, delay);
  return edge.on() ? z / edge.edge(static_cast<double>(j) * s.rate / static_cast<double>(s.size))
                   : z;
}

// The delay- and edge-free spectrum at a fractional bin index, within [0, size / 2].
Complex interpolated(const Spectrum& s, double position, double delay, const Compensation& edge) {
  const auto last = static_cast<std::int64_t>(s.size / 2);
  const double at = std::clamp(position, 0.0, static_cast<double>(last));
  const auto j = std::min(static_cast<std::int64_t>(at), last - 1);
  const double t = at - static_cast<double>(j);
  return (1 - t) * edge_free(s, j, delay, edge) + t * edge_free(s, j + 1, delay, edge);
}

double degrees(Complex z) {
  const double d = std::arg(z) * (180 / std::numbers::pi);
  return d <= -180 ? d + 360 : d;
}

double level_db(double power) {
  return power > 0 ? std::max(10 * std::log10(power), -300.0) : -300;
}

}  // namespace

double gate_weight(const Gate& gate, double arrival, double t) {
  const double u = t - arrival;
  if (u < -gate.before || u > gate.after) return 0;
  const double rise = gate.before / 5, fall = gate.after / 5;
  if (u < rise - gate.before) {
    return 0.5 - 0.5 * std::cos(std::numbers::pi * (u + gate.before) / rise);
  }
  if (u > gate.after - fall)
    return 0.5 - 0.5 * std::cos(std::numbers::pi * (gate.after - u) / fall);
  return 1;
}

void apply_gate(const Gate& gate, double arrival, float* x, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i) {
    x[i] = static_cast<float>(x[i] * gate_weight(gate, arrival, static_cast<double>(i)));
  }
}

const float* gated_window(double gate, std::int64_t pre, double arrival,
                          const std::vector<float>& row, std::vector<float>& out) {
  if (!(gate > 0)) return row.data();
  out.assign(row.begin(), row.end());
  const auto at = static_cast<double>(pre);
  apply_gate(Gate{at, gate}, at + arrival, out.data(), static_cast<std::int64_t>(out.size()));
  return out.data();
}

std::vector<double> octave_grid(double f_lo, double f_hi, int points_per_octave) {
  return log_centres(f_lo, f_hi, std::exp2(1.0 / points_per_octave));
}

namespace {

// Divides each bin of s by filter(hz), leaving 0 where the filter's magnitude is `floor` or less.
template <class Filter>
void divide_out(Spectrum& s, const Filter& filter, double floor = 0) {
  const double hz_per_bin = s.rate / static_cast<double>(s.size);
  for (std::size_t j = 0; j <= s.size / 2; ++j) {
    const Complex t = filter(static_cast<double>(j) * hz_per_bin);
    const Complex z = std::abs(t) <= floor ? 0 : bin(s, static_cast<std::int64_t>(j)) / t;
    s.bins[2 * j] = static_cast<float>(z.real());
    s.bins[2 * j + 1] = static_cast<float>(z.imag());
  }
}

}  // namespace

void remove_edge(Spectrum& s, const Compensation& c) {
  if (c.on()) divide_out(s, [&c](double hz) { return c.edge(hz); });
}

// The band limit's filters are divided out down to 60 dB below their pass band; below that
// the rows held nothing but the division's edges, and a file nothing but rounding: those bins
// are left empty rather than lifted by 60 dB and more.
constexpr double kDividedFloor = 1e-3;

void remove_top(Spectrum& s, const Compensation& c) {
  if (c.on()) divide_out(s, [&c](double hz) { return c.top(hz); }, kDividedFloor);
}

Spectrum gated_spectrum(double gate, std::int64_t pre, double arrival, const std::vector<float>& x,
                        std::int64_t min_size, const Compensation& c, double rate, bool top) {
  const auto n = static_cast<std::int64_t>(x.size());
  const bool gated = gate > 0;
  Spectrum s = spectrum_of(x.data(), n, rate, gated ? std::max(min_size, 2 * n) : min_size);
  if (top) remove_top(s, c);
  if (!gated) return s;
  // The band limit's own response is long (its high-pass rings at the band's low edge): it is
  // divided out before the gate, which would cut it off, and the high-pass put back after.
  if (c.on()) divide_out(s, [&c](double hz) { return c.edge(hz); }, kDividedFloor);
  real_fft(s.size).inverse(s.bins.get());
  std::vector<float> y(x.size());
  const double scale = 1.0 / static_cast<double>(s.size);
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<float>(s.bins[i] * scale);
  const auto at = static_cast<double>(pre);
  apply_gate(Gate{at, gate}, at + arrival, y.data(), n);
  s = spectrum_of(y.data(), n, rate, min_size);
  if (c.on()) divide_out(s, [&c](double hz) { return 1.0 / c.edge(hz); });
  return s;
}

std::vector<double> within_band(const std::vector<double>& grid, const Compensation& c,
                                double scale) {
  if (!c.on()) return grid;
  std::vector<double> kept;
  for (const double f : grid) {
    if (f >= c.low() * (1 - 1e-12) && scale * f <= c.high() * (1 + 1e-12)) kept.push_back(f);
  }
  return kept;
}

FrequencyResponse sample_response(const Spectrum& s, const std::vector<double>& frequencies,
                                  double scale, double delay, int fraction,
                                  const Compensation& edge) {
  FrequencyResponse r;
  r.frequencies = frequencies;
  const double bins_per_hz = static_cast<double>(s.size) / s.rate;
  const auto last = static_cast<std::int64_t>(s.size / 2);
  const double half = fraction > 0 ? std::exp2(0.5 / fraction) : 1;
  for (const double f : frequencies) {
    const double centre = scale * f * bins_per_hz;
    // Compensated, a band keeps to the bins of the band the sweep excites.
    const double bottom = edge.on() ? std::max(centre / half, scale * edge.low() * bins_per_hz)
                                    : centre / half;
    const double top = edge.on() ? std::min(centre * half, edge.high() * bins_per_hz) : centre * half;
    const auto lo = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::ceil(bottom)));
    const auto hi = std::min(last, static_cast<std::int64_t>(std::floor(top)));
    double power = 0;
    Complex mean;
    if (fraction == 0 || hi < lo) {
      mean = interpolated(s, centre, delay, edge);
      power = std::norm(mean);
    } else {
      // One more bin turns the delay by the same step: one product a bin.
      const Complex step = delay_turn(s.size, 1, delay);
      Complex turn = delay_turn(s.size, static_cast<double>(lo), delay);
      for (std::int64_t j = lo; j <= hi; ++j, turn *= step) {
        const Complex z = bin(s, j) * turn / edge.edge(static_cast<double>(j) / bins_per_hz);
        power += std::norm(z);
        mean += z;
      }
      power /= static_cast<double>(hi - lo + 1);
    }
    r.level.push_back(level_db(power));
    r.phase.push_back(power > 0 ? degrees(mean) : 0);
  }
  return r;
}

FrequencyResponse text_rows(const Spectrum& s, const SweepDesign& d, const Compensation& c, int k,
                            double delay, int fraction) {
  return sample_response(s, within_band(octave_grid(d.hzstart, d.hzend / k, kPointsPerOctave), c, k),
                         k, delay, fraction, c);
}

}  // namespace vellisk
