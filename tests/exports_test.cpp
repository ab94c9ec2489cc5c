// Tests of vellisk-ir's exports: the frequency-response text files, the gate, the smoothing and
// the JSON report, against systems whose responses are known in closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "response/frequency_response.h"
#include "run_vellisk.h"
#include "sweep/sweep_gen.h"

namespace {

using Complex = std::complex<double>;

// 2 s from 10 Hz to 22 kHz at 48 kHz: every row from 50 Hz to 15 kHz lies well inside the band.
const std::vector<std::string> kNumbers = {"48000", "0.25", "10",   "22000",
                                           "2",     "0.5",  "0.05", "0.02"};
constexpr double kRate = 48000;

std::vector<float> sweep_file() {
  SweepParams p{kRate, 0.25, 10, 22000, 2, 0.5, 0.05, 0.02};
  std::vector<float> samples;
  emit_sweep(compute_design(p), [&samples](double v) { samples.push_back(static_cast<float>(v)); });
  return samples;
}

void write_floats(const std::filesystem::path& path, const std::vector<float>& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()),
             static_cast<std::streamsize>(data.size() * sizeof(float)));
}

RunResult run_ir(const TempDir& dir, std::vector<std::string> args, const std::string& recording) {
  args.insert(args.end(), kNumbers.begin(), kNumbers.end());
  args.insert(args.end(), {recording, "ir.f32"});
  RunSetup setup;
  setup.program = VELLISK_IR_BINARY;
  return run_program(dir, args, setup);
}

// A recording of the sweep through h, given as (delay in samples, gain) taps, with a second of
// silence after it; with channels > 1 the other channels are silent.
std::vector<float> through_taps(const std::vector<std::pair<int, double>>& taps, int channels = 1) {
  const std::vector<float> s = sweep_file();
  std::vector<float> y((s.size() + 48000) * static_cast<std::size_t>(channels));
  for (const auto& [delay, gain] : taps) {
    for (std::size_t t = 0; t < s.size(); ++t) {
      y[(t + static_cast<std::size_t>(delay)) * static_cast<std::size_t>(channels)] +=
          static_cast<float>(gain * s[t]);
    }
  }
  return y;
}

struct Frd {
  std::vector<std::string> header;  // the '*' lines, without the '*'
  std::vector<double> hz, db, degrees;
};

Frd read_frd(const std::filesystem::path& path) {
  Frd f;
  std::istringstream in(read_file(path));
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("* ")) {
      f.header.push_back(line.substr(2));
      continue;
    }
    double hz, db, deg;
    char tab1, tab2;
    std::istringstream row(line);
    row >> hz >> std::noskipws >> tab1 >> db >> tab2 >> deg;
    EXPECT_TRUE(row && tab1 == '\t' && tab2 == '\t') << path << ": " << line;
    EXPECT_TRUE(deg > -180 && deg <= 180) << line;
    f.hz.push_back(hz), f.db.push_back(db), f.degrees.push_back(deg);
  }
  return f;
}

// The header line that starts with `key`, after it.
std::string header_value(const Frd& f, const std::string& key) {
  for (const std::string& line : f.header) {
    if (line.starts_with(key)) return line.substr(key.size());
  }
  ADD_FAILURE() << "no header line " << key;
  return "";
}

// The delay the header says was removed from the phase, in samples.
double removed_delay(const Frd& f) {
  const std::string value = header_value(f, "Delay removed from the phase: ");
  return std::stod(value.substr(value.find('(') + 1));
}

double wrapped(double degrees) { return std::remainder(degrees, 360.0); }

