// Batches, threads and the measurements made on each channel.
#include "response/measurement.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

#include "response/analysis.h"
#include "response/bands.h"
#include "response/curves.h"
#include "response/fft.h"
#include "response/harmonics.h"
#include "response/parallel.h"
#include "response/plausibility.h"
#include "response/waterfall.h"
#include "sweep/cancel.h"
#include "sweep/inverse_gen.h"

namespace vellisk {

namespace {

// One worker's buffers, reused for every channel it deconvolves.
struct Worker {
  FloatBuffer data;
  std::vector<std::vector<float>> rows;  // [k - 1]: order k's window
  std::vector<float> noise;              // the noise stretch
  double before = 0, before_at = 0;      // see ChannelResult
  ChannelResult result;
};

double power_ratio_db(const std::vector<double>& num, const std::vector<double>& den) {
  double a = 0, b = 0;
  for (std::size_t i = 0; i < num.size(); ++i) a += num[i], b += den[i];
  // Levels stop at -300 dB, as the figure's do: an order with no power at all
  // has a level, not minus infinity.
  return b > 0 ? std::max(10 * std::log10(a / b), -300.0) : 0;
}

// The squared peak magnitude of the analytic signal x + i H(x) over each
// stretch of `step` samples of x[0..n), s being x's spectrum at a size of at
// least 2n (so that nothing wraps). The Hilbert transform H(x) is the inverse
// of the spectrum turned by -90 degrees at positive frequencies, through the
// same real transform.
std::vector<double> stretch_peaks(const Spectrum& s, const float* x, std::int64_t n,
                                  std::int64_t step) {
  FloatBuffer h = make_float_buffer(s.size + 2);
  const float* b = s.bins.get();
  for (std::size_t j = 1; j < s.size / 2; ++j) {
    h[2 * j] = b[2 * j + 1];
    h[2 * j + 1] = -b[2 * j];
  }
  real_fft(s.size).inverse(h.get());
  const double scale = 1.0 / static_cast<double>(s.size);
  std::vector<double> peaks;
  for (std::int64_t i = 0; i < n; i += step) {
    double most = 0;
    for (std::int64_t j = i; j < std::min(n, i + step); ++j) {
      const double im = h[j] * scale;
      most = std::max(most, static_cast<double>(x[j]) * x[j] + im * im);
    }
    peaks.push_back(most);
  }
  return peaks;
}

// The stretch of the envelope: about 2000 stretches over the window of n samples.
std::int64_t envelope_step(std::int64_t n) { return std::max<std::int64_t>(1, n / 2000); }

// The envelope of the linear window x[0..n) in dB, as the largest magnitude
// of its analytic signal over each stretch.
void envelope_curve(const Spectrum& s, const float* x, std::int64_t n, std::int64_t pre,
                    double rate, ChannelCurves& curves) {
  const std::int64_t step = envelope_step(n);
  const std::vector<double> peaks = stretch_peaks(s, x, n, step);
  for (std::size_t i = 0; i < peaks.size(); ++i) {
    const auto at = static_cast<std::int64_t>(i) * step;
    curves.times.push_back(1000.0 * static_cast<double>(at + step / 2 - pre) / rate);
    curves.envelope.push_back(std::max(decibels(std::sqrt(peaks[i])), -300.0));
  }
}

// The noise stretch x[0..n) measured as the envelope of a window of
// `window` samples is: the median of its stretches' peaks, in dB, so that the
// envelope's floor meets it.
double noise_envelope(const float* x, std::int64_t n, std::int64_t window, double rate) {
  const Spectrum s = spectrum_of(x, n, rate, 2 * n);
  std::vector<double> peaks = stretch_peaks(s, x, n, envelope_step(window));
  std::nth_element(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(peaks.size() / 2),
                   peaks.end());
  return std::max(decibels(std::sqrt(peaks[peaks.size() / 2])), -300.0);
}

// Margin, each side, of the segment a linear window is cut from when it is
// moved by a fraction of a sample (see harmonic_response).
constexpr std::int64_t kShiftMargin = 64;

// The layout that cuts the linear window alone through a transform, so as to
// move it by a fraction of a sample: margins of its own, up to kShiftMargin,
// within the size its spectrum already has when they fit there (of at least
// 16 samples), in a size of their own when not.
Layout linear_layout(const Layout& layout) {
  Layout l = layout;
  const std::int64_t n1 = layout.window(1);
  l.segment_size = fast_fft_size(static_cast<std::size_t>(n1));
  l.margins[0] = std::min(kShiftMargin, (static_cast<std::int64_t>(l.segment_size) - n1 - 1) / 2);
  if (l.margins[0] < 16) {
    l.margins[0] = kShiftMargin;
    l.segment_size = fast_fft_size(static_cast<std::size_t>(n1 + 1 + 2 * kShiftMargin));
  }
  return l;
}

// Cuts the windows and the noise stretch of the raw output at origin (output
// time 0), offset samples later than the layout places them.
void cut_windows(const Measurement& m, const float* origin, double offset, Worker& w) {
  const Layout& layout = m.layout;
  if (offset == 0) {
    std::copy(origin - layout.pre, origin - layout.pre + layout.window(1), w.rows[0].begin());
    for (int k = 2; k <= layout.orders(); ++k) {
      harmonic_response(origin, layout, k, m.plan.design.phasescale,
                        w.rows[static_cast<std::size_t>(k - 1)].data(), m.plan.compensation,
                        m.plan.design.rate);
    }
  } else {
    Layout moved = layout;
    for (double& a : moved.arrivals) a += offset;
    Layout linear = linear_layout(layout);
    linear.arrivals = moved.arrivals;
    harmonic_response(origin, linear, 1, m.plan.design.phasescale, w.rows[0].data());
    for (int k = 2; k <= layout.orders(); ++k) {
      harmonic_response(origin, moved, k, m.plan.design.phasescale,
                        w.rows[static_cast<std::size_t>(k - 1)].data(), m.plan.compensation,
                        m.plan.design.rate);
    }
  }
  const float* noise = origin + layout.noise_first + std::llround(offset);
  w.noise.assign(noise, noise + (layout.noise_last - layout.noise_first));
  // Everything computed before the window: the harmonics, the noise, and a
  // response that arrived before the zero instant.
  w.before = 0, w.before_at = 0;
  const auto end = static_cast<std::int64_t>(std::floor(offset)) - layout.pre;
  for (std::int64_t t = m.plan.first; t < end; ++t) {
    if (std::abs(origin[t]) > w.before) {
      w.before = std::abs(origin[t]);
      w.before_at = static_cast<double>(t) - offset;
    }
  }
}

// Whether the windows cut offset samples later lie within the output computed.
bool fits(const Measurement& m, double offset) {
  const std::int64_t reach = kShiftMargin + 2;
  return std::floor(offset) + static_cast<double>(m.layout.first - reach) >=
             static_cast<double>(m.plan.first) &&
         std::ceil(offset) + static_cast<double>(m.layout.last + reach) <=
             static_cast<double>(m.plan.last);
}

// row, or with a gate asked for, row gated around the linear response's
// arrival (sample pre of every order's window is its zero instant), in out.
const float* gated(const MeasurementSetup& setup, const Layout& layout, double arrival,
                   const std::vector<float>& row, std::vector<float>& out) {
  return gated_window(setup.gate, layout.pre, arrival, row, out);
}

// The views of the linear window x[0..n) (gated as the text files' is), whose
// arrival lies at sample `arrival`: its phase curves on the text files' grid
// and its waterfall, over the band the rows cover.
void linear_views(const MeasurementSetup& setup, const Measurement& m, const float* x,
                  std::int64_t n, double arrival, ChannelResult& r) {
  const SweepDesign& d = m.plan.design;
  const Compensation& c = m.plan.compensation;
  const double low = c.on() ? c.low() : d.hzstart, high = c.on() ? c.high() : d.hzend;
  if (setup.phase_curves) {
    CurveSetup cs;
    cs.rate = d.rate;
    cs.delay = arrival;
    cs.frequencies = within_band(octave_grid(d.hzstart, d.hzend, kPointsPerOctave), c);
    cs.fraction = setup.smooth;
    cs.edge = c;
    cs.band_low = low, cs.band_high = high;
    cs.calibration = setup.calibration;
    if (setup.gate > 0) cs.gate = Gate{static_cast<double>(m.layout.pre), setup.gate};
    r.phase_curves = response_curves(x, n, cs);
  }
  if (setup.waterfall) {
    WaterfallSetup ws = waterfall_over(setup.waterfall_ms);
    ws.rate = d.rate;
    ws.arrival = arrival;
    ws.low_hz = low, ws.high_hz = high;
    ws.calibration = setup.calibration;
    r.waterfall = waterfall(x, n, ws);
  }
  if (setup.spectrogram) {
    SpectrogramSetup ss;
    ss.rate = d.rate;
    ss.arrival = arrival;
    ss.first_ms = -20;
    ss.low_hz = low, ss.high_hz = high;
    ss.calibration = setup.calibration;
    r.spectrogram = spectrogram(x, n, ss);
  }
}

// The figure's curves and the text files' responses of every order, from its
// window gated around the linear response's arrival when a gate is asked for,
// and with that arrival removed from the phase. Every spectrum is taken at
// twice the linear window: the lowest bands hold more bins, and the envelope
// does not wrap around from the window's end to its start.
void frequency_analyses(const MeasurementSetup& setup, const Measurement& m,
                        const std::vector<std::vector<float>>& rows, ChannelResult& r) {
  const Layout& layout = m.layout;
  const SweepDesign& d = m.plan.design;
  const std::int64_t n1 = layout.window(1);
  const double arrival = static_cast<double>(layout.pre) + r.arrival;
  std::vector<float> buffer;
  Spectrum linear;
  // The microphone's response is divided out of each spectrum, the SPL offset added to the rows.
  const MicCalibration* mic = setup.calibration.mic;
  const LevelCalibration offset{nullptr, setup.calibration.offset_db};
  for (int k = 1; k <= layout.orders(); ++k) {
    const std::vector<float>& row = rows[static_cast<std::size_t>(k - 1)];
    const auto n = static_cast<std::int64_t>(row.size());
    Spectrum s = spectrum_of(gated(setup, layout, r.arrival, row, buffer), n, d.rate, 2 * n1);
    if (mic != nullptr) remove_microphone(s, *mic);
    const Compensation& c = m.plan.compensation;
    if (setup.curves) {
      const std::vector<double> grid =
          within_band(log_centres(d.hzstart, d.hzend / k, std::exp2(1.0 / 24)), c, k);
      FrequencyResponse drawn = sample_response(s, grid, k, arrival, setup.figure_smooth, c);
      calibrate(drawn, offset, k);
      std::vector<double> level = std::move(drawn.level);
      if (k == 1) {
        r.curves.frequencies = grid;
        r.curves.level = std::move(level);
      } else {
        r.curves.harmonics.push_back(std::move(level));
      }
    }
    if (setup.responses) {
      FrequencyResponse& rows_k =
          r.responses.emplace_back(text_rows(s, d, c, k, arrival, setup.smooth));
      calibrate(rows_k, offset, k);
    }
    if (k == 1) linear = std::move(s);
  }
  if (setup.curves) {
    // The envelope shows the whole window, reflections and all.
    if (setup.gate > 0 || mic != nullptr) linear = spectrum_of(rows[0].data(), n1, d.rate, 2 * n1);
    envelope_curve(linear, rows[0].data(), n1, layout.pre, d.rate, r.curves);
  }
}

}  // namespace

int response_polarity(const float* x, std::int64_t n, double arrival, double rate) {
  if (n <= 0) return 1;
  const std::int64_t at = std::clamp<std::int64_t>(std::llround(arrival), 0, n - 1);
  const auto end = std::min(n, static_cast<std::int64_t>(arrival + kPolarityMs / 1000 * rate) + 1);
  // From the onset: what comes before it, a linear-phase response's mirror
  // image of what follows, would give the step response a swing as large and
  // of the other sign.
  const double peak = std::abs(x[at]);
  std::int64_t start = std::max<std::int64_t>(0, at - std::llround(kOnsetMs / 1000 * rate));
  while (start < at && std::abs(x[start]) < kOnsetLevel * peak) ++start;
  double sum = 0, extreme = 0;
  for (std::int64_t i = start; i < end; ++i) {
    sum += x[i];
    if (std::abs(sum) > std::abs(extreme)) extreme = sum;
  }
  return extreme < 0 ? -1 : 1;
}

std::vector<double> band_points(const SweepDesign& d, const Compensation& c, bool middle) {
  // The middle of the band, clear of the band edges; a sweep of less than two
  // octaves has no such middle, and is taken whole.
  const bool wide = middle && 4 * d.hzstart < d.hzend;
  double lo = wide ? 2 * d.hzstart : d.hzstart;
  double hi = wide ? d.hzend / 2 : d.hzend;
  if (c.on()) lo = std::max(lo, c.low()), hi = std::min(hi, c.high());
  return log_centres(lo, std::max(lo, hi), std::exp2(1.0 / 6));
}

double in_band_gain(const Spectrum& s, const SweepDesign& d, const Compensation& c) {
  std::vector<double> magnitudes = sixth_octave_powers(s, band_points(d, c, true), 1);
  for (double& x : magnitudes) x = std::sqrt(x);
  return median(magnitudes);
}

std::vector<double> band_powers(const float* x, std::int64_t n, const SweepDesign& d,
                                const Compensation& c) {
  std::vector<double> powers =
      sixth_octave_powers(spectrum_of(x, n, d.rate), band_points(d, c, false), 1);
  // An unnormalised transform's bins hold n times the mean square of white noise.
  for (double& p : powers) p /= static_cast<double>(std::max<std::int64_t>(n, 1));
  return powers;
}

namespace {

// The sixth-octave bands a harmonic's summary level sums: those whose excitation the sweep
// plays at full level, past its fade-in and before its fade-out (within the band, its k-th
// harmonic too), where the harmonic's ratio to the linear response is the system's own at the
// sweep's amplitude; in a fade, a harmonic of order k falls k - 1 times as many dB as the drive.
std::vector<double> full_level_centres(const SweepDesign& d, const Compensation& c, int k) {
  const double half = std::exp2(1.0 / 12);
  const Compensation played(d);
  const std::vector<double> all =
      within_band(log_centres(d.hzstart * half, d.hzend / k / half, half * half), c, k);
  std::vector<double> kept;
  for (const double f : all) {
    if (played.taper_level(f / half) >= 1 && played.taper_level(f * half) >= 1) kept.push_back(f);
  }
  return kept.empty() ? all : kept;  // fades that leave no band at full level: every band
}

// The figures of the windows themselves: the linear response's arrival, peak,
// level and tail, the noise's level, and the range of every sample.
void window_figures(const Layout& layout, double rate, const std::vector<std::vector<float>>& rows,
                    const std::vector<float>& noise, ChannelResult& r) {
  const std::vector<float>& linear = rows[0];
  const Peak peak = interpolated_peak(linear.data(), layout.window(1));
  r.arrival = peak.position - static_cast<double>(layout.pre);
  r.peak = peak.value;
  r.noise = rms(noise.data(), static_cast<std::int64_t>(noise.size()));
  r.window_rms = rms(linear.data(), layout.window(1));
  r.tail = window_tail(linear.data(), layout.pre, layout.window(1), r.noise, rate);
  for (const std::vector<float>& row : rows) {
    for (const float v : row) {
      if (!std::isfinite(v)) r.finite = false;
      r.low = std::min(r.low, v), r.high = std::max(r.high, v);
    }
  }
}

// The linear window's spectrum, at its own size, which every window's spectrum shares: one plan
// for them all. The clock drift is estimated on it, and the in-band gain taken from it, gated
// when a gate is asked for; both the gain and the spectrum returned are through the
// microphone's calibration, so that each order is set against the linear response at the
// frequencies it was measured at.
Spectrum linear_spectrum(const MeasurementSetup& setup, const Measurement& m,
                         const std::vector<float>& linear, bool drift, ChannelResult& r) {
  const Layout& layout = m.layout;
  const SweepDesign& d = m.plan.design;
  const std::int64_t n1 = layout.window(1);
  const Compensation& c = m.plan.compensation;
  Spectrum h1 = spectrum_of(linear.data(), n1, d.rate);
  remove_edge(h1, c);
  if (drift) r.drift = estimate_drift(h1, d.hzstart, d.hzend, d.octavelen);
  std::vector<float> buffer;
  Spectrum h1g;
  if (setup.gate > 0) {
    h1g = spectrum_of(gated(setup, layout, r.arrival, linear, buffer), n1, d.rate);
    remove_edge(h1g, c);
  }
  const MicCalibration* mic = setup.calibration.mic;
  if (mic != nullptr) {
    remove_microphone(h1, *mic);
    if (setup.gate > 0) remove_microphone(h1g, *mic);
  }
  const Spectrum& g = setup.gate > 0 ? h1g : h1;
  r.gain = in_band_gain(g, d, c) * std::pow(10.0, setup.calibration.offset_db / 20);
  return h1;
}

// The noise stretch's length in samples, at least 1.
double noise_length(const std::vector<float>& noise) {
  return static_cast<double>(std::max<std::size_t>(noise.size(), 1));
}

// The noise stretch's spectrum at the linear window's size, as the orders' are taken: needed by
// the harmonics' noise and the figure's noise curve.
Spectrum noise_spectrum(const MeasurementSetup& setup, const Measurement& m,
                        const std::vector<float>& noise) {
  Spectrum ns;
  if (m.layout.orders() > 1 || setup.curves) {
    ns = spectrum_of(noise.data(), static_cast<std::int64_t>(noise.size()), m.plan.design.rate,
                     m.layout.window(1));
    remove_edge(ns, m.plan.compensation);
    if (setup.calibration.mic != nullptr) remove_microphone(ns, *setup.calibration.mic);
  }
  return ns;
}

// Each harmonic's level against the linear response h1, and the level of the noise a window as
// long as the order's holds, in the bands played at full level; and the THD of the harmonics
// above their noise.
void harmonic_levels(const MeasurementSetup& setup, const Measurement& m,
                     const std::vector<std::vector<float>>& rows, const Spectrum& h1,
                     const Spectrum& ns, double noise_samples, ChannelResult& r) {
  const SweepDesign& d = m.plan.design;
  const Compensation& c = m.plan.compensation;
  const MicCalibration* mic = setup.calibration.mic;
  const std::int64_t n1 = m.layout.window(1);
  double thd_power = 0;
  for (int k = 2; k <= m.layout.orders(); ++k) {
    const auto& row = rows[static_cast<std::size_t>(k - 1)];
    Spectrum hk = spectrum_of(row.data(), static_cast<std::int64_t>(row.size()), d.rate, n1);
    if (mic != nullptr) remove_microphone(hk, *mic);
    const std::vector<double> centres = full_level_centres(d, c, k);
    const std::vector<double> linear_powers = sixth_octave_powers(h1, centres, 1);
    const double level = power_ratio_db(sixth_octave_powers(hk, centres, k), linear_powers);
    // The noise a window as long as the order's holds, in the same bands.
    std::vector<double> noise_powers = sixth_octave_powers(ns, centres, k);
    for (double& p : noise_powers) p *= static_cast<double>(row.size()) / noise_samples;
    const double noise_level = power_ratio_db(noise_powers, linear_powers);
    const bool below = !(level >= noise_level + kHarmonicMarginDb);
    r.harmonic_levels.push_back(level);
    r.harmonic_noise.push_back(noise_level);
    r.below_noise.push_back(below);
    if (!below) thd_power += std::pow(10.0, level / 10);
  }
  r.thd = std::sqrt(thd_power);
}

// The figure's noise: its envelope, and its spectrum ns as the level curve would show it,
// smoothed alike and scaled to the energy of the window (gated or not) the curve is taken from.
void noise_curves(const MeasurementSetup& setup, const Measurement& m,
                  const std::vector<float>& noise, const Spectrum& ns, ChannelResult& r) {
  const std::int64_t n1 = m.layout.window(1);
  r.curves.noise_envelope =
      noise_envelope(noise.data(), static_cast<std::int64_t>(noise.size()), n1, m.plan.design.rate);
  std::vector<float> buffer;
  std::vector<float> ones(static_cast<std::size_t>(n1), 1.0f);
  const double energy = rms(gated(setup, m.layout, r.arrival, ones, buffer), n1);
  const double scale =
      10 * std::log10(energy * energy * static_cast<double>(n1) / noise_length(noise));
  r.curves.noise_level = sample_response(ns, r.curves.frequencies, 1, 0, setup.figure_smooth).level;
  for (std::size_t i = 0; i < r.curves.noise_level.size(); ++i) {
    r.curves.noise_level[i] =
        std::max(r.curves.noise_level[i] + scale + setup.calibration.offset_db, -300.0);
  }
}

}  // namespace

ChannelResult analyse_windows(const MeasurementSetup& setup, const Measurement& m,
                              const std::vector<std::vector<float>>& rows,
                              const std::vector<float>& noise, bool drift) {
  const Layout& layout = m.layout;
  const double rate = m.plan.design.rate;
  const std::int64_t n1 = layout.window(1);
  ChannelResult r;
  window_figures(layout, rate, rows, noise, r);
  const Spectrum h1 = linear_spectrum(setup, m, rows[0], drift, r);
  const Spectrum ns = noise_spectrum(setup, m, noise);
  harmonic_levels(setup, m, rows, h1, ns, noise_length(noise), r);
  const double arrival = static_cast<double>(layout.pre) + r.arrival;
  r.polarity = response_polarity(rows[0].data(), n1, arrival, rate);
  if (setup.curves || setup.responses) frequency_analyses(setup, m, rows, r);
  // The views, asked for with or without the text files or a figure.
  if (setup.phase_curves || setup.waterfall || setup.spectrogram) {
    std::vector<float> buffer;
    linear_views(setup, m, gated(setup, layout, r.arrival, rows[0], buffer), n1, arrival, r);
  }
  if (setup.curves) noise_curves(setup, m, noise, ns, r);
  return r;
}

Measurement plan_measurement(const MeasurementSetup& setup) {
  Measurement m;
  const SweepDesign design = drift_design(setup.params, setup.drift);
  m.layout = plan_layout(design, setup.pre, setup.length, setup.orders);
  // Windows cut at an offset need a margin more output, and the room the
  // transform has to spare: it costs only the recording's samples that fill it.
  const std::int64_t margin = setup.timing ? kShiftMargin + 2 : 0;
  m.plan = plan_deconvolution(setup.params, setup.drift, m.layout.first - margin,
                              m.layout.last + margin, setup.min_fft_size, setup.compensated);
  if (setup.timing) {
    // A quarter of it before (an arrival a little early: the clocks), the rest after.
    const std::int64_t spare = static_cast<std::int64_t>(m.plan.fft_size) - m.plan.stretch_length();
    const std::int64_t early = std::min(spare / 4, setup.pre);
    m.plan.first -= early;
    m.plan.last += spare - early;
  }
  m.plan.zero += setup.shift;
  return m;
}

std::vector<std::int64_t> row_lengths(const Layout& layout, int channels, bool noise) {
  std::vector<std::int64_t> lengths;
  for (int k = 1; k <= layout.orders(); ++k)
    lengths.insert(lengths.end(), static_cast<std::size_t>(channels), layout.window(k));
  if (noise) {
    lengths.insert(lengths.end(), static_cast<std::size_t>(channels),
                   layout.noise_last - layout.noise_first);
  }
  return lengths;
}

double measurement_bytes(const MeasurementSetup& setup, int channels) {
  const Measurement m = plan_measurement(setup);
  const double batch = std::clamp(setup.threads, 1, std::max(channels, 1));
  const auto fft = static_cast<double>(m.plan.fft_size + 2);
  const double n1 = static_cast<double>(m.layout.window(1));
  double windows = 0;
  for (int k = 1; k <= m.layout.orders(); ++k) windows += static_cast<double>(m.layout.window(k));
  // The filter's spectrum, the planner's scratch and the library's tables,
  // each about one transform; per thread, its transform, its windows, and the
  // analysis's spectra (up to four of twice the window with a figure or text
  // files); the windows kept for the files, up to the store's budget; the text
  // files' rows, three doubles (six floats) a point, kept until written.
  const bool fine = setup.curves || setup.responses || setup.phase_curves || setup.waterfall ||
                    setup.spectrogram;
  const double spectra =
      (fine ? 4 * 2.2 : 3 * 1.1) * n1 + 2.0 * static_cast<double>(m.layout.segment_size);
  const double rows = setup.responses ? 6.0 * kPointsPerOctave *
                                            std::log2(setup.params.hzend / setup.params.hzstart) *
                                            m.layout.orders() * channels
                                      : 0;
  const double floats = 3 * fft + batch * (fft + windows + spectra) +
                        std::min(windows * channels, static_cast<double>(RowStore::kMemoryBudget)) +
                        rows;
  // Measured peaks run up to 1.6 times the buffers' sum (the transform
  // library's working memory), above about 20 MiB of libraries.
  return 1.6 * 4 * floats + 32.0 * 1048576;
}

std::unique_ptr<InverseSpectrum> inverse_spectrum(const MeasurementSetup& setup,
                                                  const Measurement& m) {
  // Every transform size the analysis needs, planned while the filter's
  // samples are computed.
  const SweepDesign& d = m.plan.design;
  const std::int64_t n1 = m.layout.window(1);
  const std::size_t level_size = fast_fft_size(static_cast<std::size_t>(n1));
  std::vector<std::size_t> real_sizes = {level_size};
  std::vector<std::size_t> complex_sizes;
  if (setup.drift_channel >= 0) {
    complex_sizes = drift_fft_sizes(level_size, d.rate, d.hzstart, d.hzend);
  }
  if (m.layout.orders() > 1) real_sizes.push_back(m.layout.segment_size);
  if (setup.timing) real_sizes.push_back(linear_layout(m.layout).segment_size);
  if (setup.curves || setup.responses) {
    real_sizes.push_back(fast_fft_size(static_cast<std::size_t>(2 * n1)));
  }
  if (setup.curves) {
    real_sizes.push_back(
        fast_fft_size(static_cast<std::size_t>(2 * (m.layout.noise_last - m.layout.noise_first))));
  }
  return std::make_unique<InverseSpectrum>(m.plan, setup.threads, real_sizes, complex_sizes);
}

namespace {

// The order the channels are measured in: from the timing channel on, so that it is in the
// first batch, at its head.
struct ChannelOrder {
  int recorded = 0;       // the recording's channels
  int channels = 0;       // the channels measured
  int lead = 0;           // the recording's channel measured first
  bool only_one = false;  // one channel measured alone
  // The recording's channel of the i-th channel measured, and its result's index.
  int source(int i) const { return (lead + i) % recorded; }
  int result(int i) const { return only_one ? 0 : source(i); }
};

ChannelOrder channel_order(const MeasurementSetup& setup, int recorded) {
  ChannelOrder o;
  o.recorded = recorded;
  o.only_one = setup.only_channel >= 0;
  o.channels = o.only_one ? 1 : recorded;
  o.lead = o.only_one ? setup.only_channel : std::max(setup.timing_channel, 0);
  return o;
}

// The inverse filter: the one shared, or one of its own, whose transform runs in the background
// (while the first batch is read and transformed) until the first channel needs it.
class Filter {
 public:
  Filter(const MeasurementSetup& setup, const Measurement& m, const InverseSpectrum* shared)
      : spectrum_(shared) {
    if (spectrum_ == nullptr) {
      own_ = inverse_spectrum(setup, m);
      spectrum_ = own_.get();
      background_.emplace([this] { own_->transform(); });
    }
  }
  // Deconvolves the stretch of the recording in data[0..stretch), padded with zeros to the
  // transform's size, in place.
  void deconvolve(float* data, std::int64_t stretch, const Measurement& m,
                  const CancelFlag* cancel) {
    std::fill(data + stretch, data + m.plan.fft_size + 2, 0.0f);
    spectrum_->forward(data);
    throw_if_cancelled(cancel);
    std::call_once(done_, [this] {
      if (background_) background_->wait();
    });
    spectrum_->finish(data);
  }

