// Tables of one orbit's angles, as measurement services publish them: a heading naming the
// angles, then a frequency and a level for each.
#include <algorithm>
#include <cmath>

#include "response/text_table.h"
#include "spin/spin_internal.h"
#include "sweep/validation.h"
#include "vellisk/spin.h"

namespace vellisk {
namespace {

Error table_error(const std::string& source, int line, const std::string& why) {
  return Error({ProblemCode::invalid_input, "input (" + source + ") line " + std::to_string(line) + " " + why});
}

// The angles a heading line names, or none.
std::vector<int> heading_angles(std::string_view line) {
  std::vector<int> angles;
  bool on_axis = false;
  for (const std::string_view cell : table_cells(line)) {
    if (const std::optional<int> a = angle_cell(cell)) angles.push_back(*a);
    on_axis = on_axis || is_on_axis_cell(cell);
  }
  return on_axis ? angles : std::vector<int>{};
}

struct TableRows {
  std::vector<AngleResponse> responses;
  bool shared_frequency = false;  // rows of one frequency and a level for each angle
};

// Adds one row of numbers to the table's responses, refusing a count or a frequency out of place.
void add_row(TableRows& t, const std::vector<double>& numbers, const std::string& source, int line) {
  const std::size_t n = t.responses.size();
  const bool first = t.responses.front().frequencies.empty();
  if (first) t.shared_frequency = numbers.size() == n + 1 && n > 1;
  const std::size_t want = t.shared_frequency ? n + 1 : 2 * n;
  if (numbers.size() != want) {
    throw table_error(source, line,
                      "holds " + std::to_string(numbers.size()) + " numbers, not " + std::to_string(want) +
                          (t.shared_frequency ? " (a frequency, then a level for each of the "
                                              : " (a frequency and a level for each of the ") +
                          std::to_string(n) + " angles its heading names)");
  }
  for (std::size_t i = 0; i < n; ++i) {
    const double hz = t.shared_frequency ? numbers[0] : numbers[2 * i];
    const double db = t.shared_frequency ? numbers[i + 1] : numbers[2 * i + 1];
    std::vector<double>& f = t.responses[i].frequencies;
    if (!(hz > 0) || (!f.empty() && !(hz > f.back()))) {
      throw table_error(source, line,
                        "gives " + spin_angle_text(t.responses[i].angle) + " the frequency " +
                            number_text(hz) + " Hz, which must be above 0 and above the row before's");
    }
    f.push_back(hz);
    t.responses[i].level_db.push_back(db);
  }
}

}  // namespace

std::vector<AngleResponse> parse_angle_tables(std::string_view text, Orbit orbit, const std::string& source) {
  TableRows t;
  int number = 0;
  for (const std::string_view line : table_lines(text)) {
    ++number;
    const TableLine row = read_table_line(line, {"#", "*", "//"});
    if (row.kind == TableLineKind::blank || row.kind == TableLineKind::comment) continue;
    const bool started = !t.responses.empty() && !t.responses.front().frequencies.empty();
    if (row.kind == TableLineKind::text) {
      if (started) throw table_error(source, number, "is text among the rows: a row is numbers only");
      if (!t.responses.empty()) continue;  // a second heading: "Frequency dB ..."
      for (const int a : heading_angles(line)) {
        t.responses.push_back(AngleResponse{SpinAngle{orbit, a}, {}, {}, source + ", " + spin_angle_text({orbit, a})});
      }
      continue;
    }
    if (t.responses.empty()) {
      throw table_error(source, number, "is a row before a heading naming the angles (On-Axis, 10°, -10°, ...)");
    }
    add_row(t, row.numbers, source, number);
  }
  if (t.responses.empty() || t.responses.front().frequencies.size() < 2) {
    throw Error({ProblemCode::invalid_input, "input (" + source + ") holds fewer than 2 rows under its heading"});
  }
  return std::move(t.responses);
}

std::vector<double> resampled_db(const std::vector<double>& f, const std::vector<double>& db,
                                 const std::vector<double>& grid) {
  std::vector<double> out;
  out.reserve(grid.size());
  std::size_t i = 1;
  for (const double hz : grid) {
    while (i + 1 < f.size() && f[i] < hz) ++i;
    const double t = std::clamp(std::log(hz / f[i - 1]) / std::log(f[i] / f[i - 1]), 0.0, 1.0);
    out.push_back(db[i - 1] + t * (db[i] - db[i - 1]));
  }
  return out;
}

}  // namespace vellisk
