// The run of vellisk-ir.
#include "run.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/arguments.h"
#include "common/console.h"
#include "common/outputs.h"
#include "common/process_guard.h"
#include "common/frd_output.h"
#include "common/ir_report.h"
#include "texts.h"
#include "common/json_report.h"
#include "common/paths.h"
#include "options.h"
#include "common/timing_report.h"
#include "plot/figure.h"
#include "response/analysis.h"
#include "response/measurement.h"
#include "response/plausibility.h"
#include "io/recording.h"
#include "io/response_file.h"
#include "response/store.h"
#include "response/timing.h"
#include "sweep/design_text.h"
#include "sweep/validation.h"

namespace vellisk {

namespace {

std::string text(double value) { return number_text(value); }

// irfile's name with -h<k> before its extension: ir.wav gives ir-h2.wav.
std::string harmonic_name(const std::string& irfile, int k) {
  const std::string::size_type dot = irfile.rfind('.');
  return irfile.substr(0, dot) + "-h" + std::to_string(k) + irfile.substr(dot);
}

// The window's sizes, checked in double before any of them is converted: the
// transforms' sizes are 32-bit, with room for a drift of up to 1000 ppm and
// for rounding up to a fast size.
std::string window_size_error(const IrOptions& o, const SweepParams& p, const SweepDesign& d) {
  const double pre = std::round(o.pre * p.rate);
  const double length = std::round(o.length * p.rate);
  if (!(length >= 1)) {
    return "--length (" + text(o.length) + ") must keep at least one sample at rate " +
           text(p.rate);
  }
  if (o.gate > 0 && !(o.gate <= 1000 * o.length)) {
    return "--gate (" + text(o.gate) + " ms) must not be longer than --length (" + text(o.length) +
           " s)";
  }
  if (o.gate > 0 && !(o.gate * p.rate >= 1000)) {
    return "--gate (" + text(o.gate) + " ms) must keep at least one sample at rate " + text(p.rate);
  }
  const double stretch = (1 + kMaxDrift) * (static_cast<double>(d.sweeplen) +
                                            d.octavelen * std::log2(kMaxOrder) + d.octavelen) +
                         pre + length;
  if (!(stretch < 1.9e9)) {
    return "--pre and --length (" + text(o.pre) + ", " + text(o.length) +
           ") with this sweep make the transforms longer than 1900000000 samples";
  }
  return "";
}

// The rules on the harmonic orders, given a valid window.
std::string orders_error(const IrOptions& o, const SweepParams& p, const SweepDesign& d,
                         const Layout& layout) {
  const int top = layout.orders();
  if (top < 2) return "";
  for (int k = 2; k <= top; ++k) {
    if (k * p.hzstart >= p.hzend) {
      return "--harmonics (" + std::to_string(top) + ") asks for order " + std::to_string(k) +
             ", whose band is empty: " + std::to_string(k) + " * hzstart (" + text(k * p.hzstart) +
             ") is not below hzend (" + text(p.hzend) + "); ask for fewer orders";
    }
  }
  // The highest order has the least room before the next one arrives.
  const double room = static_cast<double>(layout.lengths[static_cast<std::size_t>(top - 1)]);
  if (room < 0.001 * p.rate) {
    char gap[32];
    std::snprintf(gap, sizeof gap, "%.1f",
                  1000 * 0.9 * d.octavelen * std::log2((top + 1.0) / top) / p.rate);
    return "--harmonics (" + std::to_string(top) + ") leaves order " + std::to_string(top) +
           " less than 1 ms of response: 0.9 of the gap to order " + std::to_string(top + 1) +
           " (" + gap + " ms) less --pre (" + text(1000 * o.pre) +
           " ms); use a longer sweep, fewer orders or a shorter --pre";
  }
  return "";
}

// The checks on the recording once it is open.
std::string recording_error(const IrOptions& o, const SweepParams& p, const SweepDesign& d,
                            const RecordingInfo& info, const char* name, bool headerless,
                            ResponseFormat format) {
  const std::string what = std::string("recording (") + name + ")";
  if (o.channels != 0 && !headerless) {
    return "--channels (" + std::to_string(o.channels) + ") is for headerless recordings; " + what +
           " says it has " + std::to_string(info.channels);
  }
  if (!headerless && static_cast<double>(info.rate) != p.rate) {
    return what + " has a sample rate of " + std::to_string(info.rate) + ", not rate (" +
           text(p.rate) + ")";
  }
  const std::int64_t end = std::int64_t{d.silencelen} + d.sweeplen;
  if (info.frames < end) {
    return what + " holds " + std::to_string(info.frames) +
           " frames, fewer than the end of the sweep at silencelen + sweeplen (" +
           std::to_string(end) + ")";
  }
  if (info.channels > max_channels(format)) {
    return what + " has " + std::to_string(info.channels) +
           " channels, more than a .flac irfile holds (8); write a .wav or .w64 file";
  }
  return "";
}

// A WAV irfile's 32-bit sizes against its channels and window.
std::string wav_error(const IrJob& job, int channels) {
  if (job.format != ResponseFormat::kWav) return "";
  const std::int64_t frames = job.pre + job.length;
  if (frames <= wav_max_frames(channels, job.params.rate, info_list(kIrVersion))) return "";
  return "irfile (" + job.irfile + "): " + std::to_string(channels) + " channels of " +
         std::to_string(frames) + " frames at " + text(job.params.rate) +
         " Hz exceed the 32-bit sizes of a WAV file; write a .w64 file";
}

// Each output against the recording, the standard streams and the others;
// each of the names from `made` on, made from one name given, against those
// before `made` only.
std::string names_error(const char* recording, const std::vector<std::string>& outputs,
                        std::size_t made = static_cast<std::size_t>(-1)) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const char* name = outputs[i].c_str();
    const char* parameter = i == 0 ? "irfile" : "output";
    if (same_file(recording, name)) {
      return std::string("recording and ") + parameter + " (" + recording + ", " + name +
             ") must not name the same file: the response would overwrite the recording";
    }
    if (std::string e = standard_stream_error(parameter, name); !e.empty()) return e;
    for (std::size_t j = 0; j < std::min(i, made); ++j) {
      if (same_file(outputs[j].c_str(), name)) {
        return "outputs (" + outputs[j] + ", " + outputs[i] +
               ") must not name the same file: one would overwrite the other";
      }
    }
  }
  return "";
}

