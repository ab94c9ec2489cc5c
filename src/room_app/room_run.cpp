// The run of vellisk-room, in phases: options, refusals, one file at a time, outputs.
#include "room_app/room_run.h"

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

#include "cli/console.h"
#include "cli/outputs.h"
#include "plot/room_figure.h"
#include "response/recording.h"
#include "room/room.h"
#include "room_app/options.h"
#include "room_app/report.h"
#include "room_app/room_texts.h"
#include "sweep/validation.h"

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

// The outputs against the inputs, the standard streams and one another.
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
    if (std::string e = standard_stream_error(outputs[i].option, name); !e.empty()) return e;
    for (std::size_t j = 0; j < i; ++j) {
      if (same_file(outputs[j].name.c_str(), name)) {
        return std::string(outputs[j].option) + " and " + outputs[i].option + " (" +
               outputs[j].name + ", " + name + ") must not name the same file";
      }
    }
  }
  return "";
}

// Opens an irfile: headerless by its name, with the channels given.
std::string open_irfile(const RoomOptions& o, const char* name, Recording& r) {
  return r.open(name, is_headerless_name(name), o.channels != 0 ? static_cast<int>(o.channels) : 1,
                "irfile");
}

// Opens each file once before any work, so that a run refuses what it cannot
// read before it reports anything.
std::string inputs_error(const RoomOptions& o) {
  bool any_headerless = false;
  for (const char* name : o.files) {
    const bool headerless = is_headerless_name(name);
    any_headerless = any_headerless || headerless;
    if (headerless && o.rate == 0) {
      return std::string("irfile (") + name +
             ") is headerless float32: give its sample rate with --rate";
    }
    Recording r;
    if (std::string e = open_irfile(o, name, r); !e.empty()) return e;
    if (r.info().frames < 1) return std::string("irfile (") + name + ") holds no samples";
  }
  if (!any_headerless && o.rate != 0) return "--rate is for headerless files; none is given";
  if (!any_headerless && o.channels != 0) {
    return "--channels is for headerless files; none is given";
  }
  return "";
}

// Reads every channel of a file, then analyses them one after another.
// plan holds the bands of the last file's rate, planned again only when it changes.
std::string analyse_file(const RoomOptions& o, const char* name, BandPlan& plan, double& plan_rate,
                         FileResult& result, RoomFigure* figure) {
  const bool headerless = is_headerless_name(name);
  Recording recording;
  if (std::string e = open_irfile(o, name, recording); !e.empty()) return e;
  const RecordingInfo& info = recording.info();
  result.file = name;
  result.rate = headerless ? o.rate : info.rate;
  RoomSetup setup;
  setup.third = o.third;
  setup.rate = result.rate;
  setup.curve_points = figure != nullptr ? 400 : 0;
  setup.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (plan_rate != setup.rate) {
    plan = plan_bands(setup);
    plan_rate = setup.rate;
  }

  const auto frames = static_cast<std::size_t>(info.frames);
  std::vector<std::vector<float>> samples(static_cast<std::size_t>(info.channels),
                                          std::vector<float>(frames));
  std::vector<float*> rows;
  for (std::vector<float>& s : samples) rows.push_back(s.data());
  if (std::string e = recording.read(0, info.frames, 0, info.channels, rows.data()); !e.empty()) {
    return e;
  }
  char line[256];
  std::snprintf(line, sizeof line, "%s: %s, %d %s, %" PRId64 " frames at %g Hz", name,
                info.format.c_str(), info.channels, info.channels == 1 ? "channel" : "channels",
                info.frames, result.rate);
  print_line(line);
  if (!plan.left_out.empty()) {
    std::string left = "Bands left out, their upper edge above 0.45 x rate:";
    for (const std::string& b : plan.left_out) left += " " + b;
    print_line(left.c_str());
  }
  std::vector<double> x(frames);
  for (std::size_t c = 0; c < samples.size(); ++c) {
    std::copy(samples[c].begin(), samples[c].end(), x.begin());
    std::vector<float>().swap(samples[c]);
    ChannelAnalysis a = analyse_channel(setup, plan, x);
    for (const std::string& l : channel_table(a, static_cast<int>(c + 1))) print_line(l.c_str());
    if (figure != nullptr && a.onset_found) {
      RoomFigureChannel fc;
      fc.title = std::string(name) + ", channel " + std::to_string(c + 1);
      for (BandResult& b : a.bands) {
        RoomFigureBand fb;
        fb.label = b.label;
        fb.t = std::move(b.parameters.curve_t);
        fb.db = std::move(b.parameters.curve_db);
        if (const std::optional<DecayFit>& fit = b.parameters.t30_fit) {
          fb.fitted = true;
          fb.t0 = fit->t0, fb.t1 = fit->t1, fb.level0 = fit->level0, fb.level1 = fit->level1;
        }
        fb.t30 = b.parameters.t30;
        fb.edt = b.parameters.edt;
        fc.bands.push_back(std::move(fb));
      }
      figure->channels.push_back(std::move(fc));
    }
    for (BandResult& b : a.bands) {
      std::vector<double>().swap(b.parameters.curve_t);
      std::vector<double>().swap(b.parameters.curve_db);
    }
    result.channels.push_back(std::move(a));
  }
  return "";
}

