// The cumulative spectral decay of a response, slice by slice at exact bins, and its spectrogram.
#include "response/waterfall.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "response/bands.h"
#include "response/curves.h"
#include "response/fft.h"
#include "response/frequency_response.h"
#include "response/measurement.h"

namespace vellisk {
namespace {

using Complex = std::complex<double>;

double level_db(double power) { return power > 0 ? std::max(10 * std::log10(power), -300.0) : -300; }

// The bins of a transform of `size` nearest to the log grid, each once.
std::vector<std::size_t> grid_bins(const WaterfallSetup& s, std::size_t size) {
  std::vector<std::size_t> bins;
  const double bins_per_hz = static_cast<double>(size) / s.rate;
  // Only bins within the band: the one nearest the band's first point may lie below it.
  const auto lowest = std::max(1LL, static_cast<long long>(std::ceil(s.low_hz * bins_per_hz)));
  const auto highest = std::min(static_cast<long long>(size / 2),
                                static_cast<long long>(std::floor(s.high_hz * bins_per_hz)));
  for (const double hz : octave_grid(s.low_hz, s.high_hz, s.points_per_octave)) {
    if (lowest > highest) break;
    const auto j =
        static_cast<std::size_t>(std::clamp(std::llround(hz * bins_per_hz), lowest, highest));
    if (bins.empty() || j > bins.back()) bins.push_back(j);
  }
  return bins;
}

// x[t] e^(-i 2 pi j t / size) for t in [first, last), by a turning phasor set
// exactly every 1024 samples.
void turned(const float* x, std::int64_t first, std::int64_t last, std::size_t j, std::size_t size,
            std::vector<Complex>& out) {
  out.resize(static_cast<std::size_t>(std::max<std::int64_t>(last - first, 0)));
  const auto exact = [&](std::int64_t t) {
    const auto turns = static_cast<double>((j * static_cast<std::size_t>(t)) % size) /
                       static_cast<double>(size);
    return std::polar(1.0, -2 * std::numbers::pi * turns);
  };
  const Complex step = exact(1);
  Complex phasor;
  for (std::int64_t t = first; t < last; ++t) {
    if ((t - first) % 1024 == 0) phasor = exact(t);
    out[static_cast<std::size_t>(t - first)] = static_cast<double>(x[t]) * phasor;
    phasor *= step;
  }
}

}  // namespace

std::int64_t response_onset(const float* x, std::int64_t n, double arrival, double rate) {
  if (n <= 0) return 0;
  const std::int64_t at = std::clamp<std::int64_t>(std::llround(arrival), 0, n - 1);
  const double peak = std::abs(x[at]);
  std::int64_t start = std::max<std::int64_t>(0, at - std::llround(kOnsetMs / 1000 * rate));
  while (start < at && std::abs(x[start]) < kOnsetLevel * peak) ++start;
  return start;
}

WaterfallSetup waterfall_over(double range_ms) {
  WaterfallSetup s;
  s.end_ms = range_ms;
  s.step_ms = range_ms / 100;
  s.rise_ms = range_ms / 100;
  return s;
}

std::optional<WaterfallError> check_waterfall(const WaterfallSetup& s) {
  const auto refuse = [](WaterfallError::Code code, double value) {
    return WaterfallError{code, value};
  };
  if (!(s.start_ms >= 0 && s.end_ms > s.start_ms && s.end_ms <= kMaxWaterfallMs)) {
    return refuse(WaterfallError::Code::bad_range, s.end_ms);
  }
  if (!(s.step_ms > 0)) return refuse(WaterfallError::Code::bad_step, s.step_ms);
  if (!(s.rise_ms >= 0 && s.rise_ms <= s.end_ms - s.start_ms)) {
    return refuse(WaterfallError::Code::bad_rise, s.rise_ms);
  }
  const double slices = std::floor((s.end_ms - s.start_ms) / s.step_ms * (1 + 1e-12)) + 1;
  if (!(slices <= kMaxWaterfallSlices)) return refuse(WaterfallError::Code::too_many_slices, slices);
  if (!(s.points_per_octave >= 1 && s.points_per_octave <= 96)) {
    return refuse(WaterfallError::Code::bad_grid, s.points_per_octave);
  }
  return std::nullopt;
}

namespace {

// Where the slices' rises lie in the response: slice k leaves out everything before its rise
// and 1 - weight within it.
struct SliceRises {
  std::int64_t first = 0;  // the first slice's rise's first sample: the transform's from it on
  std::int64_t last = 0;   // the last slice's start
  std::vector<std::int64_t> rise_first, rise_end;
  std::vector<std::vector<double>> left;  // 1 - weight over [rise_first, rise_end)
  std::size_t held = 0;                   // the slices that start within the response
};

// The rises of slices at times_ms from onset in a response of length samples.
SliceRises slice_rises(const std::vector<double>& times_ms, const WaterfallSetup& s, double onset,
                       std::int64_t length) {
  const double per_ms = s.rate / 1000;
  const std::size_t slices = times_ms.size();
  const double rise = s.rise_ms * per_ms;
  const auto start_of = [&](std::size_t k) { return onset + times_ms[k] * per_ms; };
  // The slice at 0 ms keeps what lies before the onset too (see WaterfallSetup).
  const bool whole_first = s.start_ms == 0;
  SliceRises r;
  r.first = whole_first ? 0
                        : std::clamp<std::int64_t>(
                              static_cast<std::int64_t>(std::ceil(start_of(0) - rise)), 0, length);
  r.last = std::clamp<std::int64_t>(static_cast<std::int64_t>(std::ceil(start_of(slices - 1))),
                                    r.first, length);
  r.rise_first.resize(slices), r.rise_end.resize(slices), r.left.resize(slices);
  for (std::size_t k = 0; k < slices; ++k) {
    const double from = start_of(k) - rise;
    if (!(from < static_cast<double>(length))) break;
    ++r.held;
    if (k == 0 && whole_first) {
      r.rise_first[k] = r.rise_end[k] = r.first;
      continue;
    }
    r.rise_first[k] =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(std::ceil(from)), r.first, r.last);
    r.rise_end[k] =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(std::ceil(start_of(k))), r.first, r.last);
    for (std::int64_t t = r.rise_first[k]; t < r.rise_end[k]; ++t) {
      const double u = (static_cast<double>(t) - from) / rise;
      r.left[k].push_back(0.5 + 0.5 * std::cos(std::numbers::pi * u));
    }
  }
  return r;
}

