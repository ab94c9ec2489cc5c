// The library's measurement: a request checked, planned against a source of samples, and
// measured into responses, figures and warnings.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "io/files_impl.h"
#include "io/memory.h"
#include "io/response_file.h"
#include "response/analysis.h"
#include "response/compensation.h"
#include "response/curves.h"
#include "response/layout.h"
#include "response/measurement.h"
#include "response/pipeline.h"
#include "response/plausibility.h"
#include "response/store.h"
#include "response/timing.h"
#include "sweep/cancel.h"
#include "sweep/out_of_memory.h"
#include "sweep/settings.h"
#include "sweep/sweep_design.h"
#include "sweep/validation.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

std::string text(double value) { return number_text(value); }

std::string named(Setting setting) { return marked(setting); }

// align_error's line, its settings marked.
std::string align_line(bool align, int reference, int repeat) {
  if (!align || (reference <= 0 && repeat <= 1)) return "";
  return named(Setting::align) + " is for a single sweep without a reference: " +
         named(reference > 0 ? Setting::reference : Setting::repeat) +
         " places the windows by its own timing; leave one of them out";
}

[[noreturn]] void fail(ProblemCode code, std::string message) {
  throw Error(Problem{code, std::move(message)});
}

void check(ProblemCode code, const std::string& error) {
  if (!error.empty()) fail(code, error);
}

// A rule of the request broken: its line, and the setting and value it concerns.
struct Refusal {
  std::string line;  // "": none
  std::optional<Setting> setting;
  double value = 0;
};

Refusal refusal(Setting setting, double value, std::string line) {
  return {std::move(line), setting, value};
}

void check(ProblemCode code, const Refusal& r) {
  if (!r.line.empty()) throw Error(Problem{code, r.line, r.setting, r.value});
}

// A setting's range for a value given: a gate, smoothing or reference given is never 0 (0 in
// a request says none).
Refusal given_range(Setting setting, double v) {
  // "pre (-1) must be ...": the setting, its value and the rule.
  const auto refused = [setting, v](const char* rule) {
    return refusal(setting, v, named(setting) + " (" + text(v) + ")" + rule);
  };
  const auto within = [v](double low, double high) { return v >= low && v <= high; };
  switch (setting) {
    case Setting::length:
      if (!(v > 0)) return refused(" must be a number of seconds greater than 0");
      break;
    case Setting::pre:
      if (!(v >= 0)) return refused(" must be a number of seconds, 0 or more");
      break;
    case Setting::harmonics:
      if (!within(1, kMaxOrder)) return refused(" must be a whole number from 2 to 10");
      break;
    case Setting::drift:
      if (!(std::abs(v) <= kMaxDriftPpm)) {
        return refused(" must be auto, or a number of ppm from -1000 to 1000");
      }
      break;
    case Setting::reference:
      if (!within(1, 1024)) return refused(" must be a channel number from 1 to 1024");
      break;
    case Setting::repeat:
      if (!within(1, kMaxRepeats)) return refused(" must be a whole number from 1 to 1000");
      break;
    case Setting::smooth:
      if (!within(1, kMaxSmooth)) return refused(" must be a whole number from 1 to 96");
      break;
    case Setting::gate:
      if (!(v > 0)) return refused(" must be a number of milliseconds greater than 0");
      break;
    case Setting::waterfall_range:
      if (!within(0.1, 10000)) return refused(" must be a number of milliseconds from 0.1 to 10000");
      break;
    case Setting::spl_level:
      if (!within(40, 160)) return refused(" must be a number of dB SPL from 40 to 160");
      break;
    case Setting::tail:
      if (!within(0, 3600)) return refused(" must be a number of seconds from 0 to 3600");
      break;
    case Setting::channels:
      if (!within(1, 1024)) return refused(" must be a whole number from 1 to 1024");
      break;
    case Setting::points:
      if (!within(0, 1000)) {
        return refused(" must be a whole number from 0 (the inputs' own grid) to 1000");
      }
      break;
    default:
      break;
  }
  return {};
}