// What the figure shows of the run.
Figure figure_of(const SweepParams& p, const IrOptions& o, const Measurement& m,
                 const TimingResult& timing, const RunFigures& figures) {
  Figure f;
  f.title = formatted("Sweep from %g Hz to %g Hz in %g s at %g Hz", p.hzstart, p.hzend,
                      p.duration, p.rate);
  // Several channels give their latency and peak-to-noise in the legend.
  std::string facts;
  const auto add = [&facts](const std::string& text) { facts += (facts.empty() ? "" : ", ") + text; };
  if (m.channels.size() == 1) {
    add(formatted("Latency %.3f ms, peak-to-noise %.1f dB", figures.channels[0].arrival_ms,
                  figures.channels[0].peak_to_noise_db.value_or(INFINITY)));
    if (figures.channels[0].polarity < 0) add("polarity inverted");
  }
  if (o.reference > 0) {
    add(formatted("chain latency %.3f ms on the reference (channel %ld)",
                  1000 * timing.latency / p.rate, o.reference));
  }
  if (timing.drift_measured) {
    add(formatted("drift %.1f ppm%s", timing.drift * 1e6, timing.corrected ? ", corrected" : ""));
  }
  if (timing.repeats.size() > 1) {
    add(formatted("%d of %zu repeats averaged", timing.kept, timing.repeats.size()));
  }
  if (!facts.empty())
    facts[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(facts[0])));
  f.facts = facts;
  f.smoothing = figures.figure_smooth;
  f.gate_ms = figures.gate_ms;
  f.hzstart = p.hzstart;
  f.hzend = p.hzend;
  f.first_ms = -1000 * o.pre;
  f.last_ms = 1000 * o.length;
  for (std::size_t i = 0; i < m.channels.size(); ++i) {
    FigureChannel c;
    const ChannelCurves& curves = m.channels[i].curves;
    c.level = {curves.frequencies, curves.level};
    for (std::size_t k = 0; k < curves.harmonics.size(); ++k) {
      const std::size_t n = curves.harmonics[k].size();
      c.harmonics.push_back(
          {std::vector<double>(curves.frequencies.begin(),
                               curves.frequencies.begin() + static_cast<std::ptrdiff_t>(n)),
           curves.harmonics[k]});
    }
    c.noise = {curves.frequencies, curves.noise_level};
    c.envelope = {curves.times, curves.envelope};
    c.noise_db = curves.noise_envelope;
    c.latency_ms = figures.channels[i].arrival_ms;
    c.peak_to_noise_db = figures.channels[i].peak_to_noise_db.value_or(INFINITY);
    f.channels.push_back(std::move(c));
  }
  return f;
}