// The held slices' levels at w's frequencies, bins of a transform of size: the response from
// the first slice's rise on, transformed, less what lies before each slice.
void slice_levels(const float* x, std::int64_t n, const WaterfallSetup& s, std::size_t size,
                  const std::vector<std::size_t>& bins, const SliceRises& r,
                  TimeFrequencyLevels& w) {
  FloatBuffer buffer = make_float_buffer(size + 2);
  std::copy(x + r.first, x + n, buffer.get() + r.first);
  real_fft(size).forward(buffer.get());
  std::vector<Complex> z, before;
  for (std::size_t i = 0; i < bins.size(); ++i) {
    const std::size_t j = bins[i];
    const Complex whole(buffer[2 * j], buffer[2 * j + 1]);
    turned(x, r.first, r.last, j, size, z);
    before.assign(z.size() + 1, 0.0);  // before[t - first]: the sum of z over [first, t)
    for (std::size_t t = 0; t < z.size(); ++t) before[t + 1] = before[t] + z[t];
    const double change = s.calibration.level_change_db(w.frequencies[i]);
    for (std::size_t k = 0; k < r.held; ++k) {
      Complex out = before[static_cast<std::size_t>(r.rise_first[k] - r.first)];
      const Complex* in_rise = z.data() + (r.rise_first[k] - r.first);
      for (std::size_t t = 0; t < r.left[k].size(); ++t) out += r.left[k][t] * in_rise[t];
      w.levels[k * bins.size() + i] = std::max(level_db(std::norm(whole - out)) + change, -300.0);
    }
  }
}

}  // namespace

TimeFrequencyLevels waterfall(const float* x, std::int64_t n, const WaterfallSetup& s) {
  TimeFrequencyLevels w;
  const double per_ms = s.rate / 1000;
  const auto slices = static_cast<std::size_t>(
      std::floor((s.end_ms - s.start_ms) / s.step_ms * (1 + 1e-12)) + 1);
  for (std::size_t k = 0; k < slices; ++k) {
    w.times_ms.push_back(s.start_ms + static_cast<double>(k) * s.step_ms);
  }
  const std::size_t size = fast_fft_size(static_cast<std::size_t>(std::max<std::int64_t>(2 * n, 2)));
  const std::vector<std::size_t> bins = grid_bins(s, size);
  for (const std::size_t j : bins) {
    w.frequencies.push_back(static_cast<double>(j) * s.rate / static_cast<double>(size));
  }
  w.levels.assign(slices * bins.size(), -300);
  const auto onset = static_cast<double>(response_onset(x, n, s.arrival, s.rate));
  w.origin_ms = (onset - s.arrival) / per_ms;
  slice_levels(x, n, s, size, bins, slice_rises(w.times_ms, s, onset, n), w);
  return w;
}

