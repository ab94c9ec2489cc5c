// Spectra of response windows, and their power in frequency bands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "response/fft.h"

namespace vellisk {

// The transform of a window zero-padded to a fast size: size / 2 + 1 complex bins.
struct Spectrum {
  std::size_t size = 0;
  double rate = 0;  // samples per second of the window
  FloatBuffer bins;

  // The bins from f_lo to f_hi Hz, first and last; the nearest one when the
  // band holds none.
  std::pair<std::int64_t, std::int64_t> bins_in(double f_lo, double f_hi) const;

  // Mean of |X|^2 over bins_in(f_lo, f_hi).
  double band_power(double f_lo, double f_hi) const;
};

// The spectrum of x[0..n), transformed at a fast size of at least min_size.
Spectrum spectrum_of(const float* x, std::int64_t n, double rate, std::int64_t min_size = 0);

// Mean power over bands of 1/6 octave whose centres run from f_lo to f_hi,
// evaluated at scale times each centre: the level of order scale at
// excitation frequency f. One value per centre in centres.
std::vector<double> sixth_octave_powers(const Spectrum& s, const std::vector<double>& centres,
                                        double scale);

// Centres spaced by ratio from f_lo up to f_hi; none unless f_lo > 0, f_hi < 1e300, ratio > 1
// and the centres number fewer than 1e8.
std::vector<double> log_centres(double f_lo, double f_hi, double ratio);

}  // namespace vellisk
