// Phase, group delay, minimum phase and excess group delay of a response window; its step response.
#include "response/curves.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include "response/bands.h"
#include "response/fft.h"
#include "response/frequency_response.h"

namespace vellisk {
namespace {

using Complex = std::complex<double>;

// The steepest roll-off assumed beyond the band: 24 dB an octave, as natural
// log magnitude per natural log of frequency.
const double kMaxSlope = 24 / (20 * std::log10(2.0));
// An edge's slope under 1 dB an octave is held flat: a ripple's, not a roll-off.
const double kHoldSlope = 1 / (20 * std::log10(2.0));
// The band's low edge shows a fall where it falls toward the edge at 3 dB an octave or more:
// as steep as a first-order high-pass at its corner, steeper than a cabinet's or a room's
// ripple there. A gentler slope is held: extended to 0 Hz, 1.5 dB an octave alone would read
// 22 degrees of phase lead that a response flat to 0 Hz does not have.
const double kFallSlope = 3 / (20 * std::log10(2.0));
// A roll-off fitted within 0.25 dB rms stands for what lies below the band.
const double kRollOffFit = 0.25 / (20 / std::log(10.0));

// The most the window's cut of the band limit's ringing may move the band limit's group delay
// at a row whose group delays are given, ms: there they hold within 0.1 ms. The division's
// edges are modelled by stationary phase, sharper than they are, which overstates the cut.
const double kEdgeCutMs = 0.1;

// The lowest log magnitude a bin takes (-300 dB): a bin of no power still has a logarithm.
const double kLogFloor = std::log(1e-15);

double wrapped_degrees(double d) {
  d = std::remainder(d, 360.0);
  return d <= -180 ? d + 360 : d;
}

Complex bin(const Spectrum& s, std::size_t j) { return {s.bins[2 * j], s.bins[2 * j + 1]}; }

// The spectra of x[0..n) and of (t - delay) x(t), at `size`.
std::pair<Spectrum, Spectrum> spectra(const float* x, std::int64_t n, double rate, double delay,
                                      std::int64_t size) {
  std::vector<float> moment(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) {
    moment[static_cast<std::size_t>(i)] = static_cast<float>((static_cast<double>(i) - delay) * x[i]);
  }
  return {spectrum_of(x, n, rate, size), spectrum_of(moment.data(), n, rate, size)};
}

// Per bin of a window's spectrum: the delay-free group delay (samples) and
// the power, with the band edge and the microphone taken out.
struct BinCurves {
  std::vector<double> delay;
  std::vector<double> power;
  std::vector<double> edge_delay;  // the band edge's own, taken out of delay
};

BinCurves bin_curves(const Spectrum& x, const Spectrum& tx, const CurveSetup& setup) {
  BinCurves b;
  const std::size_t bins = x.size / 2 + 1;
  b.delay.resize(bins);
  b.power.resize(bins);
  b.edge_delay.resize(bins);
  const double hz_per_bin = setup.rate / static_cast<double>(x.size);
  const MicCalibration* mic = setup.calibration.mic;
  EdgeBins edges(setup.edge, x.size);
  for (std::size_t j = 0; j < bins; ++j) {
    const double hz = static_cast<double>(j) * hz_per_bin;
    const Complex edge = setup.edge.on() && j > 0 ? edges.next() : 1.0;
    const Complex z = bin(x, j);
    const double p = std::norm(z);
    if (!(p > 0)) continue;
    // The transform of (t - delay) x(t) is i d/d(omega) of the delay-free
    // spectrum, turned as X is: the turn cancels in Y conj(X).
    double tau = (bin(tx, j) * std::conj(z)).real() / p;
    Complex divisor = edge;
    b.edge_delay[j] = setup.edge.edge_delay(hz);
    tau -= b.edge_delay[j];
    if (mic != nullptr) {
      divisor *= mic->response(hz);
      tau -= mic->group_delay_s(hz) * setup.rate;
    }
    b.delay[j] = tau;
    b.power[j] = divisor == 0.0 ? 0 : p / std::norm(divisor);
  }
  return b;
}

// How far the window's cut moves the band limit T's group delay, samples, at
// each bin of a transform of `size`: the group delay (delay-free) of T's
// impulse response placed at the arrival, cut to the window's n samples and
// gated as the window was, less T's own (edge_delays). A response's group
// delay, with T's own taken out, is moved about as much.
std::vector<double> edge_cut(const CurveSetup& setup, std::int64_t n, std::size_t size,
                             const std::vector<double>& edge_delays) {
  const std::size_t bins = size / 2 + 1;
  std::vector<double> cut(bins);
  if (!setup.edge.on()) return cut;
  FloatBuffer t = make_float_buffer(size + 2);
  const double hz_per_bin = setup.rate / static_cast<double>(size);
  const double w_per_bin = 2 * std::numbers::pi / static_cast<double>(size);
  // The delay's turn, bin by bin, by a rotation taken afresh every 256 bins.
  const Complex step = std::polar(1.0, -w_per_bin * setup.delay);
  Complex turn = 1;
  EdgeBins edges(setup.edge, size);
  for (std::size_t j = 1; j < bins; ++j) {
    const auto k = static_cast<double>(j);
    turn = j % 256 == 0 ? std::polar(1.0, -w_per_bin * k * setup.delay) : turn * step;
    // What the file holds of a wire: T, and the division's own edges, whose ringing the
    // window cuts too.
    const double hz = k * hz_per_bin;
    const Complex z = edges.next() * setup.edge.division(hz) * turn / static_cast<double>(size);
    t[2 * j] = static_cast<float>(z.real()), t[2 * j + 1] = static_cast<float>(z.imag());
  }
  real_fft(size).inverse(t.get());
  if (setup.gate.after > 0) apply_gate(setup.gate, setup.delay, t.get(), n);
  const auto [h, th] = spectra(t.get(), n, setup.rate, setup.delay, static_cast<std::int64_t>(size));
  for (std::size_t j = 0; j < bins; ++j) {
    const Complex z = bin(h, j);
    const double p = std::norm(z);
    if (p > 0) {
      cut[j] = (bin(th, j) * std::conj(z)).real() / p - edge_delays[j];
    }
  }
  return cut;
}

// The bins sample_response takes for a row at hz: those of the 1/fraction
// octave around it, within the band edge's band; or, when that holds none or
// fraction is 0, the two around it, the second weighing t.
struct RowBins {
  bool between = false;
  std::size_t lo = 0, hi = 0;
  double t = 0;
};

RowBins row_bins(double hz, const CurveSetup& setup, std::size_t size) {
  const double bins_per_hz = static_cast<double>(size) / setup.rate;
  const auto last = static_cast<std::int64_t>(size / 2);
  const double half = setup.fraction > 0 ? std::exp2(0.5 / setup.fraction) : 1;
  const Compensation& edge = setup.edge;
  const double centre = hz * bins_per_hz;
  const double bottom = edge.on() ? std::max(centre / half, edge.low() * bins_per_hz) : centre / half;
  const double top = edge.on() ? std::min(centre * half, edge.high() * bins_per_hz) : centre * half;
  const auto lo = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::ceil(bottom)));
  const auto hi = std::min(last, static_cast<std::int64_t>(std::floor(top)));
  RowBins r;
  if (setup.fraction > 0 && hi >= lo) {
    r.lo = static_cast<std::size_t>(lo), r.hi = static_cast<std::size_t>(hi);
    return r;
  }
  const double at = std::clamp(centre, 0.0, static_cast<double>(last));
  r.between = true;
  r.lo = static_cast<std::size_t>(std::min(static_cast<std::int64_t>(at), last - 1));
  r.hi = r.lo + 1;
  r.t = at - static_cast<double>(r.lo);
  return r;
}

