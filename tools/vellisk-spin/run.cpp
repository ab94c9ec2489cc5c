// The run of vellisk-spin: the responses read and refused naming the line, the curves, the
// rating and the beamwidths, and their files written together.
#include "run.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/outputs.h"
#include "common/paths.h"
#include "common/run_main.h"
#include "options.h"
#include "spin_figure.h"
#include "texts.h"
#include "vellisk/spin.h"

namespace vellisk {
namespace {

double rounded(double x, double scale) { return std::round(x * scale) / scale + 0.0; }

// The outputs against the inputs, the standard streams and each other, and their folders.
std::string names_error(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const char* name = outputs[i].c_str();
    for (const std::string& in : inputs) {
      if (same_file(in.c_str(), name)) {
        return "input and output (" + in + ", " + outputs[i] + ") must not name the same file: the output "
               "would overwrite an input";
      }
    }
    if (std::string e = standard_stream_error("output", name); !e.empty()) return e;
    for (std::size_t j = 0; j < i; ++j) {
      if (same_file(outputs[j].c_str(), name)) {
        return "outputs (" + outputs[j] + ", " + outputs[i] + ") must not name the same file: one would "
               "overwrite the other";
      }
    }
    if (std::string e = output_error(outputs[i]); !e.empty()) return "Unable to write " + outputs[i] + ": " + e;
  }
  return "";
}

std::string angles_text(const std::vector<SpinAngle>& angles) {
  std::string t;
  for (const SpinAngle& a : angles) t += (t.empty() ? "" : ", ") + spin_angle_text(a);
  return t;
}

std::string cta_text(const SpinCurves& c, const SpinSet& set) {
  std::string t = std::string("# ") + kSpinVersion + "\n";
  t += "# The curves of ANSI/CTA-2034-A (dB; the indices in dB over the listening window's)\n";
  if (!set.filled_in.empty()) t += "# Filled in from their neighbours: " + angles_text(set.filled_in) + "\n";
  t += "frequency_hz,on_axis,listening_window,floor_bounce,ceiling_bounce,front_wall,side_wall,rear_wall,"
       "early_reflections,horizontal_early_reflections,vertical_early_reflections,sound_power,"
       "predicted_in_room,erdi,spdi\n";
  const std::vector<double>* columns[] = {
      &c.on_axis, &c.listening_window, &c.floor_bounce, &c.ceiling_bounce, &c.front_wall, &c.side_wall,
      &c.rear_wall, &c.early_reflections, &c.horizontal_early_reflections, &c.vertical_early_reflections,
      &c.sound_power, &c.predicted_in_room, &c.erdi, &c.spdi};
  char cell[48];
  for (std::size_t i = 0; i < c.frequencies.size(); ++i) {
    std::snprintf(cell, sizeof cell, "%.3f", c.frequencies[i]);
    t += cell;
    for (const std::vector<double>* column : columns) {
      std::snprintf(cell, sizeof cell, ",%.2f", rounded((*column)[i], 100));
      t += cell;
    }
    t += "\n";
  }
  return t;
}

std::string json_text(const PreferenceRating& r, const Beamwidths& b, const SpinSet& set) {
  nlohmann::ordered_json j;
  j["program"] = kSpinVersion;
  j["preference_rating"] = {{"rating", rounded(r.rating, 1000)},
                            {"rating_with_subwoofer", rounded(r.rating_with_subwoofer, 1000)},
                            {"nbd_on_db", rounded(r.nbd_on, 1000)},
                            {"nbd_pir_db", rounded(r.nbd_pir, 1000)},
                            {"lfx_hz", rounded(r.lfx_hz, 100)},
                            {"lfx", rounded(r.lfx, 10000)},
                            {"lfx_below_grid", r.lfx_below_grid},
                            {"sm_pir", rounded(r.sm_pir, 10000)}};
  nlohmann::ordered_json bands = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < b.frequencies.size(); ++i) {
    bands.push_back({{"frequency_hz", rounded(b.frequencies[i], 10)},
                     {"horizontal_deg", rounded(b.horizontal_deg[i], 10)},
                     {"vertical_deg", rounded(b.vertical_deg[i], 10)}});
  }
  j["beamwidths_6db"] = bands;
  nlohmann::ordered_json filled = nlohmann::ordered_json::array();
  for (const SpinAngle& a : set.filled_in) filled.push_back(spin_angle_text(a));
  j["filled_in"] = filled;
  return j.dump(2) + "\n";
}

