// Microphone calibration files, the SPL calibration from a calibrator's tone, and averages of
// .frd files (in memory, and of files through the public API), against closed forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "response/calibration.h"
#include "vellisk/response.h"
#include "response/curves.h"
#include "response/fft.h"
#include "response/frd_average.h"
#include "run_vellisk.h"
#include "vellisk/average.h"
#include "vellisk/problem.h"


using namespace vellisk;

namespace {

constexpr double kRate = 48000;
using MicCode = vellisk::MicCalibrationError::Code;

vellisk::MicCalibration mic_of(const std::string& text) {
  const auto m = vellisk::parse_mic_calibration(text);
  EXPECT_TRUE(m) << text;
  return m ? *m : vellisk::MicCalibration{};
}

// The curves of a window x, flat-band setup from 20 Hz to 20 kHz at the .frd's grid.
vellisk::PhaseCurves curves(const std::vector<float>& x, double delay,
                               const vellisk::LevelCalibration& c) {
  vellisk::CurveSetup s;
  s.rate = kRate, s.delay = delay, s.band_low = 20, s.band_high = 20000, s.calibration = c;
  s.frequencies = octave_grid(20, 20000, kPointsPerOctave);
  return vellisk::response_curves(x.data(), static_cast<std::int64_t>(x.size()), s);
}

}  // namespace

// The conventions of microphone files: comments, quotes, blank lines, CRLF, a byte order
// mark, the sensitivity line in its spellings; values interpolated in log frequency.
TEST(MicCalibration, ReadsTheFilesConventions) {
  const vellisk::MicCalibration m = mic_of(
      "\xEF\xBB\xBF\"Sens Factor =-.7dB, AGain =0dB, SERNO: 8001234\"\r\n* Freq SPL\r\n"
      "# measured\r\n\r\n  10\t-2.5\r\n100 , 0\r\n1000;0.5\r\n10000 +1.5\r\n");
  EXPECT_EQ(m.sens_factor_db, -0.7);
  EXPECT_FALSE(m.has_phase());
  EXPECT_DOUBLE_EQ(m.level_db(std::sqrt(10.0 * 100)), -1.25);  // halfway in log frequency
  EXPECT_DOUBLE_EQ(m.level_db(5), -2.5);                        // held beyond the points
  EXPECT_DOUBLE_EQ(m.level_db(1e5), 1.5);
  for (const auto& [line, value] : std::vector<std::pair<std::string, double>>{
           {"Sens Factor = -1.5 dB", -1.5}, {"sens factor=2dB", 2}, {"* Sens.Factor: -3", -3},
           {"SensFactor =0.25dB SERNO: 12", 0.25}, {"Sensitivity Factor = -4.1 dB", -4.1}}) {
    EXPECT_EQ(mic_of(line + "\n20 0\n20000 0\n").sens_factor_db, value) << line;
  }
  // Phase, unwrapped along the points: 170 then -170 degrees is a step of 20, not 340.
  const vellisk::MicCalibration p = mic_of("100 0 170\n400 0 -170\n");
  EXPECT_DOUBLE_EQ(p.phase_deg(200), 180);
  EXPECT_NEAR(p.group_delay_s(200), -20.0 / 360 / std::log(4.0) / 200, 1e-15);
}