// Running sums of a value over the bins, so that a band's sum costs a difference.
template <class T>
std::vector<T> sums_before(const std::vector<T>& v) {
  std::vector<T> s(v.size() + 1);
  for (std::size_t j = 0; j < v.size(); ++j) s[j + 1] = s[j] + v[j];
  return s;
}

// The mean of v over a row's bins (weighted by nearness between two), from its running sums.
template <class T>
T row_mean(const RowBins& r, const std::vector<T>& v, const std::vector<T>& before) {
  if (r.between) return (1 - r.t) * v[r.lo] + r.t * v[r.hi];
  return (before[r.hi + 1] - before[r.lo]) / static_cast<double>(r.hi - r.lo + 1);
}

// Least-squares line through log magnitudes L[j] against ln j over bins
// [first, last]: its value at bin `at` and its slope.
std::pair<double, double> fitted_line(const std::vector<double>& l, std::size_t first,
                                      std::size_t last, std::size_t at) {
  double su = 0, sl = 0;
  const auto n = static_cast<double>(last - first + 1);
  for (std::size_t j = first; j <= last; ++j) su += std::log(static_cast<double>(j)), sl += l[j];
  const double mu = su / n, ml = sl / n;
  double cov = 0, var = 0;
  for (std::size_t j = first; j <= last; ++j) {
    const double du = std::log(static_cast<double>(j)) - mu;
    cov += du * (l[j] - ml);
    var += du * du;
  }
  const double slope = var > 0 ? cov / var : 0;
  return {ml + slope * (std::log(static_cast<double>(at)) - mu), slope};
}

