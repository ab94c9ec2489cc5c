// Taking the sweep's own response out of the measurement: the band the sweep excites, the
// regularised spectral division that replaces the inverse filter, and what it leaves behind.
#pragma once

#include <array>
#include <complex>
#include <vector>

#include "sweep/sweep_design.h"
#include "vellisk/response.h"

namespace vellisk {

// The sweep and its inverse filter, convolved, are a band-pass whose shape the
// sweep's fades set: -31 dB at 20 Hz for a 5 % fade-in over ten octaves. The
// compensated deconvolution divides the recording's spectrum by the sweep's
// own, S, regularised: C = T conj(S) |S|^2 / (|S|^4 + eps^2), with eps
// kRegularisation times the power the sweep would have there without its
// fades, pi / (2 R w) at w radians a sample (stationary phase, R the phase
// law's growth a sample). C exceeds the uncompensated filter by at most
// 3^(3/4) / (4 sqrt(kRegularisation)), 35 dB, where the sweep falls to about
// eps; where it is within 12 dB of full level, S C / T = 1 within 3e-6.
// Above the band, eps grows to the untapered power within the first half
// of the fade-out, so that C exceeds the inverse of the sweep at full level
// by at most 16.8 dB there (12 dB at the band's top), not 35 dB.
// T, the band limit, is a causal (minimum-phase) Butterworth band-pass: a
// high-pass of order kHighpassOrder and a low-pass of order kLowpassOrder, made
// at the response's rate by the bilinear transform with the corners prewarped,
// so that scipy.signal.butter(order, corner, btype, fs=rate) rebuilds each. The
// high-pass is kEdgeLowDb down at the band's low edge, the low-pass kEdgeTopDb
// down at its top: the division's edges, which are zero-phase and sharp (the
// top one within 1 % of the band's top), then ring more than 60 dB below the
// response's peak, so that nothing lies ahead of a wire's arrival. The
// high-pass is steep (12th order) because the division's low edge lies a
// fraction of an octave below the band: a gentler one let that edge's ringing,
// cut off by --pre, move the lowest rows by 0.05 dB.
// The high-pass is applied with the division, in the frequency domain; the
// low-pass only to the rows the file receives, in the time domain, after the
// frequency-domain analyses, which divide the high-pass out again. Dividing
// 50 dB of low-pass out of single-precision rows would lift their rounding
// above the top rows of a quiet channel.
inline constexpr double kRegularisation = 1e-4;
inline constexpr int kHighpassOrder = 12;
inline constexpr int kLowpassOrder = 16;
inline constexpr double kEdgeLowDb = 15;
inline constexpr double kEdgeTopDb = 50;
// The band trusted: where the fades leave the sweep within this of full level.
inline constexpr double kTrustedDb = -kBandWithinDb;

class Compensation {
 public:
  Compensation() = default;  // none: the uncompensated measurement
  explicit Compensation(const SweepDesign& played);

  bool on() const { return on_; }
  // The band the sweep excites within kTrustedDb of full level, Hz.
  double low() const { return low_; }
  double high() const { return high_; }

  // The level of the sweep's fades when it plays hz, 0 to 1 (0 outside the band).
  double taper_level(double hz) const;

  // The high-pass at hz: what the rows keep of the system at hz while they are
  // analysed (1 when off).
  std::complex<double> edge(double hz) const { return response(hz, true, false); }
  // The high-pass's group delay at hz, samples: -d arg / d omega, omega a
  // sample's angle (0 when off).
  double edge_delay(double hz) const;
  // The low-pass at hz (1 when off).
  std::complex<double> top(double hz) const { return response(hz, false, true); }
  // T at hz, both filters: what the response file keeps of the system at hz.
  std::complex<double> band(double hz) const { return response(hz, true, true); }

  // Runs x[0..n), rows that hold the high-pass, through the low-pass, from rest.
  void limit_top(float* x, std::int64_t n) const;

  // T's corners, Hz, and its second-order sections at the response's rate,
  // b0 b1 b2 1 a1 a2 each, high-pass sections first (none when off).
  double highpass_hz() const { return highpass_hz_; }
  // tan(pi corner / rate) of the high-pass's corner (0 when off).
  double warped_low() const { return warped_low_; }
  double lowpass_hz() const { return lowpass_hz_; }
  std::vector<std::array<double, 6>> sections() const;
  std::vector<std::array<double, 6>> highpass_sections() const;
  std::vector<std::array<double, 6>> lowpass_sections() const;
  // All of that, as the report gives it.
  BandFilter band_filter() const;

  // Where the high-pass's own impulse response peaks, samples after its start, to a
  // fraction of a sample (0 when off).
  double peak_delay() const { return peak_delay_; }

  // The arrival in x[0..n), a response that holds the high-pass, to about a
  // hundredth of a sample: where the high-pass's response matched to x begins (off: x's largest
  // sample, between samples).
  double arrival(const float* x, std::int64_t n) const;

  // What the regularised division keeps of the system at hz, beside T, by
  // stationary phase: L^4 / (L^4 + (kRegularisation g)^2), L the fades' level
  // (taper_level) and g the regularisation's growth: 1 within the band, falling
  // steeply beyond it (1 when off).
  double division(double hz) const;

  // The regularisation's growth at hz: 1 up to the band's top, rising
  // smoothly to 1 / kRegularisation over the first half of the fade-out
  // above it, so that the division boosts the noise of the fade-out little
  // more than at the band's top (below the band, T does that).
  double regularisation_growth(double hz) const;

  // The gain that takes harmonic order k at hz to a ratio to the excitation
  // as played: the fades' level at hz, which the division took out, put back,
  // and the excitation's own at hz / k taken out (at most 1 / 10^(kTrustedDb / 20)).
  double harmonic_gain(int k, double hz) const;

 private:
  bool on_ = false;
  SweepDesign design_;
  double low_ = 0, high_ = 0;
  // tan(pi corner / rate) of each corner: the prewarped corners, a sample's angle.
  double warped_low_ = 0, warped_high_ = 0;
  double highpass_hz_ = 0, lowpass_hz_ = 0;
  double peak_delay_ = 0;
  std::complex<double> response(double hz, bool low, bool top) const;
  std::vector<float> impulse_;  // the high-pass's response, its first kImpulseLength samples
  static constexpr int kImpulseLength = 128;
};

// The band limit's high-pass at bins 1, 2, ... of a transform of `size` samples,
// one after another, as Compensation::edge gives it there: the bins' angles
// pi j / size turned by a rotation taken afresh every 256 bins, and the
// high-pass's Butterworth polynomial by its even and odd parts, so that a
// transform's bins cost a few multiplications each rather than a tangent.
class EdgeBins {
 public:
  EdgeBins(const Compensation& c, std::size_t size);
  // The high-pass at the next bin, from bin 1 up to size / 2 (1 when off).
  std::complex<double> next();

 private:
  bool on_ = false;
  double warped_low_ = 0;
  std::size_t size_ = 0, j_ = 0;
  std::complex<double> step_, turn_;
  std::array<double, kHighpassOrder + 1> c_{};  // the polynomial's coefficients, from s^0 up
};

// The regularisation's eps at bin j of a transform of `size` samples, for a
// unit sweep whose phase law grows by expstep a sample.
double regularisation(double size, double expstep, double j);

}  // namespace vellisk