// The results must be files worth writing: finite, and within what the
// format holds.
std::string results_error(const IrJob& job, const Measurement& m) {
  for (std::size_t c = 0; c < m.channels.size(); ++c) {
    const ChannelResult& r = m.channels[c];
    const std::string channel = "channel " + std::to_string(c + 1);
    if (!r.finite) {
      return "The response of " + channel +
             " is not finite: it overflows 32-bit floats; amplitude (" +
             text(job.params.amplitude) +
             ") may be far below the played sweep's, or the recording far above full scale";
    }
    for (const float v : {r.low, r.high}) {
      if (!fits_format(job.format, v)) {
        char value[32];
        std::snprintf(value, sizeof value, "%g", static_cast<double>(v));
        return "irfile (" + job.irfile + "): " + channel + " reaches " + value +
               ", beyond 24-bit full scale; write a .wav or .w64 file, which keeps it";
      }
    }
  }
  return "";
}

// Writes every output under a temporary name, then moves them all into
// place: after a failure, or a signal, every file is as it was before the run.
std::string write_phase(const IrJob& job, const Measurement& m, RowStore& store,
                        const std::string& svg, const RunFigures& figures, std::size_t made) {
  const int channels = static_cast<int>(m.channels.size());
  OutputSet files;
  for (int k = 1; k <= job.orders; ++k) {
    const std::string& name = job.outputs[static_cast<std::size_t>(k - 1)];
    std::string e;
    const int fd = files.create(name, e);
    ResponseFile file;
    if (fd >= 0) {
      e = file.open(fd, job.format, channels, static_cast<int>(job.params.rate),
                    m.layout.window(k), info_list(kIrVersion));
    }
    if (e.empty()) {
      e = write_rows(store, static_cast<std::size_t>((k - 1) * channels), channels,
                     m.layout.window(k), file);
    }
    if (!e.empty()) return "Unable to write " + name + ": " + e;
  }
  const auto text_file = [&files](const std::string& name, const std::string& content) {
    std::string e;
    const int fd = files.create(name, e);
    if (fd >= 0) e = write_text(fd, content);
    return e.empty() ? e : "Unable to write " + name + ": " + e;
  };
  if (!job.options.plot.empty()) {
    if (std::string e = text_file(job.options.plot, svg); !e.empty()) return e;
  }
  // The text files, [k - 1][c] in the outputs from `made` on.
  const std::vector<std::string>& names = figures.outputs;
  for (std::size_t i = made; i < names.size(); ++i) {
    const auto k = static_cast<int>((i - made) / static_cast<std::size_t>(channels)) + 1;
    const std::size_t c = (i - made) % static_cast<std::size_t>(channels);
    const ChannelResult& r = m.channels[c];
    const std::string text =
        frd_text(figures, static_cast<int>(c + 1), k, figures.channels[c].arrival_samples,
                 r.responses[static_cast<std::size_t>(k - 1)]);
    if (std::string e = text_file(names[i], text); !e.empty()) return e;
  }
  if (!job.options.json.empty()) {
    if (std::string e = text_file(job.options.json, json_report(figures)); !e.empty()) return e;
  }
  return files.commit();
}

// The memory the run needs, against what the machine allows: fewer threads
// when that is enough, a refusal when not even one fits.
std::string memory_phase(MeasurementSetup& setup, int channels) {
  const double usable = 0.9 * usable_memory();
  while (setup.threads > 1 && measurement_bytes(setup, channels) > usable) --setup.threads;
  const double needed = measurement_bytes(setup, channels);
  if (needed <= usable) return "";
  char line[256];
  std::snprintf(line, sizeof line,
                "The run needs about %.0f MiB of memory, more than the %.0f MiB this machine "
                "allows; shorten --length or --pre, or measure a shorter sweep",
                needed / 1048576, usable / 1048576);
  return line;
}

}  // namespace

