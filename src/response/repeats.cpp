// Measuring, aligning, comparing and averaging repeated sweeps.
#include "response/repeats.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "response/analysis.h"
#include "sweep/settings.h"
#include "vellisk/problem.h"

namespace vellisk {

namespace {

// Samples of the repeats' rows kept in memory before they spill to a scratch file.
constexpr std::int64_t kRepeatBudget = 1 << 18;

// Leaves out each repeat whose noise would raise that of the average, given
// each repeat's noise power: the repeats are taken quietest first, and one
// joins while the mean of K + 1 has less noise power than the mean of K,
// sum / K^2, which holds from two repeats on. Each left out is told how much
// it would have raised it.
void leave_out_noisy(const std::vector<double>& power, std::vector<RepeatResult>& repeats,
                     std::vector<bool>& kept) {
  std::vector<std::size_t> order(repeats.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return power[a] < power[b]; });
  double sum = 0, k = 0;
  for (const std::size_t r : order) {
    kept[r] = k == 0 || power[r] * k * k <= sum * (2 * k + 1);
    if (kept[r]) sum += power[r], k += 1;
  }
  for (std::size_t r = 0; r < repeats.size(); ++r) {
    repeats[r].kept = kept[r];
    if (kept[r]) continue;
    const double ratio = sum > 0 ? (sum + power[r]) * k * k / ((k + 1) * (k + 1) * sum) : 1e30;
    repeats[r].raised_db = std::min(10 * std::log10(ratio), 300.0);
  }
}

// Each band's typical power over the repeats' powers[r][j]: the median
// repeat's, or of two, the quieter's (the median of two is their mean, which
// a disturbed one moves); the mean where that is 0, and 1 (unit gain) where
// no repeat holds any noise.
std::vector<double> typical_powers(const std::vector<std::vector<double>>& powers) {
  std::vector<double> typical(powers[0].size()), column(powers.size());
  for (std::size_t j = 0; j < typical.size(); ++j) {
    for (std::size_t r = 0; r < powers.size(); ++r) column[r] = powers[r][j];
    const double mean = std::accumulate(column.begin(), column.end(), 0.0) /
                        static_cast<double>(column.size());
    typical[j] = column.size() == 2 ? std::min(column[0], column[1]) : median(column);
    if (!(typical[j] > 0)) typical[j] = mean > 0 ? mean : 1;
  }
  return typical;
}

// The mean over the bands of powers[j] / typical[j]: a noise in any band
// counts as much as a noise in any other, whatever the division made of the
// background noise there (+3 dB an octave for white noise, compensated, and
// up to 12 dB more at the band's edges).
double relative_power(const std::vector<double>& powers, const std::vector<double>& typical) {
  double sum = 0;
  for (std::size_t j = 0; j < powers.size(); ++j) sum += powers[j] / typical[j];
  return powers.empty() ? 0 : sum / static_cast<double>(powers.size());
}

// The repeats' rows as measure_repeats keeps them, per_repeat rows a repeat:
// each order's channels, then each channel's noise stretch.
struct RepeatRows {
  RowStore& rows;
  int n = 0;
  int channels = 0;
  std::size_t per_repeat = 0;
  const Layout& layout;
  const Measurement& planned;  // its plan's design and compensation
  std::size_t row(int r, std::size_t k) const {
    return static_cast<std::size_t>(r) * per_repeat + k;
  }
  // Adds x's band powers (band_powers), over the channels, into sum.
  void add_powers(const float* x, std::int64_t length, std::vector<double>& sum) const {
    const std::vector<double> p =
        band_powers(x, length, planned.plan.design, planned.plan.compensation,
                    layout.noise_last - layout.noise_first);
    sum.resize(p.size());
    for (std::size_t j = 0; j < p.size(); ++j) sum[j] += p[j] / channels;
  }
};

// Each repeat's deviation: its linear windows less the repeats' median,
// sample by sample, which one repeat spoilt by a noise does not move, into
// spread (row r * channels + c). The repeats are read a fixed number of
// samples at a time.
std::string deviations(const RepeatRows& in, RowStore& spread) {
  const int n = in.n;
  const std::int64_t window = in.layout.window(1);
  if (std::string e = spread.open(
          std::vector<std::int64_t>(static_cast<std::size_t>(n * in.channels), window),
          kRepeatBudget);
      !e.empty()) {
    return e;
  }
  const std::int64_t chunk = std::max<std::int64_t>(1, kRepeatBudget / n);
  std::vector<float> block(static_cast<std::size_t>(n * chunk));
  std::vector<double> column(static_cast<std::size_t>(n));
  for (int c = 0; c < in.channels; ++c) {
    for (std::int64_t at = 0; at < window; at += chunk) {
      const std::int64_t count = std::min(chunk, window - at);
      float* const first = block.data();
      for (int r = 0; r < n; ++r) {
        if (!in.rows.get(in.row(r, static_cast<std::size_t>(c)), at, count, first + r * chunk)) {
          return in.rows.error();
        }
      }
      for (std::int64_t i = 0; i < count; ++i) {
        for (int r = 0; r < n; ++r) column[static_cast<std::size_t>(r)] = first[r * chunk + i];
        const auto middle = static_cast<float>(median(column));
        for (int r = 0; r < n; ++r) first[r * chunk + i] -= middle;
      }
      for (int r = 0; r < n; ++r) {
        if (!spread.put(static_cast<std::size_t>(r * in.channels + c), at, count,
                        first + r * chunk)) {
          return spread.error();
        }
      }
    }
  }
  return "";
}

// Each repeat's noise and deviation (see RepeatResult): band by band as a
// ratio to the typical repeat's noise there (typical, filled here), averaged
// over the bands (relative_power).
std::string measure_spread(const RepeatRows& in, std::vector<RepeatResult>& repeats,
                           std::vector<double>& typical) {
  RowStore spread;
  if (std::string e = deviations(in, spread); !e.empty()) return e;
  const std::int64_t window = in.layout.window(1);
  const std::int64_t noise_length = in.layout.noise_last - in.layout.noise_first;
  std::vector<float> samples(static_cast<std::size_t>(std::max(window, noise_length)));
  std::vector<std::vector<double>> noise_powers(static_cast<std::size_t>(in.n));
  for (int r = 0; r < in.n; ++r) {
    for (int c = 0; c < in.channels; ++c) {
      const auto noise_row = static_cast<std::size_t>(in.layout.orders() * in.channels + c);
      if (!in.rows.get(in.row(r, noise_row), 0, noise_length, samples.data())) {
        return in.rows.error();
      }
      in.add_powers(samples.data(), noise_length, noise_powers[static_cast<std::size_t>(r)]);
    }
  }
  typical = typical_powers(noise_powers);
  for (int r = 0; r < in.n; ++r) {
    std::vector<double> deviation_powers;
    for (int c = 0; c < in.channels; ++c) {
      if (!spread.get(static_cast<std::size_t>(r * in.channels + c), 0, window, samples.data())) {
        return spread.error();
      }
      in.add_powers(samples.data(), window, deviation_powers);
    }
    RepeatResult& rr = repeats[static_cast<std::size_t>(r)];
    rr.noise = std::sqrt(relative_power(noise_powers[static_cast<std::size_t>(r)], typical));
    rr.deviation = std::sqrt(relative_power(deviation_powers, typical));
  }
  return "";
}

// The mean of the kept repeats' rows, measured channel by channel into m
// (whose layout and plan are the first repeat's) and written to store; the
// average's noise, band by band, summed into averaged_powers.
std::string average_kept(const RepeatRows& in, const std::vector<bool>& kept, int count,
                         const MeasurementSetup& setup, RowStore& store, Measurement& m,
                         std::vector<double>& averaged_powers) {
  const Layout& layout = in.layout;
  const int channels = in.channels;
  if (std::string e = store.open(row_lengths(layout, channels)); !e.empty()) return e;
  std::vector<std::vector<float>> average;
  for (int k = 1; k <= layout.orders(); ++k)
    average.emplace_back(static_cast<std::size_t>(layout.window(k)));
  std::vector<float> noise(static_cast<std::size_t>(layout.noise_last - layout.noise_first));
  std::vector<float> part;
  const auto mean_of = [&](std::size_t row, std::vector<float>& out) {
    std::vector<double> acc(out.size());
    part.resize(out.size());
    for (int r = 0; r < in.n; ++r) {
      if (!kept[static_cast<std::size_t>(r)]) continue;
      if (!in.rows.get(in.row(r, row), 0, static_cast<std::int64_t>(out.size()), part.data())) {
        return false;
      }
      for (std::size_t i = 0; i < out.size(); ++i) acc[i] += part[i];
    }
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<float>(acc[i] / count);
    return true;
  };
  for (int c = 0; c < channels; ++c) {
    for (int k = 1; k <= layout.orders(); ++k) {
      const auto row = static_cast<std::size_t>((k - 1) * channels + c);
      if (!mean_of(row, average[static_cast<std::size_t>(k - 1)])) return in.rows.error();
    }
    if (!mean_of(static_cast<std::size_t>(layout.orders() * channels + c), noise)) {
      return in.rows.error();
    }
    in.add_powers(noise.data(), static_cast<std::int64_t>(noise.size()), averaged_powers);
    m.channels[static_cast<std::size_t>(c)] = analyse_windows(setup, m, average, noise, false);
    for (int k = 1; k <= layout.orders(); ++k) {
      const auto row = static_cast<std::size_t>((k - 1) * channels + c);
      if (!store.put(row, average[static_cast<std::size_t>(k - 1)].data())) return store.error();
    }
  }
  return "";
}

// What measuring the repeats one at a time shares: the setup, the repeats' rows, the timing
// channel and its first window, which the others are laid against, and what the recording
// reached over every repeat.
struct RepeatPass {
  const TimingSetup& t;
  const MeasurementSetup& setup;
  SampleSource& recording;
  RowStore& rows;
  const Layout& layout;
  const InverseSpectrum& spectrum;
  std::int64_t period = 0;
  int channels = 0;
  std::size_t per_repeat = 0;
  std::int64_t window = 0;
  int timing = 0;  // the timing channel: the reference, or the first repeat's clearest
  std::vector<float> first, own;
  std::vector<double> starts;            // where each repeat began, as recorded
  std::vector<ChannelResult> recorded;   // each channel's levels and what came before
  double first_offset = 0;
  std::int64_t base = 0;  // where the first repeat's period begins
};

// Repeat r's zero instant: the first repeat's is the reference's arrival, or its own; every
// other's lies where its whole response best matches the first's.
std::string place_repeat(RepeatPass& p, int r, const float* origin, const Measurement& mr,
                         double& offset) {
  const float* start = origin - mr.layout.pre;
  if (r == 0) {
    std::copy(start, start + p.window, p.first.begin());
    offset = 0;
    return p.t.reference >= 0 ? reference_arrival(origin, mr, p.t.reference, offset)
                              : std::string();
  }
  std::copy(start, start + p.window, p.own.begin());
  offset = p.first_offset + correlation_lag(p.first.data(), p.own.data(), p.window);
  if (!(offset >= static_cast<double>(-p.layout.pre) &&
        offset <= static_cast<double>(p.setup.length))) {
    return "repeat " + std::to_string(r + 1) + " lies " + std::to_string(std::lround(offset)) +
           " samples from the first's zero instant, beyond " + marked(Setting::pre) +
           " and " + marked(Setting::length) +
           ": is the recording the sweep file played " + marked(Setting::repeat) +
           " times back to back?";
  }
  return "";
}

// Measures repeat r on its own stretch into its rows; the first is kept in m.
std::string measure_repeat(RepeatPass& p, int r, Measurement& m, TimingResult& result) {
  const MeasurementSetup& setup = p.setup;
  MeasurementSetup s = setup;
  s.shift = p.base + std::llround(static_cast<double>(r) * static_cast<double>(p.period) *
                                  (1 + setup.drift));
  s.keep_noise = true;
  s.limit_top = false;  // the average's rows go through the low-pass, once
  s.first_row = static_cast<std::size_t>(r) * p.per_repeat;
  s.drift_channel = -1;
  s.curves = false;
  s.timing_channel = setup.only_channel >= 0 ? setup.only_channel : p.timing;
  s.timing = [&p, r](const float* origin, const Measurement& mr, double& offset) {
    return place_repeat(p, r, origin, mr, offset);
  };
  Measurement mr;
  if (std::string e = measure_fitted(s, p.recording, p.rows, mr, &p.spectrum); !e.empty()) {
    return e;
  }
  if (r == 0) p.first_offset = mr.offset, p.base = s.shift;
  if (r == 0 && p.t.reference < 0) {
    // The timing channel: the one with the most peak over noise.
    double best = -1;
    for (int c = 0; c < p.channels; ++c) {
      const ChannelResult& cr = mr.channels[static_cast<std::size_t>(c)];
      const double ratio = std::abs(cr.peak) / std::max(cr.noise, 1e-300);
      if (ratio > best) best = ratio, p.timing = c;
    }
    if (!p.rows.get(static_cast<std::size_t>(p.timing), 0, p.window, p.first.data())) {
      return p.rows.error();
    }
  }
  p.starts[static_cast<std::size_t>(r)] = static_cast<double>(s.shift) + mr.offset;
  RepeatResult& rr = result.repeats[static_cast<std::size_t>(r)];
  rr.offset = p.starts[static_cast<std::size_t>(r)] - static_cast<double>(r * p.period) - p.starts[0];
  // What the recording reached, and what came before the window, over every repeat.
  p.recorded.resize(mr.channels.size());
  for (std::size_t c = 0; c < mr.channels.size(); ++c) {
    const ChannelResult& cr = mr.channels[c];
    ChannelResult& all = p.recorded[c];
    all.recorded.peak = std::max(all.recorded.peak, cr.recorded.peak);
    all.recorded.clipped += cr.recorded.clipped;
    if (cr.before > all.before) all.before = cr.before, all.before_at = cr.before_at;
  }
  if (r == 0) {
    m = mr;
    result.shift = s.shift;
    result.latency = static_cast<double>(s.shift) + mr.offset;
  }
  result.frames_needed =
      mr.plan.zero + static_cast<std::int64_t>(std::ceil(mr.offset)) + mr.layout.last;
  return "";
}

// Leaves out the repeats whose noise would raise the average's, and gives the kept ones'
// medians and the drift from the repeats' spacing. Each repeat's noise power is its noise
// stretch's, or from three repeats on, its deviation's when that is more: the deviation sees
// what the noise stretch cannot (a disturbance late in the sweep lands in the noise stretch
// above the band, and in the window within it); two repeats deviate from their median alike,
// which tells nothing of which is disturbed.
void keep_quiet_repeats(const std::vector<double>& starts, std::int64_t period,
                        TimingResult& result, std::vector<bool>& kept) {
  const auto n = static_cast<int>(result.repeats.size());
  std::vector<double> power;
  for (const RepeatResult& rr : result.repeats) {
    const double rms = std::max(rr.noise, n >= 3 ? rr.deviation : 0.0);
    power.push_back(rms * rms);
  }
  kept.assign(static_cast<std::size_t>(n), true);
  leave_out_noisy(power, result.repeats, kept);
  // The medians, of the repeats kept: what a typical repeat holds.
  std::vector<double> devs, noises;
  for (const RepeatResult& rr : result.repeats) {
    if (rr.kept) devs.push_back(rr.deviation), noises.push_back(rr.noise);
  }
  result.median_deviation = median(devs);
  result.median_noise = median(noises);
  result.kept = static_cast<int>(std::count(kept.begin(), kept.end(), true));
  if (n >= 2) {
    // A repeat left out for its noise is still timed well enough.
    result.drift_measured = true;
    result.drift =
        drift_from_spacing(starts, result.kept >= 2 ? kept : std::vector<bool>(kept.size(), true),
                           period);
  }
}

// A store of the rows of n repeats, each of the rows one repeat holds.
std::string open_repeat_rows(const std::vector<std::int64_t>& one, int n, RowStore& rows) {
  std::vector<std::int64_t> lengths;
  for (int r = 0; r < n; ++r) lengths.insert(lengths.end(), one.begin(), one.end());
  return rows.open(lengths, kRepeatBudget);
}

// The inverse filter that serves every repeat, transformed: they differ only by whole samples.
// Every repeat is timed, which sets its transform's size; planned is that timed measurement.
std::unique_ptr<InverseSpectrum> repeat_filter(const MeasurementSetup& setup,
                                               Measurement& planned) {
  MeasurementSetup timed = setup;
  timed.timing = [](const float*, const Measurement&, double&) { return std::string(); };
  planned = plan_measurement(timed);
  std::unique_ptr<InverseSpectrum> spectrum = inverse_spectrum(timed, planned);
  spectrum->transform();
  return spectrum;
}

// The levels of each channel as recorded, and what came before its first window, into the
// average's results.
void keep_recorded(const RepeatPass& pass, Measurement& m) {
  for (std::size_t c = 0; c < m.channels.size(); ++c) {
    ChannelResult& r = m.channels[c];
    r.recorded = pass.recorded[c].recorded;
    r.before = pass.recorded[c].before, r.before_at = pass.recorded[c].before_at;
  }
}

}  // namespace

