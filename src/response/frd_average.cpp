// Reading .frd text, resampling responses onto one log grid and averaging them.
#include "response/frd_average.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "response/frequency_response.h"
#include "response/text_table.h"

namespace vellisk {
namespace {

const std::vector<std::string_view> kFrdCommentMarks = {"*", "#", "\"", ";", "'", "%", "//"};

// An input's level and unwrapped phase at hz within its range, linear in log frequency.
struct Resampled {
  double level = 0;
  double phase = 0;  // degrees, unwrapped
};

Resampled resample(const FrdData& d, const std::vector<double>& unwrapped, double hz) {
  const std::vector<double>& f = d.frequencies;
  auto i = static_cast<std::size_t>(std::upper_bound(f.begin(), f.end(), hz) - f.begin());
  i = std::clamp<std::size_t>(i, 1, f.size() - 1);
  const double t = std::clamp(std::log(hz / f[i - 1]) / std::log(f[i] / f[i - 1]), 0.0, 1.0);
  Resampled r;
  r.level = d.level[i - 1] + t * (d.level[i] - d.level[i - 1]);
  if (!unwrapped.empty()) r.phase = unwrapped[i - 1] + t * (unwrapped[i] - unwrapped[i - 1]);
  return r;
}

std::vector<double> unwrap(const std::vector<double>& degrees) {
  std::vector<double> u = degrees;
  for (std::size_t i = 1; i < u.size(); ++i) u[i] = u[i - 1] + std::remainder(degrees[i] - u[i - 1], 360.0);
  return u;
}

double wrapped(double degrees) {
  const double d = std::remainder(degrees, 360.0);
  return d <= -180 ? d + 360 : d;
}

}  // namespace

Expected<FrdData, FrdError> parse_frd(std::string_view text) {
  FrdData d;
  int columns = 0, number = 0;
  const auto refuse = [&number](FrdError::Code code) {
    FrdError e;
    e.code = code;
    e.line = number;
    return e;
  };
  for (const std::string_view line : table_lines(text)) {
    ++number;
    const TableLine t = read_table_line(line, kFrdCommentMarks);
    if (t.kind == TableLineKind::blank || t.kind == TableLineKind::comment) continue;
    if (t.kind == TableLineKind::text) {
      if (d.frequencies.empty()) continue;  // a heading
      return refuse(FrdError::Code::not_numbers);
    }
    const int n = static_cast<int>(t.numbers.size());
    if (n != 2 && n != 3) {
      FrdError e = refuse(FrdError::Code::column_count);
      e.columns = n;
      return e;
    }
    if (columns != 0 && n != columns) {
      FrdError e = refuse(FrdError::Code::mixed_columns);
      e.columns = n;
      return e;
    }
    columns = n;
    const double hz = t.numbers[0];
    if (!(hz > 0) || (!d.frequencies.empty() && !(hz > d.frequencies.back()))) {
      FrdError e = refuse(hz > 0 ? FrdError::Code::not_ascending : FrdError::Code::bad_frequency);
      e.frequency_hz = hz;
      return e;
    }
    d.frequencies.push_back(hz);
    d.level.push_back(t.numbers[1]);
    if (n == 3) d.phase.push_back(t.numbers[2]);
  }
  if (d.frequencies.size() < 2) {
    FrdError e;
    e.code = FrdError::Code::too_few_rows;
    return e;
  }
  return d;
}

Expected<FrdData, FrdError> read_frd(const std::string& path) {
  std::string text;
  if (const int error = read_text(path, text); error != 0) {
    FrdError e;
    e.code = FrdError::Code::unreadable;
    e.system_error = error;
    return e;
  }
  return parse_frd(text);
}

Expected<FrdAverage, FrdError> average_frd(const std::vector<FrdData>& inputs, AverageMode mode,
                                           int points_per_octave) {
  FrdError e;
  if (inputs.empty()) {
    e.code = FrdError::Code::no_inputs;
    return e;
  }
  if (!(points_per_octave >= 1 && points_per_octave <= 1000)) {
    e.code = FrdError::Code::bad_grid;
    e.columns = points_per_octave;
    return e;
  }
  double lo = 0, hi = 1e300;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const FrdData& d = inputs[i];
    e.input = static_cast<int>(i + 1);
    if (mode == AverageMode::vector && !d.has_phase()) {
      e.code = FrdError::Code::missing_phase;
      return e;
    }
    if (d.frequencies.size() < 2) {
      e.code = FrdError::Code::too_few_rows;
      return e;
    }
    if (d.frequencies.back() < lo || d.frequencies.front() > hi) {
      e.code = FrdError::Code::no_overlap;
      e.frequency_hz = d.frequencies.back() < lo ? lo : hi;
      return e;
    }
    lo = std::max(lo, d.frequencies.front());
    hi = std::min(hi, d.frequencies.back());
  }
  std::vector<std::vector<double>> phases;
  for (const FrdData& d : inputs) phases.push_back(unwrap(d.phase));

  FrdAverage a;
  a.frequencies = octave_grid(lo, hi, points_per_octave);
  const auto count = static_cast<double>(inputs.size());
  for (const double hz : a.frequencies) {
    double sum = 0, sum2 = 0, power = 0, low = 1e300, high = -1e300;
    std::complex<double> vector;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const Resampled r = resample(inputs[i], phases[i], hz);
      sum += r.level;
      sum2 += r.level * r.level;
      power += std::pow(10.0, r.level / 10);
      vector += std::polar(std::pow(10.0, r.level / 20), r.phase * (std::numbers::pi / 180));
      low = std::min(low, r.level), high = std::max(high, r.level);
    }
    const double mean = sum / count;
    double level = mean;
    if (mode == AverageMode::power) level = power > 0 ? 10 * std::log10(power / count) : -300;
    if (mode == AverageMode::vector) {
      vector /= count;
      level = std::abs(vector) > 0 ? 20 * std::log10(std::abs(vector)) : -300;
      a.phase.push_back(std::abs(vector) > 0 ? wrapped(std::arg(vector) * (180 / std::numbers::pi)) : 0);
    }
    a.level.push_back(std::max(level, -300.0));
    a.min_db.push_back(low);
    a.max_db.push_back(high);
    a.std_db.push_back(inputs.size() > 1 ? std::sqrt(std::max(sum2 - sum * mean, 0.0) / (count - 1)) : 0);
  }
  return a;
}

}  // namespace vellisk