// The request's ranges, in the order the programs read their options, then align's relation.
Refusal range_error(const ResponseRequest& r) {
  const std::pair<Setting, std::optional<double>> given[] = {
      {Setting::length, r.length},
      {Setting::pre, r.pre},
      {Setting::harmonics, r.harmonics},
      {Setting::drift, r.drift_ppm},
      {Setting::reference, r.reference != 0 ? std::optional<double>(r.reference) : std::nullopt},
      {Setting::repeat, r.repeat},
      {Setting::smooth, r.smooth != 0 ? std::optional<double>(r.smooth) : std::nullopt},
      {Setting::gate, r.gate_ms != 0 ? std::optional(r.gate_ms) : std::nullopt},
      {Setting::waterfall_range, r.waterfall_range_ms},
      {Setting::spl_level,
       !r.spl_calibration.empty() ? std::optional(r.spl_level_db) : std::nullopt}};
  for (const auto& [setting, value] : given) {
    if (!value) continue;
    if (Refusal e = given_range(setting, *value); !e.line.empty()) return e;
  }
  const std::string align = align_line(r.align, r.reference, r.repeat);
  return {align, align.empty() ? std::nullopt : std::optional(Setting::align), 1};
}

// The window's sizes, checked in double before any of them is converted: the
// transforms' sizes are 32-bit, with room for a drift of up to 1000 ppm and
// for rounding up to a fast size.
Refusal window_size_error(const ResponseRequest& o, const SweepDesign& d) {
  const SweepParams& p = o.sweep;
  const double pre = std::round(o.pre * p.rate);
  const double length = std::round(o.length * p.rate);
  if (!(length >= 1)) {
    return refusal(Setting::length, o.length,
                   named(Setting::length) + " (" + text(o.length) +
                       ") must keep at least one sample at rate " + text(p.rate));
  }
  if (o.gate_ms > 0 && !(o.gate_ms <= 1000 * o.length)) {
    return refusal(Setting::gate, o.gate_ms,
                   named(Setting::gate) + " (" + text(o.gate_ms) + " ms) must not be longer than " +
                       named(Setting::length) + " (" + text(o.length) + " s)");
  }
  if (o.gate_ms > 0 && !(o.gate_ms * p.rate >= 1000)) {
    return refusal(Setting::gate, o.gate_ms,
                   named(Setting::gate) + " (" + text(o.gate_ms) +
                       " ms) must keep at least one sample at rate " + text(p.rate));
  }
  if (o.waterfall && !(o.waterfall_range_ms <= 1000 * o.length)) {
    return refusal(Setting::waterfall_range, o.waterfall_range_ms,
                   named(Setting::waterfall_range) + " (" + text(o.waterfall_range_ms) +
                       " ms) must not be longer than " + named(Setting::length) + " (" +
                       text(o.length) + " s)");
  }
  const double stretch = (1 + kMaxDrift) * (static_cast<double>(d.sweeplen) +
                                            d.octavelen * std::log2(kMaxOrder) + d.octavelen) +
                         pre + length;
  if (!(stretch < 1.9e9)) {
    return refusal(Setting::length, o.length,
                   named(Setting::pre) + " and " + named(Setting::length) + " (" + text(o.pre) +
                       ", " + text(o.length) +
                       ") with this sweep make the transforms longer than 1900000000 samples");
  }
  return {};
}