TEST(MicCalibration, RefusesWhatDoesNotParseNamingTheLine) {
  const struct {
    const char* text;
    MicCode code;
    int line;
  } cases[] = {{"* x\n20 0\nFreq dB\n20000 0\n", MicCode::not_numbers, 3},
               {"20 0\n30 0 0 1\n", MicCode::column_count, 2},
               {"20 0\n30 0 5\n", MicCode::mixed_columns, 2},
               {"0 0\n30 0\n", MicCode::bad_frequency, 1},
               {"20 0\n30 0\n30 1\n", MicCode::not_ascending, 3},
               {"20 0\n30 nan\n", MicCode::not_numbers, 2},
               {"20 0\n30 1dB\n", MicCode::not_numbers, 2},
               {"Sens Factor =1dB\nSens Factor =2dB\n20 0\n30 0\n", MicCode::sens_factor_twice, 2},
               {"20 0\n30 400\n", MicCode::bad_level, 2},
               {"20 -1e300\n30 0\n", MicCode::bad_level, 1},
               {"* only\n20 0\n", MicCode::too_few_points, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto m = vellisk::parse_mic_calibration(c.text);
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().code, c.code);
    EXPECT_EQ(m.error().line, c.line);
  }
  const vellisk::MicCalibration m = mic_of("20 0\n20000 0\n");
  EXPECT_FALSE(vellisk::check_coverage(m, 20, 20000));
  const auto low = vellisk::check_coverage(m, 19.9, 20000);
  ASSERT_TRUE(low);
  EXPECT_EQ(low->code, MicCode::does_not_cover);
  EXPECT_EQ(low->frequency_hz, 19.9);
  EXPECT_EQ(low->low_hz, 20);
  EXPECT_TRUE(vellisk::check_coverage(m, 20, 20001));
  // The band as the report prints it ("23.28 Hz to 19698.85 Hz") is covered by a file of those
  // points, though its edges lie 0.002 Hz beyond them; 0.01 Hz more is not.
  const vellisk::MicCalibration printed = mic_of("23.28 0\n19698.85 0\n");
  EXPECT_FALSE(vellisk::check_coverage(printed, 23.27799662001223, 19698.85153690499));
  EXPECT_TRUE(vellisk::check_coverage(printed, 23.27, 19698.85));
  EXPECT_TRUE(vellisk::check_coverage(printed, 23.28, 19698.86));
  const auto missing = vellisk::read_mic_calibration("/nonexistent/mic.txt");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, MicCode::unreadable);
  EXPECT_NE(missing.error().system_error, 0);
}

// A system that is exactly a microphone of +3 dB from 5 kHz up (a ramp from 4 kHz), with a
// phase, measured through that microphone: the rows, the curves and the minimum phase read
// flat, 0 dB and 0 degrees; the rows alone lose exactly 3 dB above 5 kHz.
TEST(MicCalibration, ThreeDecibelsAbove5kHzComeOffExactly) {
  const vellisk::MicCalibration mic = mic_of("10 0 0\n4000 0 0\n5000 3 -10\n24000 3 0\n");
  // Its spectrum, 2000 samples late, taken back to a window whose transform holds it exactly.
  const std::size_t size = 19200;
  FloatBuffer b = make_float_buffer(size + 2);
  for (std::size_t j = 0; j <= size / 2; ++j) {
    const double hz = static_cast<double>(j) * kRate / static_cast<double>(size);
    const std::complex<double> z =
        (j == 0 ? 1.0 : mic.response(hz)) * std::polar(1.0 / size, -2 * std::numbers::pi * hz * 2000 / kRate);
    b[2 * j] = static_cast<float>(z.real()), b[2 * j + 1] = static_cast<float>(z.imag());
  }
  real_fft(size).inverse(b.get());
  const std::vector<float> x(b.get(), b.get() + size);
  const vellisk::PhaseCurves c = curves(x, 2000, {&mic, 0});
  for (std::size_t i = 0; i < c.frequencies.size(); ++i) {
    EXPECT_NEAR(c.level[i], 0, 0.01) << c.frequencies[i];
    EXPECT_NEAR(c.phase[i], 0, 0.1) << c.frequencies[i];
    EXPECT_NEAR(c.min_phase[i], 0, 0.1) << c.frequencies[i];
  }
  FrequencyResponse rows{{1000, 4472.13595499958, 6000, 20000}, {0, 0, 0, 0}, {0, 0, 0, 179}};
  vellisk::calibrate(rows, {&mic, 0});
  EXPECT_EQ(rows.level[0], 0);
  EXPECT_NEAR(rows.level[1], -1.5, 1e-12);
  EXPECT_EQ(rows.level[2], -3);
  EXPECT_EQ(rows.level[3], -3);
  EXPECT_NEAR(rows.phase[2], 10 * std::log(24000 / 6000.0) / std::log(24000 / 5000.0), 1e-12);
  EXPECT_NEAR(rows.phase[3], 179 + 10 * std::log(24000 / 20000.0) / std::log(24000 / 5000.0) - 360, 1e-12);
}

