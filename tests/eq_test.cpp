// vellisk-eq's fit against responses made of known filters and the documented house curve, its
// reading of vellisk-ir's response WAV files against the .frd rows of the same measurement,
// and the program's refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "run_vellisk.h"
#include "vellisk/vellisk.h"

using namespace vellisk;

namespace {

// 96 points an octave from 20 Hz to 20 kHz.
std::vector<double> grid() {
  std::vector<double> f;
  for (double x = 20; x <= 20000; x *= std::exp2(1.0 / 96)) f.push_back(x);
  return f;
}

EqCurve curve_of(const std::vector<EqFilter>& filters, double offset_db) {
  EqCurve c{grid(), {}};
  c.level = filters_gain_db(filters, 48000, c.frequencies);
  for (double& l : c.level) l += offset_db;
  return c;
}

double largest(const std::vector<double>& x) { return *std::max_element(x.begin(), x.end()); }

}  // namespace

TEST(EqFit, CutsThePeaksOfAResponseMadeOfPeaks) {
  const std::vector<EqFilter> peaks = {{EqFilterType::peaking, 150, 8, 4},
                                       {EqFilterType::peaking, 1200, 5, 2},
                                       {EqFilterType::peaking, 5000, 6, 3}};
  EqRequest r;
  const EqPlan plan = plan_correction(r, curve_of(peaks, 70));
  const EqCorrection c = fit_correction(plan);
  EXPECT_GT(c.before.rms_db, 1.5);
  EXPECT_LT(c.after.rms_db, 0.1);
  EXPECT_LE(c.filters.size(), 6u);
  EXPECT_EQ(c.preamp_db, 0);
  // The filters undo the peaks: the sum of both is flat wherever the fit looked.
  const std::vector<double> made = filters_gain_db(peaks, 48000, c.filters_gain.frequencies);
  for (std::size_t i = 0; i < made.size(); ++i) {
    SCOPED_TRACE(c.filters_gain.frequencies[i]);
    EXPECT_NEAR(made[i] + c.filters_gain.level[i], 0, 0.4);
  }
}

TEST(EqFit, BoostsAreLimitedAndThePreampTakesThemBack) {
  const std::vector<EqFilter> dips = {{EqFilterType::peaking, 300, -9, 3},
                                      {EqFilterType::peaking, 3000, -4, 1}};
  for (const double boost : {0.0, 3.0, 12.0}) {
    SCOPED_TRACE(boost);
    EqRequest r;
    r.max_boost_db = boost;
    r.shelves = true;
    r.rates = {44100, 96000};
    const EqCorrection c = fit_correction(plan_correction(r, curve_of(dips, 0)));
    std::vector<double> dense;
    for (double f = 1; f < 22050; f *= std::exp2(1.0 / 480)) dense.push_back(f);
    for (const double rate : r.rates) {
      const double top = largest(filters_gain_db(c.filters, rate, dense));
      EXPECT_LE(top, boost + 0.1);
      EXPECT_LE(top + c.preamp_db, 1e-3);
    }
    EXPECT_LT(c.after.rms_db, boost >= 12 ? 0.2 : c.before.rms_db);
  }
}

TEST(EqFit, AResponseOfTheHouseCurveNeedsNoFilter) {
  // The house curve as documented: +6 dB below 50 Hz rising from 200 Hz, -3 dB above 20 kHz
  // falling from 1 kHz, each a raised cosine in log frequency.
  EqCurve house{grid(), {}};
  for (const double f : house.frequencies) {
    const double bass = std::clamp(std::log2(200 / f) / 2, 0.0, 1.0);
    const double treble = std::clamp(std::log(f / 1000) / std::log(20.0), 0.0, 1.0);
    house.level.push_back(80 + 6 * (1 - std::cos(std::numbers::pi * bass)) / 2 -
                          3 * (1 - std::cos(std::numbers::pi * treble)) / 2);
  }
  EqRequest r;
  r.target = EqTarget::house;
  r.house_low_db = 6;
  r.house_high_db = 3;
  const EqCorrection c = fit_correction(plan_correction(r, house));
  EXPECT_LT(c.before.max_db, 0.05);
  EXPECT_TRUE(c.filters.empty());
  r.target = EqTarget::flat;
  EXPECT_GT(fit_correction(plan_correction(r, house)).before.rms_db, 1.5);
}