// The rules on the harmonic orders, given a valid window.
Refusal orders_error(const ResponseRequest& o, const SweepDesign& d, const Layout& layout) {
  const SweepParams& p = o.sweep;
  const int top = layout.orders();
  if (top < 2) return {};
  for (int k = 2; k <= top; ++k) {
    if (k * p.hzstart >= p.hzend) {
      return refusal(Setting::harmonics, top,
                     named(Setting::harmonics) + " (" + std::to_string(top) + ") asks for order " +
                         std::to_string(k) + ", whose band is empty: " + std::to_string(k) +
                         " * hzstart (" + text(k * p.hzstart) + ") is not below hzend (" +
                         text(p.hzend) + "); ask for fewer orders");
    }
  }
  // The highest order has the least room before the next one arrives.
  const double room = static_cast<double>(layout.lengths[static_cast<std::size_t>(top - 1)]);
  if (room < 0.001 * p.rate) {
    char gap[32];
    std::snprintf(gap, sizeof gap, "%.1f",
                  1000 * 0.9 * d.octavelen * std::log2((top + 1.0) / top) / p.rate);
    return refusal(Setting::harmonics, top,
                   named(Setting::harmonics) + " (" + std::to_string(top) + ") leaves order " +
                       std::to_string(top) + " less than 1 ms of response: 0.9 of the gap to order " +
                       std::to_string(top + 1) + " (" + gap + " ms) less " + named(Setting::pre) +
                       " (" + text(1000 * o.pre) + " ms); use a longer sweep, fewer orders or a " +
                       "shorter " + named(Setting::pre));
  }
  return {};
}

std::int64_t samples_of(double seconds, double rate) {
  return static_cast<std::int64_t>(std::round(seconds * rate));
}

TimingSetup timing_of(const ResponseRequest& r) {
  TimingSetup t;
  t.reference = r.reference - 1;
  t.repeats = r.repeat;
  t.drift_auto = r.drift_auto;
  return t;
}

// What the measurement is asked to compute.
MeasurementSetup setup_of(const ResponseRequest& r, const TimingSetup& timing) {
  MeasurementSetup setup;
  setup.params = r.sweep;
  setup.pre = samples_of(r.pre, r.sweep.rate);
  setup.length = samples_of(r.length, r.sweep.rate);
  setup.orders = r.harmonics;
  setup.drift = r.drift_ppm ? *r.drift_ppm * 1e-6 : 0;
  setup.curves = r.figure;
  setup.figure_smooth = r.smooth != 0 ? r.smooth : 6;
  setup.responses = r.frequency_responses;
  setup.smooth = r.smooth;
  setup.gate = r.gate_ms * r.sweep.rate / 1000;
  setup.threads = r.threads > 0 ? r.threads
                                : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  setup.compensated = !r.uncompensated;
  setup.phase_curves = r.curves;
  setup.waterfall = r.waterfall;
  setup.waterfall_ms = r.waterfall_range_ms;
  setup.spectrogram = r.spectrogram;
  setup.cancel = r.cancel;
  prepare_timing(timing, setup);
  if (r.drift_auto) {
    // Both passes use the transform size the corrected one needs at the
    // largest drift, so that the second plan costs nothing.
    MeasurementSetup widest = setup;
    widest.drift = kMaxDrift;
    setup.min_fft_size = plan_measurement(widest).plan.fft_size;
  }
  return setup;
}

// The memory the run needs, against what the machine allows: fewer threads
// when that is enough, a refusal (its value the MiB needed) when not even one fits.
Refusal memory_refusal(MeasurementSetup& setup, int channels) {
  const double usable = 0.9 * usable_memory();
  while (setup.threads > 1 && measurement_bytes(setup, channels) > usable) --setup.threads;
  const double needed = measurement_bytes(setup, channels);
  if (needed <= usable) return {};
  char line[256];
  std::snprintf(line, sizeof line,
                "The run needs about %.0f MiB of memory, more than the %.0f MiB this machine "
                "allows; shorten %s or %s, or measure a shorter sweep",
                needed / 1048576, usable / 1048576, marked(Setting::length),
                marked(Setting::pre));
  return {line, std::nullopt, needed / 1048576};
}

