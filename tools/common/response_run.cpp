// The response's part of a run of vellisk-ir or vellisk-measure: its checks, the measurement
// through the library, the report and the files.
#include "common/response_run.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/arguments.h"
#include "common/console.h"
#include "common/frd_output.h"
#include "common/ir_report.h"
#include "common/json_report.h"
#include "common/outputs.h"
#include "common/paths.h"
#include "common/run_main.h"
#include "common/timing_report.h"
#include "common/versions.h"
#include "plot/figure.h"
#include "vellisk/files.h"
#include "vellisk/number_text.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

inline constexpr const char* kIrBanner =
    "\nVellisk " VELLISK_VERSION ": impulse response of a recorded log sweep.\n";

std::string text(double value) { return number_text(value); }

// irfile's name with -h<k> before its extension: ir.wav gives ir-h2.wav.
std::string harmonic_name(const std::string& irfile, int k) {
  const std::string::size_type dot = irfile.rfind('.');
  return irfile.substr(0, dot) + "-h" + std::to_string(k) + irfile.substr(dot);
}

// The checks on the recording once it is open, in their order: the program's own, the
// library's, the irfile's format's.
std::string recording_error(const ResponseJob& job, const SourceInfo& info, bool headerless) {
  const std::string what = "recording (" + job.recording + ")";
  if (job.channels != 0 && !headerless) {
    return "--channels (" + std::to_string(job.channels) + ") is for headerless recordings; " +
           what + " says it has " + std::to_string(info.channels);
  }
  try {
    check_recording(job.request, info, job.recording);
  } catch (const Error& e) {
    return option_words(e);
  }
  const std::optional<Problem> p =
      check_file_channels(job.format, info.channels, "irfile (" + job.irfile + ")");
  return p ? p->message : "";
}

// A WAV file of the run's channels at the sweep's rate, written by vellisk-ir, carrying comment.
SoundFileLayout wav_spec(const ResponseJob& job, int channels, std::int64_t frames,
                       const std::string& comment = {}) {
  return {ResponseFormat::kWav, channels, static_cast<int>(job.request.sweep.rate), frames,
          kIrVersion, comment};
}

// A WAV irfile's (and the step file's) 32-bit sizes against its channels and window, with the
// longest INFO list the measurement may give the irfile: every figure as long as a double's
// text may be.
std::string wav_error(const ResponseJob& job, const ResponseReport& setup, int channels,
                      std::int64_t frames) {
  const double rate = job.request.sweep.rate;
  if (!job.options.step.empty() && frames > wav_max_frames(wav_spec(job, channels, frames))) {
    return "--step (" + job.options.step + "): " + std::to_string(channels) + " channels of " +
           std::to_string(frames) + " frames at " + text(rate) +
           " Hz exceed the 32-bit sizes of a WAV file; shorten --length";
  }
  if (job.format != ResponseFormat::kWav) return "";
  ResponseReport longest = setup;
  ChannelFigures figures;
  figures.arrival_samples = figures.gain_db = -1.2345678901234567e-300;
  figures.polarity = -1;
  longest.channels.assign(static_cast<std::size_t>(channels), figures);
  if (frames <= wav_max_frames(wav_spec(job, channels, frames, response_text(longest, kIrVersion)))) {
    return "";
  }
  return "irfile (" + job.irfile + "): " + std::to_string(channels) + " channels of " +
         std::to_string(frames) + " frames at " + text(rate) +
         " Hz exceed the 32-bit sizes of a WAV file; write a .w64 file";
}