namespace {

// A calibrator's tone, with 50 Hz hum and noise, `seconds` long; `level(t)` scales it.
std::vector<float> tone(double hz, double rms, double seconds, double (*level)(double) = nullptr) {
  std::vector<float> x(static_cast<std::size_t>(seconds * kRate));
  unsigned state = 3;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    state = state * 1664525u + 1013904223u;
    const double noise = 1e-4 * ((state >> 8) / 16777216.0 - 0.5);
    x[i] = static_cast<float>((level ? level(t) : 1) * rms * std::sqrt(2.0) * std::sin(2 * std::numbers::pi * hz * t) +
                              2e-3 * std::sin(2 * std::numbers::pi * 50 * t) + noise);
  }
  return x;
}

// The calibrator's measure of x, its full scale judged as a recording of float samples in
// memory is.
vellisk::Expected<vellisk::CalibratorTone, vellisk::CalibratorError> calibrator(
    const std::vector<float>& x, double level, double hz) {
  const auto n = static_cast<std::int64_t>(x.size());
  vellisk::MemorySource source(x.data(), n, 1, static_cast<int>(kRate), 1, n);
  std::vector<float> read(x.size());
  float* out[] = {read.data()};
  vellisk::SampleLevels levels;
  EXPECT_FALSE(source.read(0, n, 0, 1, out, &levels));
  return vellisk::measure_calibrator(read.data(), n, kRate, level, hz, levels.clipped);
}

}  // namespace

// A calibrator of 94 dB SPL recorded at 0.05 rms: a wire measured with a sweep of amplitude
// 0.5, whose level is 0 dB re unit gain, reads 94 + 20 lg(0.5 / sqrt 2) - 20 lg 0.05 =
// 110.99 dB SPL; through a microphone reading +1 dB at 1 kHz and +2 dB at 10 kHz, 110.99 +
// 1 - 2 at 10 kHz.
TEST(SplCalibration, ACalibratorAt94dBGivesAWireTheFormulasLevel) {
  const std::vector<float> x = tone(1000, 0.05, 3);
  const auto t = calibrator(x, 94, 1000);
  ASSERT_TRUE(t) << static_cast<int>(t.error().code);
  EXPECT_NEAR(t->frequency_hz, 1000, 0.01);
  EXPECT_NEAR(20 * std::log10(t->rms / 0.05), 0, 0.005);
  const double expected = 94 + 20 * std::log10(0.5 / std::sqrt(2.0)) - 20 * std::log10(0.05);
  EXPECT_NEAR(expected, 110.99, 0.005);
  std::vector<float> wire(4800);
  wire[100] = 1;
  const vellisk::PhaseCurves plain = curves(wire, 100, {nullptr, vellisk::spl_offset_db(*t, 94, 0.5, nullptr)});
  for (const double level : plain.level) EXPECT_NEAR(level, expected, 0.01);
  const vellisk::MicCalibration mic = mic_of("20 1\n1000 1\n10000 2\n20000 2\n");
  const double offset = vellisk::spl_offset_db(*t, 94, 0.5, &mic);
  EXPECT_NEAR(offset, expected + 1, 0.01);
  FrequencyResponse rows{{1000, 10000}, {0, 0}, {0, 0}};
  vellisk::calibrate(rows, {&mic, offset});
  EXPECT_NEAR(rows.level[0], expected, 0.01);
  EXPECT_NEAR(rows.level[1], expected - 1, 0.01);
}