void report(const SpinSet& set, const SpinCurves& c) {
  const std::size_t points = set.frequencies.size();
  print_line(formatted("Responses: both orbits every 10 degrees, %zu frequencies from %.2f Hz to %.2f Hz",
                       points, set.frequencies.front(), set.frequencies.back()).c_str());
  if (!set.filled_in.empty()) print_line(("Filled in from their neighbours: " + angles_text(set.filled_in)).c_str());
  if (std::optional<Problem> p = check_rating_range(c.frequencies.front(), c.frequencies.back())) {
    print_line(("Preference rating: none: " + p->message).c_str());
    return;
  }
  const PreferenceRating r = preference_rating(c);
  print_line(formatted("Preference rating: %.2f (%.2f with an ideal subwoofer)", r.rating + 0.0,
                       r.rating_with_subwoofer + 0.0).c_str());
  print_line(formatted("  NBD_ON %.3f dB, NBD_PIR %.3f dB, LFX %.1f Hz, SM_PIR %.3f", r.nbd_on, r.nbd_pir,
                       r.lfx_hz, r.sm_pir).c_str());
  if (r.lfx_below_grid) {
    print_line(formatted("Warning: the sound power stays within 6 dB of the listening window down to the "
                         "inputs' lowest frequency (%.1f Hz): the extension lies lower and the rating "
                         "without a subwoofer is a lower bound; measure lower to know them", r.lfx_hz).c_str());
  }
}

// Writes the files asked for, all or none.
std::string write_outputs(const SpinProgramOptions& o, const SpinSet& set, const SpinCurves& c) {
  OutputSet files;
  const auto text_file = [&files](const std::string& name, const std::string& content) {
    std::string e;
    const int fd = files.create(name, e);
    if (fd >= 0) e = write_text(fd, content);
    return e.empty() ? e : "Unable to write " + name + ": " + e;
  };
  if (!o.cta.empty()) {
    if (std::string e = text_file(o.cta, cta_text(c, set)); !e.empty()) return e;
  }
  if (!o.json.empty()) {
    const std::string text = json_text(preference_rating(c), beamwidths(set), set);
    if (std::string e = text_file(o.json, text); !e.empty()) return e;
  }
  if (!o.plot.empty()) {
    SpinFigure figure;
    figure.title = formatted("Directivity: both orbits every 10 degrees, %.0f Hz to %.0f Hz",
                             set.frequencies.front(), set.frequencies.back());
    figure.set = &set;
    figure.curves = &c;
    figure.views = o.views;
    std::string svg;
    if (std::string e = draw_spin_figure(figure, svg); !e.empty()) return "Unable to draw " + o.plot + ": " + e;
    if (std::string e = text_file(o.plot, svg); !e.empty()) return e;
  }
  return files.commit();
}

}  // namespace

int run_spin(int argc, char** argv) {
  SpinProgramOptions o;
  if (const std::string e = parse_spin_options(argc, argv, o); !e.empty()) return fail(e);
  if (o.version) {
    print_line(kSpinVersion);
    return EXIT_SUCCESS;
  }
  if (o.help || o.inputs.empty()) {
    for (const char* line : kSpinHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  std::vector<std::string> outputs, inputs = o.inputs;
  if (!o.angles.empty()) inputs.push_back(o.angles);
  for (const std::string* name : {&o.cta, &o.json, &o.plot}) {
    if (!name->empty()) outputs.push_back(*name);
  }
  if (std::string e = names_error(outputs, inputs); !e.empty()) return fail(e);
  try {
    const SpinSet set = make_spin_set(read_angle_responses(o.inputs, o.angles, o.gate), o.set);
    if (!o.json.empty()) {
      if (std::optional<Problem> p = check_rating_range(set.frequencies.front(), set.frequencies.back())) {
        return fail(p->message + "; leave out --json");
      }
    }
    const SpinCurves curves = spin_curves(set);
    if (std::string e = write_outputs(o, set, curves); !e.empty()) return fail(e);
    report(set, curves);
  } catch (const Error& e) {
    pass_allocation_failure(e);
    return fail(e.what());
  }
  if (!o.cta.empty()) print_line_path("CTA-2034-A curves written: ", o.cta.c_str());
  if (!o.json.empty()) print_line_path("Rating and beamwidths written: ", o.json.c_str());
  if (!o.plot.empty()) print_line_path("Figure written: ", o.plot.c_str());
  return EXIT_SUCCESS;
}

}  // namespace vellisk