TEST(EqInputs, AResponseWavReadsAsTheFrdOfTheSameMeasurement) {
  // The sweep through a comb (a delayed half), measured by vellisk-ir into both files.
  const SweepParams design{48000, 0.5, 20, 20000, 3, 0.5, 0.05, 0.005};
  const std::vector<float> sweep = sweep_samples(design);
  std::vector<float> rec(sweep.size() + 48000, 0.0f);
  for (std::size_t i = 0; i < sweep.size(); ++i) {
    rec[i + 100] += 0.3f * sweep[i];
    rec[i + 148] += 0.15f * sweep[i];
  }
  TempDir dir;
  std::ofstream(dir.work() / "rec.pcm", std::ios::binary)
      .write(reinterpret_cast<const char*>(rec.data()), static_cast<std::streamsize>(rec.size() * 4));
  RunSetup setup;
  setup.program = VELLISK_IR_BINARY;
  const RunResult ir = run_program(dir, {"--frd", "ir.frd", "48000", "0.5", "20", "20000", "3", "0.5",
                                         "0.05", "0.005", "rec.pcm", "ir.wav"}, setup);
  ASSERT_EQ(ir.status, 0) << ir.err;
  EqRequest r;
  r.rates = {96000};
  const EqPlan wav = plan_correction(r, {(dir.work() / "ir.wav").string()});
  const EqPlan frd = plan_correction(r, {(dir.work() / "ir.frd").string()});
  ASSERT_EQ(wav.measured.frequencies.size(), frd.measured.frequencies.size());
  EXPECT_GT(largest(frd.measured.level) - *std::min_element(frd.measured.level.begin(), frd.measured.level.end()), 9);
  for (std::size_t i = 0; i < wav.measured.level.size(); ++i) {
    SCOPED_TRACE(wav.measured.frequencies[i]);
    // The .frd's rows are rounded to 0.001 Hz and 0.01 dB.
    EXPECT_NEAR(wav.measured.frequencies[i] / frd.measured.frequencies[i], 1, 1e-5);
    EXPECT_NEAR(wav.measured.level[i], frd.measured.level[i], 0.01);
  }
}

TEST(VelliskEq, RefusesBeforeAnyWorkAndWritesNothing) {
  TempDir dir;
  {
    std::ofstream in(dir.work() / "in.frd");
    for (double f = 20; f <= 20000; f *= 1.01) in << f << " " << 3 * std::sin(f / 300) << "\n";
    std::ofstream(dir.work() / "narrow.frd") << "100 0\n1000 0\n";
    std::ofstream(dir.work() / "bad.frd") << "* heading\n100 0\n200 1 dB\n300 0\n";
  }
  const std::vector<std::string> before = list_files(dir.work());
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--filters", "0"}, "--filters (0) must be 1 to 64"},
      {{"--filters", "65"}, "--filters (65) must be 1 to 64"},
      {{"--max-boost", "30"}, "--max-boost (30) must be 0 to 24 dB"},
      {{"--max-boost", "0", "--max-cut", "0"}, "must not both be 0"},
      {{"--range", "5000-100"}, "--range (5000-100) must be given low before high"},
      {{"--q-range", "10-0.5"}, "--q-range (10-0.5) must be given low before high"},
      {{"--range", "10-5000"}, "must lie within what every input covers"},
      {{"--target", "narrow.frd", "--range", "50-500"}, "target (narrow.frd) covers 100-1000 Hz"},
      {{"--rate", "16000", "--range", "100-10000"}, "--rate (16000) must be above twice"},
      {{"--rate", "48000,4000"}, "--rate (4000) must be 8000 to 768000 Hz"},
      {{"--filters", "ten"}, "--filters (ten) must be a whole number"},
      {{"--apo", "in.frd"}, "input and output (in.frd, in.frd) must not name the same file"},
      {{"--apo", "a.txt", "--json", "a.txt"}, "outputs (a.txt, a.txt) must not name the same file"},
      {{"--fir", "f.wav", "--fir-length", "1000"}, "it needs at least 19200 taps"},
      {{"--fir", "f.wav", "--phase", "mixed", "--mixed-above", "10"}, "--mixed-above (10 Hz) must lie within"},
      {{"--fir", "f.wav", "--phase", "zero"}, "--phase (zero) must be minimum, linear or mixed"},
      {{"bad.frd"}, "input (bad.frd) line 3 is neither a row of finite numbers"},
  };
  RunSetup setup;
  setup.program = VELLISK_EQ_BINARY;
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"--apo", "out.txt", "--predicted", "p.frd"});
    if (c.args.back() != "bad.frd") args.push_back("in.frd");
    SCOPED_TRACE(c.says);
    const RunResult r = run_program(dir, args, setup);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(list_files(dir.work()), before);
  }
}