// A high-pass roll-off of the Butterworth kind, in natural log magnitude
// against u = ln f: g + n (u - c) - ln(1 + e^(2 n (u - c))) / 2, order n
// (n 6 dB an octave asymptotically), corner e^c.
struct RollOff {
  double g = 0, n = 0, c = 0;
  double rms = 1e300;  // of the fit, natural log

  double shape(double u) const {
    const double z = 2 * n * (u - c);
    return n * (u - c) - (z > 40 ? z : std::log1p(std::exp(z))) / 2;
  }
  double at(double u) const { return g + shape(u); }
};

// The roll-off that fits the points (u[i], l[i]) best in the least-squares
// sense, its order from 0.25 to kMaxSlope and its corner from 3 octaves below
// u[0] to 2 above: a grid, then a finer grid around its best.
RollOff fitted_roll_off(const std::vector<double>& u, const std::vector<double>& l) {
  RollOff best;
  const auto n_points = static_cast<double>(u.size());
  const auto try_fit = [&](double n, double c) {
    RollOff r;
    r.n = n, r.c = c;
    double sum = 0;
    for (std::size_t i = 0; i < u.size(); ++i) sum += l[i] - r.shape(u[i]);
    r.g = sum / n_points;
    double square = 0;
    for (std::size_t i = 0; i < u.size(); ++i) square += std::pow(l[i] - r.at(u[i]), 2);
    r.rms = std::sqrt(square / n_points);
    if (r.rms < best.rms) best = r;
  };
  const double octave = std::log(2.0);
  for (double n = 0.25; n <= kMaxSlope + 1e-9; n += 0.125) {
    for (double c = u[0] - 3 * octave; c <= u[0] + 2 * octave; c += octave / 24) try_fit(n, c);
  }
  const RollOff coarse = best;
  for (int a = -10; a <= 10; ++a) {
    for (int b = -10; b <= 10; ++b) {
      const double n = coarse.n + 0.0125 * a;
      if (n > 0 && n <= kMaxSlope) try_fit(n, coarse.c + octave / 240 * b);
    }
  }
  return best;
}

// Where the window cuts off enough of the band limit's ringing that the group
// delays cannot hold: every row from the band's edge to the last, going
// inwards, whose band limit the cut moves by more than kEdgeCutMs (cut, ms),
// gives NaN group delays.
void withhold_cut_rows(const std::vector<double>& cut, PhaseCurves& r) {
  const std::size_t rows = cut.size();
  if (rows == 0) return;
  const double centre = std::sqrt(r.frequencies.front() * r.frequencies.back());
  std::size_t first = 0, end = rows;  // rows [first, end) hold
  for (std::size_t i = 0; i < rows; ++i) {
    if (std::abs(cut[i]) <= kEdgeCutMs) continue;
    if (r.frequencies[i] < centre) {
      first = i + 1;
    } else {
      end = std::min(end, i);
    }
  }
  for (std::size_t i = 0; i < rows; ++i) {
    if (i >= first && i < end) continue;
    r.group_delay[i] = r.excess_group_delay[i] = std::numeric_limits<double>::quiet_NaN();
  }
}

}  // namespace

