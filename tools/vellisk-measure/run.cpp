// The run of vellisk-measure, in phases: refusals, the server, the stream, the report.
#include "run.h"

#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/arguments.h"
#include "common/console.h"
#include "common/ir_report.h"
#include "common/outputs.h"
#include "common/paths.h"
#include "common/process_guard.h"
#include "common/response_run.h"
#include "texts.h"
#include "options.h"
#include "vellisk/files.h"
#include "vellisk/measure.h"
#include "vellisk/number_text.h"

namespace vellisk {

namespace {

std::string text(double value) { return number_text(value); }

double dbfs(float peak) { return 20 * std::log10(static_cast<double>(peak)); }

// A problem's line, the settings it names called by the options.
std::string option_line(const Problem& problem) { return describe(problem, option_name); }

// The line of a measurement that did not complete.
std::string problem_line(const LiveResult& result) {
  return result.problem ? option_line(*result.problem) : std::string();
}

// The recording's file, as the measurement's sink: the reason its first failure gave, and
// nothing written after it.
struct FileSink : RecordingSink {
  explicit FileSink(SoundFileWriter& f) : file(f) {}
  bool write(const float* frames, std::int64_t count) override {
    if (!failure.empty()) return false;
    try {
      file.write(frames, count);
      return true;
    } catch (const Error& e) {
      failure = option_words(e);
      return false;
    }
  }
  // Finishes the file: "", or the reason it, or an earlier write, failed.
  std::string close() {
    if (!failure.empty()) return failure;
    try {
      file.close();
    } catch (const Error& e) {
      failure = option_words(e);
    }
    return failure;
  }
  SoundFileWriter& file;
  std::string failure;
};

// What the refusals leave to play, record and measure.
struct Plan {
  SweepParams params;
  SweepDesign design;
  const char* recording = nullptr;
  ResponseFormat format = ResponseFormat::kWav;
  bool response = false;  // an irfile was given: job measures the recording
  std::size_t files = 8;  // the recording's place among the arguments: after the eight numbers
  ResponseJob job;
};

// The response's refusals of the numbers, the window and the outputs, its options read as
// vellisk-ir reads them.
std::string response_error(const MeasureOptions& o, const ResponseOptions& options, Plan& plan) {
  plan.response = true;
  plan.job.banner = false;
  return prepare_response_job(options, 0, plan.params, plan.recording,
                              o.arguments[plan.files + 1], plan.job);
}

// The sweep's design, from the eight numbers or --sweep, and what playing it needs.
std::string sweep_error(const MeasureOptions& o, Plan& plan) {
  if (std::string e = sweep_params(o.sweep, o.arguments.data(), plan.params); !e.empty()) return e;
  plan.design = compute_design(plan.params);
  if (const std::optional<Problem> p = check_measure_sweep(plan.params)) return option_line(*p);
  return "";
}

// Every refusal that needs neither the server nor the recording.
std::string plan_error(const MeasureOptions& o, Plan& plan) {
  if (std::string e = sweep_error(o, plan); !e.empty()) return e;
  if (o.level) {
    plan.design = compute_design(level_burst(plan.params));
    if (!o.response_only.empty()) {
      return "option " + o.response_only + " is for the response; --level measures none";
    }
    return "";
  }
  plan.recording = o.arguments[plan.files];
  const std::optional<ResponseFormat> format = response_format(plan.recording);
  if (!format || *format == ResponseFormat::kHeaderless) {
    return std::string("recording (") + plan.recording + ") must end in .wav, .w64 or .flac";
  }
  plan.format = *format;
  if (const std::optional<Problem> p = check_file_channels(
          *format, static_cast<int>(o.ins.size()), std::string("recording (") + plan.recording + ")")) {
    return p->message;
  }
  if (std::string e = standard_stream_error("recording", plan.recording); !e.empty()) return e;
  // The files read: --sweep's, and with an irfile the calibration files, which the recording
  // must not overwrite.
  ResponseOptions options;
  options.sweep = o.sweep;
  const bool irfile = o.arguments.size() == plan.files + 2;
  if (irfile) {
    if (std::string e = read_response_options(o, options); !e.empty()) return e;
  }
  if (std::string e = overwritten_input_error(options, "", "recording", plan.recording);
      !e.empty()) {
    return e;
  }
  if (std::string e = output_error(plan.recording); !e.empty()) {
    return std::string("Unable to write ") + plan.recording + ": " + e;
  }
  if (irfile) return response_error(o, options, plan);
  if (!o.response_only.empty()) {
    return "option " + o.response_only + " is for the response; give an irfile after the recording";
  }
  return "";
}

int list_ports(const LiveClient& client) {
  for (const PortInfo& p : client.ports()) {
    report("%-40s %-6s %s", p.name.c_str(), p.output ? "output" : "input",
           p.output ? (p.physical ? "physical capture, for --in" : "for --in")
                    : (p.physical ? "physical playback, for --out" : "for --out"));
  }
  return EXIT_SUCCESS;
}

// On a terminal: the elapsed and total time and each input's peak, on one line.
void show_progress(const LiveProgress& p, double rate) {
  char line[512];
  int used =
      std::snprintf(line, sizeof line, "\r%.1f s of %.1f s", static_cast<double>(p.frames) / rate,
                    static_cast<double>(p.total) / rate);
  for (std::size_t c = 0; c < p.peaks.size() && c < 8; ++c) {
    const auto room = sizeof line - static_cast<std::size_t>(used);
    used += p.peaks[c] > 0
                ? std::snprintf(line + used, room, "  in %zu %6.1f dBFS", c + 1, dbfs(p.peaks[c]))
                : std::snprintf(line + used, room, "  in %zu   -inf dBFS", c + 1);
  }
  std::fprintf(stderr, "%s\033[K", line);
  std::fflush(stderr);
}

// Each input's peak and clipping in the recording as written, read back and
// judged as vellisk-ir reads and judges a recording; with an irfile, its
// report gives the warnings. Returns "" or why the file could not be read.
std::string report_inputs(const Plan& plan, const LiveSetup& setup) {
  std::unique_ptr<FileSource> opened;
  try {
    opened = std::make_unique<FileSource>(plan.recording);
  } catch (const Error& e) {
    return option_words(e);
  }
  FileSource& recording = *opened;
  const int channels = recording.info().channels;
  constexpr std::int64_t kBlock = 16384;
  std::vector<std::vector<float>> blocks(static_cast<std::size_t>(channels),
                                         std::vector<float>(kBlock));
  std::vector<float*> out;
  for (std::vector<float>& b : blocks) out.push_back(b.data());
  std::vector<SampleLevels> levels(static_cast<std::size_t>(channels));
  for (std::int64_t at = 0; at < recording.info().frames; at += kBlock) {
    if (std::optional<Problem> p =
            recording.read(at, kBlock, 0, channels, out.data(), levels.data())) {
      return p->message;
    }
  }
  for (std::size_t c = 0; c < levels.size(); ++c) {
    const float peak = levels[c].peak;
    if (peak > 0) {
      report("Input %zu (%s): peak %.2f dBFS", c + 1, setup.capture[c].c_str(), dbfs(peak));
    } else {
      report("Input %zu (%s): silent, every sample is 0", c + 1, setup.capture[c].c_str());
    }
  }
  if (plan.response) return "";
  for (std::size_t c = 0; c < levels.size(); ++c) {
    for (const Warning& w : recording_warnings(levels[c], static_cast<int>(c) + 1)) {
      std::fprintf(stderr, "Warning: %s\n", warning_text(w).c_str());
    }
  }
  return "";
}

void report_xruns(const LiveResult& r) {
  if (r.xruns > 0) {
    std::fprintf(stderr,
                 "Warning: the JACK server reported %" PRId64
                 " xruns (late cycles) during the measurement; a sound card may have skipped "
                 "samples then: if the response looks wrong, use a longer period and measure "
                 "again\n",
                 r.xruns);
  }
}

// The problem of other clients on the run's ports, with warnings printed or not: they are
// checked before the banner, and again once the run's own ports are
// connected, when an instance started at the same moment shows.
std::optional<Problem> sharing_problem(const LiveClient& client, const LiveSetup& setup,
                                       bool warn) {
  std::vector<std::string> warnings;
  std::optional<Problem> p =
      client.check_sharing(setup.playback, setup.capture, warnings, option_name);
  if (warn) {
    for (const std::string& w : warnings) std::fprintf(stderr, "Warning: %s\n", w.c_str());
  }
  return p;
}

// The server's checks: its rate, and the ports, defaults filled in.
std::string server_error(const MeasureOptions& o, const Plan& plan, const LiveClient& client,
                         LiveSetup& setup) {
  if (const std::optional<Problem> p = client.check_rate(plan.params.rate)) return option_line(*p);
  setup.design = plan.design;
  setup.repeats = static_cast<int>(o.repeats);
  setup.playback = o.outs;
  setup.capture = o.ins;
  try {
    client.resolve(setup.playback, false, "--out");
    client.resolve(setup.capture, true, "--in");
  } catch (const Error& e) {
    return option_words(e);
  }
  std::vector<std::string> warnings;
  if (const std::optional<Problem> p =
          check_live_ports(setup.playback, setup.capture, warnings, option_name)) {
    return option_line(*p);
  }
  for (const std::string& w : warnings) std::fprintf(stderr, "Warning: %s\n", w.c_str());
  if (const std::optional<Problem> p = sharing_problem(client, setup, true)) {
    return option_line(*p);
  }
  if (plan.response) {
    // The text files' names follow the channels, known now: every name is
    // checked before anything plays.
    std::vector<std::string> names;
    const auto channels = static_cast<int>(setup.capture.size());
    if (std::string e = response_names_error(plan.job, channels, names); !e.empty()) return e;
  }
  setup.tail = std::llround(o.tail * plan.params.rate);
  if (plan.response) {
    // The whole response window, however late the chain delivers it: the
    // latency the ports report, and a period for a client between them.
    setup.tail = std::max<std::int64_t>(
        setup.tail,
        std::llround(plan.job.request.length * plan.params.rate) +
            client.latency(setup.playback, setup.capture) + client.period());
    // The library's checks of the recording to be made (the reference channel among the
    // inputs, the memory, the calibration files), before anything plays.
    const auto channels = static_cast<int>(setup.capture.size());
    if (std::string e = planned_recording_error(plan.job, channels, recorded_frames(setup));
        !e.empty()) {
      return e;
    }
  }
  return "";
}

// The recording's file, created among files: the writer, or none with error saying why.
std::unique_ptr<SoundFileWriter> create_recording(const Plan& plan, int channels, OutputSet& files,
                                                  std::string& error) {
  const int fd = files.create(plan.recording, error);
  std::unique_ptr<SoundFileWriter> file;
  if (fd >= 0) {
    SoundFileLayout layout;
    layout.format = plan.format;
    layout.channels = channels;
    layout.rate = static_cast<int>(plan.params.rate);
    try {
      file = std::make_unique<SoundFileWriter>(fd, layout);
    } catch (const Error& e) {
      error = option_words(e);
    }
  }
  return file;
}

// The banner, then the server, the ports and what the run plays and records.
void report_run(const MeasureOptions& o, const Plan& plan, const LiveClient& client,
                const LiveSetup& setup) {
  const std::int64_t total = recorded_frames(setup);
  std::printf("%s", kMeasureBanner);
  report("Server: %s, %s Hz, period %u frames", server_name().c_str(), text(client.rate()).c_str(),
         client.period());
  for (const std::string& port : setup.playback) report("Playing to: %s", port.c_str());
  for (const std::string& port : setup.capture) report("Recording from: %s", port.c_str());
  report("Sweep file: %" PRId64 " samples, played %ld %s; recording %" PRId64 " frames (%.3f s)",
         sweep_file_length(plan.design), o.repeats,
         o.repeats == 1 ? "time" : "times", total, static_cast<double>(total) / plan.params.rate);
}

// The line of a measurement that did not complete: why (a failed write as the file tells it),
// and unless it was refused before anything played, that no recording was kept.
std::string incomplete_line(const Plan& plan, const LiveResult& result, const std::string& closed) {
  const std::string why = result.outcome == LiveOutcome::failed && !closed.empty()
                              ? std::string("Unable to write ") + plan.recording + ": " + closed
                              : problem_line(result);
  return result.outcome == LiveOutcome::refused ? why : why + "; no recording was kept";
}

// Plays and records into the recording, stop signals held since the client
// opened; returns the status, or ends the process by a signal that came.
int record(const MeasureOptions& o, const Plan& plan, LiveClient& client, const LiveSetup& setup,
           HeldSignals& held) {
  const auto channels = static_cast<int>(setup.capture.size());
  OutputSet files;
  std::string error;
  const std::unique_ptr<SoundFileWriter> file = create_recording(plan, channels, files, error);
  if (!file) return fail(std::string("Unable to write ") + plan.recording + ": " + error);
  report_run(o, plan, client, setup);

  const bool terminal = isatty(STDERR_FILENO) != 0;
  const double rate = plan.params.rate;
  FileSink sink{*file};
  const LiveResult result = measure_live(
      client, setup, sink,
      {[&held] { return held.pending(); }, [&] { return sharing_problem(client, setup, false); },
       [&](const LiveProgress& p) {
         if (terminal) show_progress(p, rate);
       }});
  if (terminal) std::fprintf(stderr, "\r\033[K");
  client.close();
  const std::string closed = sink.close();
  // A signal that came during the stream ends the run now, its recording removed.
  held.honour();
  held.release();
  if (result.outcome != LiveOutcome::complete) {
    files.discard();
    return fail(incomplete_line(plan, result, closed));
  }
  if (!closed.empty())
    return fail(std::string("Unable to write ") + plan.recording + ": " + closed);
  if (std::string e = files.commit(); !e.empty()) return fail(e);
  const double period = result.period / plan.params.rate;
  report("Callback: at most %.3f ms per cycle, %.2f %% of the %.3f ms period",
         result.worst_cycle * 1e3, 100 * result.worst_cycle / period, period * 1e3);
  if (std::string e = report_inputs(plan, setup); !e.empty()) return fail(e);
  report_xruns(result);
  report("Recording written: %s", plan.recording);
  return EXIT_SUCCESS;
}

// The number of arguments: the eight numbers (none with --sweep), then the recording and an
// irfile, or nothing more with --level.
std::string arguments_error(const MeasureOptions& o, Plan& plan) {
  if (std::string e = sweep_and_numbers_error(o.sweep, o.arguments.size()); !e.empty()) return e;
  plan.files = o.sweep.empty() ? 8 : 0;
  const std::size_t given = o.arguments.size();
  const std::string program = o.sweep.empty() ? "vellisk-measure" : "vellisk-measure --sweep";
  if (o.level) {
    if (given == plan.files) return "";
    return std::string("vellisk-measure --level takes ") +
           (o.sweep.empty() ? "the eight numbers" : "no arguments beside --sweep") + ", not " +
           std::to_string(given) + " arguments: it plays a burst and writes no file";
  }
  if (given == plan.files + 1 || given == plan.files + 2) return "";
  return program + " takes " + std::to_string(plan.files + 1) + " or " +
         std::to_string(plan.files + 2) + " arguments after its options, not " +
         std::to_string(given) + "; vellisk-measure --help shows them";
}

// Each input's peak, peak-to-noise ratio and the amplitude for a peak of kLevelTargetDbfs;
// a warning for an input that clips or heard nothing.
void report_levels(const Plan& plan, const LiveSetup& setup,
                   const std::vector<InputLevel>& levels) {
  const double amplitude = std::abs(plan.params.amplitude);
  for (std::size_t c = 0; c < levels.size(); ++c) {
    const InputLevel& l = levels[c];
    const std::string input = "Input " + std::to_string(c + 1) + " (" + setup.capture[c] + ")";
    if (l.silent()) {
      report("%s: silent, every sample is 0", input.c_str());
      std::fprintf(stderr,
                   "Warning: input %zu (%s) recorded nothing of the burst: check that --out "
                   "reaches it and that its gain is up\n",
                   c + 1, setup.capture[c].c_str());
      continue;
    }
    const std::string noise =
        l.has_noise() ? formatted("peak-to-noise %.1f dB", l.peak_to_noise_db())
                      : std::string("no noise around the burst (a digital path)");
    if (l.clips()) {
      report("%s: peak %.2f dBFS, %" PRId64 " samples at full scale, %s", input.c_str(),
             l.peak_dbfs(), l.clipped, noise.c_str());
      std::fprintf(stderr,
                   "Warning: input %zu (%s) clips at amplitude %g: lower the gain before it, or "
                   "the amplitude, and run --level again\n",
                   c + 1, setup.capture[c].c_str(), amplitude);
      continue;
    }
    const double suggested = suggested_amplitude(amplitude, l.peak);
    if (suggested <= 1) {
      report("%s: peak %.2f dBFS, %s; amplitude %.3g gives a peak of about %g dBFS",
             input.c_str(), l.peak_dbfs(), noise.c_str(), suggested, kLevelTargetDbfs);
    } else {
      report("%s: peak %.2f dBFS, %s; amplitude 1 gives a peak of only about %.1f dBFS: raise "
             "the gain before the input",
             input.c_str(), l.peak_dbfs(), noise.c_str(),
             l.peak_dbfs() - 20 * std::log10(amplitude));
    }
  }
}

// Plays the burst, meters the inputs as they are recorded, and reports their levels.
int level(const Plan& plan, LiveClient& client, LiveSetup& setup, HeldSignals& held) {
  const auto channels = static_cast<int>(setup.capture.size());
  setup.repeats = 1;
  setup.tail = client.latency(setup.playback, setup.capture) + client.period();
  const double rate = plan.params.rate;
  report("Level: a burst of %g s from %g Hz to %g Hz at amplitude %g, %.1f s in all",
         plan.design.sweeplen / rate, plan.params.hzstart, plan.params.hzend,
         plan.params.amplitude, static_cast<double>(recorded_frames(setup)) / rate);
  for (const std::string& port : setup.playback) report("Playing to: %s", port.c_str());
  LevelMeter meter(channels, rate);
  const LiveResult result =
      measure_live(client, setup, meter,
                   {[&held] { return held.pending(); },
                    [&] { return sharing_problem(client, setup, false); },
                    [](const LiveProgress&) {}});
  client.close();
  held.honour();
  held.release();
  if (result.outcome != LiveOutcome::complete) return fail(problem_line(result));
  report_levels(plan, setup, meter.levels());
  report_xruns(result);
  return EXIT_SUCCESS;
}

}  // namespace

int run_measure(int argc, char** argv) {
  MeasureOptions o;
  if (const std::string e = parse_measure_options(argc, argv, o); !e.empty()) return fail(e);
  if (o.version) {
    print_line(kMeasureVersion);
    return EXIT_SUCCESS;
  }
  if (o.help || (o.arguments.empty() && !o.list && !o.level && o.sweep.empty())) {
    for (const char* line : kMeasureHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  Plan plan;
  if (!o.list) {
    if (const std::string e = arguments_error(o, plan); !e.empty()) return fail(e);
    if (const std::string e = plan_error(o, plan); !e.empty()) return fail(e);
  }
  // From here until the client closes, a stop signal waits to be noticed
  // between the server's calls, which it would otherwise interrupt.
  HeldSignals held;
  const auto refuse = [&held](const std::string& e) {
    held.honour();
    return fail(e);
  };
  LiveClient client;
  try {
    client.open("vellisk-measure");
  } catch (const Error& e) {
    return refuse(option_words(e));
  }
  if (o.list) {
    const int status = list_ports(client);
    client.close();
    held.honour();
    return status;
  }
  LiveSetup setup;
  if (const std::string e = server_error(o, plan, client, setup); !e.empty()) return refuse(e);
  if (o.level) return level(plan, client, setup, held);
  if (const int status = record(o, plan, client, setup, held); status != EXIT_SUCCESS) {
    return status;
  }
  if (!plan.response) return EXIT_SUCCESS;
  print_line("");
  return run_response_job(plan.job);
}

}  // namespace vellisk