std::string prepare_ir_job(const IrOptions& options, const char* const* numbers,
                           const std::string& recording, const std::string& irfile, IrJob& job) {
  const IrOptions& o = options;
  job.options = options;
  job.params = parse_numbers(numbers);
  job.design = compute_design(job.params);
  job.recording = recording;
  job.irfile = irfile;
  const SweepParams& params = job.params;
  const SweepDesign& design = job.design;
  std::string error = design_error(params, design);
  if (error.empty()) error = measurement_error(params);
  if (error.empty() && o.drift_given) {
    error = drift_error(params, o.drift_ppm * 1e-6, "--drift (" + text(o.drift_ppm) + ")");
  }
  if (error.empty()) error = window_size_error(o, params, design);
  if (!error.empty()) return error;
  job.pre = static_cast<std::int64_t>(std::round(o.pre * params.rate));
  job.length = static_cast<std::int64_t>(std::round(o.length * params.rate));
  job.orders = static_cast<int>(o.harmonics);
  if (std::string e =
          orders_error(o, params, design, plan_layout(design, job.pre, job.length, job.orders));
      !e.empty()) {
    return e;
  }
  const std::optional<ResponseFormat> format = response_format(irfile);
  if (!format) return "irfile (" + irfile + ") must end in " + kResponseExtensions;
  job.format = *format;
  if (*format != ResponseFormat::kHeaderless &&
      !(params.rate == std::floor(params.rate) && params.rate <= 2147483647)) {
    return "rate (" + text(params.rate) +
           ") must be a whole number of samples per second for a file with a header; "
           "write a .pcm, .raw or .f32 irfile";
  }
  job.outputs = {irfile};
  for (int k = 2; k <= job.orders; ++k) job.outputs.push_back(harmonic_name(irfile, k));
  if (!o.plot.empty()) job.outputs.push_back(o.plot);
  if (!o.json.empty()) job.outputs.push_back(o.json);
  if (std::string e = names_error(recording.c_str(), job.outputs); !e.empty()) return e;
  for (const std::string& name : job.outputs) {
    if (std::string e = output_error(name); !e.empty()) return "Unable to write " + name + ": " + e;
  }
  // The text files' names follow the channel count; their folder is the name's.
  if (std::string e = o.frd.empty() ? "" : output_error(o.frd); !e.empty()) {
    return "Unable to write " + o.frd + ": " + e;
  }
  return "";
}

std::string output_names_error(const IrJob& job, int channels, std::vector<std::string>& outputs) {
  const std::string& frd = job.options.frd;
  outputs = job.outputs;
  for (int k = 1; k <= job.orders && !frd.empty(); ++k) {
    for (int c = 1; c <= channels; ++c) outputs.push_back(frd_name(frd, c, channels, k));
  }
  if (std::string e = names_error(job.recording.c_str(), outputs, job.outputs.size()); !e.empty()) {
    return e;
  }
  for (std::size_t i = job.outputs.size(); i < outputs.size(); ++i) {
    if (std::string e = output_error(outputs[i]); !e.empty()) {
      return "Unable to write " + outputs[i] + ": " + e;
    }
  }
  return "";
}