// The report's figures known before the measurement.
ResponseReport setup_report(const ResponseRequest& r, const MeasurementSetup& setup,
                            const Measurement& m, const SourceInfo& info) {
  ResponseReport f;
  const SweepDesign design = compute_design(r.sweep);
  f.params = r.sweep;
  f.sweeplen = design.sweeplen;
  f.silencelen = design.silencelen;
  f.info = info;
  f.pre_s = r.pre;
  f.length_s = r.length;
  f.window_samples = m.layout.window(1);
  f.zero_sample = setup.pre;
  f.transform_samples = m.plan.fft_size;
  f.noise_first_s = static_cast<double>(m.layout.noise_first) / r.sweep.rate;
  f.noise_last_s = static_cast<double>(m.layout.noise_last) / r.sweep.rate;
  const Compensation& c = m.plan.compensation;
  f.compensated = c.on();
  f.band_low_hz = c.on() ? c.low() : r.sweep.hzstart;
  f.band_high_hz = c.on() ? c.high() : r.sweep.hzend;
  if (c.on()) f.band_filter = c.band_filter();
  f.gate_ms = r.gate_ms;
  f.smooth = setup.smooth;
  f.figure_smooth = setup.figure_smooth;
  f.drift_given_ppm = r.drift_ppm;
  f.mic_calibration = r.mic_calibration;
  return f;
}

// a / b in dB, or none when either is 0 (identical repeats, or no noise at all).
std::optional<double> ratio_db(double a, double b) {
  if (!(a > 0 && b > 0)) return std::nullopt;
  return 20 * std::log10(a / b);
}

TimingFigures timing_figures(const TimingSetup& t, const TimingResult& r, const SweepDesign& d) {
  TimingFigures f;
  if (t.reference >= 0) {
    f.reference = t.reference + 1;
    f.latency_samples = r.latency;
    f.latency_ms = 1000 * r.latency / d.rate;
  }
  if (t.repeats > 1) {
    for (const RepeatResult& rr : r.repeats) {
      f.repeats.push_back({rr.offset + 0.0, ratio_db(rr.noise, r.median_noise),
                           ratio_db(rr.deviation, r.median_noise), rr.deviation, rr.kept,
                           rr.raised_db});
    }
    f.averaged = r.kept;
    f.median_deviation_db = ratio_db(r.median_deviation, r.median_noise);
    f.noise_down_db = ratio_db(r.median_noise, r.averaged_noise);
  }
  f.applied_ppm = r.applied * 1e6;
  if (r.drift_measured) {
    f.drift_ppm = r.drift * 1e6;
    f.drift_source = t.repeats > 1 ? "repeats" : "reference";
    f.drift_corrected = r.corrected;
    // With a drift given, what spreads the arrival is the drift left after it.
    f.drift_spread_samples =
        std::abs(r.drift - r.applied) * d.octavelen * std::log2(d.hzend / d.hzstart);
  }
  return f;
}

// The warning of a drift measured and left uncorrected that spreads the response's arrival
// over more than half a sample.
std::optional<Warning> drift_warning(const TimingFigures& f) {
  if (!f.drift_ppm || f.drift_corrected || !(f.drift_spread_samples > 0.5)) return std::nullopt;
  Warning w{WarningCode::drift_spreads_arrival, 0, *f.drift_ppm, f.applied_ppm,
            f.drift_spread_samples, f.drift_source == "repeats" ? 0 : f.reference};
  return w;
}

ChannelFigures channel_figures(const ChannelResult& r, double rate) {
  ChannelFigures c;
  c.recorded_peak_dbfs = decibels(r.recorded.peak);
  c.clipped_samples = r.recorded.clipped;
  c.silent = r.peak == 0;
  if (c.silent) return c;
  c.gain_db = decibels(r.gain);
  c.arrival_samples = r.arrival;
  c.arrival_ms = 1000 * r.arrival / rate;
  c.impulse_peak_db = decibels(std::abs(r.peak));
  if (r.noise > 0) c.peak_to_noise_db = c.impulse_peak_db - decibels(r.noise);
  c.polarity = r.polarity;
  c.harmonic_level_db = r.harmonic_levels;
  c.harmonic_noise_db = r.harmonic_noise;
  c.below_noise = r.below_noise;
  c.thd_percent = 100 * r.thd;
  c.thd_db = decibels(r.thd);
  return c;
}