// The peaking equaliser sox's `equalizer f0 Qq gain` runs: the biquad of the
// audio EQ cookbook, H(z) = (b0 + b1 z^-1 + b2 z^-2) / (a0 + a1 z^-1 + a2 z^-2).
Complex peaking_eq(double f, double f0, double q, double gain_db) {
  const double a = std::pow(10.0, gain_db / 40);
  const double w0 = 2 * std::numbers::pi * f0 / kRate;
  const double alpha = std::sin(w0) / (2 * q);
  const Complex z1 = std::polar(1.0, -2 * std::numbers::pi * f / kRate);
  const Complex num = (1 + alpha * a) - 2 * std::cos(w0) * z1 + (1 - alpha * a) * z1 * z1;
  const Complex den = (1 + alpha / a) - 2 * std::cos(w0) * z1 + (1 - alpha / a) * z1 * z1;
  return num / den;
}

// The system: sox's peaking equaliser at 1 kHz, +6 dB, Q 1, after 59 samples
// of delay. Each row from 50 Hz to 15 kHz matches the biquad, with the delay
// the header gives removed.
TEST(FrequencyResponseFile, SoxEqualiserMatchesTheTextbookBiquad) {
  TempDir dir;
  write_floats(dir.work() / "sweep.f32", sweep_file());
  RunSetup sox;
  sox.program = VELLISK_SOX;
  const RunResult made = run_program(dir, {"-t",      "raw",
                                           "-r",      "48000",
                                           "-e",      "floating-point",
                                           "-b",      "32",
                                           "-c",      "1",
                                           "-L",      "sweep.f32",
                                           "-t",      "raw",
                                           "-e",      "floating-point",
                                           "-b",      "32",
                                           "rec.f32", "equalizer",
                                           "1000",    "1q",
                                           "+6",      "pad",
                                           "59s",     "1"},
                                     sox);
  ASSERT_EQ(made.status, 0) << made.err;
  // A --pre of 0.3 s keeps the ringing of the band's low edge out of the rows.
  const RunResult r = run_ir(dir, {"-p", "0.3", "--frd", "eq.frd"}, "rec.f32");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Frequency response written: eq.frd\n"), std::string::npos) << r.out;
  const Frd f = read_frd(dir.work() / "eq.frd");
  EXPECT_EQ(f.header.front(), "vellisk-ir 1.1.0");
  EXPECT_EQ(header_value(f, "Sweep: "),
            "48000 0.25 10 22000 2 0.5 0.05 0.02 (rate amplitude hzstart hzend duration silence "
            "leadin leadout)");
  EXPECT_EQ(header_value(f, "Smoothing: "), "none");
  EXPECT_EQ(header_value(f, "Gate: "), "none");
  EXPECT_EQ(f.header.back(), "Freq(Hz) SPL(dB) Phase(degrees)");
  // 96 rows an octave from hzstart to hzend.
  ASSERT_EQ(f.hz.size(), static_cast<std::size_t>(std::floor(96 * std::log2(2200.0))) + 1);
  EXPECT_EQ(f.hz.front(), 10);
  EXPECT_NEAR(f.hz[96], 20, 0.001);
  const double delay = removed_delay(f);
  EXPECT_NEAR(delay, 59, 0.1);
  int checked = 0;
  for (std::size_t i = 0; i < f.hz.size(); ++i) {
    if (f.hz[i] < 50 || f.hz[i] > 15000) continue;
    const Complex h = peaking_eq(f.hz[i], 1000, 1, 6) *
                      std::polar(1.0, -2 * std::numbers::pi * f.hz[i] * (59 - delay) / kRate);
    ASSERT_NEAR(f.db[i], 20 * std::log10(std::abs(h)), 0.05) << f.hz[i] << " Hz";
    ASSERT_NEAR(wrapped(f.degrees[i] - std::arg(h) * 180 / std::numbers::pi), 0, 0.5)
        << f.hz[i] << " Hz";
    ++checked;
  }
  EXPECT_EQ(checked, 790);
}

