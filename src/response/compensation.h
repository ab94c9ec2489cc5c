// Taking the sweep's own response out of the measurement: the band the sweep excites, the
// regularised spectral division that replaces the inverse filter, and what it leaves behind.
#pragma once

#include <complex>

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
// T is a Butterworth high-pass of order kEdgeOrder with its corner at the
// band's low edge, causal near the corner and with its phase lead taken out
// above it (see edge()): it stops the division's sharp edge below the band
// from ringing ahead of the response, where --pre would cut it off; the text
// files, the figure and the gains divide it out again.
inline constexpr double kRegularisation = 1e-4;
inline constexpr int kEdgeOrder = 12;
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

  // T at hz: what the compensated response keeps of the system at hz (1 above
  // a few times the band's low edge).
  std::complex<double> edge(double hz) const;

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
};

// The regularisation's eps at bin j of a transform of `size` samples, for a
// unit sweep whose phase law grows by expstep a sample.
double regularisation(double size, double expstep, double j);

}  // namespace vellisk
