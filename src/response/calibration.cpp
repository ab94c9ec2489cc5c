// Microphone calibration files, and the SPL calibration from an acoustic calibrator's tone.
#include "response/calibration.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "response/analysis.h"
#include "response/text_table.h"

namespace vellisk {
namespace {

using Complex = std::complex<double>;

const std::vector<std::string_view> kMicCommentMarks = {"*", "\"", "#"};

double wrapped_degrees(double d) {
  d = std::remainder(d, 360.0);
  return d <= -180 ? d + 360 : d;
}

// What is wrong with the line of numbers t, if anything: columns other than 2 or 3, or than
// the lines before had (columns, 0 before the first), a frequency not above 0 or not above the
// one before (the last of hz), or a level out of range. The line's number is left to the caller.
std::optional<MicCalibrationError> point_error(const TableLine& t, int columns,
                                               const std::vector<double>& hz) {
  MicCalibrationError e;
  const int n = static_cast<int>(t.numbers.size());
  if (n != 2 && n != 3) {
    e.code = MicCalibrationError::Code::column_count;
    e.columns = n;
    return e;
  }
  if (columns != 0 && n != columns) {
    e.code = MicCalibrationError::Code::mixed_columns;
    e.columns = n;
    return e;
  }
  const double f = t.numbers[0];
  if (!(f > 0) || (!hz.empty() && !(f > hz.back()))) {
    e.code =
        f > 0 ? MicCalibrationError::Code::not_ascending : MicCalibrationError::Code::bad_frequency;
    e.frequency_hz = f;
    return e;
  }
  if (!(std::abs(t.numbers[1]) <= kMicLevelLimitDb)) {
    e.code = MicCalibrationError::Code::bad_level;
    e.level_db = t.numbers[1];
    return e;
  }
  return std::nullopt;
}

}  // namespace

std::pair<std::ptrdiff_t, double> MicCalibration::locate(double hz) const {
  const auto n = static_cast<std::ptrdiff_t>(hz_.size());
  if (!(hz > hz_.front())) return {hz == hz_.front() ? 0 : -1, 0};
  if (!(hz < hz_.back())) return {hz == hz_.back() ? n - 2 : n, 1};
  const auto i = std::upper_bound(hz_.begin(), hz_.end(), hz) - hz_.begin() - 1;
  const auto u = static_cast<std::size_t>(i);
  return {i, std::log(hz / hz_[u]) / std::log(hz_[u + 1] / hz_[u])};
}

double MicCalibration::interpolate(const std::vector<double>& v, double hz) const {
  if (v.empty()) return 0;
  const auto [i, t] = locate(hz);
  if (i < 0) return v.front();
  if (i >= static_cast<std::ptrdiff_t>(v.size()) - 1) return v.back();
  const auto u = static_cast<std::size_t>(i);
  return v[u] + t * (v[u + 1] - v[u]);
}

double MicCalibration::level_db(double hz) const { return interpolate(db_, hz); }

double MicCalibration::phase_deg(double hz) const { return interpolate(degrees_, hz); }

double MicCalibration::group_delay_s(double hz) const {
  if (degrees_.empty()) return 0;
  const auto [i, t] = locate(hz);
  if (i < 0 || i >= static_cast<std::ptrdiff_t>(hz_.size()) - 1) return 0;
  const auto u = static_cast<std::size_t>(i);
  // Phase linear in ln f: d(phase)/d(omega) = slope / omega.
  const double slope = (degrees_[u + 1] - degrees_[u]) * (std::numbers::pi / 180) /
                       std::log(hz_[u + 1] / hz_[u]);
  return -slope / (2 * std::numbers::pi * hz);
}

Complex MicCalibration::response(double hz) const {
  return std::polar(std::pow(10.0, level_db(hz) / 20), phase_deg(hz) * (std::numbers::pi / 180));
}

Expected<MicCalibration, MicCalibrationError> parse_mic_calibration(std::string_view text) {
  MicCalibration mic;
  int columns = 0, number = 0;
  const auto refuse = [&number](MicCalibrationError::Code code) {
    MicCalibrationError e;
    e.code = code;
    e.line = number;
    return e;
  };
  for (const std::string_view line : table_lines(text)) {
    ++number;
    const TableLine t = read_table_line(line, kMicCommentMarks);
    if (const std::optional<double> sens = sens_factor_db(line)) {
      if (mic.sens_factor_db) return refuse(MicCalibrationError::Code::sens_factor_twice);
      mic.sens_factor_db = sens;
      continue;
    }
    if (t.kind == TableLineKind::blank || t.kind == TableLineKind::comment) continue;
    if (t.kind == TableLineKind::text) return refuse(MicCalibrationError::Code::not_numbers);
    if (std::optional<MicCalibrationError> e = point_error(t, columns, mic.hz_)) {
      e->line = number;
      return *e;
    }
    const int n = static_cast<int>(t.numbers.size());
    columns = n;
    const double hz = t.numbers[0];
    if (mic.hz_.empty()) mic.first_line = number;
    mic.last_line = number;
    mic.hz_.push_back(hz);
    mic.db_.push_back(t.numbers[1]);
    if (n == 3) {
      // Unwrapped along the points, so that interpolation never crosses the wrap.
      double d = t.numbers[2];
      if (!mic.degrees_.empty()) d = unwrapped_degrees(mic.degrees_.back(), d);
      mic.degrees_.push_back(d);
    }
  }
  if (mic.hz_.size() < 2) {
    MicCalibrationError e;
    e.code = MicCalibrationError::Code::too_few_points;
    return e;
  }
  return mic;
}

Expected<MicCalibration, MicCalibrationError> read_mic_calibration(const std::string& path) {
  std::string text;
  if (const int error = read_text(path, text); error != 0) {
    MicCalibrationError e;
    e.code = MicCalibrationError::Code::unreadable;
    e.system_error = error;
    return e;
  }
  return parse_mic_calibration(text);
}

std::optional<MicCalibrationError> check_coverage(const MicCalibration& mic, double low_hz,
                                                  double high_hz) {
  const auto uncovered = [&mic](double hz) {
    MicCalibrationError e;
    e.code = MicCalibrationError::Code::does_not_cover;
    e.frequency_hz = hz;
    e.low_hz = mic.low_hz();
    e.high_hz = mic.high_hz();
    return e;
  };
  // The edges as the report prints them, to 0.01 Hz: a file whose points reach those covers
  // the band (beyond its points it holds their levels), and a refusal names the edge it missed
  // in the same figures.
  const double low = std::round(low_hz * 100) / 100, high = std::round(high_hz * 100) / 100;
  if (low < mic.low_hz() * (1 - 1e-9)) {
    MicCalibrationError e = uncovered(low_hz);
    e.line = mic.first_line;
    return e;
  }
  if (high > mic.high_hz() * (1 + 1e-9)) {
    MicCalibrationError e = uncovered(high_hz);
    e.line = mic.last_line;
    return e;
  }
  return std::nullopt;
}

void calibrate(FrequencyResponse& r, const LevelCalibration& c, double scale) {
  if (!c.on()) return;
  for (std::size_t i = 0; i < r.frequencies.size(); ++i) {
    const double hz = scale * r.frequencies[i];
    r.level[i] = std::max(r.level[i] + c.level_change_db(hz), -300.0);
    if (c.mic != nullptr && c.mic->has_phase()) {
      r.phase[i] = wrapped_degrees(r.phase[i] + c.phase_change_deg(hz));
    }
  }
}

void remove_microphone(Spectrum& s, const MicCalibration& mic) {
  const double hz_per_bin = s.rate / static_cast<double>(s.size);
  for (std::size_t j = 0; j <= s.size / 2; ++j) {
    const Complex z = Complex(s.bins[2 * j], s.bins[2 * j + 1]) /
                      mic.response(static_cast<double>(j) * hz_per_bin);
    s.bins[2 * j] = static_cast<float>(z.real());
    s.bins[2 * j + 1] = static_cast<float>(z.imag());
  }
}

namespace {

// The power-weighted frequency and the power (as a sine's mean square) of the
// spectral peak of a Hann-windowed transform of x[0..n), the mean taken out,
// with the whole signal's mean square.
struct TonePeak {
  double hz = 0;
  double power = 0;
  double total = 0;
};

TonePeak tone_peak(const float* x, std::int64_t n, double rate) {
  double mean = 0;
  for (std::int64_t i = 0; i < n; ++i) mean += x[i];
  mean /= static_cast<double>(n);
  std::vector<float> w(static_cast<std::size_t>(n));
  double window_power = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    const double h = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (static_cast<double>(i) + 0.5) /
                                          static_cast<double>(n));
    w[static_cast<std::size_t>(i)] = static_cast<float>((x[i] - mean) * h);
    window_power += h * h;
  }
  const Spectrum s = spectrum_of(w.data(), n, rate);
  const auto bins = static_cast<std::int64_t>(s.size / 2);
  const auto power = [&s](std::int64_t j) {
    const double re = s.bins[static_cast<std::size_t>(2 * j)];
    const double im = s.bins[static_cast<std::size_t>(2 * j + 1)];
    return re * re + im * im;
  };
  std::int64_t peak = 1;
  double total = 0;
  for (std::int64_t j = 1; j <= bins; ++j) {
    total += power(j);
    if (power(j) > power(peak)) peak = j;
  }
  // The peak's lobe: the Hann window's main lobe spans 2 bins of the signal's
  // length each side; 4 of them take in its first side lobes and a slow
  // wander of the calibrator's frequency.
  const double per_bin = static_cast<double>(s.size) / static_cast<double>(n);
  const auto half = static_cast<std::int64_t>(std::ceil(4 * per_bin));
  TonePeak t;
  double weighted = 0;
  for (std::int64_t j = std::max<std::int64_t>(1, peak - half); j <= std::min(bins, peak + half); ++j) {
    t.power += power(j);
    weighted += power(j) * static_cast<double>(j);
  }
  t.hz = t.power > 0 ? weighted / t.power * rate / static_cast<double>(s.size) : 0;
  // Parseval: a sine of mean square m gives the positive bins N m sum(w^2) / 2 in all.
  const double scale = 2 / (static_cast<double>(s.size) * window_power);
  t.power *= scale;
  t.total = total * scale;
  return t;
}

}  // namespace