// For each channel whose response lies outside the window, where a search of
// the whole recording finds it (when that is outside the window too, and
// clearly above what the window holds); with align, the measurement again,
// the windows moved by the strongest one found, in whole tenths of a second.
void search(const ResponsePlan& plan, MeasurementSetup& setup, SampleSource& source,
            RowStore& store, Measurement& m, TimingResult& timed, ResponseResult& result,
            std::vector<std::optional<FoundResponse>>& found) {
  const ResponseRequest& r = plan.request;
  const TimingSetup& timing = plan.state->timing;
  found.assign(m.channels.size(), std::nullopt);
  if (timing.reference >= 0 || timing.repeats > 1) return;
  const double rate = r.sweep.rate;
  std::optional<FoundResponse> strongest;
  for (std::size_t c = 0; c < m.channels.size(); ++c) {
    const ChannelResult& cr = m.channels[c];
    if (!response_elsewhere(cr, m.layout, r.sweep.amplitude)) continue;
    FoundResponse f;
    check(ProblemCode::unreadable, find_response(setup, source, static_cast<int>(c), f));
    const bool outside =
        f.at < static_cast<double>(-setup.pre) || f.at > static_cast<double>(setup.length);
    if (!outside || !(f.peak > 2 * std::abs(cr.peak))) continue;
    found[c] = f;
    if (!strongest || f.peak > strongest->peak) strongest = f;
  }
  if (!strongest || !r.align) return;
  const std::int64_t tenth = std::max<std::int64_t>(1, std::llround(0.1 * rate));
  const auto shift =
      static_cast<std::int64_t>(std::floor(strongest->at / static_cast<double>(tenth))) * tenth;
  result.aligned = strongest;
  result.report.aligned_samples = shift;
  found.assign(m.channels.size(), std::nullopt);
  setup.shift += shift;
  timed = TimingResult{};
  check(ProblemCode::measurement_failed, measure_timed(timing, setup, source, store, m, timed));
}

// The figures, responses and warnings of a measurement, in the order the report gives them.
void collect(const ResponsePlan& plan, const TimingResult& timed, Measurement& m,
             const std::vector<std::optional<FoundResponse>>& found, ResponseResult& result) {
  const double rate = plan.request.sweep.rate;
  ResponseReport& report = result.report;
  report.timing = timing_figures(plan.state->timing, timed, m.plan.design);
  if (const std::optional<Warning> w = drift_warning(report.timing)) result.warnings.push_back(*w);
  if (report.info.frames < timed.frames_needed) {
    Warning w{WarningCode::recording_ends_early, 0, 0, 0, 0,
              timed.frames_needed - report.info.frames};
    result.warnings.push_back(w);
  }
  const auto aligned = static_cast<double>(report.aligned_samples);
  for (std::size_t c = 0; c < m.channels.size(); ++c) {
    ChannelResult& r = m.channels[c];
    ChannelFigures& f = report.channels.emplace_back(channel_figures(r, rate));
    f.arrival_samples += aligned;
    f.arrival_ms += 1000 * aligned / rate;
    const FoundResponse* elsewhere = found[c] ? &*found[c] : nullptr;
    for (const Warning& w :
         plausibility_warnings(r, static_cast<int>(c) + 1, m.layout, rate, elsewhere)) {
      result.warnings.push_back(w);
    }
    ChannelResponse& out = result.channels.emplace_back();
    out.finite = r.finite;
    out.low = r.low;
    out.high = r.high;
    out.curves = std::move(r.curves);
    out.responses = std::move(r.responses);
    out.phase_curves = std::move(r.phase_curves);
    out.waterfall = std::move(r.waterfall);
    out.spectrogram = std::move(r.spectrogram);
  }
}

}  // namespace

