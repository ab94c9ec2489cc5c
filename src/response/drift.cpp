// Band arrivals and the drift fit.
#include "response/drift.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "response/fft.h"

namespace vellisk {

namespace {

// A half-octave band of a spectrum's bins, [lo, hi], and the transform size
// that gives its envelope about eight points per bin, so that it is sampled
// finely enough for a parabola through its logarithm to place its peak.
struct Band {
  double centre;  // Hz
  std::int64_t lo;
  std::int64_t hi;
  std::size_t size;
};

// The bands, a quarter octave apart, from twice hzstart to hzend over the
// square root of 2, that hold enough bins of a spectrum of spectrum_size.
std::vector<Band> bands_of(std::size_t spectrum_size, double rate, double hzstart, double hzend) {
  const double hz_per_bin = rate / static_cast<double>(spectrum_size);
  std::vector<Band> bands;
  for (double centre = 2 * hzstart; centre <= hzend / std::numbers::sqrt2 * (1 + 1e-12);
       centre *= std::exp2(0.25)) {
    Band b{centre, static_cast<std::int64_t>(std::ceil(centre * std::exp2(-0.25) / hz_per_bin)),
           std::min(static_cast<std::int64_t>(std::floor(centre * std::exp2(0.25) / hz_per_bin)),
                    static_cast<std::int64_t>(spectrum_size / 2)),
           64};
    if (b.hi - b.lo < 4) continue;
    while (b.size < static_cast<std::size_t>(8 * (b.hi - b.lo + 1))) b.size *= 2;
    bands.push_back(b);
  }
  return bands;
}

struct BandArrival {
  double octave;   // log2 of the band's centre frequency
  double arrival;  // samples from the window's start
  double weight;
};

// The band's analytic signal needs only its own bins: they are moved down to
// 0 Hz, which leaves the envelope as it is.
bool band_arrival(const Spectrum& s, const Band& b, BandArrival& band) {
  const double hz_per_bin = s.rate / static_cast<double>(s.size);
  const double centre = b.centre;
  const std::int64_t lo = b.lo;
  const std::int64_t hi = b.hi;
  const std::size_t size = b.size;
  FloatBuffer z = make_float_buffer(2 * size);
  const float* x = s.bins.get();
  double energy = 0;
  for (std::int64_t j = lo; j <= hi; ++j) {
    // A Hann window across the band in log frequency.
    const double position = std::log2(static_cast<double>(j) * hz_per_bin / centre) / 0.5;
    const double w = 0.5 + 0.5 * std::cos(2 * std::numbers::pi * position);
    const auto at = static_cast<std::size_t>(j - lo);
    z[2 * at] = static_cast<float>(w * x[2 * j]);
    z[2 * at + 1] = static_cast<float>(w * x[2 * j + 1]);
    energy += w * w *
              (static_cast<double>(x[2 * j]) * x[2 * j] +
               static_cast<double>(x[2 * j + 1]) * x[2 * j + 1]);
  }
  complex_fft(size).inverse(z.get());
  // The squared envelope: its logarithm is twice the envelope's, which moves
  // no peak.
  const auto power = [&z, size](std::size_t i) {
    const std::size_t at = i % size;
    return std::max(static_cast<double>(z[2 * at]) * z[2 * at] +
                        static_cast<double>(z[2 * at + 1]) * z[2 * at + 1],
                    1e-300);
  };
  std::size_t best = 0;
  for (std::size_t i = 1; i < size; ++i) {
    if (power(i) > power(best)) best = i;
  }
  if (!(power(best) > 1e-300)) return false;
  const double before = std::log(power(best + size - 1));
  const double peak = std::log(power(best));
  const double after = std::log(power(best + 1));
  const double curve = before - 2 * peak + after;
  const double offset = curve < 0 ? 0.5 * (before - after) / curve : 0;
  double position = (static_cast<double>(best) + offset) * static_cast<double>(s.size) /
                    static_cast<double>(size);
  // Times wrap around the transform; a response near its start may show just before its end.
  if (position > 0.75 * static_cast<double>(s.size)) position -= static_cast<double>(s.size);
  band.octave = std::log2(centre);
  band.arrival = position;
  const double width = static_cast<double>(hi - lo + 1) * hz_per_bin;
  band.weight = energy * width * width;
  return true;
}

}  // namespace

DriftEstimate estimate_drift(const Spectrum& spectrum, double hzstart, double hzend,
                             double octavelen) {
  DriftEstimate estimate;
  std::vector<BandArrival> bands;
  for (const Band& b : bands_of(spectrum.size, spectrum.rate, hzstart, hzend)) {
    BandArrival band;
    if (band_arrival(spectrum, b, band)) bands.push_back(band);
  }
  if (bands.size() < 3) return estimate;
  double sw = 0, sx = 0, sy = 0;
  for (const BandArrival& b : bands) {
    sw += b.weight;
    sx += b.weight * b.octave;
    sy += b.weight * b.arrival;
  }
  const double mx = sx / sw;
  const double my = sy / sw;
  double sxx = 0, sxy = 0;
  for (const BandArrival& b : bands) {
    sxx += b.weight * (b.octave - mx) * (b.octave - mx);
    sxy += b.weight * (b.octave - mx) * (b.arrival - my);
  }
  if (!(sxx > 0)) return estimate;
  const double slope = sxy / sxx;  // samples per octave
  estimate.measured = true;
  estimate.drift = slope / octavelen;
  estimate.spread = std::abs(slope) * std::log2(hzend / hzstart);
  return estimate;
}

std::vector<std::size_t> drift_fft_sizes(std::size_t spectrum_size, double rate, double hzstart,
                                         double hzend) {
  std::vector<std::size_t> sizes;
  for (const Band& b : bands_of(spectrum_size, rate, hzstart, hzend)) sizes.push_back(b.size);
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  return sizes;
}

}  // namespace vellisk