TEST(SplCalibration, RefusesWhatIsNotASteadyToneNearItsFrequency) {
  using Code = vellisk::CalibratorError::Code;
  std::vector<float> sweep(static_cast<std::size_t>(2 * kRate)), clipped = tone(1000, 0.8, 2);
  for (std::size_t i = 0; i < sweep.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    sweep[i] = static_cast<float>(0.1 * std::sin(2 * std::numbers::pi * 100 * t * std::pow(100.0, t / 2)));
  }
  for (float& v : clipped) v = std::clamp(v, -1.0f, 1.0f);
  const struct {
    std::vector<float> x;
    double level, hz;
    Code code;
  } cases[] = {{tone(1000, 0.05, 2), 200, 1000, Code::bad_level},
               {tone(1000, 0.05, 2), 94, 30000, Code::bad_frequency},
               {tone(1000, 0.05, 0.4), 94, 1000, Code::too_short},
               {std::vector<float>(96000, 0.25f), 94, 1000, Code::silent},
               {clipped, 94, 1000, Code::clipped},
               {sweep, 94, 1000, Code::not_a_tone},
               {tone(1200, 0.05, 2), 94, 1000, Code::wrong_frequency},
               {tone(1000, 0.05, 3, [](double t) { return t < 1 ? 0.8 : 1.0; }), 94, 1000, Code::not_steady}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    const auto t = calibrator(c.x, c.level, c.hz);
    ASSERT_FALSE(t);
    EXPECT_EQ(t.error().code, c.code);
  }
  // The tone's frequency and the block that moved are named.
  const std::vector<float> late = tone(1000, 0.05, 3, [](double t) { return t < 1 ? 0.8 : 1.0; });
  const auto t = calibrator(late, 94, 250);
  EXPECT_NEAR(t.error().frequency_hz, 1000, 1);
}

namespace {

// Response k of three: a 50 Hz two-pole high-pass 3k dB up and 0.1k ms late, on its own grid.
vellisk::FrdData shifted(int k, double lo, double hi, int per_octave) {
  vellisk::FrdData d;
  for (double f = lo; f <= hi; f *= std::exp2(1.0 / per_octave)) {
    const std::complex<double> s(0, f / 50);
    const std::complex<double> h = s * s / (s * s + std::sqrt(2.0) * s + 1.0) *
                                   std::polar(std::pow(10.0, 3 * k / 20.0), -2 * std::numbers::pi * f * 1e-4 * k);
    d.frequencies.push_back(f);
    d.level.push_back(20 * std::log10(std::abs(h)));
    d.phase.push_back(std::arg(h) * 180 / std::numbers::pi);
  }
  return d;
}

}  // namespace

// Three responses on different grids: each mode's average is its closed form on the grid over
// their common range, with the spread of 0, 3 and 6 dB.
TEST(FrdAverage, ThreeShiftedResponsesAgainstTheirClosedForms) {
  const std::vector<vellisk::FrdData> in = {shifted(0, 10, 20000, 48), shifted(1, 20, 16000, 96),
                                            shifted(2, 15, 18000, 200)};
  for (const auto mode : {vellisk::AverageMode::power, vellisk::AverageMode::db, vellisk::AverageMode::vector}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const auto a = vellisk::average_frd(in, mode);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->frequencies.front(), 20);
    EXPECT_GT(a->frequencies.back(), 16000 / std::exp2(1.0 / 96));
    EXPECT_LE(a->frequencies.back(), 16000);
    EXPECT_EQ(a->phase.size(), mode == vellisk::AverageMode::vector ? a->frequencies.size() : 0);
    for (std::size_t i = 0; i < a->frequencies.size(); ++i) {
      const double f = a->frequencies[i];
      const std::complex<double> s(0, f / 50), h = s * s / (s * s + std::sqrt(2.0) * s + 1.0);
      const double base = 20 * std::log10(std::abs(h));
      std::complex<double> sum;
      for (int k = 0; k < 3; ++k) sum += std::polar(std::pow(10.0, 3 * k / 20.0), -2 * std::numbers::pi * f * 1e-4 * k);
      const double truth = mode == vellisk::AverageMode::db      ? base + 3
                           : mode == vellisk::AverageMode::power ? base + 10 * std::log10((1 + std::pow(10.0, 0.3) + std::pow(10.0, 0.6)) / 3)
                                                                 : base + 20 * std::log10(std::abs(sum) / 3);
      EXPECT_NEAR(a->level[i], truth, 0.01) << f;
      if (mode == vellisk::AverageMode::vector) {
        EXPECT_NEAR(std::remainder(a->phase[i] - std::arg(h * sum) * 180 / std::numbers::pi, 360), 0, 0.05) << f;
      }
      EXPECT_NEAR(a->min_db[i], base, 0.01);
      EXPECT_NEAR(a->max_db[i], base + 6, 0.01);
      EXPECT_NEAR(a->std_db[i], 3, 0.001);
      if (testing::Test::HasFailure()) return;
    }
  }
}

