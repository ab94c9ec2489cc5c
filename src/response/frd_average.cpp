// Reading .frd text, resampling responses onto one log grid and averaging them.
#include "response/frd_average.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <optional>

#include "response/frequency_response.h"
#include "response/text_table.h"

namespace vellisk {
namespace {

const std::vector<std::string_view> kFrdCommentMarks = {"*", "#", "\"", ";", "'", "%", "//"};

struct Row {
  double hz = 0, level = 0, phase = 0;
};

FrdError error_of(FrdError::Code code, int line = 0) {
  FrdError e;
  e.code = code;
  e.line = line;
  return e;
}

// The rules of rows, a line at a time: what the text and the file readers share.
class RowReader {
 public:
  // Reads the next line (cut: longer than kFrdMaxLine, its start given). Returns the refusal
  // naming the line, or nothing, with row set when the line is one.
  std::optional<FrdError> read(std::string_view line, bool cut, std::optional<Row>& row) {
    ++number_;
    row.reset();
    const TableLine t = read_table_line(line, kFrdCommentMarks);
    if (t.kind == TableLineKind::comment || (t.kind == TableLineKind::blank && !cut)) return {};
    if (t.kind != TableLineKind::numbers || cut) {
      const bool heading = t.kind == TableLineKind::text && rows_ == 0 && !reads_as_row(line);
      if (heading) return {};
      return error_of(FrdError::Code::not_numbers, number_);
    }
    const int n = static_cast<int>(t.numbers.size());
    if (n != 2 && n != 3) return columns_error(FrdError::Code::column_count, n);
    if (columns_ != 0 && n != columns_) return columns_error(FrdError::Code::mixed_columns, n);
    columns_ = n;
    if (auto e = take(t.numbers[0], t.numbers[1])) return e;
    row = Row{t.numbers[0], t.numbers[1], n == 3 ? t.numbers[2] : 0};
    return {};
  }

  // Checks the next row's frequency and level; counts it when they hold.
  std::optional<FrdError> take(double hz, double level) {
    using Code = FrdError::Code;
    if (!(hz >= kFrdLowestHz && hz <= kFrdHighestHz) || (rows_ > 0 && !(hz > last_hz_))) {
      FrdError e = error_of(hz >= kFrdLowestHz && hz <= kFrdHighestHz ? Code::not_ascending
                                                                       : Code::bad_frequency,
                            number_);
      e.frequency_hz = hz;
      return e;
    }
    if (!(std::abs(level) <= kFrdLevelLimitDb)) {
      FrdError e = error_of(Code::bad_level, number_);
      e.level_db = level;
      return e;
    }
    if (rows_ == 0) low_hz_ = hz;
    last_hz_ = hz;
    ++rows_;
    return {};
  }

  // What the rows so far cover.
  FrdExtent counted() const { return FrdExtent{low_hz_, last_hz_, columns_ == 3, rows_}; }

  // Refuses fewer than 2 rows; otherwise what the rows cover.
  Expected<FrdExtent, FrdError> extent() const {
    if (rows_ < 2) return error_of(FrdError::Code::too_few_rows);
    return counted();
  }

  bool phase() const { return columns_ == 3; }

  // Stands for a line number in rows given without lines: the row's, from 1.
  void next_row() { ++number_; }

 private:
  FrdError columns_error(FrdError::Code code, int n) const {
    FrdError e = error_of(code, number_);
    e.columns = n;
    return e;
  }

  int number_ = 0, columns_ = 0;
  double low_hz_ = 0, last_hz_ = 0;
  std::size_t rows_ = 0;
};

double wrapped(double degrees) {
  const double d = std::remainder(degrees, 360.0);
  return d <= -180 ? d + 360 : d;
}

// The inputs' levels summed at each point of a grid, the inputs' rows streamed in ascending
// frequency: each input resampled, linearly in log frequency between the rows around a point
// and held beyond its first and last rows.
class Accumulator {
 public:
  Accumulator(std::vector<double> grid, AverageMode mode)
      : grid_(std::move(grid)), sums_(grid_.size()), mode_(mode) {}

  void begin() { rows_ = 0, next_ = 0; }

  void row(double hz, double level, double phase) {
    before_ = last_;
    last_ = {hz, level, rows_ == 0 ? phase : unwrapped_degrees(last_.phase, phase)};
    if (++rows_ >= 2) fill(hz);
  }