namespace {

// Opens the recording and checks it, the timing options and every output's
// name against it. outputs gains the text files; made: how many came before.
std::string open_phase(const IrJob& job, Recording& recording, TimingSetup& timing,
                       RunFigures& figures, std::size_t& made) {
  const IrOptions& o = job.options;
  const char* recording_name = job.recording.c_str();
  const bool headerless = is_headerless_name(recording_name);
  if (std::string e = recording.open(recording_name, headerless,
                                     o.channels != 0 ? static_cast<int>(o.channels) : 1);
      !e.empty()) {
    return e;
  }
  const RecordingInfo& info = recording.info();
  if (std::string e =
          recording_error(o, job.params, job.design, info, recording_name, headerless, job.format);
      !e.empty()) {
    return e;
  }
  timing.reference = static_cast<int>(o.reference) - 1;
  timing.repeats = static_cast<int>(o.repeat);
  timing.drift_auto = o.drift_auto;
  if (std::string e = timing_error(timing, job.design, info.channels, info.frames, recording_name);
      !e.empty()) {
    return e;
  }
  made = job.outputs.size();
  return output_names_error(job, info.channels, figures.outputs);
}

// What the measurement is asked to compute.
MeasurementSetup setup_of(const IrJob& job, const TimingSetup& timing) {
  const IrOptions& o = job.options;
  MeasurementSetup setup;
  setup.params = job.params;
  setup.pre = job.pre;
  setup.length = job.length;
  setup.orders = job.orders;
  setup.drift = o.drift_given ? o.drift_ppm * 1e-6 : 0;
  setup.curves = !o.plot.empty();
  setup.figure_smooth = o.smooth != 0 ? static_cast<int>(o.smooth) : 6;
  setup.responses = !o.frd.empty();
  setup.smooth = static_cast<int>(o.smooth);
  setup.gate = o.gate * job.params.rate / 1000;
  setup.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  setup.compensated = !o.uncompensated;
  prepare_timing(timing, setup);
  if (o.drift_auto) {
    // Both passes use the transform size the corrected one needs at the
    // largest drift, so that the second plan costs nothing.
    MeasurementSetup widest = setup;
    widest.drift = kMaxDrift;
    setup.min_fft_size = plan_measurement(widest).plan.fft_size;
  }
  return setup;
}

// The banner and the report's lines on the sweep, the recording and the window.
void setup_report(const IrJob& job, const MeasurementSetup& setup, const Measurement& m,
                  const RecordingInfo& info, RunFigures& figures) {
  const IrOptions& o = job.options;
  const SweepParams& params = job.params;
  figures.params = params;
  figures.sweeplen = job.design.sweeplen;
  figures.silencelen = job.design.silencelen;
  figures.recording = job.recording;
  figures.info = info;
  figures.pre_s = o.pre;
  figures.length_s = o.length;
  figures.window_samples = m.layout.window(1);
  figures.zero_sample = job.pre;
  figures.transform_samples = m.plan.fft_size;
  figures.noise_first_s = static_cast<double>(m.layout.noise_first) / params.rate;
  figures.noise_last_s = static_cast<double>(m.layout.noise_last) / params.rate;
  const Compensation& c = m.plan.compensation;
  figures.compensated = c.on();
  figures.band_low_hz = c.on() ? c.low() : params.hzstart;
  figures.band_high_hz = c.on() ? c.high() : params.hzend;
  figures.gate_ms = o.gate;
  figures.smooth = setup.smooth;
  figures.figure_smooth = setup.figure_smooth;
  if (job.banner) std::printf("%s", kIrBanner);
  for (const std::string& line : setup_lines(figures)) print_line(line.c_str());
  if (o.drift_given) {
    figures.drift_given_ppm = o.drift_ppm;
    print_line(("Drift corrected: " + text(*figures.drift_given_ppm) + " ppm, as given").c_str());
  }
}

// The timing's and each channel's lines, and the warnings, each on standard
// error as it is found and kept for the JSON report.
void results_report(const IrJob& job, const TimingSetup& timing, const TimingResult& timed,
                    const Measurement& m, const std::vector<std::optional<FoundResponse>>& found,
                    RunFigures& figures) {
  const auto warn = [&figures](const std::string& line) {
    std::fprintf(stderr, "Warning: %s\n", line.c_str());
    figures.warnings.push_back(line);
  };
  figures.timing = timing_figures(timing, timed, m.plan.design);
  for (const std::string& line : timing_lines(figures.timing)) print_line(line.c_str());
  if (const std::string w = timing_warning(figures.timing); !w.empty()) warn(w);
  const std::int64_t needed = timed.frames_needed;
  if (figures.info.frames < needed) {
    warn("recording (" + job.recording + ") ends " + std::to_string(needed - figures.info.frames) +
         " samples before the window does; they are read as silence");
  }
  const double rate = job.params.rate;
  for (std::size_t c = 0; c < m.channels.size(); ++c) {
    ChannelFigures& f = figures.channels.emplace_back(channel_figures(m.channels[c], rate));
    f.arrival_samples += static_cast<double>(figures.aligned_samples);
    f.arrival_ms += 1000 * static_cast<double>(figures.aligned_samples) / rate;
    for (const std::string& line : channel_lines(static_cast<int>(c + 1), f)) {
      print_line(line.c_str());
    }
    const FoundResponse* elsewhere = found[c] ? &*found[c] : nullptr;
    for (const Warning& w : plausibility_warnings(m.channels[c], static_cast<int>(c) + 1,
                                                  m.layout, rate, elsewhere)) {
      warn(warning_text(w));
    }
  }
}

// For each channel whose response lies outside the window, where a search of
// the whole recording finds it (when that is outside the window too, and
// clearly above what the window holds); with --align, the measurement again,
// the windows moved by the strongest one found, in whole tenths of a second.
std::string search_phase(const IrJob& job, MeasurementSetup& setup, const TimingSetup& timing,
                         Recording& recording, RowStore& store, Measurement& m,
                         TimingResult& timed, RunFigures& figures,
                         std::vector<std::optional<FoundResponse>>& found) {
  found.assign(m.channels.size(), std::nullopt);
  if (timing.reference >= 0 || timing.repeats > 1) return "";
  const double rate = job.params.rate;
  std::optional<FoundResponse> strongest;
  for (std::size_t c = 0; c < m.channels.size(); ++c) {
    const ChannelResult& r = m.channels[c];
    if (!response_elsewhere(r, m.layout, job.params.amplitude)) continue;
    FoundResponse f;
    if (std::string e = find_response(setup, recording, static_cast<int>(c), f); !e.empty()) {
      return e;
    }
    const bool outside = f.at < static_cast<double>(-job.pre) || f.at > static_cast<double>(job.length);
    if (!outside || !(f.peak > 2 * std::abs(r.peak))) continue;
    found[c] = f;
    if (!strongest || f.peak > strongest->peak) strongest = f;
  }
  if (!strongest || !job.options.align) return "";
  const std::int64_t tenth = std::max<std::int64_t>(1, std::llround(0.1 * rate));
  const auto shift = static_cast<std::int64_t>(std::floor(strongest->at / static_cast<double>(tenth))) * tenth;
  print_line(formatted("Aligned: the response lies %s; the windows are moved by %.1f s (%" PRId64 " samples)",
                       found_text(strongest->at, rate).c_str(), static_cast<double>(shift) / rate, shift)
                 .c_str());
  figures.aligned_samples = shift;
  found.assign(m.channels.size(), std::nullopt);
  setup.shift += shift;
  timed = TimingResult{};
  return measure_timed(timing, setup, recording, store, m, timed);
}

// The last lines: each file written.
void written_report(const IrJob& job, const RunFigures& figures, std::size_t made) {
  const IrOptions& o = job.options;
  print_line_path("Response written: ", job.irfile.c_str());
  for (int k = 2; k <= job.orders; ++k) {
    const std::string line = "Harmonic response H" + std::to_string(k) + " written: ";
    print_line_path(line.c_str(), job.outputs[static_cast<std::size_t>(k - 1)].c_str());
  }
  if (!o.plot.empty()) print_line_path("Figure written: ", o.plot.c_str());
  for (std::size_t i = made; i < figures.outputs.size(); ++i) {
    print_line_path("Frequency response written: ", figures.outputs[i].c_str());
  }
  if (!o.json.empty()) print_line_path("JSON report written: ", o.json.c_str());
}

}  // namespace

