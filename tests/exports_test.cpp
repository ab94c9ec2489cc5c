// Tests of vellisk-ir's exports: the frequency-response text files, the gate, the smoothing and
// the JSON report, against systems whose responses are known in closed form.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "response/frequency_response.h"
#include "run_vellisk.h"
#include "sweep/sweep_gen.h"

using namespace vellisk;

namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

// 2 s from 10 Hz to 22 kHz at 48 kHz: every row from 50 Hz to 15 kHz lies well inside the band.
const std::vector<std::string> kNumbers = {"48000", "0.25", "10",   "22000",
                                           "2",     "0.5",  "0.05", "0.02"};
constexpr double kRate = 48000;

// The sweep through taps of (delay in samples, gain) on channel 1 of `channels`, then 1 s of
// silence; each frame then passed through `frame`, when given.
void record(const TempDir& dir, const std::vector<std::pair<int, double>>& taps, int channels = 1,
            const std::function<void(float*)>& frame = nullptr) {
  std::vector<float> s;
  emit_sweep(compute_design({kRate, 0.25, 10, 22000, 2, 0.5, 0.05, 0.02}),
             [&s](double v) { s.push_back(static_cast<float>(v)); });
  int last = 0;
  for (const auto& tap : taps) last = std::max(last, tap.first);
  std::vector<float> y((s.size() + static_cast<std::size_t>(last) + 48000) *
                       static_cast<std::size_t>(channels));
  for (const auto& [delay, gain] : taps) {
    for (std::size_t t = 0; t < s.size(); ++t) {
      y[(t + static_cast<std::size_t>(delay)) * static_cast<std::size_t>(channels)] +=
          static_cast<float>(gain * s[t]);
    }
  }
  for (std::size_t i = 0; frame && i < y.size(); i += static_cast<std::size_t>(channels)) {
    frame(&y[i]);
  }
  std::ofstream(dir.work() / "rec.f32", std::ios::binary)
      .write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(4 * y.size()));
}

RunResult run_ir(const TempDir& dir, std::vector<std::string> args,
                 const std::string& recording = "rec.f32") {
  args.insert(args.end(), kNumbers.begin(), kNumbers.end());
  args.insert(args.end(), {recording, "ir.f32"});
  RunSetup setup;
  setup.program = VELLISK_IR_BINARY;
  return run_program(dir, args, setup);
}

struct Frd {
  std::map<std::string, std::string> header;  // "* Key: value" lines
  std::vector<std::string> comments;          // every '*' line
  std::vector<double> hz, db, degrees;
};

Frd read_frd(const std::filesystem::path& path) {
  Frd f;
  std::istringstream in(read_file(path));
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("* ")) {
      f.comments.push_back(line.substr(2));
      const auto colon = line.find(": ");
      if (colon != std::string::npos) f.header[line.substr(2, colon - 2)] = line.substr(colon + 2);
      continue;
    }
    double hz = 0, db = 0, deg = 0;
    char tab1 = 0, tab2 = 0;
    std::istringstream(line) >> hz >> std::noskipws >> tab1 >> db >> tab2 >> deg;
    EXPECT_TRUE(tab1 == '\t' && tab2 == '\t' && deg > -180 && deg <= 180) << line;
    f.hz.push_back(hz), f.db.push_back(db), f.degrees.push_back(deg);
  }
  return f;
}

// The delay the header says was removed from the phase, in samples.
double removed_delay(const Frd& f) {
  const std::string& value = f.header.at("Delay removed from the phase");
  return std::stod(value.substr(value.find('(') + 1));
}

// Every row from lo to hi Hz has truth's level and phase within the tolerances; returns the
// rows checked.
int expect_rows(const Frd& f, double lo, double hi, const std::function<Complex(double)>& truth,
                double db, double degrees) {
  int rows = 0;
  for (std::size_t i = 0; i < f.hz.size(); ++i) {
    if (f.hz[i] < lo || f.hz[i] > hi) continue;
    ++rows;
    const Complex h = truth(f.hz[i]);
    EXPECT_NEAR(f.db[i], 20 * std::log10(std::abs(h)), db) << f.hz[i] << " Hz";
    EXPECT_NEAR(std::remainder(f.degrees[i] - std::arg(h) * 180 / kPi, 360), 0, degrees)
        << f.hz[i] << " Hz";
    if (testing::Test::HasFailure()) return rows;
  }
  return rows;
}

