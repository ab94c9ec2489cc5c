// The curves loudspeaker people read beside a response's level: phase, group delay, the
// minimum phase its magnitude implies and the excess group delay; and the step response.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "response/calibration.h"
#include "response/compensation.h"
#include "response/frequency_response.h"

namespace vellisk {

// How a window's curves are taken: as its .frd rows are (see sample_response).
struct CurveSetup {
  double rate = 0;   // samples per second
  double delay = 0;  // samples from the window's first sample to the arrival, removed from the
                     // phase and the group delay (the .frd's delay)
  std::vector<double> frequencies;  // Hz, ascending, within the band (the .frd's grid)
  int fraction = 0;                 // smoothing over 1/fraction octave (0: none), 0 to 96
  Compensation edge;                // its band edge is divided out (off: none)
  double band_low = 0;              // Hz, the band the sweep excited (Compensation::low() and
  double band_high = 0;             //   high(), or hzstart and hzend uncompensated)
  LevelCalibration calibration;     // a microphone's response divided out, an SPL offset added
  Gate gate;                        // the gate x was taken through, about sample `delay` (after
                                    //   0: none)
};

// The curves of the window x[0..n) (gated as the .frd's is), from its
// spectrum at the .frd's transform size (twice the window's length):
//
// - level and phase: sample_response's, bin for bin the .frd's rows, with the
//   calibration applied to the spectrum (the microphone's response divided
//   out of each bin) and the offset added.
// - group delay: -d(phase)/d(omega) of the delay-free response, from the
//   derivative of the complex spectrum: tau = Re(Y conj X) / |X|^2 with Y the
//   transform of (t - delay) x(t), exact at every bin (no wrapped phase is
//   differenced); the band edge's and the microphone's group delays are
//   taken out as their phases are. Smoothed, the mean of the bins' values
//   weighted by their power (the group delay of the band's energy); not, that
//   of the spectrum interpolated between bins as the phase is. NaN, with the
//   excess group delay, from each band edge inwards to the last row where the
//   window (and gate) cut off enough of the band limit T's ringing to move
//   T's group delay, T's impulse response so cut against T itself, by over
//   0.05 ms: the response's own is moved about as much, and the rows given
//   hold within 0.1 ms.
// - minimum phase: the phase of the minimum-phase response with the level's
//   magnitude (see minimum_phase), sampled as the phase is.
// - excess group delay: the group delay less the minimum phase's. A
//   minimum-phase system reads, flat, the residual of the delay removed (its
//   true latency less the arrival, where the peak lies); what differs shows
//   what equalisation cannot correct: delays, allpass stages, reflections.
//
// Within about half an octave of the band's edges, the minimum phase and
// excess group delay depend on the magnitude assumed beyond the band (see
// extend_magnitude). The group delay reads the whole window: on a noisy or
// reflective window gate or smooth, as for the phase.
PhaseCurves response_curves(const float* x, std::int64_t n, const CurveSetup& setup);

// The log magnitude of bins 0 to size/2 of a transform of `size` at `rate`,
// known from band_low to band_high Hz, extended beyond the band. Each edge's
// slope is that of the straight line (in dB against log frequency) fitted to
// the band's outermost 1/6 octave.
//
// Below the band, a fall is continued only where the rows show one: where
// the edge's slope is at least 3 dB an octave (a first-order high-pass's at
// its corner), the Butterworth-type high-pass (order 0.25 to 4, corner from
// 3 octaves below the edge to 2 above) fitted to the band's lowest octave
// when it fits within 0.25 dB rms, and otherwise the edge's straight line;
// where the slope is gentler, or rises away from the band, the edge's level
// is held. Above the band, the edge's level is held where its slope is under
// 1 dB an octave or rises, and otherwise the straight line continues. A line
// never falls faster than 24 dB an octave. The bin at 0 Hz takes the first
// bin's value. Returns the order of the zero assumed at 0 Hz: the log
// magnitude's slope against ln f there (1 for 6 dB an octave; 0 held).
//
// Why: the minimum phase at f depends on the magnitude at every frequency,
// the more the nearer, and a roll-off far below still counts (a 12 dB/octave
// one at 6 Hz is 0.13 ms of group delay at 100 Hz). A loudspeaker, a filter
// or a microphone keeps rolling off below the band as its roll-off there
// implies, to its asymptotic order, which the fitted high-pass follows and a
// straight line from a point still near the corner underestimates. But a
// gentle slope at the edge is as often a cabinet's or a room's ripple above a
// response flat to 0 Hz, and continued to 0 Hz, s dB an octave reads as
// 15 s degrees of phase lead: held, it adds none. Above the band the
// magnitude is not known; what it does between the band's top and the
// Nyquist frequency moves the minimum phase below the top nearly in
// proportion to frequency (a measured cabinet that rises 4 dB there reads
// 3.5 degrees lower at half the top).
double extend_magnitude(std::vector<double>& log_magnitude, double size, double rate,
                        double band_low, double band_high);

// The minimum-phase response whose log magnitude (natural log of |H|) is
// given at bins 0 to size/2 of a real transform of even `size`, by the
// homomorphic method: the real cepstrum of the log magnitude, folded onto
// positive quefrencies (doubled there, nothing at negative ones), transformed
// back. A zero of order zero_order at 0 Hz, (2 sin(w/2))^zero_order, is taken
// out before and its phase and group delay put back exactly (see
// extend_magnitude). Gives each bin's response and group delay (samples: the
// transform of n c(n), the exact derivative of the cepstrum's phase).
struct MinimumPhase {
  std::vector<std::complex<double>> response;
  std::vector<double> group_delay;  // samples
};
MinimumPhase minimum_phase(const std::vector<double>& log_magnitude, std::size_t size,
                           double zero_order = 0);

// The step response of x[0..n): out[i] = x[0] + ... + x[i], summed in double
// precision. For a response divided by the sweep's amplitude, a wire's step
// settles at 1; a compensated response's falls back to 0 over about
// 1 / (2 pi band_low), as its band edge takes out what lies below the band.
std::vector<float> step_response(const float* x, std::int64_t n);

}  // namespace vellisk
