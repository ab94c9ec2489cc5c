// The run of vellisk-room, in phases: options, refusals, one file at a time, outputs.
#include "run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/console.h"
#include "common/outputs.h"
#include "common/paths.h"
#include "common/process_guard.h"
#include "common/room_report.h"
#include "inputs.h"
#include "options.h"
#include "plot/room_figure.h"
#include "texts.h"
#include "vellisk/files.h"
#include "vellisk/number_text.h"
#include "vellisk/problem.h"
#include "vellisk/room.h"

namespace vellisk {

namespace {

// What the run writes besides its report, with the option that names each.
struct Output {
  const char* option;
  std::string name;
};

std::vector<Output> outputs_of(const RoomOptions& o) {
  std::vector<Output> outputs;
  if (!o.csv.empty()) outputs.push_back({"--csv", o.csv});
  if (!o.json.empty()) outputs.push_back({"--json", o.json});
  if (!o.plot.empty()) outputs.push_back({"--plot", o.plot});
  return outputs;
}

// Whether standard output is a pipe whose reader has gone and no file is
// asked for: then nothing is left to do, and the run ends quietly.
bool quiet_end(const RoomOptions& o) { return output_error() == EPIPE && outputs_of(o).empty(); }

// Whether a file can be made in the folder of name, tried by making and
// removing one: permissions alone do not tell (root, read-only mounts, /proc).
// A name that leads to something other than a regular file is written directly.
std::string creation_error(const std::string& name) {
  const std::string path = final_name(name.c_str());
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return "";
  const std::string::size_type slash = path.rfind('/');
  std::string probe = (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + ".vellisk-room.XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) return std::strerror(errno);
  close(fd);
  unlink(probe.c_str());
  return "";
}

// The outputs: each named, writable where it is, and none the same as an
// input, a standard stream or another output.
std::string names_error(const RoomOptions& o) {
  const std::vector<Output> outputs = outputs_of(o);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const char* name = outputs[i].name.c_str();
    for (const char* file : o.files) {
      if (same_file(file, name)) {
        return std::string(outputs[i].option) + " (" + name + ") must not name irfile " + file +
               ": it would overwrite it";
      }
    }
    if (!o.levels.empty() && same_file(o.levels.c_str(), name)) {
      return std::string(outputs[i].option) + " (" + name + ") must not name the --levels file: " +
             "it would overwrite it";
    }
    if (std::string e = standard_stream_error(outputs[i].option, name); !e.empty()) return e;
    for (std::size_t j = 0; j < i; ++j) {
      if (same_file(outputs[j].name.c_str(), name)) {
        return std::string(outputs[j].option) + " and " + outputs[i].option + " (" +
               outputs[j].name + ", " + name + ") must not name the same file";
      }
    }
    struct stat st {};
    if (stat(final_name(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      return std::string(outputs[i].option) + " (" + name + ") is a folder, not a file";
    }
    std::string e = output_error(name);
    if (e.empty()) e = creation_error(name);
    if (!e.empty()) return "Unable to write " + outputs[i].name + ": " + e;
  }
  return "";
}

// The options that only headerless files use, against the files given.
std::string headerless_error(const RoomOptions& o) {
  for (const char* name : o.files) {
    if (is_headerless_name(name)) return "";
  }
  if (o.rate != 0) return "--rate is for headerless files; none is given";
  if (o.channels != 0) return "--channels is for headerless files; none is given";
  return "";
}

// The threads that fit the analysis of every file in the memory the machine allows.
std::string memory_error(const IrFiles& inputs, int& threads) {
  try {
    for (const IrFileInfo& f : inputs.files()) {
      threads = room_threads_in_memory(f.channels, f.frames, f.rate, threads,
                                       "irfile (" + f.name + ")");
    }
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

// The figure's row of a channel: each band's curve and fitted line, and its times.
RoomFigureChannel figure_channel(const std::string& file, std::size_t channel, ChannelAnalysis& a) {
  RoomFigureChannel fc;
  fc.title = file + ", channel " + std::to_string(channel + 1);
  if (a.speech.sti) {
    fc.title += formatted(": STI %.2f (%s)", rounded(*a.speech.sti, kStiDecimals), a.speech.rating.c_str());
  }
  for (BandResult& b : a.bands) {
    RoomFigureBand fb;
    fb.label = b.label;
    fb.t = std::move(b.parameters.curve_t);
    fb.db = std::move(b.parameters.curve_db);
    const std::optional<DecayFit>& fit =
        b.parameters.t30_fit ? b.parameters.t30_fit : b.parameters.t20_fit;
    if (fit) {
      fb.fitted = true;
      fb.fit_is_t20 = !b.parameters.t30_fit;
      fb.t0 = fit->t0, fb.t1 = fit->t1, fb.level0 = fit->level0, fb.level1 = fit->level1;
    }
    fb.t30 = b.parameters.t30;
    fb.t20 = b.parameters.t20;
    fb.edt = b.parameters.edt;
    fc.bands.push_back(std::move(fb));
  }
  return fc;
}

// The figure's row of the average: each band's means and deviations, the STI in the title.
RoomFigureAverage average_figure(const SpatialAverage& average) {
  RoomFigureAverage fa;
  fa.title = formatted("Average of %d position%s", average.positions, average.positions == 1 ? "" : "s");
  const Spread& sti = average.single.sti.spread;
  if (sti.count > 0) {
    const double mean = rounded(sti.mean, kStiDecimals);
    fa.title += formatted(": STI %.2f (", mean);
    if (sti.deviation()) fa.title += formatted("SD %.2f, ", rounded(*sti.deviation(), kStiDecimals));
    fa.title += sti_rating(mean) + ")";
  }
  for (const AverageBand& b : average.bands) {
    if (!(b.centre > 0)) continue;  // the broadband has no place on the band axis
    RoomFigureAverageBand& fb = fa.bands.emplace_back();
    fb.label = b.label;
    fb.t30 = b.t30.spread.average(), fb.t30_sd = b.t30.spread.deviation();
    fb.t20 = b.t20.spread.average(), fb.t20_sd = b.t20.spread.deviation();
    fb.edt = b.edt.spread.average(), fb.edt_sd = b.edt.spread.deviation();
    fb.c80 = b.c80.spread.average(), fb.c80_sd = b.c80.spread.deviation();
  }
  return fa;
}

// What the analysis of the files shares: the levels for the STI, the analyser (which keeps the
// bands of the last file's rate and its buffers), and the average and figure it adds to.
struct RunState {
  std::optional<SpeechLevels> levels;
  RoomAnalyser analyser;
  std::vector<float> samples;  // the channel at work, kept from channel to channel
  SpatialAverage* average = nullptr;
  RoomFigure* figure = nullptr;
};

// Analyses every channel of file i, one after another, and reports each.
std::string analyse_file(const RoomOptions& o, IrFiles& inputs, std::size_t i, int threads,
                         RunState& run, FileResult& result) {
  RoomFigure* figure = run.figure;
  const IrFileInfo& info = inputs.files()[i];
  result.file = info.name;
  result.rate = info.rate;
  RoomSetup setup;
  setup.third = o.third;
  setup.rate = info.rate;
  setup.curve_points = figure != nullptr ? 400 : 0;
  setup.threads = threads;
  setup.levels = run.levels;

  if (std::string e = inputs.load(i, 0, run.samples); !e.empty()) return e;
  report("%s: %s, %d %s, %" PRId64 " frames at %s Hz", info.name.c_str(), info.format.c_str(),
         info.channels, info.channels == 1 ? "channel" : "channels", info.frames,
         number_text(info.rate).c_str());
  if (info.measured) print_line(measured_line(*info.measured).c_str());
  if (const std::vector<std::string> left_out = room_bands_left_out(setup); !left_out.empty()) {
    std::string left = "Bands left out, their upper edge above 0.45 x rate:";
    for (std::size_t b = 0; b < left_out.size(); ++b)
      left += (b == 0 ? " " : ", ") + band_name(left_out[b]);
    print_line(left.c_str());
  }
  for (std::size_t c = 0; c < static_cast<std::size_t>(info.channels); ++c) {
    if (c > 0) {
      if (std::string e = inputs.load(i, static_cast<int>(c), run.samples); !e.empty()) return e;
    }
    ChannelAnalysis a = run.analyser.analyse(setup, run.samples.data(), info.frames);
    for (const std::string& l : channel_table(a, static_cast<int>(c + 1))) print_line(l.c_str());
    if (run.average != nullptr) {
      add_position(*run.average, info.name + ", channel " + std::to_string(c + 1), a);
    }
    if (figure != nullptr && a.onset_found) {
      figure->channels.push_back(figure_channel(info.name, c, a));
    }
    for (BandResult& b : a.bands) {
      std::vector<double>().swap(b.parameters.curve_t);
      std::vector<double>().swap(b.parameters.curve_db);
    }
    result.channels.push_back(std::move(a));
    // A report nobody reads, and no file to write: nothing left to do.
    if (quiet_end(o)) return "";
  }
  return "";
}

// Analyses the irfiles in turn, each streamed into the CSV and the JSON once analysed; written
// counts the files the JSON holds.
std::string analyse_files(const RoomOptions& o, IrFiles& inputs, int threads, RunState& run,
                          StreamedOutput& csv, StreamedOutput& json, std::size_t& written) {
  for (std::size_t i = 0; i < inputs.files().size() && !quiet_end(o); ++i) {
    FileResult result;
    if (std::string e = analyse_file(o, inputs, i, threads, run, result); !e.empty()) return e;
    csv.write(csv_rows(result, o.third));
    if (json.is_open()) {
      const std::optional<MeasuredResponse>& measured = inputs.files()[i].measured;
      json.write(json_file_text(result, measured ? &*measured : nullptr, written++ == 0));
    }
  }
  return "";
}

// The CSV and JSON files asked for, created among the run's outputs.
std::string open_reports(const RoomOptions& o, OutputSet& files, StreamedOutput& csv,
                         StreamedOutput& json) {
  if (!o.csv.empty()) {
    if (std::string e = csv.open(files, o.csv); !e.empty()) return e;
  }
  if (!o.json.empty()) return json.open(files, o.json);
  return "";
}

// The figure drawn and written among the run's outputs.
std::string write_figure(const RoomFigure& figure, const std::string& name, OutputSet& files) {
  std::string svg;
  if (const std::string e = draw_room_figure(figure, svg); !e.empty()) {
    return "Unable to draw the figure: " + e;
  }
  std::string e;
  const int fd = files.create(name, e);
  if (fd >= 0) e = write_text(fd, svg);
  return e.empty() ? "" : "Unable to write " + name + ": " + e;
}

// The refusals before any output: the irfiles and options, the levels file, the irfiles read to
// their ends, and the threads whose analysis of each fits in memory.
std::string prepare(const RoomOptions& o, RunState& run, IrFiles& inputs, int& threads) {
  if (o.files.empty()) return "no irfile given; vellisk-room --help shows the usage";
  if (std::string e = headerless_error(o); !e.empty()) return e;
  if (std::string e = names_error(o); !e.empty()) return e;
  if (!o.levels.empty()) {
    try {
      run.levels = read_speech_levels(o.levels, "--levels");
    } catch (const Error& e) {
      return e.what();
    }
  }
  if (std::string e = inputs.read(o); !e.empty()) return e;
  threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return memory_error(inputs, threads);
}

}  // namespace

int run_room(int argc, char** argv) {
  RoomOptions o;
  if (const std::string e = parse_room_options(argc, argv, o); !e.empty()) return fail(e);
  if (o.version) {
    print_line(kRoomVersion);
    return EXIT_SUCCESS;
  }
  if (o.help || argc == 1) {
    for (const char* line : kRoomHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  RunState run;
  IrFiles inputs;
  int threads = 1;
  if (const std::string e = prepare(o, run, inputs, threads); !e.empty()) return fail(e);

  // The CSV and JSON are written as the files are analysed, under temporary names moved into
  // place once every output is whole.
  OutputSet files;
  StreamedOutput csv, json;
  if (const std::string e = open_reports(o, files, csv, json); !e.empty()) return fail(e);
  std::printf("%s", kRoomBanner);
  print_line(describe_sti_method(o.levels).c_str());
  csv.write(csv_header());
  json.write(json_opening());
  RoomFigure figure;
  figure.title = o.third ? "Third-octave bands" : "Octave bands";
  SpatialAverage average = start_average(o.third);
  if (o.average) run.average = &average;
  if (!o.plot.empty()) run.figure = &figure;
  std::size_t written = 0;
  if (const std::string e = analyse_files(o, inputs, threads, run, csv, json, written); !e.empty())
    return fail(e);
  if (o.average) {
    for (const std::string& l : average_table(average)) print_line(l.c_str());
    csv.write(csv_average_rows(average));
    figure.average = average_figure(average);
  }
  json.write(json_closing(run.levels, o.average ? &average : nullptr, written > 0));

  if (!o.plot.empty()) {
    if (const std::string e = write_figure(figure, o.plot, files); !e.empty()) return fail(e);
  }
  for (StreamedOutput* out : {&csv, &json}) {
    if (const std::string e = out->close(); !e.empty()) return fail(e);
  }
  if (const std::string e = files.commit(); !e.empty()) return fail(e);
  if (!o.csv.empty()) print_line_path("CSV written: ", o.csv.c_str());
  if (!o.json.empty()) print_line_path("JSON written: ", o.json.c_str());
  if (!o.plot.empty()) print_line_path("Figure written: ", o.plot.c_str());
  return EXIT_SUCCESS;
}

}  // namespace vellisk
