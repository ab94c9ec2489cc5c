// Frequency responses of response windows: a gate, and the response on a logarithmic grid,
// smoothed or not, with a delay taken out of its phase.
#pragma once

#include <cstdint>
#include <vector>

#include "response/bands.h"
#include "response/compensation.h"
#include "vellisk/response.h"

namespace vellisk {

// A gate around a response's arrival, in samples of its window: what lies from
// `before` samples ahead of the arrival to `after` samples past it is kept,
// with half-Hann tapers over the first fifth of `before` and the last fifth of
// `after`; the rest is set to 0.
struct Gate {
  double before = 0;
  double after = 0;  // 0: no gate
};

// The gate's weight at window sample t when the arrival is at window sample
// `arrival` (a fraction of a sample is kept exactly).
double gate_weight(const Gate& gate, double arrival, double t);

// Multiplies x[0..n) by the gate's weights.
void apply_gate(const Gate& gate, double arrival, float* x, std::int64_t n);

// A window as the text files take it: row itself when gate is 0, else row copied into out and
// gated (Gate{pre, gate}) around its response's arrival, `arrival` samples after the window's
// sample pre, its zero instant.
const float* gated_window(double gate, std::int64_t pre, double arrival,
                          const std::vector<float>& row, std::vector<float>& out);

// The text files' grid: 96 points per octave from f_lo up to f_hi.
inline constexpr int kPointsPerOctave = 96;
std::vector<double> octave_grid(double f_lo, double f_hi, int points_per_octave);

// The response of a window, from its spectrum s, at scale times each of the
// frequencies (scale k: harmonic order k at its excitation frequency), with a
// delay of `delay` samples from the window's first sample removed from the
// phase. fraction 0: the spectrum at each frequency, interpolated between the
// bins of the delay-free spectrum; fraction N: smoothed over the 1/N octave
// centred there, the level as the mean power of the bins and the phase as that
// of their complex mean (a band holding no bin takes the interpolated value).
// With a compensation given, each bin is divided by its band edge (see
// Compensation::edge), which the compensated response keeps.
FrequencyResponse sample_response(const Spectrum& s, const std::vector<double>& frequencies,
                                  double scale, double delay, int fraction,
                                  const Compensation& edge = {});

// The text files' rows of harmonic order k (1: the linear response) from its window's
// spectrum s: on the grid of kPointsPerOctave from hzstart to hzend / k within the band, the
// delay removed, smoothed over 1/fraction octave (0: not), the band edge divided out.
FrequencyResponse text_rows(const Spectrum& s, const SweepDesign& d, const Compensation& c, int k,
                            double delay, int fraction);

// Divides each bin of s by the band limit's high-pass, which the rows hold while analysed.
void remove_edge(Spectrum& s, const Compensation& c);

// Divides each bin of s by the band limit's low-pass, which a response file holds besides.
void remove_top(Spectrum& s, const Compensation& c);

// The spectrum of x[0..n), a window whose arrival lies `arrival` samples after sample pre,
// at a fast size of at least min_size, as the rows' spectra are taken: holding the band
// limit's high-pass, and its low-pass too unless `top` (x as its file holds it) divides it out.
// With a gate (samples after the arrival; 0: none), the window is gated around the arrival
// with the band limit divided out, so that the gate cuts the system's response, not the
// band limit's.
Spectrum gated_spectrum(double gate, std::int64_t pre, double arrival, const std::vector<float>& x,
                        std::int64_t min_size, const Compensation& c, double rate, bool top = false);
// The points of `grid` within the compensation's band (all of them when it is off).
std::vector<double> within_band(const std::vector<double>& grid, const Compensation& c,
                                double scale = 1);

}  // namespace vellisk