TEST(EqFit, StepsAndLimitsHold) {
  std::vector<EqFilter> bumps;
  for (int k = 0; k < 8; ++k) {
    bumps.push_back({EqFilterType::peaking, 40 * std::pow(2.0, k), k % 2 ? -5.0 : 9.0, 3});
  }
  EqRequest r;
  r.gain_step_db = 0.5;
  r.frequency_step_hz = 5;
  r.q_low = 1;
  r.q_high = 4;
  r.max_cut_db = 6;
  r.max_boost_db = 2;
  r.range_low_hz = 30;
  r.range_high_hz = 8000;
  const EqCorrection c = fit_correction(plan_correction(r, curve_of(bumps, 0)));
  ASSERT_FALSE(c.filters.empty());
  for (const EqFilter& f : c.filters) {
    SCOPED_TRACE(f.frequency_hz);
    EXPECT_DOUBLE_EQ(f.gain_db / 0.5, std::round(f.gain_db / 0.5));
    EXPECT_DOUBLE_EQ(f.frequency_hz / 5, std::round(f.frequency_hz / 5));
    EXPECT_GE(f.gain_db, -6);
    EXPECT_LE(f.gain_db, 2);
    EXPECT_GE(f.q, 1);
    EXPECT_LE(f.q, 4);
    EXPECT_GE(f.frequency_hz, 30);
    EXPECT_LE(f.frequency_hz, 8000);
  }
  EXPECT_LT(c.after.rms_db, c.before.rms_db / 2);
}