// The direct sound and a reflection 5 ms later at -6 dB: gated at 4 ms the
// level is flat; ungated it ripples between 1.5 and 0.5 of the direct sound.
TEST(FrequencyResponseFile, GateKeepsTheDirectSoundAndDropsTheReflection) {
  TempDir dir;
  write_floats(dir.work() / "rec.f32", through_taps({{100, 1}, {340, 0.5}}));
  const auto ripple = [&dir](const std::string& name) {
    const Frd f = read_frd(dir.work() / name);
    double lo = 1e9, hi = -1e9;
    for (std::size_t i = 0; i < f.hz.size(); ++i) {
      if (f.hz[i] >= 1000 && f.hz[i] <= 15000)
        lo = std::min(lo, f.db[i]), hi = std::max(hi, f.db[i]);
    }
    return hi - lo;
  };
  const RunResult whole = run_ir(dir, {"--frd", "whole.frd"}, "rec.f32");
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_GT(ripple("whole.frd"), 8);
  EXPECT_EQ(whole.out.find("Gate"), std::string::npos);

  const RunResult gated = run_ir(dir, {"--gate", "4", "--frd", "gated.frd"}, "rec.f32");
  ASSERT_EQ(gated.status, 0) << gated.err;
  EXPECT_LT(ripple("gated.frd"), 0.5);
  const std::string gate = "4 ms after the arrival, from 0.1 s before it; resolves 250 Hz and up";
  EXPECT_NE(gated.out.find("\nGate: " + gate + "\n"), std::string::npos) << gated.out;
  EXPECT_EQ(header_value(read_frd(dir.work() / "gated.frd"), "Gate: "), gate);
  // The response file stays whole: the reflection is in it, at half the direct sound.
  const std::vector<float> ir = read_samples(dir.work() / "ir.f32");
  ASSERT_EQ(ir.size(), 52800u);
  EXPECT_NEAR(ir[4800 + 340] / ir[4800 + 100], 0.5, 0.01);
}

// Smoothing averages power: a comb of 1 and 0.5 smoothed over an octave reads
// 10 log10(1 + 0.25) = 0.97 dB, where averaging magnitudes would give 0.53 dB
// and averaging decibels 0. Its phase, that of the complex mean, is 0.
TEST(FrequencyResponse, SmoothingIsAPowerAverageWithThePhaseOfTheComplexMean) {
  const std::int64_t n = 8192;
  std::vector<float> x(static_cast<std::size_t>(n));
  const double delay = 100.25;  // the arrival, between samples: a band-limited impulse there
  for (std::int64_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) - delay;
    x[static_cast<std::size_t>(i)] =
        static_cast<float>(std::sin(std::numbers::pi * t) / (std::numbers::pi * t));
  }
  for (std::int64_t i = n - 1; i >= 240; --i) {  // from the end: each tap sees the impulse alone
    x[static_cast<std::size_t>(i)] += 0.5f * x[static_cast<std::size_t>(i - 240)];
  }
  const Spectrum s = spectrum_of(x.data(), n, kRate, 2 * n);
  const std::vector<double> hz = {4000, 8000};
  const FrequencyResponse smooth = sample_response(s, hz, 1, delay, 1);
  const FrequencyResponse raw = sample_response(s, octave_grid(4000, 8000, 96), 1, delay, 0);
  for (std::size_t i = 0; i < hz.size(); ++i) {
    EXPECT_NEAR(smooth.level[i], 10 * std::log10(1.25), 0.1) << hz[i];
    EXPECT_NEAR(smooth.phase[i], 0, 3) << hz[i];
  }
  // Unsmoothed, the rows follow the comb: |1 + 0.5 exp(-i 2 pi f 240 / rate)|.
  for (std::size_t i = 0; i < raw.frequencies.size(); ++i) {
    const Complex h =
        1.0 + 0.5 * std::polar(1.0, -2 * std::numbers::pi * raw.frequencies[i] * 240 / kRate);
    ASSERT_NEAR(raw.level[i], 20 * std::log10(std::abs(h)), 0.2) << raw.frequencies[i];
    ASSERT_NEAR(wrapped(raw.phase[i] - std::arg(h) * 180 / std::numbers::pi), 0, 2)
        << raw.frequencies[i];
  }
}