std::string measure_repeats(const TimingSetup& t, const MeasurementSetup& setup,
                            SampleSource& recording, RowStore& store, Measurement& m,
                            TimingResult& result) {
  const SweepDesign d = compute_design(setup.params);
  const int n = t.repeats;
  const int channels = setup.only_channel >= 0 ? 1 : recording.info().channels;
  const Layout layout = plan_measurement(setup).layout;  // the same, timed or not
  const std::vector<std::int64_t> one = row_lengths(layout, channels, true);
  RowStore rows;
  if (std::string e = open_repeat_rows(one, n, rows); !e.empty()) return e;
  Measurement planned;
  const std::unique_ptr<InverseSpectrum> spectrum = repeat_filter(setup, planned);

  const std::int64_t window = layout.window(1);
  RepeatPass pass{t,
                  setup,
                  recording,
                  rows,
                  layout,
                  *spectrum,
                  std::int64_t{d.sweeplen} + 2 * std::int64_t{d.silencelen},
                  channels,
                  one.size(),
                  window,
                  t.reference >= 0 ? (setup.only_channel >= 0 ? 0 : t.reference) : 0,
                  std::vector<float>(static_cast<std::size_t>(window)),
                  std::vector<float>(static_cast<std::size_t>(window)),
                  std::vector<double>(static_cast<std::size_t>(n)),
                  {},
                  0,
                  setup.shift};
  result.repeats.assign(static_cast<std::size_t>(n), RepeatResult{});
  for (int r = 0; r < n; ++r) {
    if (std::string e = measure_repeat(pass, r, m, result); !e.empty()) return e;
  }

  const RepeatRows held{rows, n, channels, pass.per_repeat, layout, planned};
  std::vector<double> typical;
  if (std::string e = measure_spread(held, result.repeats, typical); !e.empty()) return e;
  std::vector<bool> kept;
  keep_quiet_repeats(pass.starts, pass.period, result, kept);

  // The average of the kept repeats, written to store and measured.
  std::vector<double> averaged_powers;
  if (std::string e = average_kept(held, kept, result.kept, setup, store, m, averaged_powers);
      !e.empty()) {
    return e;
  }
  keep_recorded(pass, m);
  result.averaged_noise = std::sqrt(relative_power(averaged_powers, typical));
  return "";
}

}  // namespace vellisk