TEST(VelliskEq, FirFilesAtEachRateHoldTheSameTaps) {
  TempDir dir;
  {
    std::ofstream in(dir.work() / "in.frd");
    for (double f = 20; f <= 20000; f *= 1.01) in << f << " " << 6 * std::exp(-std::pow(std::log2(f / 150) * 3, 2)) << "\n";
  }
  RunSetup setup;
  setup.program = VELLISK_EQ_BINARY;
  const RunResult r =
      run_program(dir,
                  {"--rate", "48000,44100", "--fir", "c.wav", "--fir-raw", "c.f32", "--fir-length",
                   "20000", "--predicted", "p.frd", "--camilladsp", "c.yml", "in.frd"},
                  setup);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(list_files(dir.work()),
            (std::vector<std::string>{"c-44100.f32", "c-44100.wav", "c-48000.f32", "c-48000.wav",
                                      "c.yml", "in.frd", "p-44100.frd", "p-48000.frd"}));
  // The report gives the error through the lowest rate's FIR: a cut of the bump, as the filters'.
  double fir_rms = 0, fir_max = 0, before = 0, after = 0;
  const std::size_t at = r.out.find("  error through the FIR at 44100 Hz: ");
  ASSERT_NE(at, std::string::npos) << r.out;
  ASSERT_EQ(std::sscanf(r.out.c_str() + at,
                        "  error through the FIR at 44100 Hz: rms %lf dB, largest %lf dB", &fir_rms,
                        &fir_max),
            2);
  const std::size_t filters = r.out.find("Error over the range: ");
  ASSERT_EQ(std::sscanf(r.out.c_str() + filters,
                        "Error over the range: rms %lf dB before, %lf dB after", &before, &after),
            2);
  EXPECT_GT(before, 1);
  EXPECT_LT(fir_rms, before / 4);
  EXPECT_LT(fir_max, 0.5);
  // CamillaDSP gets the lowest rate's FIR, whatever the order of the rates.
  EXPECT_NE(read_file(dir.work() / "c.yml").find("filename: \"c-44100.wav\""), std::string::npos);
  for (const char* rate : {"44100", "48000"}) {
    SCOPED_TRACE(rate);
    const std::string wav = read_file(dir.work() / ("c-" + std::string(rate) + ".wav"));
    const std::string raw = read_file(dir.work() / ("c-" + std::string(rate) + ".f32"));
    ASSERT_EQ(raw.size(), 20000u * 4);
    ASSERT_GT(wav.size(), raw.size());
    EXPECT_EQ(wav.substr(wav.size() - raw.size()), raw);
    const std::vector<float> taps = read_samples(dir.work() / ("c-" + std::string(rate) + ".f32"));
    // The 6 dB bump at 150 Hz cut: the taps sum to about unit gain at DC, the peak first.
    double sum = 0;
    for (const float t : taps) sum += t;
    EXPECT_NEAR(sum, 1, 0.02);
    EXPECT_EQ(std::max_element(taps.begin(), taps.end(), [](float a, float b) { return std::abs(a) < std::abs(b); }) - taps.begin(), 0);
    // Each rate's prediction is the input through that rate's taps (rows rounded to 0.01 dB).
    std::ifstream predicted(dir.work() / ("p-" + std::string(rate) + ".frd"));
    int rows = 0;
    for (std::string line; std::getline(predicted, line);) {
      double f = 0, level = 0;
      if (line[0] == '*' || std::sscanf(line.c_str(), "%lf %lf", &f, &level) != 2 ||
          ++rows % 40 != 0)
        continue;
      std::complex<double> h = 0;
      for (std::size_t t = 0; t < taps.size(); ++t) {
        h += static_cast<double>(taps[t]) *
             std::polar(1.0, -2 * std::numbers::pi * f * static_cast<double>(t) / std::stod(rate));
      }
      const double input = 6 * std::exp(-std::pow(std::log2(f / 150) * 3, 2));
      EXPECT_NEAR(level, input + 20 * std::log10(std::abs(h)), 0.02) << f;
    }
    EXPECT_GT(rows, 800);
  }
}

TEST(VelliskEq, MemoryDoesNotGrowWithTheNumberOfInputs) {
  // 200 inputs of 5000 rows with phase against 2: held, their rows alone would take 24 MB more.
#ifdef __SANITIZE_ADDRESS__
  // AddressSanitizer holds freed memory in quarantine, which would grow with the files.
  const char* options = std::getenv("ASAN_OPTIONS");
  const std::string asan = std::string(options != nullptr ? options : "") + ":quarantine_size_mb=0";
  setenv("ASAN_OPTIONS", asan.c_str(), 1);
#endif
  TempDir dir;
  const std::filesystem::path w = dir.work();
  {
    std::ofstream in(w / "seat.frd");
    for (int i = 0; i < 5000; ++i) {
      const double f = 20 * std::pow(1000.0, i / 4999.0);
      in << f << " " << 4 * std::sin(f / 200) << " " << std::fmod(f, 360) - 180 << "\n";
    }
  }
  RunSetup setup;
  setup.program = VELLISK_EQ_BINARY;
  long peak[2] = {};
  for (const int inputs : {2, 200}) {
    SCOPED_TRACE(inputs);
    std::vector<std::string> args = {"--mode", "vector", "--json", "eq.json"};
    for (int i = 0; i < inputs; ++i) {
      const std::string name = "s" + std::to_string(i) + ".frd";
      if (!std::filesystem::exists(w / name)) std::filesystem::create_symlink("seat.frd", w / name);
      args.push_back(name);
    }
    const RunResult r = run_program(dir, args, setup);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::to_string(inputs) + " responses averaged"), std::string::npos)
        << r.out;
    peak[inputs == 200] = r.max_rss_kib;
  }
  EXPECT_LT(peak[1] - peak[0], 2048) << peak[0] << " KiB for 2 inputs, " << peak[1] << " for 200";
}