// .frd files of other programs: headings, comment marks, commas; refusals name the line, and
// a vector average names the input without phase, an average the input out of range.
TEST(FrdAverage, ReadsTheFieldsFilesAndNamesWhatIsRefused) {
  const auto d = vellisk::parse_frd("Freq(Hz) SPL(dB) Phase(degrees)\nInformation: 2 rows\n1/3 octave\n"
                                    "20 Hz to 40 Hz, nan none\n"
                                    "* a\n# b\n; c\n// d\n\n20, -1, 5\n40, -2, 6\n");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->frequencies, (std::vector<double>{20, 40}));
  EXPECT_EQ(d->phase, (std::vector<double>{5, 6}));
  using Code = vellisk::FrdError::Code;
  const struct {
    const char* text;
    Code code;
    int line;
  } cases[] = {{"20 0\nend of data\n30 0\n", Code::not_numbers, 2}, {"20 0 0 0\n", Code::column_count, 1},
               {"20 0\n30 0 1\n", Code::mixed_columns, 2},       {"20 0\n10 0\n", Code::not_ascending, 2},
               {"-5 0\n", Code::bad_frequency, 1},               {"* none\n20 0\n", Code::too_few_rows, 0},
               // A first row that does not read is no heading; frequencies and levels no
               // measurement gives are refused where they stand.
               {"100 nan\n1000 0\n", Code::not_numbers, 1},     {"100 -inf\n1000 0\n", Code::not_numbers, 1},
               {"100 0dB\n1000 0\n", Code::not_numbers, 1},     {"NaN 0\n1000 0\n", Code::not_numbers, 1},
               {"1e-323 0\n1000 0\n", Code::bad_frequency, 1},  {"2e300 0\n3e300 0\n", Code::bad_frequency, 1},
               {"100 5000\n1000 0\n", Code::bad_level, 1},      {"100 0\n1000 -1e308\n", Code::bad_level, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto e = vellisk::parse_frd(c.text);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().code, c.code);
    EXPECT_EQ(e.error().line, c.line);
  }
  vellisk::FrdData no_phase = shifted(1, 20, 20000, 24);
  no_phase.phase.clear();
  const auto v = vellisk::average_frd({shifted(0, 20, 20000, 24), no_phase}, vellisk::AverageMode::vector);
  ASSERT_FALSE(v);
  EXPECT_EQ(v.error().code, Code::missing_phase);
  EXPECT_EQ(v.error().input, 2);
  EXPECT_TRUE(vellisk::average_frd({shifted(0, 20, 20000, 24), no_phase}, vellisk::AverageMode::power));
  const auto apart = vellisk::average_frd({shifted(0, 20, 200, 24), shifted(0, 1000, 2000, 24), shifted(0, 20, 20000, 24)},
                                          vellisk::AverageMode::db);
  ASSERT_FALSE(apart);
  EXPECT_EQ(apart.error().code, Code::no_overlap);
  EXPECT_EQ(apart.error().input, 2);
  // Inputs in memory keep the files' rules: a level missing for a frequency, or a frequency no
  // file may hold, names the input and the row.
  vellisk::FrdData short_levels;
  short_levels.frequencies = {20, 40, 80};
  short_levels.level = {0, 0};
  vellisk::FrdData far = shifted(0, 20, 20000, 24);
  far.frequencies.back() = 2e300;
  for (const auto& [data, code, line] : {std::tuple{short_levels, Code::mixed_columns, 3},
                                         std::tuple{far, Code::bad_frequency, static_cast<int>(far.frequencies.size())}}) {
    SCOPED_TRACE(line);
    const auto e = vellisk::average_frd({shifted(0, 20, 20000, 24), data}, vellisk::AverageMode::db);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().code, code);
    EXPECT_EQ(e.error().input, 2);
    EXPECT_EQ(e.error().line, line);
  }
}