// Each output against the files the run reads, the standard streams and the
// others; each of the names from `made` on, made from one name given, against
// those before `made` only.
std::string names_error(const ResponseJob& job, const std::vector<std::string>& outputs,
                        std::size_t made = static_cast<std::size_t>(-1)) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const char* name = outputs[i].c_str();
    const char* parameter = i == 0 ? "irfile" : "output";
    if (std::string e = overwritten_input_error(job.options, job.recording, parameter, name);
        !e.empty()) {
      return e;
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

FigureMap figure_map(const TimeFrequencyLevels& levels) {
  return {levels.times_ms, levels.frequencies, levels.levels};
}

// The views' curves and maps of a channel, as the library gives them.
void view_curves(const ChannelResponse& r, FigureChannel& c) {
  const PhaseCurves& p = r.phase_curves;
  c.phase = {p.frequencies, p.phase};
  // The group delays drawn where they hold (not NaN).
  for (std::size_t i = 0; i < p.frequencies.size(); ++i) {
    if (!std::isfinite(p.group_delay[i])) continue;
    c.group_delay.x.push_back(p.frequencies[i]), c.group_delay.y.push_back(p.group_delay[i]);
    c.excess_group_delay.x.push_back(p.frequencies[i]);
    c.excess_group_delay.y.push_back(p.excess_group_delay[i]);
  }
  c.waterfall = figure_map(r.waterfall);
  c.spectrogram = figure_map(r.spectrogram);
}

// What the run found, under the figure's title: one channel's latency and peak-to-noise
// (several channels give theirs in the legend), the reference, the drift and the repeats.
std::string figure_facts(const ResponseJob& job, const ResponseResult& result,
                         const RunFigures& figures) {
  const SweepParams& p = figures.params;
  const ResponseOptions& o = job.options;
  const TimingFigures& timing = figures.timing;
  std::string facts;
  const auto add = [&facts](const std::string& text) { facts += (facts.empty() ? "" : ", ") + text; };
  if (result.channels.size() == 1 && figures.channels[0].silent) {
    add("no response: every sample is 0");
  } else if (result.channels.size() == 1) {
    add(formatted("Latency %.3f ms, peak-to-noise %s", figures.channels[0].arrival_ms,
                  peak_to_noise_text(figures.channels[0]).c_str()));
    if (figures.channels[0].polarity < 0) add("polarity inverted");
  }
  if (o.reference > 0) {
    add(formatted("chain latency %.3f ms on the reference (channel %ld)",
                  1000 * timing.latency_samples / p.rate, o.reference));
  }
  if (timing.drift_ppm) {
    add(formatted("drift %.1f ppm%s", *timing.drift_ppm, timing.drift_corrected ? ", corrected" : ""));
  }
  if (timing.repeats.size() > 1) {
    add(formatted("%d of %zu repeats averaged", timing.averaged, timing.repeats.size()));
  }
  if (!facts.empty())
    facts[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(facts[0])));
  return facts;
}

// What the figure shows of the run.
Figure figure_of(const ResponseJob& job, const ResponseResult& result, const RunFigures& figures) {
  const SweepParams& p = figures.params;
  const ResponseOptions& o = job.options;
  Figure f;
  f.title = formatted("Sweep from %g Hz to %g Hz in %g s at %g Hz", p.hzstart, p.hzend,
                      p.duration, p.rate);
  f.facts = figure_facts(job, result, figures);
  f.smoothing = figures.figure_smooth;
  f.gate_ms = figures.gate_ms;
  f.hzstart = p.hzstart;
  f.hzend = p.hzend;
  f.first_ms = -1000 * o.pre;
  f.last_ms = 1000 * o.length;
  for (std::size_t i = 0; i < result.channels.size(); ++i) {
    FigureChannel c;
    const ResponseCurves& curves = result.channels[i].curves;
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
    c.silent = figures.channels[i].silent;
    c.latency_ms = figures.channels[i].arrival_ms;
    c.peak_to_noise = peak_to_noise_text(figures.channels[i]);
    view_curves(result.channels[i], c);
    f.channels.push_back(std::move(c));
  }
  f.views = o.views;
  f.level_unit = figures.level_unit == "dB SPL" ? "dB SPL" : "dB";
  return f;
}

// The step responses a figure draws: each channel's from 2 ms before the earliest arrival to
// 30 ms after the latest. Returns "" or why the responses could not be read.
std::string figure_steps(const ResponseJob& job, const ResponseResult& result, Figure& f) {
  if (std::find(f.views.begin(), f.views.end(), "step") == f.views.end()) return "";
  const double rate = job.request.sweep.rate, pre = std::round(job.request.pre * rate);
  double first = INFINITY, last = -INFINITY;
  for (const FigureChannel& c : f.channels) {
    first = std::min(first, c.latency_ms - 2), last = std::max(last, c.latency_ms + 30);
  }
  std::vector<float> step;
  for (std::size_t i = 0; i < f.channels.size(); ++i) {
    if (std::optional<Problem> p = read_step(result, static_cast<int>(i), step)) return p->message;
    FigureCurve& curve = f.channels[i].step;
    for (std::size_t t = 0; t < step.size(); ++t) {
      const double ms = 1000 * (static_cast<double>(t) - pre) / rate;
      if (ms < first || ms > last) continue;
      curve.x.push_back(ms);
      curve.y.push_back(step[t]);
    }
  }
  return "";
}