// Every output under a temporary name, moved into place once all are whole.
std::string write_phase(const RoomOptions& o, const std::string& csv, const std::string& json,
                        const std::string& svg) {
  OutputSet files;
  for (const Output& out : outputs_of(o)) {
    const std::string& text = out.name == o.csv ? csv : out.name == o.json ? json : svg;
    std::string e;
    const int fd = files.create(out.name, e);
    if (fd >= 0) e = write_text(fd, text);
    if (!e.empty()) return "Unable to write " + out.name + ": " + e;
  }
  return files.commit();
}

}  // namespace

int run_room(int argc, char** argv) {
  RoomOptions o;
  if (const std::string e = parse_room_options(argc, argv, o); !e.empty()) return fail(e);
  if (o.version) {
    print_line(kRoomVersion);
    return EXIT_SUCCESS;
  }
  if (o.help || o.files.empty()) {
    for (const char* line : kRoomHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  if (const std::string e = names_error(o); !e.empty()) return fail(e);
  if (const std::string e = inputs_error(o); !e.empty()) return fail(e);

  std::printf("%s", kRoomBanner);
  std::string csv = csv_header();
  nlohmann::ordered_json json = {{"files", nlohmann::ordered_json::array()}};
  RoomFigure figure;
  figure.title = o.third ? "Third-octave bands" : "Octave bands";
  BandPlan plan;
  double plan_rate = 0;
  for (const char* name : o.files) {
    FileResult result;
    if (const std::string e =
            analyse_file(o, name, plan, plan_rate, result, o.plot.empty() ? nullptr : &figure);
        !e.empty()) {
      return fail(e);
    }
    if (!o.csv.empty()) csv += csv_rows(result, o.third);
    if (!o.json.empty()) json["files"].push_back(file_json(result));
  }

  std::string svg;
  if (!o.plot.empty()) {
    if (const std::string e = draw_room_figure(figure, svg); !e.empty()) {
      return fail("Unable to draw the figure: " + e);
    }
  }
  const std::string json_text = o.json.empty() ? "" : json.dump(1) + "\n";
  if (const std::string e = write_phase(o, csv, json_text, svg); !e.empty()) return fail(e);
  if (!o.csv.empty()) print_line_path("CSV written: ", o.csv.c_str());
  if (!o.json.empty()) print_line_path("JSON written: ", o.json.c_str());
  if (!o.plot.empty()) print_line_path("Figure written: ", o.plot.c_str());
  return EXIT_SUCCESS;
}