namespace {

// A flat response of level dB and phase degrees over octaves from lo Hz, 12 rows an octave,
// written as a program's .frd file at path.
void write_flat(const std::filesystem::path& path, double lo, int octaves, double level,
                const char* phase) {
  std::ofstream out(path);
  out << "* Freq(Hz) SPL(dB) Phase(degrees)\n";
  for (int k = 0; k <= 12 * octaves; ++k) {
    out << lo * std::exp2(k / 12.0) << "\t" << level
        << (phase != nullptr ? std::string("\t") + phase : "") << "\n";
  }
}

}  // namespace

// The public average of files: each mode's closed form for a 0 dB and a 6 dB response a
// quarter-turn apart, over the range both cover; refusals as errors of their kind, naming the
// input as it was given.
TEST(FrdAverage, FilesThroughThePublicApiGiveTheClosedFormsOrNameTheirInput) {
  TempDir dir;
  const std::string a = (dir.work() / "a.frd").string(), b = (dir.work() / "b.txt").string();
  const std::string bare = (dir.work() / "bare.frd").string();
  write_flat(a, 20, 10, 0, "0");
  write_flat(b, 100, 7, 6, "90");  // to 12.8 kHz
  write_flat(bare, 20, 10, 0, nullptr);
  const double g = std::pow(10.0, 0.3);  // 6 dB as a gain
  const struct {
    vellisk::AverageMode mode;
    double level, phase;
  } modes[] = {{vellisk::AverageMode::power, 10 * std::log10((1 + g * g) / 2), 0},
               {vellisk::AverageMode::db, 3, 0},
               {vellisk::AverageMode::vector, 20 * std::log10(std::hypot(1, g) / 2),
                std::atan2(g, 1) * 180 / std::numbers::pi}};
  for (const auto& m : modes) {
    SCOPED_TRACE(static_cast<int>(m.mode));
    const vellisk::FrdAverage avg = vellisk::average_response_files({a, b}, m.mode);
    ASSERT_FALSE(avg.frequencies.empty());
    EXPECT_NEAR(avg.frequencies.front(), 100, 1e-9);
    EXPECT_GT(avg.frequencies.back(), 12800 / std::exp2(1.0 / vellisk::kAveragePointsPerOctave));
    EXPECT_LE(avg.frequencies.back(), 12800 * (1 + 1e-9));
    EXPECT_NEAR(avg.frequencies[96] / avg.frequencies[0], 2, 1e-9);
    EXPECT_EQ(avg.phase.size(), m.mode == vellisk::AverageMode::vector ? avg.frequencies.size() : 0);
    for (std::size_t i = 0; i < avg.frequencies.size(); ++i) {
      EXPECT_NEAR(avg.level[i], m.level, 1e-6);
      if (!avg.phase.empty()) {
        EXPECT_NEAR(avg.phase[i], m.phase, 1e-6);
      }
      EXPECT_NEAR(avg.min_db[i], 0, 1e-9);
      EXPECT_NEAR(avg.max_db[i], 6, 1e-9);
      EXPECT_NEAR(avg.std_db[i], std::sqrt(18.0), 1e-9);
      if (testing::Test::HasFailure()) return;
    }
  }
  const struct {
    std::vector<std::string> paths;
    vellisk::AverageMode mode;
    int grid;
    vellisk::ProblemCode code;
    std::string message;
  } refusals[] = {
      {{a, "missing.frd"}, vellisk::AverageMode::db, 96, vellisk::ProblemCode::unreadable,
       "Unable to read input (missing.frd): No such file or directory"},
      {{a, bare}, vellisk::AverageMode::vector, 96, vellisk::ProblemCode::invalid_recording,
       "input (" + bare + ") has no phase"},
      {{}, vellisk::AverageMode::db, 96, vellisk::ProblemCode::invalid_request, "at least one input"},
      {{a}, vellisk::AverageMode::db, 0, vellisk::ProblemCode::invalid_request,
       "the grid (0 points an octave) must be 1 to 1000"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.message);
    try {
      vellisk::average_response_files(r.paths, r.mode, r.grid);
      ADD_FAILURE() << "not refused";
    } catch (const vellisk::Error& e) {
      EXPECT_EQ(e.code(), r.code);
      EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
    }
  }
}