// The peaking equaliser sox's `equalizer f0 Qq gain` runs: the biquad of the
// audio EQ cookbook, H(z) = (b0 + b1 z^-1 + b2 z^-2) / (a0 + a1 z^-1 + a2 z^-2).
Complex peaking_eq(double f, double f0, double q, double gain_db) {
  const double a = std::pow(10.0, gain_db / 40);
  const double w0 = 2 * kPi * f0 / kRate;
  const double alpha = std::sin(w0) / (2 * q);
  const Complex z1 = std::polar(1.0, -2 * kPi * f / kRate);
  const Complex num = (1 + alpha * a) - 2 * std::cos(w0) * z1 + (1 - alpha * a) * z1 * z1;
  const Complex den = (1 + alpha / a) - 2 * std::cos(w0) * z1 + (1 - alpha / a) * z1 * z1;
  return num / den;
}

// sox's peaking equaliser at 1 kHz, +6 dB, Q 1, after 59 samples of delay:
// each row from 50 Hz to 15 kHz is the biquad's, less the delay the header gives.
TEST(FrequencyResponseFile, SoxEqualiserMatchesTheTextbookBiquad) {
  TempDir dir;
  record(dir, {{0, 1}});
  RunSetup sox;
  sox.program = VELLISK_SOX;
  const RunResult made = run_program(
      dir,
      {"-t",   "raw",     "-r", "48000", "-e", "floating-point", "-b", "32", "-c",     "1",
       "-L",   "rec.f32", "-t", "raw",   "-e", "floating-point", "-b", "32", "eq.f32", "equalizer",
       "1000", "1q",      "+6", "pad",   "59s"},
      sox);
  ASSERT_EQ(made.status, 0) << made.err;
  std::filesystem::rename(dir.work() / "eq.f32", dir.work() / "rec.f32");
  // A --pre of 0.3 s keeps the ringing of the band's low edge out of the rows.
  const RunResult r = run_ir(dir, {"-p", "0.3", "--frd", "eq.frd"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Frequency response written: eq.frd\n"), std::string::npos) << r.out;
  const Frd f = read_frd(dir.work() / "eq.frd");
  EXPECT_EQ(f.comments.front(), "vellisk-ir 1.1.0");
  EXPECT_EQ(f.header.at("Sweep"),
            "48000 0.25 10 22000 2 0.5 0.05 0.02 (rate amplitude hzstart "
            "hzend duration silence leadin leadout)");
  EXPECT_EQ(f.header.at("Smoothing") + ", " + f.header.at("Gate"), "none, none");
  EXPECT_EQ(f.comments.back(), "Freq(Hz) SPL(dB) Phase(degrees)");
  // 96 rows an octave, on hzstart's grid, over the band the header names.
  const std::string band = f.header.at("Band");
  const double low = std::stod(band), high = std::stod(band.substr(band.find("to ") + 3));
  EXPECT_NEAR(low, 11.84, 0.01) << band;
  EXPECT_NEAR(high, 20561.8, 0.1) << band;
  const double step = std::exp2(1.0 / 96);
  EXPECT_TRUE(f.hz.front() >= low && f.hz.front() / step < low) << f.hz.front();
  EXPECT_TRUE(f.hz.back() <= high && f.hz.back() * step > high) << f.hz.back();
  EXPECT_NEAR(std::remainder(96 * std::log2(f.hz.front() / 10), 1), 0, 0.01);
  EXPECT_NEAR(f.hz[96], 2 * f.hz[0], 0.001);
  const double delay = removed_delay(f);
  EXPECT_NEAR(delay, 59, 0.1);
  const auto truth = [delay](double hz) {
    return peaking_eq(hz, 1000, 1, 6) * std::polar(1.0, -2 * kPi * hz * (59 - delay) / kRate);
  };
  EXPECT_EQ(expect_rows(f, 50, 15000, truth, 0.05, 0.5), 790);
}

// The direct sound and a reflection 5 ms later at -6 dB: ungated, the level
// ripples between 1.5 and 0.5 of the direct sound; gated at 4 ms, it is flat,
// and the figure says so. The response file stays whole.
TEST(FrequencyResponseFile, GateKeepsTheDirectSoundAndDropsTheReflection) {
  TempDir dir;
  record(dir, {{100, 1}, {340, 0.5}});
  const auto ripple = [&dir](const std::string& name) {
    const Frd f = read_frd(dir.work() / name);
    double lo = 1e9, hi = -1e9;
    for (std::size_t i = 0; i < f.hz.size(); ++i) {
      if (f.hz[i] >= 1000 && f.hz[i] <= 15000)
        lo = std::min(lo, f.db[i]), hi = std::max(hi, f.db[i]);
    }
    return hi - lo;
  };
  const RunResult whole = run_ir(dir, {"--frd", "whole.frd"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_GT(ripple("whole.frd"), 8);
  const RunResult gated =
      run_ir(dir, {"--gate", "4", "--smooth", "3", "--plot", "f.svg", "--frd", "gated.frd"});
  ASSERT_EQ(gated.status, 0) << gated.err;
  EXPECT_EQ(whole.out.find("Gate"), std::string::npos);
  // The in-band gain, the band's median magnitude, is that of the gated response.
  EXPECT_NE(whole.out.find("in-band gain 0.96 dB"), std::string::npos) << whole.out;
  EXPECT_NE(gated.out.find("in-band gain 0.00 dB"), std::string::npos) << gated.out;
  const std::string gate = "4 ms after the arrival, from 0.1 s before it; resolves 250 Hz and up";
  EXPECT_NE(gated.out.find("\nGate: " + gate + "\n"), std::string::npos) << gated.out;
  const Frd f = read_frd(dir.work() / "gated.frd");
  EXPECT_EQ(f.header.at("Gate"), gate);
  EXPECT_EQ(f.header.at("Smoothing"), "1/3 octave");
  EXPECT_LT(ripple("gated.frd"), 0.5);
  const std::vector<float> ir = read_samples(dir.work() / "ir.f32");
  ASSERT_EQ(ir.size(), 52800u);
  // The reflection, 240 samples after the direct sound, at half its peak (the band limit's
  // own peak lies a few samples after each arrival).
  const auto peak_after = [&ir](std::size_t at) {
    return *std::max_element(ir.begin() + static_cast<std::ptrdiff_t>(at),
                             ir.begin() + static_cast<std::ptrdiff_t>(at + 10));
  };
  EXPECT_NEAR(peak_after(4800 + 340) / peak_after(4800 + 100), 0.5, 0.01);
  // The figure's text is kept as character references.
  std::string text;
  const std::string svg = read_file(dir.work() / "f.svg");
  for (std::size_t i = 0; (i = svg.find("&#x", i)) != std::string::npos; i += 3) {
    text += static_cast<char>(std::stoi(svg.substr(i + 3, 4), nullptr, 16));
  }
  EXPECT_NE(text.find("Level (dB), 1/3-octave smoothing, gated at 4 ms"), std::string::npos);
  EXPECT_NE(text.find("1 / gate"), std::string::npos);
}

// Smoothing averages power: a comb of 1 and 0.5 smoothed over an octave reads
// 10 log10(1 + 0.25) = 0.97 dB, where averaging magnitudes would give 0.53 dB
// and averaging decibels 0; its phase, that of the complex mean, is 0.
// Unsmoothed, the rows follow the comb, with the delay removed.
TEST(FrequencyResponse, SmoothingIsAPowerAverageWithThePhaseOfTheComplexMean) {
  const std::size_t n = 8192;
  const double delay = 100.25;  // a band-limited impulse between samples
  std::vector<float> x(n);
  for (std::size_t i = n; i-- > 0;) {  // from the end: each tap sees the impulse alone
    const auto impulse = [delay](double t) {
      return std::sin(kPi * (t - delay)) / (kPi * (t - delay));
    };
    x[i] = static_cast<float>(impulse(static_cast<double>(i)) +
                              0.5 * impulse(static_cast<double>(i) - 240));
  }
  const Spectrum s = spectrum_of(x.data(), static_cast<std::int64_t>(n), kRate, 2 * n);
  const FrequencyResponse smooth = sample_response(s, {4000, 8000}, 1, delay, 1);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NEAR(smooth.level[i], 10 * std::log10(1.25), 0.1) << i;
    EXPECT_NEAR(smooth.phase[i], 0, 3) << i;
  }
  const FrequencyResponse raw = sample_response(s, octave_grid(4000, 8000, 96), 1, delay, 0);
  for (std::size_t i = 0; i < raw.frequencies.size(); ++i) {
    const Complex h = 1.0 + 0.5 * std::polar(1.0, -2 * kPi * raw.frequencies[i] * 240 / kRate);
    ASSERT_NEAR(raw.level[i], 20 * std::log10(std::abs(h)), 0.2) << raw.frequencies[i];
    ASSERT_NEAR(std::remainder(raw.phase[i] - std::arg(h) * 180 / kPi, 360), 0, 2)
        << raw.frequencies[i];
  }
}

// The gate's weights: 0 outside, half-Hann over the first fifth of the span
// before the arrival and the last fifth after it, 1 between.
TEST(FrequencyResponse, GateTapersOverTheFirstAndLastFifth) {
  const double a = 200.5;  // the arrival, between samples
  const std::pair<double, double> weights[] = {
      {a - 100.5, 0}, {a - 100, 0},  {a - 95, 0.5 - 0.5 * std::cos(kPi / 4)},
      {a - 90, 0.5},  {a - 80, 1},   {a, 1},
      {a + 40, 1},    {a + 45, 0.5}, {a + 50, 0},
      {a + 60, 0}};
  for (const auto& [t, w] : weights) EXPECT_NEAR(gate_weight({100, 50}, a, t), w, 1e-12) << t;
}

// Every number of the printed report in out, up to the files written, is
// one of the JSON's figures, rounded as printed; returns how many there are.
int expect_report_in_json(const std::string& out, const nlohmann::json& j) {
  std::vector<double> figures;
  const std::function<void(const nlohmann::json&)> collect = [&](const nlohmann::json& v) {
    if (v.is_number()) figures.push_back(v.get<double>());
    if (v.is_structured())
      for (const auto& item : v) collect(item);
  };
  collect(j);
  const std::size_t from = out.find("Sweep:");
  const std::string report = out.substr(from, out.find("Response written") - from);
  // Numbers standing alone (not the 2 of "H2" or the 32 of "float32").
  const std::regex number(R"((^|[\s(,])([-+]?\d+(\.(\d+))?))");
  int checked = 0;
  for (std::sregex_iterator m(report.begin(), report.end(), number), end; m != end;
       ++m, ++checked) {
    const std::string text = (*m)[2].str();
    const double half = 0.5 * std::pow(10.0, -static_cast<double>((*m)[4].length()));
    const bool found = std::any_of(figures.begin(), figures.end(), [&](double v) {
      char three[32];  // the THD's percentage has three significant digits
      std::snprintf(three, sizeof three, "%.3g", v);
      return std::abs(v - std::stod(text)) <= half * (1 + 1e-9) || text == three;
    });
    EXPECT_TRUE(found) << text << " in " << report;
  }
  return checked;
}

// Three channels with harmonics, 37 samples late: the memoryless y = x + 0.3
// x^2, a silent channel, and the sweep wired back, the timing reference. Each channel and order has
// its text file: channel 1 is flat, its second harmonic 0.3 A / 2 at -90
// degrees over its excitation range, the silent channel at -300 dB. The JSON
// parses, and every number of the printed report, up to the files written, is
// one of its figures, rounded as printed.
TEST(JsonReport, ChannelsOrdersAndEveryFigureOfThePrintedReport) {
  TempDir dir;
  record(dir, {{37, 1}}, 3, [](float* f) { f[2] = f[0], f[0] += 0.3f * f[0] * f[0]; });
  const RunResult r = run_ir(dir, {"-p", "0.02", "-c", "3", "-H", "3", "--gate", "5", "--reference",
                                   "3", "--drift", "auto", "--json", "r.json", "--frd", "m.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(list_files(dir.work()).size(), 14u);  // 9 text files
  const Frd h2 = read_frd(dir.work() / "m-c1-h2.txt");
  EXPECT_EQ(h2.header.at("Response"),
            "harmonic order 2, against its excitation frequency, level in dB re unit gain");
  // Its rows end where its excitation leaves the band the sweep excites, half its top.
  const double top = std::stod(h2.header.at("Band").substr(h2.header.at("Band").find("to ") + 3));
  EXPECT_LE(h2.hz.back(), top / 2);
  EXPECT_GT(h2.hz.back(), top / 2 / std::exp2(1.0 / 96));
  expect_rows(
      h2, 500, 5000, [](double) { return Complex(0, -0.3 * 0.25 / 2); }, 0.1, 1);
  // Gated at 5 ms, a response flat down to 12 Hz is flat from 5 / gate up.
  expect_rows(
      read_frd(dir.work() / "m-c1.txt"), 1000, 5000, [](double) { return 1; }, 0.05, 0.5);
  const Frd silent = read_frd(dir.work() / "m-c2-h3.txt");
  EXPECT_EQ(silent.header.at("Recording"), "rec.f32, channel 2 of 3");
  EXPECT_EQ(silent.db[500], -300);

  const nlohmann::json j = nlohmann::json::parse(read_file(dir.work() / "r.json"));
  EXPECT_GT(expect_report_in_json(r.out, j), 40);
  EXPECT_NE(r.out.find("Channel 2: no response"), std::string::npos);
  EXPECT_EQ(j["channels"][1]["silent"], true);
  EXPECT_TRUE(j["channels"][1]["arrival_ms"].is_null());
  EXPECT_EQ(j["channels"][0]["harmonics"][1]["order"], 3);
  EXPECT_EQ(j["drift"]["source"], "reference");
  EXPECT_EQ(j["timing"]["reference_channel"], 3);
  EXPECT_EQ(j["gate"]["lowest_resolved_hz"], 200);
  EXPECT_EQ(j["outputs"][3], "r.json");
  EXPECT_EQ(j["outputs"][4], "m-c1.txt");
  EXPECT_EQ(j["outputs"][12], "m-c3-h3.txt");
}

// Two sweep files back to back, measured as repeats: the JSON holds each
// repeat's figures and the drift from their spacing. The recording's name is
// not UTF-8, which JSON must be: its stray byte becomes U+FFFD. A noise floor,
// as every recording has, makes the repeats equally noisy.
TEST(JsonReport, RepeatsAndTheirDrift) {
  TempDir dir;
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0, 1e-3f);
  record(dir, {{0, 1}, {144000, 1}}, 1, [&](float* x) { *x += noise(random); });
  std::filesystem::rename(dir.work() / "rec.f32", dir.work() / "rec\xff.f32");
  const RunResult r = run_ir(dir, {"--repeat", "2", "--json", "r.json"}, "rec\xff.f32");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(read_file(dir.work() / "r.json"));
  EXPECT_EQ(j["recording"]["file"], "rec\xef\xbf\xbd.f32");
  EXPECT_GT(expect_report_in_json(r.out, j), 20);
  ASSERT_EQ(j["timing"]["repeats"].size(), 2u);
  EXPECT_EQ(j["timing"]["repeats"][1]["left_out"], false);
  EXPECT_EQ(j["timing"]["repeats_averaged"], 2);
  EXPECT_EQ(j["drift"]["source"], "repeats");
  EXPECT_EQ(j["drift"]["corrected"], false);
}

// Refused before any work, with no file left.
TEST(FrequencyResponseFile, RefusalsAndFailuresLeaveNoFile) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--frd", "r.wav"}, "--frd (r.wav) must name a file ending in .frd or .txt"},
      {{"--frd", "dir/.frd"}, "--frd (dir/.frd) must name a file ending in .frd or .txt"},
      {{"--smooth", "0"}, "--smooth (0) must be a whole number from 1 to 96"},
      {{"--smooth", "97"}, "--smooth (97) must be a whole number from 1 to 96"},
      {{"--smooth", "1.5"}, "--smooth (1.5) must be a whole number from 1 to 96"},
      {{"--gate", "0"}, "--gate (0) must be a number of milliseconds greater than 0"},
      {{"--gate", "nan"}, "--gate (nan) must be a number of milliseconds greater than 0"},
      {{"--gate", "1001"}, "--gate (1001 ms) must not be longer than --length (1 s)"},
      {{"--gate", "0.01"}, "--gate (0.01 ms) must keep at least one sample at rate 48000"},
      {{"--json", "ir.f32"},
       "outputs (ir.f32, ir.f32) must not name the same file: one would overwrite the other"},
      {{"--json", "r-c2.frd", "--frd", "r.frd"},
       "outputs (r-c2.frd, r-c2.frd) must not name the same file: one would overwrite the other"},
      {{"--frd", "none/r.frd"}, "Unable to write none/r.frd: No such file or directory"},
  };
  for (const auto& [options, message] : cases) {
    SCOPED_TRACE(message);
    TempDir dir;
    record(dir, {{0, 1}}, 2);
    std::vector<std::string> args = {"-c", "2"};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = run_ir(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, message + "\n");
    EXPECT_EQ(list_files(dir.work()), std::vector<std::string>{"rec.f32"});
  }
}

}  // namespace

namespace {

// The sweep of `numbers` as a float WAV-less headerless recording: `early`
// frames of silence first, then the sweep file delayed by `delay` samples and
// scaled by gain; noise of `noise` rms over all of it.
void record_design(const TempDir& dir, const std::vector<std::string>& numbers, int early,
                   int delay, double gain, const std::string& name = "rec.f32") {
  SweepParams p{};
  double* n[] = {&p.rate, &p.amplitude, &p.hzstart, &p.hzend, &p.duration, &p.silence,
                 &p.leadin, &p.leadout};
  for (std::size_t i = 0; i < 8; ++i) *n[i] = std::stod(numbers[i]);
  std::vector<float> y(static_cast<std::size_t>(early + delay), 0.0f);
  emit_sweep(compute_design(p), [&](double v) { y.push_back(static_cast<float>(gain * v)); });
  std::ofstream(dir.work() / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(4 * y.size()));
}

RunResult run_design(const TempDir& dir, const std::vector<std::string>& numbers,
                     std::vector<std::string> args, const std::string& out = "ir.f32") {
  args.insert(args.end(), numbers.begin(), numbers.end());
  args.insert(args.end(), {"rec.f32", out});
  RunSetup setup;
  setup.program = VELLISK_IR_BINARY;
  return run_program(dir, args, setup);
}

}  // namespace

// A wire through two designs, one with long fades: every row written reads
// 0 dB and 0 degrees, from the band's low edge, where the fades leave the
// sweep 12 dB down, to its top; uncompensated, the fades' -31 dB at 20 Hz.
TEST(Compensation, AWireIsFlatOnEveryRowOfTheBand) {
  const struct {
    std::vector<std::string> numbers;
    double low, high;
  } cases[] = {{{"48000", "0.5", "20", "20000", "10", "1", "0.05", "0.005"}, 23.28, 19698.85},
               {{"8000", "0.5", "50", "3000", "2", "0.5", "0.2", "0.02"}, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.numbers[0]);
    TempDir dir;
    record_design(dir, c.numbers, 0, 0, 1);
    ASSERT_EQ(run_design(dir, c.numbers, {"--frd", "w.frd"}).status, 0);
    const Frd f = read_frd(dir.work() / "w.frd");
    const std::string band = f.header.at("Band");
    if (c.low > 0) {
      EXPECT_EQ(band.substr(0, band.find(',')), "23.28 Hz to 19698.85 Hz");
    }
    EXPECT_GT(f.hz.size(), 500u);
    EXPECT_EQ(expect_rows(f, 0, 1e9, [](double) { return 1; }, 0.05, 0.5),
              static_cast<int>(f.hz.size()));
    if (c.low == 0) continue;
    ASSERT_EQ(run_design(dir, c.numbers, {"--frd", "u.frd", "--uncompensated"}).status, 0);
    const Frd u = read_frd(dir.work() / "u.frd");
    EXPECT_EQ(u.hz.front(), 20);
    EXPECT_NEAR(u.db.front(), -31.2, 0.1);
  }
}

// sox's highpass at 30 Hz, the cookbook's two-pole biquad (Q 1/sqrt(2)),
// through the README's design: every row, from the band's lowest (23.44 Hz,
// 13 dB down) up, is the biquad's within 0.1 dB and 1 degree.
TEST(Compensation, SoxHighpassAt30HzIsTheTextbookBiquadFromTheLowestRow) {
  const std::vector<std::string> numbers = {"48000", "0.5", "20", "20000", "10", "1", "0.05", "0.005"};
  TempDir dir;
  record_design(dir, numbers, 0, 0, 1, "sweep.f32");
  RunSetup sox;
  sox.program = VELLISK_SOX;
  ASSERT_EQ(run_program(dir,
                        {"-t", "raw", "-r", "48000", "-e", "floating-point", "-b", "32", "-c", "1",
                         "-L", "sweep.f32", "-t", "raw", "-e", "floating-point", "-b", "32",
                         "rec.f32", "highpass", "30"},
                        sox)
                .status,
            0);
  ASSERT_EQ(run_design(dir, numbers, {"--frd", "hp.frd"}).status, 0);
  const Frd f = read_frd(dir.work() / "hp.frd");
  const double delay = removed_delay(f);
  const auto truth = [delay](double hz) {
    const double w0 = 2 * std::numbers::pi * 30 / kRate, alpha = std::sin(w0) / std::sqrt(2.0);
    const Complex z1 = std::polar(1.0, -2 * std::numbers::pi * hz / kRate);
    const Complex num = (1 + std::cos(w0)) / 2 * (1.0 - 2.0 * z1 + z1 * z1);
    const Complex den = (1 + alpha) - 2 * std::cos(w0) * z1 + (1 - alpha) * z1 * z1;
    return num / den * std::polar(1.0, 2 * std::numbers::pi * hz * delay / kRate);
  };
  EXPECT_LT(f.hz.front(), 23.5);
  EXPECT_EQ(expect_rows(f, 0, 1e9, truth, 0.1, 1), static_cast<int>(f.hz.size()));
}

// A memoryless x + 0.2 x^2 + 0.3 x^3 over noise at -60 dBFS, its sweep low
// enough that no product aliases: H2 and H3 stand above their noise, H4 to
// H8, which it lacks, are named below it, and the THD is H2's and H3's alone.
TEST(Compensation, HarmonicsUnderTheNoiseAreNamedAndLeftOutOfTheThd) {
  const std::vector<std::string> numbers = {"48000", "0.25", "20", "6000", "3", "0.5", "0.05", "0.02"};
  std::vector<float> y;
  std::mt19937 random(25);
  std::normal_distribution<double> noise(0, 1e-3);
  SweepParams p{48000, 0.25, 20, 6000, 3, 0.5, 0.05, 0.02};
  emit_sweep(compute_design(p), [&](double x) {
    y.push_back(static_cast<float>(x + 0.2 * x * x + 0.3 * x * x * x + noise(random)));
  });
  for (int i = 0; i < 48000; ++i) y.push_back(static_cast<float>(noise(random)));
  TempDir dir;
  std::ofstream(dir.work() / "rec.f32", std::ios::binary)
      .write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(4 * y.size()));
  const RunResult r = run_design(dir, numbers, {"-p", "0.01", "-H", "8", "--json", "r.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json c = nlohmann::json::parse(read_file(dir.work() / "r.json"))["channels"][0];
  double power = 0;
  for (const nlohmann::json& h : c.at("harmonics")) {
    const int k = h.at("order");
    SCOPED_TRACE(k);
    EXPECT_EQ(h.at("below_noise"), k > 3) << h;
    EXPECT_EQ(r.out.find("H" + std::to_string(k) + " below the noise") != std::string::npos, k > 3);
    if (k <= 3) power += std::pow(10, h.at("level_db").get<double>() / 10);
  }
  EXPECT_NEAR(c.at("thd_percent").get<double>(), 100 * std::sqrt(power), 1e-9);
  // The cubic term's third harmonic: 0.3 A^2 / 4 at A = 0.25.
  EXPECT_NEAR(c.at("harmonics")[1].at("level_db").get<double>(), 20 * std::log10(0.3 * 0.0625 / 4),
              0.5);
}

// A squaring term after a gain, y = 0.5 x + 0.05 x^2, reads its closed form 20 lg(0.05 A /
// (2 0.5)) at the sweep's amplitude A, whatever the fades: the summary keeps to the bands the
// sweep plays at full level, where a fade would lower the second harmonic with the drive.
TEST(Compensation, SecondHarmonicSummaryIsTheClosedFormWhateverTheFades) {
  for (const double leadin : {0.05, 0.3}) {
    SCOPED_TRACE(leadin);
    const std::vector<std::string> numbers = {
        "48000", "0.5", "20", "20000", "8", "0.5", leadin == 0.3 ? "0.3" : "0.05", "0.1"};
    std::vector<float> y(96, 0.0f);
    emit_sweep(compute_design(SweepParams{48000, 0.5, 20, 20000, 8, 0.5, leadin, 0.1}),
               [&](double x) { y.push_back(static_cast<float>(0.5 * x + 0.05 * x * x)); });
    y.resize(y.size() + 48000);
    TempDir dir;
    std::ofstream(dir.work() / "rec.f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(4 * y.size()));
    const RunResult r = run_design(dir, numbers, {"-H", "2", "--json", "r.json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json c = nlohmann::json::parse(read_file(dir.work() / "r.json"))["channels"][0];
    EXPECT_NEAR(c.at("harmonics")[0].at("level_db").get<double>(), 20 * std::log10(0.05 * 0.5),
                0.03);
  }
}

// A one-pole low-pass at 200 Hz, falling 6 dB an octave over most of the
// band: the in-band gain is the median of the 55 1/6-octave points from
// 2 hzstart to hzend / 2, the 28th, at 20 * 2^(27/6) Hz, its band's mean power
// computed here by hand, -7.87 dB. (The median over linear bins lies near
// 5.5 kHz, 21 dB lower.)
TEST(Compensation, InBandGainIsTheMedianOfTheSixthOctavePoints) {
  const double a = std::exp(-2 * std::numbers::pi * 200 / kRate);
  std::vector<std::pair<int, double>> taps;
  for (int n = 0; n < 1000; ++n) taps.emplace_back(n, (1 - a) * std::pow(a, n));
  TempDir dir;
  record(dir, taps);
  ASSERT_EQ(run_ir(dir, {"--json", "r.json"}).status, 0);
  const nlohmann::json j = nlohmann::json::parse(read_file(dir.work() / "r.json"));
  const double centre = 20 * std::exp2(27.0 / 6);
  double power = 0;
  const int steps = 10000;
  for (int i = 0; i < steps; ++i) {
    const double hz = centre * std::exp2((2.0 * (i + 0.5) / steps - 1) / 12);
    const double weight = centre * std::exp2((2.0 * (i + 1) / steps - 1) / 12) -
                          centre * std::exp2((2.0 * i / steps - 1) / 12);
    power += weight * std::norm((1 - a) / (1.0 - a * std::polar(1.0, -2 * std::numbers::pi * hz / kRate)));
  }
  power /= centre * (std::exp2(1.0 / 12) - std::exp2(-1.0 / 12));
  EXPECT_NEAR(j["channels"][0].at("gain_db").get<double>(), 10 * std::log10(power), 0.02);
}

// A recorder started 3 s early on a wire 200 samples late: the response is
// found 3.004 s after the zero instant, and --align measures it there, its
// file that of the recording without the 3 s.
TEST(Compensation, ARecorderStartedEarlyIsFoundAndAligned) {
  const std::vector<std::string> numbers = {"48000", "0.5", "20", "20000", "10", "1", "0.05", "0.005"};
  TempDir dir;
  record_design(dir, numbers, 0, 200, 1);
  ASSERT_EQ(run_design(dir, numbers, {}, "plain.f32").status, 0);
  record_design(dir, numbers, 144000, 200, 1);
  const RunResult warned = run_design(dir, numbers, {});
  EXPECT_NE(warned.err.find("Warning: channel 1: the response lies 3.004 s after the zero instant: "
                            "the recorder probably started that much before playback"),
            std::string::npos)
      << warned.err;
  const RunResult aligned = run_design(dir, numbers, {"--align"});
  ASSERT_EQ(aligned.status, 0) << aligned.err;
  EXPECT_EQ(aligned.err, "");
  EXPECT_NE(aligned.out.find("Channel 1: arrival 144200.0 samples"), std::string::npos)
      << aligned.out;
  EXPECT_TRUE(read_file(dir.work() / "ir.f32") == read_file(dir.work() / "plain.f32"));
}

// Systems and their inverses: a measured guitar cabinet (guitarix-common),
// sox's allpass and highpass, whose peaks' signs say nothing, and a wire
// through the uncompensated pair, whose response is of linear phase. The
// polarity is that of the system, in the JSON and the report.
TEST(Compensation, PolarityOfRealAndDispersiveSystems) {
  SF_INFO info{};
  SNDFILE* file = sf_open("/usr/share/gx_head/sounds/amps/Marshall MG 15.wav", SFM_READ, &info);
  ASSERT_NE(file, nullptr) << "the cabinet (guitarix-common) cannot be read";
  std::vector<float> cabinet(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, cabinet.data(), info.frames);
  sf_close(file);
  const struct {
    const char* name;
    std::vector<std::pair<int, double>> taps;
    std::vector<std::string> sox, options;
  } systems[] = {
      {"cabinet", {}, {}, {}},
      {"allpass", {{0, 1}}, {"allpass", "300", "2q", "highpass", "80"}, {}},
      {"wire", {{0, 1}}, {}, {"--uncompensated"}},
  };
  for (const auto& system : systems) {
    for (const double sign : {1.0, -1.0}) {
      SCOPED_TRACE(testing::Message() << system.name << " " << sign);
      std::vector<std::pair<int, double>> taps = system.taps;
      for (std::size_t i = 0; taps.empty() && i < cabinet.size(); i += static_cast<std::size_t>(info.channels))
        taps.emplace_back(static_cast<int>(i) / info.channels, 0.5 * cabinet[i]);
      if (system.sox.empty()) {
        for (auto& tap : taps) tap.second *= sign;
      }
      TempDir dir;
      record(dir, taps);
      if (!system.sox.empty()) {
        RunSetup sox;
        sox.program = VELLISK_SOX;
        const std::vector<std::string> raw = {"-t", "raw", "-r", "48000", "-e", "floating-point",
                                              "-b", "32", "-c", "1", "-L"};
        std::vector<std::string> args = raw;
        args.insert(args.end(), {"rec.f32"});
        args.insert(args.end(), raw.begin(), raw.end());
        args.insert(args.end(), {"out.f32"});
        args.insert(args.end(), system.sox.begin(), system.sox.end());
        args.insert(args.end(), {"vol", sign > 0 ? "1" : "-1"});
        ASSERT_EQ(run_program(dir, args, sox).status, 0);
        std::filesystem::rename(dir.work() / "out.f32", dir.work() / "rec.f32");
      }
      std::vector<std::string> options = system.options;
      options.insert(options.end(), {"--json", "r.json"});
      const RunResult r = run_ir(dir, options);
      ASSERT_EQ(r.status, 0) << r.err;
      const nlohmann::json j = nlohmann::json::parse(read_file(dir.work() / "r.json"));
      EXPECT_EQ(j["channels"][0]["polarity"], sign);
      EXPECT_EQ(r.out.find("polarity inverted") != std::string::npos, sign < 0) << r.out;
    }
  }
}