// The results must be files worth writing: finite, and within what the
// format holds.
std::string results_error(const ResponseJob& job, const ResponseResult& result) {
  for (std::size_t c = 0; c < result.channels.size(); ++c) {
    const ChannelResponse& r = result.channels[c];
    const std::string channel = "channel " + std::to_string(c + 1);
    if (!r.finite) return describe(*result_problem(result), option_name);
    for (const float v : {r.low, r.high}) {
      if (std::optional<Problem> p =
              check_file_value(job.format, v, "irfile (" + job.irfile + "): " + channel)) {
        return p->message;
      }
    }
  }
  return "";
}

// The step responses of every channel, interleaved into file a block of frames at a time.
// Returns "" or why a response could not be read; throws Error when the file cannot be written.
std::string write_steps(const ResponseResult& result, std::int64_t frames, SoundFileWriter& file) {
  const int channels = static_cast<int>(result.channels.size());
  std::vector<std::vector<float>> steps(static_cast<std::size_t>(channels));
  for (int c = 0; c < channels; ++c) {
    if (std::optional<Problem> p = read_step(result, c, steps[static_cast<std::size_t>(c)])) {
      return p->message;
    }
  }
  std::vector<float> block;
  for (std::int64_t first = 0; first < frames; first += 4096) {
    const std::int64_t n = std::min<std::int64_t>(4096, frames - first);
    block.resize(static_cast<std::size_t>(n * channels));
    for (std::int64_t t = 0; t < n; ++t) {
      for (int c = 0; c < channels; ++c) {
        block[static_cast<std::size_t>(t * channels + c)] =
            steps[static_cast<std::size_t>(c)][static_cast<std::size_t>(first + t)];
      }
    }
    file.write(block.data(), n);
  }
  file.close();
  return "";
}

// The step response of every channel, as the irfile's channels: a 32-bit float WAV file.
std::string write_step(const ResponseJob& job, const ResponseResult& result, OutputSet& files) {
  const std::string& name = job.options.step;
  std::string e;
  const int fd = files.create(name, e);
  if (fd >= 0) {
    try {
      SoundFileWriter file(fd, wav_spec(job, static_cast<int>(result.channels.size()),
                                        result.frames(1)));
      e = write_steps(result, result.frames(1), file);
    } catch (const Error& error) {
      e = error.what();
    }
  }
  return e.empty() ? e : "Unable to write " + name + ": " + e;
}

// Order k's response file (k = 1: the linear response, which carries what was measured; the
// harmonics, the program alone). Returns "" or why it could not be written.
std::string write_order_file(const ResponseJob& job, const ResponseResult& result,
                             const RunFigures& figures, int k, OutputSet& files) {
  const std::string& name = job.outputs[static_cast<std::size_t>(k - 1)];
  std::string e;
  const int fd = files.create(name, e);
  if (fd >= 0) {
    const std::string comment = k == 1 ? response_text(figures, kIrVersion) : "";
    try {
      SoundFileWriter file(fd, {job.format, static_cast<int>(result.channels.size()),
                                static_cast<int>(job.request.sweep.rate), result.frames(k),
                                kIrVersion, comment});
      write_response(result, k, file);
    } catch (const Error& error) {
      e = error.what();
    }
  }
  return e.empty() ? e : "Unable to write " + name + ": " + e;
}

