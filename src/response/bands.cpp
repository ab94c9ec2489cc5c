// Window spectra and band powers.
#include "response/bands.h"

#include <algorithm>
#include <cmath>

namespace vellisk {

Spectrum spectrum_of(const float* x, std::int64_t n, double rate, std::int64_t min_size) {
  Spectrum s;
  s.size = fast_fft_size(static_cast<std::size_t>(std::max({n, min_size, std::int64_t{2}})));
  s.rate = rate;
  s.bins = make_float_buffer(s.size + 2);
  std::copy(x, x + n, s.bins.get());
  real_fft(s.size).forward(s.bins.get());
  return s;
}

std::pair<std::int64_t, std::int64_t> Spectrum::bins_in(double f_lo, double f_hi) const {
  const double hz_per_bin = rate / static_cast<double>(size);
  const auto last = static_cast<std::int64_t>(size / 2);
  const auto lo =
      std::clamp<std::int64_t>(static_cast<std::int64_t>(std::ceil(f_lo / hz_per_bin)), 0, last);
  const auto hi =
      std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(f_hi / hz_per_bin)), 0, last);
  if (hi >= lo) return {lo, hi};
  const auto nearest =
      std::clamp<std::int64_t>(std::llround(0.5 * (f_lo + f_hi) / hz_per_bin), 0, last);
  return {nearest, nearest};
}

double Spectrum::band_power(double f_lo, double f_hi) const {
  const auto [lo, hi] = bins_in(f_lo, f_hi);
  const float* b = bins.get();
  double sum = 0;
  for (std::int64_t j = lo; j <= hi; ++j) {
    sum +=
        static_cast<double>(b[2 * j]) * b[2 * j] + static_cast<double>(b[2 * j + 1]) * b[2 * j + 1];
  }
  return sum / static_cast<double>(hi - lo + 1);
}

std::vector<double> sixth_octave_powers(const Spectrum& s, const std::vector<double>& centres,
                                        double scale) {
  const double half = std::exp2(1.0 / 12);
  std::vector<double> powers;
  powers.reserve(centres.size());
  for (const double f : centres) powers.push_back(s.band_power(scale * f / half, scale * f * half));
  return powers;
}

std::vector<double> log_centres(double f_lo, double f_hi, double ratio) {
  std::vector<double> centres;
  if (!(f_lo > 0 && f_hi < 1e300 && ratio > 1)) return centres;
  // Bounded by its count, so that a step too small to move f_lo cannot run on.
  const double count = std::floor(std::log(f_hi * (1 + 1e-12) / f_lo) / std::log(ratio)) + 2;
  if (!(count < 1e8)) return centres;
  centres.reserve(static_cast<std::size_t>(std::max(count, 0.0)));
  for (double f = f_lo; f <= f_hi * (1 + 1e-12) && static_cast<double>(centres.size()) < count;
       f *= ratio) {
    centres.push_back(f);
  }
  return centres;
}

}  // namespace vellisk