// The gate's weights: 0 outside, half-Hann over the first fifth of the span
// before the arrival and the last fifth after it, 1 between.
TEST(FrequencyResponse, GateTapersOverTheFirstAndLastFifth) {
  const Gate gate{100, 50};
  const double arrival = 200.5;
  const std::pair<double, double> weights[] = {
      {arrival - 100.5, 0}, {arrival - 100, 0},
      {arrival - 90, 0.5},  {arrival - 80, 1},
      {arrival, 1},         {arrival + 40, 1},
      {arrival + 45, 0.5},  {arrival + 50, 0},
      {arrival + 60, 0},    {arrival - 95, 0.5 - 0.5 * std::cos(std::numbers::pi / 4)}};
  for (const auto& [t, w] : weights) {
    SCOPED_TRACE(testing::Message() << "t = " << t);
    EXPECT_NEAR(gate_weight(gate, arrival, t), w, 1e-12);
  }
}

// Two channels with harmonics: one file per channel and order; a memoryless
// y = x + 0.3 x^2 on channel 1 gives a flat linear response and a second
// harmonic of 0.3 A / 2 at -90 degrees over its excitation range; the silent
// channel 2 reads -300 dB.
TEST(FrequencyResponseFile, ChannelsAndHarmonicOrdersEachHaveAFile) {
  TempDir dir;
  std::vector<float> rec = through_taps({{0, 1}}, 2);
  for (std::size_t i = 0; i < rec.size(); i += 2) rec[i] += 0.3f * rec[i] * rec[i];
  write_floats(dir.work() / "rec.f32", rec);
  const RunResult r =
      run_ir(dir, {"-p", "0.05", "-c", "2", "-H", "2", "--frd", "m.txt"}, "rec.f32");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"m-c1.txt", "m-c2.txt", "m-c1-h2.txt", "m-c2-h2.txt"}) {
    EXPECT_NE(r.out.find("Frequency response written: " + std::string(name) + "\n"),
              std::string::npos)
        << name;
  }
  EXPECT_EQ(list_files(dir.work()).size(), 7u);  // with the recording and two response files
  const Frd linear = read_frd(dir.work() / "m-c1.txt");
  const Frd h2 = read_frd(dir.work() / "m-c1-h2.txt");
  const Frd silent = read_frd(dir.work() / "m-c2.txt");
  EXPECT_EQ(header_value(h2, "Response: "),
            "harmonic order 2, against its excitation frequency, level in dB re unit gain");
  EXPECT_EQ(header_value(silent, "Recording: "), "rec.f32, channel 2 of 2");
  EXPECT_LE(h2.hz.back(), 11000);
  EXPECT_GT(h2.hz.back(), 11000 / std::exp2(1.0 / 96));
  const double level = 20 * std::log10(0.3 * 0.25 / 2);
  for (std::size_t i = 0; i < h2.hz.size(); ++i) {
    if (h2.hz[i] < 500 || h2.hz[i] > 5000) continue;
    ASSERT_NEAR(h2.db[i], level, 0.1) << h2.hz[i];
    ASSERT_NEAR(wrapped(h2.degrees[i] + 90), 0, 1) << h2.hz[i];
    ASSERT_NEAR(linear.db[i], 0, 0.05) << linear.hz[i];
    ASSERT_NEAR(linear.degrees[i], 0, 0.5) << linear.hz[i];
    ASSERT_EQ(silent.db[i], -300);
  }
}

// The figure's axis says the smoothing and the gate; its text is kept as
// character references.
TEST(FrequencyResponseFile, FigureSaysItsSmoothingAndGate) {
  TempDir dir;
  write_floats(dir.work() / "rec.f32", through_taps({{100, 1}}));
  const RunResult r =
      run_ir(dir, {"--smooth", "3", "--gate", "4", "--plot", "f.svg", "--frd", "s.frd"}, "rec.f32");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text;
  const std::string svg = read_file(dir.work() / "f.svg");
  for (std::size_t i = 0; (i = svg.find("&#x", i)) != std::string::npos; i += 3) {
    text += static_cast<char>(std::stoi(svg.substr(i + 3, svg.find(';', i) - i - 3), nullptr, 16));
  }
  EXPECT_NE(text.find("Level (dB), 1/3-octave smoothing, gated at 4 ms"), std::string::npos);
  EXPECT_NE(text.find("1 / gate"), std::string::npos);
  EXPECT_EQ(header_value(read_frd(dir.work() / "s.frd"), "Smoothing: "), "1/3 octave");
}