  void end() {
    if (rows_ >= 2) fill(std::numeric_limits<double>::infinity());
    ++inputs_;
  }

  FrdAverage result() const;

 private:
  struct Sums {
    double sum = 0, sum2 = 0, power = 0, low = 1e300, high = -1e300;
    std::complex<double> vector;
  };

  // The points below limit, from the segment between the last two rows.
  void fill(double limit) {
    const double span = std::log(last_.hz / before_.hz);
    for (; next_ < grid_.size() && grid_[next_] < limit; ++next_) {
      const double hz = grid_[next_];
      const double t = span > 0 ? std::clamp(std::log(hz / before_.hz) / span, 0.0, 1.0) : 0.0;
      const double level = before_.level + t * (last_.level - before_.level);
      const double phase = before_.phase + t * (last_.phase - before_.phase);
      Sums& s = sums_[next_];
      s.sum += level;
      s.sum2 += level * level;
      if (mode_ == AverageMode::power) s.power += std::pow(10.0, level / 10);
      if (mode_ == AverageMode::vector) {
        s.vector += std::polar(std::pow(10.0, level / 20), phase * (std::numbers::pi / 180));
      }
      s.low = std::min(s.low, level), s.high = std::max(s.high, level);
    }
  }

  std::vector<double> grid_;
  std::vector<Sums> sums_;
  AverageMode mode_;
  std::size_t inputs_ = 0, rows_ = 0, next_ = 0;
  Row before_, last_;
};

FrdAverage Accumulator::result() const {
  FrdAverage a;
  a.frequencies = grid_;
  const auto count = static_cast<double>(inputs_);
  for (const Sums& s : sums_) {
    const double mean = s.sum / count;
    double level = mean;
    if (mode_ == AverageMode::power) level = s.power > 0 ? 10 * std::log10(s.power / count) : -300;
    if (mode_ == AverageMode::vector) {
      const std::complex<double> v = s.vector / count;
      level = std::abs(v) > 0 ? 20 * std::log10(std::abs(v)) : -300;
      a.phase.push_back(std::abs(v) > 0 ? wrapped(std::arg(v) * (180 / std::numbers::pi)) : 0);
    }
    a.level.push_back(std::max(level, -300.0));
    a.min_db.push_back(s.low);
    a.max_db.push_back(s.high);
    a.std_db.push_back(inputs_ > 1 ? std::sqrt(std::max(s.sum2 - s.sum * mean, 0.0) / (count - 1)) : 0);
  }
  return a;
}

// The range every input reaches, widened by none: each input's extent refused or narrowing it.
struct CommonRange {
  double low_hz = 0, high_hz = std::numeric_limits<double>::infinity();