double extend_magnitude(std::vector<double>& l, double size, double rate, double band_low,
                        double band_high) {
  if (l.size() < 3) return 0;
  const std::size_t last = l.size() - 1;
  const double bins_per_hz = size / rate;
  const auto index = [&](double bin) {
    return static_cast<std::size_t>(std::clamp(bin, 1.0, static_cast<double>(last)));
  };
  const std::size_t lo = index(std::ceil(band_low * bins_per_hz));
  const std::size_t hi = std::max(lo, index(std::floor(band_high * bins_per_hz)));
  const double sixth = std::exp2(1.0 / 6);
  // The band's outermost 1/6 octave each side, at least two bins of it when the band has them.
  const std::size_t lo_end = std::clamp(index(std::floor(static_cast<double>(lo) * sixth)),
                                        std::min(lo + 1, hi), hi);
  const std::size_t hi_start = std::clamp(index(std::ceil(static_cast<double>(hi) / sixth)), lo,
                                          hi > lo ? hi - 1 : hi);

  // Below the band: held, unless the band's lowest rows show a fall; then the
  // roll-off that fits the band's lowest octave, or the edge's slope continued.
  const auto [low_value, low_slope] = fitted_line(l, lo, lo_end, lo);
  const bool falls = low_slope >= kFallSlope;
  std::optional<RollOff> roll_off;
  if (falls) {
    std::vector<double> u, v;
    for (double f = static_cast<double>(lo); f <= std::min(2.0 * static_cast<double>(lo), static_cast<double>(hi));
         f *= std::exp2(1.0 / 24)) {
      const std::size_t j = index(std::round(f));
      u.push_back(std::log(static_cast<double>(j))), v.push_back(l[j]);
    }
    if (u.size() >= 6) {
      const RollOff r = fitted_roll_off(u, v);
      if (r.rms <= kRollOffFit) roll_off = r;
    }
  }
  const double slope = falls ? std::min(low_slope, kMaxSlope) : 0;
  for (std::size_t j = 1; j < lo; ++j) {
    const double u = std::log(static_cast<double>(j));
    l[j] = roll_off ? roll_off->at(u) : low_value + slope * (u - std::log(static_cast<double>(lo)));
  }
  // Above it: held, or the edge's slope continued.
  auto [high_value, high_slope] = fitted_line(l, hi_start, hi, hi);
  high_slope = std::abs(high_slope) < kHoldSlope ? 0 : std::clamp(high_slope, -kMaxSlope, 0.0);
  for (std::size_t j = hi + 1; j <= last; ++j) {
    l[j] = high_value + high_slope * std::log(static_cast<double>(j) / static_cast<double>(hi));
  }
  l[0] = l[1];
  return roll_off ? roll_off->n : slope;
}

MinimumPhase minimum_phase(const std::vector<double>& log_magnitude, std::size_t size,
                           double zero_order) {
  const std::size_t bins = size / 2 + 1;
  // The zero at 0 Hz, |1 - e^(-iw)|^s = (2 sin(w/2))^s, is taken out of the log
  // magnitude and its phase, s (pi - w) / 2, put back: what is left is finite at
  // 0 Hz, so its cepstrum decays fast and its fold holds the phase. Left in, the
  // zero's cepstrum -s/n would be cut at size/2 and ripple the phase from bin to
  // bin by about s / (pi j) radians at bin j.
  const double w_per_bin = 2 * std::numbers::pi / static_cast<double>(size);
  std::vector<double> rest(log_magnitude.begin(), log_magnitude.begin() + static_cast<std::ptrdiff_t>(bins));
  for (std::size_t j = 1; j < bins && zero_order != 0; ++j) {
    rest[j] -= zero_order * std::log(2 * std::sin(w_per_bin * static_cast<double>(j) / 2));
  }
  rest[0] = rest[1];
  // The mean is kept aside in double precision: the single-precision
  // transforms then carry only the variation about it.
  double mean = 0;
  for (std::size_t j = 0; j < bins; ++j) mean += rest[j];
  mean /= static_cast<double>(bins);
  const RealFft& fft = real_fft(size);
  FloatBuffer c = make_float_buffer(size + 2);
  for (std::size_t j = 0; j < bins; ++j) c[2 * j] = static_cast<float>(rest[j] - mean);
  fft.inverse(c.get());
  // Folded onto positive quefrencies: c(0) and c(size/2) once, the others
  // twice, nothing beyond size/2; n c(n) beside it for the group delay.
  FloatBuffer nc = make_float_buffer(size + 2);
  const double scale = 1.0 / static_cast<double>(size);
  for (std::size_t n = 0; n < size; ++n) {
    const double fold = n == 0 || n == size / 2 ? 1 : n < size / 2 ? 2 : 0;
    const double v = c[n] * scale * fold;
    c[n] = static_cast<float>(v);
    nc[n] = static_cast<float>(static_cast<double>(n) * v);
  }
  c[size] = c[size + 1] = 0;
  fft.forward(c.get());
  fft.forward(nc.get());
  MinimumPhase m;
  m.response.resize(bins);
  m.group_delay.resize(bins);
  for (std::size_t j = 0; j < bins; ++j) {
    const double w = w_per_bin * static_cast<double>(j);
    const double zero_phase = j == 0 ? 0 : zero_order * (std::numbers::pi - w) / 2;
    m.response[j] = std::exp(Complex(log_magnitude[j], c[2 * j + 1] + zero_phase));
    m.group_delay[j] = nc[2 * j] + zero_order / 2;
  }
  return m;
}