 private:
  const InverseSpectrum* spectrum_;
  std::unique_ptr<InverseSpectrum> own_;
  std::optional<Background> background_;
  std::once_flag done_;
};

// A worker for each channel of a batch, its buffers sized for the measurement.
std::vector<Worker> make_workers(const Measurement& m, int batch) {
  std::vector<Worker> workers(static_cast<std::size_t>(batch));
  for (Worker& w : workers) {
    w.data = make_float_buffer(m.plan.fft_size + 2, false);
    for (int k = 1; k <= m.layout.orders(); ++k)
      w.rows.emplace_back(static_cast<std::size_t>(m.layout.window(k)));
  }
  return workers;
}

// Reads the stretch of the n channels measured from the first on into the workers' buffers, in
// at most two runs of neighbours, and their levels into levels[0..n).
std::string read_batch(SampleSource& recording, const Measurement& m, const ChannelOrder& order,
                       int first, int n, std::vector<Worker>& workers,
                       std::vector<SampleLevels>& levels) {
  std::vector<float*> buffers(workers.size());
  for (int i = 0; i < n; ++i)
    buffers[static_cast<std::size_t>(i)] = workers[static_cast<std::size_t>(i)].data.get();
  const std::int64_t stretch = m.plan.stretch_length();
  const int from = order.source(first);
  const int run = std::min(n, order.recorded - from);
  std::fill(levels.begin(), levels.end(), SampleLevels{});
  std::string error =
      recording.read(m.plan.stretch_start(), stretch, from, run, buffers.data(), levels.data());
  if (error.empty() && run < n) {
    error = recording.read(m.plan.stretch_start(), stretch, 0, n - run, buffers.data() + run,
                           levels.data() + run);
  }
  return error;
}

// Puts the windows (and the noise, when kept) of the n channels measured from the first on in
// store, and their results in m.
std::string store_batch(const MeasurementSetup& setup, const ChannelOrder& order, int first, int n,
                        std::vector<Worker>& workers, const std::vector<SampleLevels>& levels,
                        RowStore& store, Measurement& m) {
  const int channels = order.channels;
  for (int i = 0; i < n; ++i) {
    Worker& w = workers[static_cast<std::size_t>(i)];
    const int c = order.result(first + i);
    for (int k = 1; k <= m.layout.orders(); ++k) {
      const std::size_t row = setup.first_row + static_cast<std::size_t>((k - 1) * channels + c);
      if (!store.put(row, w.rows[static_cast<std::size_t>(k - 1)].data())) return store.error();
    }
    w.result.recorded = levels[static_cast<std::size_t>(i)];
    w.result.before = w.before, w.result.before_at = w.before_at;
    if (setup.keep_noise) {
      const std::size_t row =
          setup.first_row + static_cast<std::size_t>(m.layout.orders() * channels + c);
      if (!store.put(row, w.noise.data())) return store.error();
    }
    m.channels[static_cast<std::size_t>(c)] = std::move(w.result);
  }
  return "";
}

}  // namespace

std::string measure(const MeasurementSetup& setup, SampleSource& recording, RowStore& store,
                    Measurement& m, const InverseSpectrum* shared) {
  m = plan_measurement(setup);
  const ChannelOrder order = channel_order(setup, recording.info().channels);
  const int batch = std::clamp(setup.threads, 1, order.channels);
  Filter filter(setup, m, shared);
  std::vector<Worker> workers = make_workers(m, batch);
  m.channels.resize(static_cast<std::size_t>(order.channels));
  m.offset = 0;
  const std::int64_t stretch = m.plan.stretch_length();
  std::vector<SampleLevels> levels(static_cast<std::size_t>(batch));
  const auto origin = [&](int i) {
    return workers[static_cast<std::size_t>(i)].data.get() + m.plan.index_of(0);
  };
  for (int first = 0; first < order.channels; first += batch) {
    throw_if_cancelled(setup.cancel);
    const int n = std::min(batch, order.channels - first);
    if (std::string e = read_batch(recording, m, order, first, n, workers, levels); !e.empty())
      return e;
    const auto deconvolve = [&](int i) {
      filter.deconvolve(workers[static_cast<std::size_t>(i)].data.get(), stretch, m, setup.cancel);
    };
    const auto analyse = [&](int i) {
      Worker& w = workers[static_cast<std::size_t>(i)];
      throw_if_cancelled(setup.cancel);
      cut_windows(m, origin(i), m.offset, w);
      w.result = analyse_windows(setup, m, w.rows, w.noise,
                                 setup.drift_channel == order.source(first + i));
    };
    if (setup.timing && first == 0) {
      run_parallel(n, deconvolve);
      if (std::string e = setup.timing(origin(0), m, m.offset); !e.empty()) return e;
      if (!fits(m, m.offset)) {
        m.refit = true;
        return "";
      }
      run_parallel(n, analyse);
    } else {
      run_parallel(n, [&](int i) { deconvolve(i), analyse(i); });
    }
    if (std::string e = store_batch(setup, order, first, n, workers, levels, store, m); !e.empty())
      return e;
  }
  return "";
}

std::string find_response(const MeasurementSetup& setup, SampleSource& recording, int channel,
                          FoundResponse& found) {
  MeasurementSetup one = setup;
  one.orders = 1, one.curves = false, one.responses = false, one.timing = nullptr;
  const Measurement m = plan_measurement(one);
  const DeconvolutionPlan& p = m.plan;
  InverseSpectrum spectrum(p, setup.threads);
  spectrum.transform();
  FloatBuffer data = make_float_buffer(p.fft_size + 2, false);
  float* buffers[] = {data.get()};
  const std::int64_t frames = recording.info().frames;
  const std::int64_t step = p.last - p.first;
  found = FoundResponse{};
  // Output time t depends on frames [zero + t - sweeplen + 1, zero + t]: every
  // t at which any of the sweep lies within the recording.
  for (std::int64_t t = -p.zero; t < frames - p.zero + p.design.sweeplen; t += step) {
    throw_if_cancelled(setup.cancel);
    const std::int64_t shift = t - p.first;
    const std::int64_t length = p.stretch_length();
    if (std::string e = recording.read(p.stretch_start() + shift, length, channel, 1, buffers);
        !e.empty()) {
      return e;
    }
    std::fill(data.get() + length, data.get() + p.fft_size + 2, 0.0f);
    spectrum.forward(data.get());
    spectrum.finish(data.get());
    for (std::int64_t u = p.first; u < p.last; ++u) {
      const double v = std::abs(data[p.index_of(u)]);
      if (v > found.peak) found.peak = v, found.at = static_cast<double>(u + shift);
    }
  }
  return "";
}

}  // namespace vellisk
