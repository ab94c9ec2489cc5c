// The run of vellisk-average: the inputs read and refused naming the line, the average, and
// its files written together.
#include "run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/arguments.h"
#include "common/console.h"
#include "common/frd_output.h"
#include "common/io_names.h"
#include "common/ir_report.h"
#include "common/outputs.h"
#include "common/paths.h"
#include "common/run_main.h"
#include "common/versions.h"
#include "options.h"
#include "texts.h"
#include "vellisk/average.h"
#include "vellisk/problem.h"

namespace vellisk {

namespace {

// A grid frequency to 0.001 Hz, or to 0.000001 Hz below 1 Hz, where 0.001 Hz would not tell
// neighbouring points apart.
std::string hz_text(double hz) { return formatted(hz < 1 ? "%.6f" : "%.3f", hz); }

const char* mode_name(AverageMode m) {
  return m == AverageMode::power ? "power (RMS)" : m == AverageMode::db ? "dB" : "vector";
}

// The header lines of both files, each starting with mark.
std::string header(const AverageOptions& o, const std::vector<std::string>& inputs,
                   const FrdAverage& a, char mark) {
  const std::string m = std::string(1, mark) + " ";
  std::string t = m + kAverageVersion + "\n";
  t += m + formatted("Average: %s of %zu input%s, %d points an octave from %s Hz to %s Hz, "
                     "the range every input covers\n",
                     mode_name(o.mode), inputs.size(), inputs.size() == 1 ? "" : "s",
                     kAveragePointsPerOctave,
                     hz_text(a.frequencies.front()).c_str(), hz_text(a.frequencies.back()).c_str());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    t += m + "Input " + std::to_string(i + 1) + ": " + inputs[i] + "\n";
  }
  return t;
}

std::string average_text(const AverageOptions& o, const std::vector<std::string>& inputs,
                         const FrdAverage& a) {
  std::string t = header(o, inputs, a, '*');
  const bool phase = !a.phase.empty();
  t += phase ? "* Freq(Hz) SPL(dB) Phase(degrees)\n" : "* Freq(Hz) SPL(dB)\n";
  char line[120];
  for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
    if (phase) {
      double d = hundredths(a.phase[i]);
      if (d <= -180) d += 360;
      std::snprintf(line, sizeof line, "\t%.2f\t%.2f\n", hundredths(a.level[i]), d);
    } else {
      std::snprintf(line, sizeof line, "\t%.2f\n", hundredths(a.level[i]));
    }
    t += hz_text(a.frequencies[i]) + line;
  }
  return t;
}

std::string spread_text(const AverageOptions& o, const std::vector<std::string>& inputs,
                        const FrdAverage& a) {
  std::string t = header(o, inputs, a, '#');
  t += "# The inputs' levels at each frequency: lowest, highest, sample standard deviation (dB)\n";
  t += "frequency_hz,min_db,max_db,std_db\n";
  char line[120];
  for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
    std::snprintf(line, sizeof line, ",%.2f,%.2f,%.3f\n", hundredths(a.min_db[i]),
                  hundredths(a.max_db[i]), a.std_db[i] + 0.0);
    t += hz_text(a.frequencies[i]) + line;
  }
  return t;
}

}  // namespace

int run_average(int argc, char** argv) {
  AverageOptions o;
  if (const std::string e = parse_average_options(argc, argv, o); !e.empty()) return fail(e);
  if (o.version) {
    print_line(kAverageVersion);
    return EXIT_SUCCESS;
  }
  if (o.help || o.arguments.empty()) {
    for (const char* line : kAverageHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  if (o.arguments.size() < 2) {
    return fail("vellisk-average takes an output and at least one input, not " +
                std::to_string(o.arguments.size()) + " argument; vellisk-average --help shows them");
  }
  const std::string out = o.arguments[0];
  if (!is_frd_name(out)) return fail("output (" + out + ") must name a file ending in .frd or .txt");
  const std::vector<std::string> inputs(o.arguments.begin() + 1, o.arguments.end());
  std::vector<std::string> outputs = {out};
  if (!o.csv.empty()) outputs.push_back(o.csv);
  if (std::string e = names_error(outputs, inputs, "the average"); !e.empty()) return fail(e);

  FrdAverage average;
  try {
    average = average_response_files(inputs, o.mode);
  } catch (const Error& e) {
    pass_allocation_failure(e);
    return fail(e.what());
  }

  OutputSet files;
  const auto text_file = [&files](const std::string& name, const std::string& content) {
    std::string e;
    const int fd = files.create(name, e);
    if (fd >= 0) e = write_text(fd, content);
    return e.empty() ? e : "Unable to write " + name + ": " + e;
  };
  if (std::string e = text_file(out, average_text(o, inputs, average)); !e.empty()) return fail(e);
  if (!o.csv.empty()) {
    if (std::string e = text_file(o.csv, spread_text(o, inputs, average)); !e.empty()) return fail(e);
  }
  if (std::string e = files.commit(); !e.empty()) return fail(e);
  print_line_path("Average written: ", out.c_str());
  if (!o.csv.empty()) print_line_path("Spread written: ", o.csv.c_str());
  return EXIT_SUCCESS;
}

}  // namespace vellisk