int run_ir_job(const IrJob& job) {
  Recording recording;
  TimingSetup timing;
  RunFigures figures;
  std::size_t made = 0;
  if (const std::string e = open_phase(job, recording, timing, figures, made); !e.empty()) {
    return fail(e);
  }
  MeasurementSetup setup = setup_of(job, timing);
  const RecordingInfo& info = recording.info();
  if (const std::string e = memory_phase(setup, info.channels); !e.empty()) return fail(e);
  if (const std::string e = wav_error(job, info.channels); !e.empty()) return fail(e);
  Measurement m = plan_measurement(setup);
  setup_report(job, setup, m, info, figures);

  RowStore store;
  TimingResult timed;
  if (const std::string e = measure_timed(timing, setup, recording, store, m, timed); !e.empty()) {
    return fail(e);
  }
  std::vector<std::optional<FoundResponse>> found;
  if (const std::string e =
          search_phase(job, setup, timing, recording, store, m, timed, figures, found);
      !e.empty()) {
    return fail(e);
  }
  if (const std::string e = results_error(job, m); !e.empty()) return fail(e);
  results_report(job, timing, timed, m, found, figures);

  std::string svg;
  if (!job.options.plot.empty()) {
    if (const std::string e =
            draw_figure(figure_of(job.params, job.options, m, timed, figures), svg);
        !e.empty()) {
      return fail("Unable to draw the figure: " + e);
    }
  }
  if (const std::string e = write_phase(job, m, store, svg, figures, made); !e.empty()) {
    return fail(e);
  }
  written_report(job, figures, made);
  return EXIT_SUCCESS;
}

int run_ir(int argc, char** argv) {
  IrOptions o;
  if (const std::string e = parse_options(argc, argv, o); !e.empty()) return fail(e);
  if (o.version) {
    print_line(kIrVersion);
    return EXIT_SUCCESS;
  }
  if (o.help || o.arguments.empty()) {
    for (const char* line : kIrHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  if (o.arguments.size() != 10) {
    return fail("vellisk-ir takes 10 arguments after its options, not " +
                std::to_string(o.arguments.size()) + "; vellisk-ir --help shows them");
  }
  // Everything that can be refused is refused before any work.
  IrJob job;
  if (const std::string e =
          prepare_ir_job(o, o.arguments.data(), o.arguments[8], o.arguments[9], job);
      !e.empty()) {
    return fail(e);
  }
  return run_ir_job(job);
}

}  // namespace vellisk