namespace {

// A Hann window of `length` samples (1 at its centre, 0 at its ends) whose centre lies
// `offset` samples after its first sample, kept while frames share that offset.
struct HannWindow {
  double offset = -1;
  std::vector<float> weights;
};

// The frame of `length` samples under a Hann window centred at sample `centre` of x[0..n), a
// real position; samples outside the window read 0. Returns where the frame's centre lies
// from its first sample.
double hann_frame(const float* x, std::int64_t n, double centre, std::int64_t length,
                  HannWindow& window, std::vector<float>& frame) {
  const auto first =
      static_cast<std::int64_t>(std::floor(centre - static_cast<double>(length) / 2));
  const double offset = centre - static_cast<double>(first);
  const auto size = static_cast<std::size_t>(length + 1);
  if (offset != window.offset || window.weights.size() != size) {
    window.offset = offset;
    window.weights.assign(size, 0.0f);
    for (std::size_t i = 0; i < size; ++i) {
      const double u = (static_cast<double>(i) - offset) / static_cast<double>(length);
      if (std::abs(u) < 0.5) {
        window.weights[i] = static_cast<float>(0.5 + 0.5 * std::cos(2 * std::numbers::pi * u));
      }
    }
  }
  frame.assign(size, 0.0f);
  const std::int64_t from = std::max<std::int64_t>(first, 0), to = std::min(first + length + 1, n);
  for (std::int64_t t = from; t < to; ++t) {
    const auto i = static_cast<std::size_t>(t - first);
    frame[i] = x[t] * window.weights[i];
  }
  return offset;
}

}  // namespace

std::int64_t spectrogram_frame(const SpectrogramSetup& s, double hz) {
  const double per_ms = s.rate / 1000;
  double ms = s.frame_ms;
  for (int doubling = 0;
       doubling < kSpectrogramDoublings && ms * per_ms < kSpectrogramCycles * s.rate / hz;
       ++doubling) {
    ms *= 2;
  }
  return std::max<std::int64_t>(2, std::llround(ms * per_ms));
}

TimeFrequencyLevels spectrogram(const float* x, std::int64_t n, const SpectrogramSetup& s) {
  TimeFrequencyLevels g;
  const double per_ms = s.rate / 1000;
  g.frequencies = octave_grid(s.low_hz, s.high_hz, s.points_per_octave);
  if (std::llround(s.frame_ms * per_ms) > n || !(s.hop_ms > 0)) return g;
  // Frame m is centred m hops from the arrival, within the window.
  const auto m_first =
      static_cast<std::int64_t>(std::ceil(std::max(-s.arrival / per_ms, s.first_ms) / s.hop_ms));
  const auto m_last = static_cast<std::int64_t>(std::floor(
      std::min((static_cast<double>(n - 1) - s.arrival) / per_ms, s.last_ms) / s.hop_ms));
  for (std::int64_t m = m_first; m <= m_last; ++m)
    g.times_ms.push_back(static_cast<double>(m) * s.hop_ms);
  const std::size_t nf = g.frequencies.size();
  g.levels.assign(g.times_ms.size() * nf, -300);
  std::vector<double> change;
  for (const double hz : g.frequencies) change.push_back(s.calibration.level_change_db(hz));
  // Rows in groups of one frame length, each group's frames transformed once.
  std::vector<float> frame;
  HannWindow window;
  for (std::size_t i = 0; i < nf;) {
    const std::int64_t length = spectrogram_frame(s, g.frequencies[i]);
    std::size_t end = i;
    while (end < nf && spectrogram_frame(s, g.frequencies[end]) == length) ++end;
    const std::vector<double> rows(g.frequencies.begin() + static_cast<std::ptrdiff_t>(i),
                                   g.frequencies.begin() + static_cast<std::ptrdiff_t>(end));
    for (std::size_t k = 0; k < g.times_ms.size(); ++k) {
      const double at = hann_frame(x, n, s.arrival + g.times_ms[k] * per_ms, length, window, frame);
      const Spectrum sp = spectrum_of(frame.data(), length + 1, s.rate, 2 * length);
      // Taken about the frame's centre, so that what lies there is interpolated between bins
      // unturned.
      const FrequencyResponse r = sample_response(sp, rows, 1, at, s.points_per_octave);
      for (std::size_t j = 0; j < rows.size(); ++j) {
        g.levels[k * nf + i + j] = std::max(r.level[j] + change[i + j], -300.0);
      }
    }
    i = end;
  }
  return g;
}

}  // namespace vellisk