Expected<CalibratorTone, CalibratorError> measure_calibrator(const float* x, std::int64_t n,
                                                             double rate, double stated_level_db,
                                                             double stated_hz,
                                                             std::int64_t clipped) {
  CalibratorError e;
  e.stated_level_db = stated_level_db;
  e.stated_hz = stated_hz;
  const auto refuse = [&e](CalibratorError::Code code) {
    e.code = code;
    return e;
  };
  if (!(stated_level_db >= kCalibratorLevelMin && stated_level_db <= kCalibratorLevelMax)) {
    return refuse(CalibratorError::Code::bad_level);
  }
  if (!(stated_hz > 0 && stated_hz < rate / 2)) return refuse(CalibratorError::Code::bad_frequency);
  e.seconds = static_cast<double>(n) / rate;
  if (!(e.seconds >= kCalibratorMinSeconds)) return refuse(CalibratorError::Code::too_short);
  const auto [low, high] = std::minmax_element(x, x + n);
  if (*low == *high) return refuse(CalibratorError::Code::silent);
  if (clipped > 0) return refuse(CalibratorError::Code::clipped);
  const TonePeak peak = tone_peak(x, n, rate);
  e.frequency_hz = peak.hz;
  const double rest = std::max(peak.total - peak.power, 0.0);
  e.rest_db = rest > 0 ? 10 * std::log10(rest / peak.power) : -300;
  if (!(e.rest_db <= -kCalibratorPurityDb)) return refuse(CalibratorError::Code::not_a_tone);
  if (!(std::abs(peak.hz / stated_hz - 1) <= kCalibratorFrequencyTolerance)) {
    return refuse(CalibratorError::Code::wrong_frequency);
  }
  const auto block = static_cast<std::int64_t>(std::llround(kCalibratorBlockSeconds * rate));
  std::vector<double> levels;
  for (std::int64_t at = 0; at + block <= n; at += block) levels.push_back(rms(x + at, block));
  std::vector<double> sorted = levels;
  const double typical = median(sorted);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const double deviation = 20 * std::log10(std::max(levels[i], 1e-300) / typical);
    if (!(std::abs(deviation) <= kCalibratorSteadyDb)) {
      e.seconds = static_cast<double>(i) * kCalibratorBlockSeconds;
      e.deviation_db = deviation;
      return refuse(CalibratorError::Code::not_steady);
    }
  }
  return CalibratorTone{peak.hz, std::sqrt(peak.power)};
}

double spl_offset_db(const CalibratorTone& tone, double stated_level_db, double amplitude,
                     const MicCalibration* mic) {
  return stated_level_db + 20 * std::log10(std::abs(amplitude) / std::sqrt(2.0)) -
         20 * std::log10(tone.rms) + (mic != nullptr ? mic->level_db(tone.frequency_hz) : 0);
}

}  // namespace vellisk