  std::optional<FrdError> take(const FrdExtent& x, AverageMode mode, int input) {
    FrdError e;
    e.input = input;
    if (mode == AverageMode::vector && !x.phase) {
      e.code = FrdError::Code::missing_phase;
      return e;
    }
    if (x.rows < 2) {
      e.code = FrdError::Code::too_few_rows;
      return e;
    }
    if (x.high_hz < low_hz || x.low_hz > high_hz) {
      e.code = FrdError::Code::no_overlap;
      e.frequency_hz = x.high_hz < low_hz ? low_hz : high_hz;
      return e;
    }
    low_hz = std::max(low_hz, x.low_hz);
    high_hz = std::min(high_hz, x.high_hz);
    return {};
  }
};

std::optional<FrdError> check_grid(int points_per_octave) {
  if (points_per_octave >= 1 && points_per_octave <= 1000) return {};
  FrdError e = error_of(FrdError::Code::bad_grid);
  e.columns = points_per_octave;
  return e;
}

// An input given in memory checked as its file's rows would be.
Expected<FrdExtent, FrdError> check_rows(const FrdData& d) {
  const std::size_t n = d.frequencies.size();
  RowReader rows;
  for (std::size_t i = 0; i < n; ++i) {
    rows.next_row();
    if (i >= d.level.size() || (d.has_phase() && i >= d.phase.size())) {
      return error_of(FrdError::Code::mixed_columns, static_cast<int>(i + 1));
    }
    if (auto e = rows.take(d.frequencies[i], d.level[i])) return *e;
  }
  FrdExtent x = rows.counted();
  x.phase = d.has_phase();
  return x;
}

}  // namespace

Expected<FrdData, FrdError> parse_frd(std::string_view text) {
  FrdData d;
  RowReader rows;
  std::optional<Row> row;
  for (const std::string_view line : table_lines(text)) {
    const bool cut = line.size() > kFrdMaxLine;
    if (auto e = rows.read(cut ? line.substr(0, kFrdMaxLine) : line, cut, row)) return *e;
    if (!row) continue;
    d.frequencies.push_back(row->hz);
    d.level.push_back(row->level);
    if (rows.phase()) d.phase.push_back(row->phase);
  }
  if (auto x = rows.extent(); !x) return x.error();
  return d;
}

Expected<FrdData, FrdError> read_frd(const std::string& path) {
  std::string text;
  if (const int error = read_text(path, text); error != 0) {
    FrdError e = error_of(FrdError::Code::unreadable);
    e.system_error = error;
    return e;
  }
  return parse_frd(text);
}

Expected<FrdExtent, FrdError> scan_frd(const std::string& path,
                                       const std::function<void(double, double, double)>& row) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    return error_of(FrdError::Code::not_a_file);
  }
  RowReader rows;
  std::optional<FrdError> refused;
  std::optional<Row> r;
  const int error = for_each_line(path, kFrdMaxLine, [&](std::string_view line, bool cut) {
    refused = rows.read(line, cut, r);
    if (r) row(r->hz, r->level, r->phase);
    return !refused;
  });
  if (error != 0) {
    FrdError e = error_of(FrdError::Code::unreadable);
    e.system_error = error;
    return e;
  }
  if (refused) return *refused;
  return rows.extent();
}

Expected<FrdExtent, FrdError> scan_frd_data(const FrdData& d, const FrdRow& row) {
  const auto x = check_rows(d);
  if (!x) return x.error();
  for (std::size_t i = 0; i < d.frequencies.size(); ++i) {
    row(d.frequencies[i], d.level[i], d.has_phase() ? d.phase[i] : 0);
  }
  return x;
}

Expected<FrdAverage, FrdError> average_frd_scans(std::size_t inputs, const FrdScan& scan,
                                                 AverageMode mode, int points_per_octave) {
  if (inputs == 0) return error_of(FrdError::Code::no_inputs);
  if (auto e = check_grid(points_per_octave)) return *e;
  const auto named = [](FrdError e, std::size_t i) {
    e.input = static_cast<int>(i + 1);
    return e;
  };
  CommonRange range;
  std::vector<FrdExtent> extents;
  for (std::size_t i = 0; i < inputs; ++i) {
    const auto x = scan(i, false, [](double, double, double) {});
    if (!x) return named(x.error(), i);
    if (auto e = range.take(*x, mode, static_cast<int>(i + 1))) return *e;
    extents.push_back(*x);
  }
  Accumulator sums(octave_grid(range.low_hz, range.high_hz, points_per_octave), mode);
  for (std::size_t i = 0; i < inputs; ++i) {
    sums.begin();
    const auto x = scan(
        i, true, [&sums](double hz, double level, double phase) { sums.row(hz, level, phase); });
    if (!x) return named(x.error(), i);
    const FrdExtent& was = extents[i];
    if (x->rows != was.rows || x->low_hz != was.low_hz || x->high_hz != was.high_hz ||
        x->phase != was.phase) {
      return named(error_of(FrdError::Code::changed), i);
    }
    sums.end();
  }
  return sums.result();
}

Expected<FrdAverage, FrdError> average_frd(const std::vector<FrdData>& inputs, AverageMode mode,
                                           int points_per_octave) {
  return average_frd_scans(
      inputs.size(),
      [&inputs](std::size_t i, bool, const FrdRow& row) { return scan_frd_data(inputs[i], row); },
      mode, points_per_octave);
}

Expected<FrdAverage, FrdError> average_frd_files(const std::vector<std::string>& paths,
                                                 AverageMode mode, int points_per_octave) {
  return average_frd_scans(
      paths.size(),
      [&paths](std::size_t i, bool, const FrdRow& row) { return scan_frd(paths[i], row); }, mode,
      points_per_octave);
}

}  // namespace vellisk