// Whether a printed figure is the JSON's, rounded to the decimals printed.
void expect_printed(double printed, const nlohmann::json& value, int decimals, const char* what) {
  ASSERT_TRUE(value.is_number()) << what << ": " << value;
  EXPECT_NEAR(printed, value.get<double>(), 0.5 * std::pow(10.0, -decimals) + 1e-9) << what;
}

// The JSON parses, and every figure of the printed report is in it: the
// sweep, the recording, the window, the gate, the drift correction and each
// channel's lines, a silent one's included.
TEST(JsonReport, HoldsEveryFigureOfThePrintedReport) {
  TempDir dir;
  std::vector<float> rec = through_taps({{37, 1}}, 3);
  for (std::size_t i = 0; i < rec.size(); i += 3) {
    rec[i + 2] = 0.5f * rec[i];
    rec[i] += 0.3f * rec[i] * rec[i];
  }
  write_floats(dir.work() / "rec.f32", rec);
  const RunResult r = run_ir(
      dir,
      {"-p", "0.02", "-c", "3", "-H", "3", "--gate", "5", "--drift", "auto", "--json", "r.json"},
      "rec.f32");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("JSON report written: r.json\n"), std::string::npos) << r.out;
  const nlohmann::json j = nlohmann::json::parse(read_file(dir.work() / "r.json"));
  EXPECT_EQ(j["program"], "vellisk-ir 1.1.0");
  EXPECT_EQ(j["outputs"], nlohmann::json({"ir.f32", "ir-h2.f32", "ir-h3.f32", "r.json"}));
  EXPECT_EQ(j["warnings"], nlohmann::json::array());
  ASSERT_EQ(j["channels"].size(), 3u);
  std::istringstream out(r.out);
  int seen = 0;
  for (std::string line; std::getline(out, line);) {
    SCOPED_TRACE(line);
    const char* l = line.c_str();
    long long a = 0, b = 0;
    double x = 0, y = 0, z = 0, w = 0, v = 0;
    int c = 0;
    const nlohmann::json& sweep = j["sweep"];
    const nlohmann::json& window = j["window"];
    if (std::sscanf(l, "Sweep: %lld samples from %lf Hz to %lf Hz at %lf Hz, after %lld", &a, &x,
                    &y, &z, &b) == 5) {
      EXPECT_EQ(a, sweep["sweep_samples"]);
      EXPECT_EQ(b, sweep["silence_samples"]);
      EXPECT_EQ(x, sweep["hzstart_hz"]);
      EXPECT_EQ(y, sweep["hzend_hz"]);
      EXPECT_EQ(z, sweep["rate_hz"]);
    } else if (std::sscanf(l, "Recording: rec.f32, headerless float32, %d channels, %lld frames",
                           &c, &a) == 2) {
      EXPECT_EQ(c, j["recording"]["channels"]);
      EXPECT_EQ(a, j["recording"]["frames"]);
    } else if (std::sscanf(
                   l, "Window: pre %lf s, length %lf s, %lld samples, zero instant at sample %lld",
                   &x, &y, &a, &b) == 4) {
      EXPECT_EQ(x, window["pre_s"]);
      EXPECT_EQ(y, window["length_s"]);
      EXPECT_EQ(a, window["samples"]);
      EXPECT_EQ(b, window["zero_instant_sample"]);
    } else if (std::sscanf(l, "Transform size: %lld samples", &a) == 1) {
      EXPECT_EQ(a, window["transform_samples"]);
    } else if (std::sscanf(l, "Noise measured from %lf s to %lf s", &x, &y) == 2) {
      expect_printed(x, j["noise"]["first_s"], 3, "noise from");
      expect_printed(y, j["noise"]["last_s"], 3, "noise to");
    } else if (std::sscanf(l,
                           "Gate: %lf ms after the arrival, from %lf s before it; resolves %lf Hz",
                           &x, &y, &z) == 3) {
      EXPECT_EQ(x, j["gate"]["gate_ms"]);
      EXPECT_EQ(y, j["gate"]["pre_s"]);
      EXPECT_EQ(z, j["gate"]["lowest_resolved_hz"]);
    } else if (std::sscanf(l, "Drift corrected: %lf ppm, as measured on channel %d", &x, &c) == 2) {
      expect_printed(x, j["drift_correction"]["drift_ppm"], 2, "drift corrected");
      EXPECT_EQ(c, j["drift_correction"]["measured_on_channel"]);
      EXPECT_EQ(j["drift_correction"]["source"], "measured");
    } else if (std::sscanf(l,
                           "Channel %d: arrival %lf samples (%lf ms), peak %lf dB, peak-to-noise "
                           "%lf dB, drift %lf ppm",
                           &c, &x, &y, &z, &w, &v) == 6) {
      const nlohmann::json& ch = j["channels"][static_cast<std::size_t>(c - 1)];
      EXPECT_EQ(ch["channel"], c);
      EXPECT_EQ(ch["silent"], false);
      expect_printed(x, ch["arrival_samples"], 1, "arrival");
      expect_printed(y, ch["arrival_ms"], 3, "arrival ms");
      expect_printed(z, ch["impulse_peak_db"], 2, "peak");
      expect_printed(w, ch["peak_to_noise_db"], 1, "peak-to-noise");
      expect_printed(v, ch["drift_ppm"], 1, "drift");
    } else if (std::sscanf(l, "Channel %d harmonics: H2 %lf dB, H3 %lf dB, THD %lf %% (%lf dB)", &c,
                           &x, &y, &z, &w) == 5) {
      const nlohmann::json& ch = j["channels"][static_cast<std::size_t>(c - 1)];
      ASSERT_EQ(ch["harmonics"].size(), 2u);
      EXPECT_EQ(ch["harmonics"][0]["order"], 2);
      expect_printed(x, ch["harmonics"][0]["level_db"], 1, "H2");
      expect_printed(y, ch["harmonics"][1]["level_db"], 1, "H3");
      EXPECT_NEAR(z, ch["thd_percent"].get<double>(), 0.005 * z);  // three significant digits
      expect_printed(w, ch["thd_db"], 1, "THD dB");
    } else if (std::sscanf(l, "Channel %d: no response, every sample is %lld", &c, &a) == 2) {
      const nlohmann::json& ch = j["channels"][static_cast<std::size_t>(c - 1)];
      EXPECT_EQ(ch["silent"], true);
      EXPECT_TRUE(ch["arrival_samples"].is_null() && ch["impulse_peak_db"].is_null() &&
                  ch["thd_percent"].is_null());
    } else {
      continue;
    }
    ++seen;
  }
  // Sweep, recording, window, transform, noise, gate, drift, channels 1 and 3
  // with their harmonics, silent channel 2.
  EXPECT_EQ(seen, 12) << r.out;
}

// Refused before any work, or failed on writing, with no file left: bad
// values, a gate longer than the window, outputs that would overwrite each
// other and a text file that cannot be created.
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
      {{"--frd", "none/r.frd"}, "Unable to write none/r-c1.frd: No such file or directory"},
  };
  for (const auto& [options, message] : cases) {
    SCOPED_TRACE(message);
    TempDir dir;
    write_floats(dir.work() / "rec.f32", through_taps({{0, 1}}, 2));
    std::vector<std::string> args = {"-c", "2"};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = run_ir(dir, args, "rec.f32");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, message + "\n");
    EXPECT_EQ(list_files(dir.work()), std::vector<std::string>{"rec.f32"});
  }
}

}  // namespace
