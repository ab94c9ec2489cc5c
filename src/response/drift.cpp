// Band arrivals and the drift fit.
#include "response/drift.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "response/fft.h"

namespace {

struct BandArrival {
  double octave;  // log2 of the band's centre frequency
  double arrival; // samples from the window's start
  double weight;
};

// The band's analytic signal needs only its own bins: they are moved down to
// 0 Hz, which leaves the envelope as it is, and transformed at a size of about
// eight points per bin, so that the envelope is sampled finely enough for a
// parabola through its logarithm to place its peak.
bool band_arrival(const Spectrum& s, double centre, BandArrival& band) {
  const double hz_per_bin = s.rate / static_cast<double>(s.size);
  const double lo_hz = centre * std::exp2(-0.25);
  const double hi_hz = centre * std::exp2(0.25);
  const auto lo = static_cast<std::int64_t>(std::ceil(lo_hz / hz_per_bin));
  const auto hi = std::min(static_cast<std::int64_t>(std::floor(hi_hz / hz_per_bin)),
                           static_cast<std::int64_t>(s.size / 2));
  if (hi - lo < 4) return false;
  std::size_t size = 1;
  while (size < static_cast<std::size_t>(8 * (hi - lo + 1))) size *= 2;
  size = std::max(size, static_cast<std::size_t>(64));
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
    energy += w * w * (static_cast<double>(x[2 * j]) * x[2 * j] + static_cast<double>(x[2 * j + 1]) * x[2 * j + 1]);
  }
  ComplexFft(size).inverse(z.get());
  std::size_t best = 0;
  std::vector<double> envelope(size);
  for (std::size_t i = 0; i < size; ++i) {
    envelope[i] = std::hypot(z[2 * i], z[2 * i + 1]);
    if (envelope[i] > envelope[best]) best = i;
  }
  if (!(envelope[best] > 0)) return false;
  const double before = std::log(std::max(envelope[(best + size - 1) % size], 1e-300));
  const double peak = std::log(envelope[best]);
  const double after = std::log(std::max(envelope[(best + 1) % size], 1e-300));
  const double curve = before - 2 * peak + after;
  const double offset = curve < 0 ? 0.5 * (before - after) / curve : 0;
  double position = (static_cast<double>(best) + offset) * static_cast<double>(s.size) / static_cast<double>(size);
  // Times wrap around the transform; a response near its start may show just before its end.
  if (position > 0.75 * static_cast<double>(s.size)) position -= static_cast<double>(s.size);
  band.octave = std::log2(centre);
  band.arrival = position;
  const double width = hi_hz - lo_hz;
  band.weight = energy * width * width;
  return true;
}

}  // namespace

DriftEstimate estimate_drift(const Spectrum& spectrum, double hzstart, double hzend,
                             double octavelen) {
  DriftEstimate estimate;
  std::vector<BandArrival> bands;
  for (double centre = 2 * hzstart; centre <= hzend / std::numbers::sqrt2 * (1 + 1e-12);
       centre *= std::exp2(0.25)) {
    BandArrival band;
    if (band_arrival(spectrum, centre, band)) bands.push_back(band);
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