std::optional<Problem> check_setting(Setting setting, double value) {
  const Refusal e = given_range(setting, value);
  if (e.line.empty()) return std::nullopt;
  return Problem(ProblemCode::invalid_request, e.line, e.setting, e.value);
}

void check_request(const ResponseRequest& request) {
  const SweepParams& params = request.sweep;
  const SweepDesign design = compute_design(params);
  check(ProblemCode::invalid_design, design_error(params, design));
  check(ProblemCode::invalid_design, measurement_error(params));
  check(ProblemCode::invalid_request, range_error(request));
  if (request.drift_ppm) {
    const double ppm = *request.drift_ppm;
    check(ProblemCode::invalid_request,
          refusal(Setting::drift, ppm,
                  drift_error(params, ppm * 1e-6, named(Setting::drift) + " (" + text(ppm) + ")")));
  }
  check(ProblemCode::invalid_request, window_size_error(request, design));
  const Layout layout = plan_layout(design, samples_of(request.pre, params.rate),
                                    samples_of(request.length, params.rate), request.harmonics);
  check(ProblemCode::invalid_request, orders_error(request, design, layout));
}

void check_recording(const ResponseRequest& request, const SourceInfo& info,
                     const std::string& name) {
  const SweepParams& p = request.sweep;
  const SweepDesign d = compute_design(p);
  const std::string what = "recording (" + name + ")";
  if (info.rate != 0 && static_cast<double>(info.rate) != p.rate) {
    fail(ProblemCode::invalid_recording, what + " has a sample rate of " +
                                             std::to_string(info.rate) + ", not rate (" +
                                             text(p.rate) + ")");
  }
  const std::int64_t end = std::int64_t{d.silencelen} + d.sweeplen;
  if (info.frames < end) {
    fail(ProblemCode::invalid_recording,
         what + " holds " + std::to_string(info.frames) +
             " frames, fewer than the end of the sweep at silencelen + sweeplen (" +
             std::to_string(end) + ")");
  }
}

void check_timing(const ResponseRequest& request, const SourceInfo& info,
                  const std::string& name) {
  check(ProblemCode::invalid_recording, timing_error(timing_of(request), compute_design(request.sweep),
                                                     info.channels, info.frames, name));
}

ResponsePlan::ResponsePlan() : state(std::make_unique<State>()) {}
ResponsePlan::~ResponsePlan() = default;
ResponsePlan::ResponsePlan(ResponsePlan&&) noexcept = default;
ResponsePlan& ResponsePlan::operator=(ResponsePlan&&) noexcept = default;

std::int64_t ResponsePlan::frames(int order) const { return state->planned.layout.window(order); }

ResponseResult::ResponseResult() : rows(std::make_unique<Rows>()) {}
ResponseResult::~ResponseResult() = default;
ResponseResult::ResponseResult(ResponseResult&&) noexcept = default;
ResponseResult& ResponseResult::operator=(ResponseResult&&) noexcept = default;

int ResponseResult::orders() const { return rows->layout.orders(); }

std::int64_t ResponseResult::frames(int order) const { return rows->layout.window(order); }

std::optional<Problem> ResponseResult::read(int order, int channel, std::int64_t first,
                                            std::int64_t count, float* out) const {
  const auto row = static_cast<std::size_t>((order - 1) * rows->channels + channel);
  std::string e = rows->store.read(row, first, count, out);
  if (e.empty()) return std::nullopt;
  return Problem(ProblemCode::unreadable, std::move(e));
}