// Writes every output under a temporary name, then moves them all into
// place: after a failure, or a signal, every file is as it was before the run.
std::string write_phase(const ResponseJob& job, const ResponseResult& result,
                        const std::string& svg, const RunFigures& figures, std::size_t made) {
  const int channels = static_cast<int>(result.channels.size());
  OutputSet files;
  for (int k = 1; k <= result.orders(); ++k) {
    if (std::string e = write_order_file(job, result, figures, k, files); !e.empty()) return e;
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
  if (!job.options.step.empty()) {
    if (std::string e = write_step(job, result, files); !e.empty()) return e;
  }
  // The text files, [k - 1][c] in the outputs from `made` on, then the views' [c].
  const std::vector<std::string>& names = figures.outputs;
  const std::size_t frd_end =
      made + (job.options.frd.empty() ? 0 : static_cast<std::size_t>(job.request.harmonics * channels));
  for (std::size_t i = made; i < frd_end; ++i) {
    const auto k = static_cast<int>((i - made) / static_cast<std::size_t>(channels)) + 1;
    const std::size_t c = (i - made) % static_cast<std::size_t>(channels);
    const std::string text =
        frd_text(figures, static_cast<int>(c + 1), k, figures.channels[c].arrival_samples,
                 result.channels[c].responses[static_cast<std::size_t>(k - 1)]);
    if (std::string e = text_file(names[i], text); !e.empty()) return e;
  }
  std::size_t next = frd_end;
  for (int c = 0; c < channels && !job.options.curves.empty(); ++c) {
    const std::string text = curves_text(figures, c + 1, result.channels[static_cast<std::size_t>(c)].phase_curves);
    if (std::string e = text_file(names[next++], text); !e.empty()) return e;
  }
  for (int c = 0; c < channels && !job.options.waterfall.empty(); ++c) {
    const std::string text = waterfall_text(figures, c + 1, job.request.waterfall_range_ms,
                                            result.channels[static_cast<std::size_t>(c)].waterfall);
    if (std::string e = text_file(names[next++], text); !e.empty()) return e;
  }
  if (!job.options.json.empty()) {
    if (std::string e = text_file(job.options.json, json_report(figures)); !e.empty()) return e;
  }
  return files.commit();
}

// Opens the recording and checks it, the timing options and every output's
// name against it. outputs gains the text files; made: how many came before.
std::string open_phase(const ResponseJob& job, std::optional<FileSource>& recording,
                       RunFigures& figures, std::size_t& made) {
  FileOptions options;
  options.headerless = is_headerless_name(job.recording);
  options.channels = job.channels != 0 ? static_cast<int>(job.channels) : 1;
  options.readers = job.request.threads;  // as many as the measurement has
  const bool headerless = options.headerless;
  try {
    recording.emplace(job.recording, options);
  } catch (const Error& e) {
    return option_words(e);
  }
  const SourceInfo& info = recording->info();
  if (std::string e = recording_error(job, info, headerless); !e.empty()) return e;
  try {
    check_timing(job.request, info, job.recording);
  } catch (const Error& e) {
    return option_words(e);
  }
  made = job.outputs.size();
  return response_names_error(job, info.channels, figures.outputs);
}

// The banner and the report's lines on the sweep, the recording and the window.
void setup_report(const ResponseJob& job, const ResponsePlan& plan, RunFigures& figures) {
  static_cast<ResponseReport&>(figures) = plan.setup;
  figures.recording = job.recording;
  if (job.banner) std::printf("%s", kIrBanner);
  for (const std::string& line : setup_lines(figures)) print_line(line.c_str());
  if (figures.drift_given_ppm) {
    print_line(("Drift corrected: " + text(*figures.drift_given_ppm) + " ppm, as given").c_str());
  }
}

// The windows moved onto a response found elsewhere, the timing's and each channel's lines,
// and the warnings, each on standard error and kept for the JSON report.
void results_report(const ResponseJob& job, const ResponseResult& result, RunFigures& figures) {
  const double rate = job.request.sweep.rate;
  if (result.aligned) {
    const std::int64_t shift = result.report.aligned_samples;
    print_line(formatted("Aligned: the response lies %s; the windows are moved by %.1f s (%" PRId64
                         " samples)",
                         found_text(result.aligned->at, rate).c_str(),
                         static_cast<double>(shift) / rate, shift)
                   .c_str());
  }
  const std::vector<std::string> outputs = figures.outputs;
  static_cast<ResponseReport&>(figures) = result.report;
  figures.outputs = outputs;
  for (const std::string& line : timing_lines(figures.timing)) print_line(line.c_str());
  const auto warn = [&figures](const Warning& w) {
    const std::string line = warning_text(w, figures.recording);
    std::fprintf(stderr, "Warning: %s\n", line.c_str());
    figures.warnings.push_back(line);
  };
  std::size_t next = 0;
  for (; next < result.warnings.size() && result.warnings[next].channel == 0; ++next) {
    warn(result.warnings[next]);
  }
  for (std::size_t c = 0; c < figures.channels.size(); ++c) {
    for (const std::string& line : channel_lines(static_cast<int>(c + 1), figures.channels[c],
                                                   figures.level_unit)) {
      print_line(line.c_str());
    }
    for (; next < result.warnings.size() &&
           result.warnings[next].channel == static_cast<int>(c + 1);
         ++next) {
      warn(result.warnings[next]);
    }
  }
}

// The last lines: each file written.
void written_report(const ResponseJob& job, const RunFigures& figures, std::size_t made) {
  const ResponseOptions& o = job.options;
  print_line_path("Response written: ", job.irfile.c_str());
  for (int k = 2; k <= job.request.harmonics; ++k) {
    const std::string line = "Harmonic response H" + std::to_string(k) + " written: ";
    print_line_path(line.c_str(), job.outputs[static_cast<std::size_t>(k - 1)].c_str());
  }
  if (!o.plot.empty()) print_line_path("Figure written: ", o.plot.c_str());
  const std::size_t channels = figures.channels.size();
  std::size_t i = made;
  for (; i < made + (o.frd.empty() ? 0 : channels * static_cast<std::size_t>(job.request.harmonics)); ++i) {
    print_line_path("Frequency response written: ", figures.outputs[i].c_str());
  }
  for (std::size_t c = 0; c < channels && !o.curves.empty(); ++c, ++i) {
    print_line_path("Curves written: ", figures.outputs[i].c_str());
  }
  for (std::size_t c = 0; c < channels && !o.waterfall.empty(); ++c, ++i) {
    print_line_path("Waterfall written: ", figures.outputs[i].c_str());
  }
  if (!o.step.empty()) print_line_path("Step response written: ", o.step.c_str());
  if (!o.json.empty()) print_line_path("JSON report written: ", o.json.c_str());
}

}  // namespace