namespace {

// What the rows are taken from, per bin: the power, the group delays of the
// response and of its minimum phase, and how far the window's cut moves the
// band limit's group delay (all samples).
struct RowSources {
  const std::vector<double>& power;
  const std::vector<double>& delay;
  const std::vector<double>& min_delay;
  const std::vector<double>& edge_cut;
  const std::vector<Complex>& min_response;
};

// The group delays, minimum phase and excess group delays of the rows, over their bins (each
// bin's group delay weighted by its power: the group delay of the band's energy).
void curve_rows(const RowSources& v, const CurveSetup& setup, std::size_t size, PhaseCurves& r) {
  const std::size_t bins = v.power.size();
  std::vector<double> weighted(bins), weighted_min(bins), weighted_cut(bins);
  for (std::size_t j = 0; j < bins; ++j) {
    weighted[j] = v.power[j] * v.delay[j];
    weighted_min[j] = v.power[j] * v.min_delay[j];
    weighted_cut[j] = v.power[j] * v.edge_cut[j];
  }
  // The running sums of a smoothed row's bins over the band's bins only: beyond the band edge,
  // its division lifts the noise by hundreds of dB, which would swamp the sums of every row
  // after it (a smoothed row's group delay read 0). An unsmoothed row takes its two bins as
  // they are.
  const double hz_per_bin = setup.rate / static_cast<double>(size);
  const auto band_sums = [&](std::vector<double> u) {
    for (std::size_t j = 0; j < u.size(); ++j) {
      const double hz = static_cast<double>(j) * hz_per_bin;
      if (setup.edge.on() && !(hz >= setup.edge.low() && hz <= setup.edge.high())) u[j] = 0;
    }
    return sums_before(u);
  };
  const std::vector<Complex> response_before = sums_before(v.min_response);
  const std::vector<double> power_before = band_sums(v.power);
  const std::vector<double> weighted_before = band_sums(weighted);
  const std::vector<double> weighted_min_before = band_sums(weighted_min);
  const std::vector<double> weighted_cut_before = band_sums(weighted_cut);
  const double ms = 1000 / setup.rate;
  std::vector<double> cut;
  for (const double hz : setup.frequencies) {
    const RowBins rb = row_bins(hz, setup, size);
    const double row_power = row_mean(rb, v.power, power_before);
    const Complex mean = row_mean(rb, v.min_response, response_before);
    r.min_phase.push_back(wrapped_degrees(std::arg(mean) * (180 / std::numbers::pi)));
    const auto per_power = [&](const std::vector<double>& u, const std::vector<double>& before) {
      return row_power > 0 ? row_mean(rb, u, before) / row_power : 0;
    };
    const double tau = per_power(weighted, weighted_before);
    r.group_delay.push_back(tau * ms);
    r.excess_group_delay.push_back((tau - per_power(weighted_min, weighted_min_before)) * ms);
    cut.push_back(per_power(weighted_cut, weighted_cut_before) * ms);
  }
  withhold_cut_rows(cut, r);
}

}  // namespace

PhaseCurves response_curves(const float* x, std::int64_t n, const CurveSetup& setup) {
  PhaseCurves r;
  r.frequencies = setup.frequencies;
  auto [s, ts] = spectra(x, n, setup.rate, setup.delay, 2 * n);
  // How far the window's cut moves the band limit's group delay: the band limit as the window
  // holds it, against T's own.
  const BinCurves b = bin_curves(s, ts, setup);
  const std::vector<double> cut = edge_cut(setup, n, s.size, b.edge_delay);

  // Level and phase as the .frd's rows, through the microphone's calibration.
  if (setup.calibration.mic != nullptr) remove_microphone(s, *setup.calibration.mic);
  FrequencyResponse measured =
      sample_response(s, setup.frequencies, 1, setup.delay, setup.fraction, setup.edge);
  calibrate(measured, LevelCalibration{nullptr, setup.calibration.offset_db});
  r.level = std::move(measured.level);
  r.phase = std::move(measured.phase);

  // The minimum phase of the magnitude, extended beyond the band.
  std::vector<double> log_magnitude(b.power.size());
  for (std::size_t j = 0; j < b.power.size(); ++j) {
    log_magnitude[j] = b.power[j] > 0 ? std::max(0.5 * std::log(b.power[j]), kLogFloor) : kLogFloor;
  }
  const double zero_order = extend_magnitude(log_magnitude, static_cast<double>(s.size),
                                             setup.rate, setup.band_low, setup.band_high);
  const MinimumPhase m = minimum_phase(log_magnitude, s.size, zero_order);
  curve_rows({b.power, b.delay, m.group_delay, cut, m.response}, setup, s.size, r);
  return r;
}

std::vector<float> step_response(const float* x, std::int64_t n) {
  std::vector<float> out(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
  double sum = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    sum += x[i];
    out[static_cast<std::size_t>(i)] = static_cast<float>(sum);
  }
  return out;
}

}  // namespace vellisk