ResponsePlan plan_response(const ResponseRequest& request, SampleSource& source,
                           const std::string& name) {
  return memory_checked([&] {
    const SourceInfo& info = source.info();
    check_recording(request, info, name);
    check_timing(request, info, name);
    ResponsePlan plan;
    plan.request = request;
    plan.state->timing = timing_of(request);
    MeasurementSetup& setup = plan.state->setup;
    setup = setup_of(request, plan.state->timing);
    check(ProblemCode::out_of_memory, memory_refusal(setup, info.channels));
    plan.threads = setup.threads;
    plan.state->planned = plan_measurement(setup);
    plan.setup = setup_report(request, setup, plan.state->planned, info);
    // The calibration, before any analysis: the microphone's file must cover the band the rows
    // cover.
    LoadedCalibration& calibration = plan.state->calibration;
    check(ProblemCode::invalid_request,
          load_calibration(request, plan.setup.band_low_hz, plan.setup.band_high_hz, calibration));
    setup.calibration = calibration.level();
    plan.setup.spl_offset_db = calibration.offset_db;
    if (calibration.offset_db) plan.setup.level_unit = "dB SPL";
    return plan;
  });
}

ResponseResult measure_response(const ResponsePlan& plan, SampleSource& source) {
  return memory_checked([&] {
    ResponseResult result;
    result.report = plan.setup;
    MeasurementSetup setup = plan.state->setup;
    Measurement m;
    TimingResult timed;
    RowStore& store = result.rows->store;
    check(ProblemCode::measurement_failed,
          measure_timed(plan.state->timing, setup, source, store, m, timed));
    std::vector<std::optional<FoundResponse>> found;
    search(plan, setup, source, store, m, timed, result, found);
    throw_if_cancelled(setup.cancel);
    result.rows->layout = m.layout;
    result.rows->channels = static_cast<int>(m.channels.size());
    collect(plan, timed, m, found, result);
    return result;
  });
}

std::optional<Problem> read_step(const ResponseResult& result, int channel,
                                 std::vector<float>& out) {
  std::vector<float> x(static_cast<std::size_t>(result.frames(1)));
  if (std::optional<Problem> p = result.read(1, channel, 0, result.frames(1), x.data())) return p;
  out = step_response(x.data(), result.frames(1));
  return std::nullopt;
}

std::optional<Problem> result_problem(const ResponseResult& result) {
  for (std::size_t c = 0; c < result.channels.size(); ++c) {
    if (result.channels[c].finite) continue;
    return Problem{ProblemCode::not_finite,
                   "The response of channel " + std::to_string(c + 1) +
                       " is not finite: it overflows 32-bit floats; amplitude (" +
                       text(result.report.params.amplitude) +
                       ") may be far below the played sweep's, or the recording far above full "
                       "scale"};
  }
  return std::nullopt;
}

ResponseResult measure(const ResponseRequest& request, SampleSource& source,
                       const std::string& name) {
  check_request(request);
  const ResponsePlan plan = plan_response(request, source, name);
  ResponseResult result = measure_response(plan, source);
  if (std::optional<Problem> p = result_problem(result)) throw Error(*p);
  return result;
}

}  // namespace vellisk

namespace vellisk {

std::optional<Problem> check_relations(const ResponseRequest& request) {
  std::string line = align_line(request.align, request.reference, request.repeat);
  if (line.empty()) return std::nullopt;
  return Problem(ProblemCode::invalid_request, std::move(line), Setting::align, 1);
}

std::string write_order(const ResponseResult& result, int order, ResponseFile& file) {
  const int channels = result.rows->channels;
  return write_rows(result.rows->store, static_cast<std::size_t>((order - 1) * channels), channels,
                    result.frames(order), file);
}

void write_response(const ResponseResult& result, int order, SoundFileWriter& file) {
  std::string e = write_order(result, order, file.impl_->file);
  file.impl_->closed = true;
  if (!e.empty()) {
    throw Error(Problem(ProblemCode::unwritable, std::move(e)));
  }
}

}  // namespace vellisk