std::string overwritten_input_error(const ResponseOptions& options, const std::string& recording,
                                   const char* parameter, const std::string& output) {
  const struct {
    const char* parameter;
    const std::string& name;
    const char* what;
  } inputs[] = {{"recording", recording, "the recording"},
                {"--sweep", options.sweep, "the sweep file"},
                {"--mic-cal", options.mic_cal, "the microphone's calibration"},
                {"--spl-cal", options.spl_cal, "the calibrator's recording"}};
  const std::string writer = std::strcmp(parameter, "irfile") == 0 ? "the response"
                             : std::strcmp(parameter, "recording") == 0 ? "the recording"
                                                                        : "the output";
  for (const auto& input : inputs) {
    if (input.name.empty() || !same_file(input.name.c_str(), output.c_str())) continue;
    return std::string(input.parameter) + " and " + parameter + " (" + input.name + ", " + output +
           ") must not name the same file: " + writer + " would overwrite " + input.what;
  }
  return "";
}

std::string prepare_response_job(const ResponseOptions& options, long channels,
                                 const SweepParams& sweep, const std::string& recording,
                                 const std::string& irfile, ResponseJob& job) {
  const ResponseOptions& o = options;
  job.options = options;
  job.channels = channels;
  job.request = request_of(options, sweep);
  job.recording = recording;
  job.irfile = irfile;
  const SweepParams& params = job.request.sweep;
  try {
    check_request(job.request);
  } catch (const Error& e) {
    return option_words(e);
  }
  const std::optional<ResponseFormat> format = response_format(irfile);
  if (!format) return "irfile (" + irfile + ") must end in " + kResponseExtensions;
  job.format = *format;
  if (const std::optional<Problem> p = check_file_rate(*format, params.rate, "irfile", true)) {
    return p->message;
  }
  if (const std::optional<Problem> p = check_file_rate(ResponseFormat::kWav, params.rate,
                                                       "--step's WAV file", false);
      p && !o.step.empty()) {
    return p->message;
  }
  job.outputs = {irfile};
  for (int k = 2; k <= job.request.harmonics; ++k) job.outputs.push_back(harmonic_name(irfile, k));
  if (!o.plot.empty()) job.outputs.push_back(o.plot);
  if (!o.json.empty()) job.outputs.push_back(o.json);
  if (!o.step.empty()) job.outputs.push_back(o.step);
  if (std::string e = names_error(job, job.outputs); !e.empty()) return e;
  for (const std::string& name : job.outputs) {
    if (std::string e = output_error(name); !e.empty()) return "Unable to write " + name + ": " + e;
  }
  // The text files' names follow the channel count; their folder is the name's.
  for (const std::string* base : {&o.frd, &o.curves, &o.waterfall}) {
    if (std::string e = base->empty() ? "" : output_error(*base); !e.empty()) {
      return "Unable to write " + *base + ": " + e;
    }
  }
  return "";
}

std::string response_names_error(const ResponseJob& job, int channels,
                                 std::vector<std::string>& outputs) {
  const std::string& frd = job.options.frd;
  outputs = job.outputs;
  for (int k = 1; k <= job.request.harmonics && !frd.empty(); ++k) {
    for (int c = 1; c <= channels; ++c) outputs.push_back(frd_name(frd, c, channels, k));
  }
  // The views' files, named per channel as the text files are.
  for (const std::string* base : {&job.options.curves, &job.options.waterfall}) {
    for (int c = 1; c <= channels && !base->empty(); ++c) {
      outputs.push_back(frd_name(*base, c, channels, 1));
    }
  }
  if (std::string e = names_error(job, outputs, job.outputs.size()); !e.empty()) {
    return e;
  }
  // The views' names, made from names of their own, against every name before them.
  const std::size_t views = job.outputs.size() + (frd.empty() ? 0 : static_cast<std::size_t>(job.request.harmonics * channels));
  for (std::size_t i = views; i < outputs.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (same_file(outputs[j].c_str(), outputs[i].c_str())) {
        return "outputs (" + outputs[j] + ", " + outputs[i] +
               ") must not name the same file: one would overwrite the other";
      }
    }
  }
  for (std::size_t i = job.outputs.size(); i < outputs.size(); ++i) {
    if (std::string e = output_error(outputs[i]); !e.empty()) {
      return "Unable to write " + outputs[i] + ": " + e;
    }
  }
  return "";
}

int run_response_job(const ResponseJob& job) {
  std::optional<FileSource> recording;
  RunFigures figures;
  std::size_t made = 0;
  if (const std::string e = open_phase(job, recording, figures, made); !e.empty()) return fail(e);
  ResponsePlan plan;
  try {
    plan = plan_response(job.request, *recording, job.recording);
  } catch (const Error& e) {
    pass_allocation_failure(e);
    return fail(option_words(e));
  }
  if (const std::string e = wav_error(job, plan.setup, recording->info().channels, plan.frames(1));
      !e.empty()) {
    return fail(e);
  }
  setup_report(job, plan, figures);

  ResponseResult result;
  try {
    result = measure_response(plan, *recording);
  } catch (const Error& e) {
    pass_allocation_failure(e);
    return fail(option_words(e));
  }
  if (const std::string e = results_error(job, result); !e.empty()) return fail(e);
  results_report(job, result, figures);

  std::string svg;
  if (!job.options.plot.empty()) {
    Figure figure = figure_of(job, result, figures);
    if (const std::string e = figure_steps(job, result, figure); !e.empty()) {
      return fail("Unable to read the responses: " + e);
    }
    if (const std::string e = draw_figure(figure, svg); !e.empty()) {
      return fail("Unable to draw the figure: " + e);
    }
  }
  if (const std::string e = write_phase(job, result, svg, figures, made); !e.empty()) {
    return fail(e);
  }
  written_report(job, figures, made);
  return EXIT_SUCCESS;
}

}  // namespace vellisk

namespace vellisk {

namespace {

// A recording's shape without its samples: what plan_response checks a request against.
class PlannedRecording : public SampleSource {
 public:
  explicit PlannedRecording(SourceInfo info) : info_(std::move(info)) {}
  const SourceInfo& info() const override { return info_; }
  std::optional<Problem> read(std::int64_t, std::int64_t, int, int, float* const*,
                              SampleLevels*) override {
    return Problem(ProblemCode::unreadable, "the recording is not made yet");
  }

 private:
  SourceInfo info_;
};

}  // namespace

std::string planned_recording_error(const ResponseJob& job, int channels, std::int64_t frames) {
  PlannedRecording recording({"planned", channels, frames, static_cast<int>(job.request.sweep.rate)});
  try {
    plan_response(job.request, recording, job.recording);
  } catch (const Error& e) {
    pass_allocation_failure(e);
    return option_words(e);
  }
  return "";
}

}  // namespace vellisk
