// Tests of vellisk-spin's response WAV inputs: responses measured by vellisk-ir into WAV files
// give, gated, the curves of the text files vellisk-ir writes with the same gate, and what
// lies beyond the gate is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <fstream>
#include <numbers>
#include <sstream>

#include "run_vellisk.h"
#include "vellisk/response.h"
#include "vellisk/spin.h"
#include "vellisk/sweep.h"

using namespace vellisk;

namespace {

const SweepParams kSweep{48000, 0.5, 20, 20000, 1, 0.5, 0.05, 0.005};
const std::vector<std::string> kSweepArgs = {"48000", "0.5", "20", "20000", "1", "0.5", "0.05", "0.005"};
constexpr int kDirect = 24;       // samples from the zero instant to the direct sound
constexpr int kReflection = 480;  // samples from the direct sound to a reflection, 10 ms
constexpr double kReflected = 0.5;

// A loudspeaker whose direct sound at an angle is g (delta[n] + b delta[n - 2]): it falls by
// 3 dB every 60 degrees off axis and gains a notch towards fs / 4.
struct Direct {
  double g = 1, b = 0;
  explicit Direct(const SpinAngle& a)
      : g(std::pow(10.0, -std::abs(a.degrees) / 400.0)),
        b(0.8 * std::abs(std::sin(a.degrees * std::numbers::pi / 360)) * (a.orbit == Orbit::vertical ? 0.5 : 1)) {}
  double db(double hz) const {
    const double w = 2 * std::numbers::pi * hz / kSweep.rate;
    return 20 * std::log10(g * std::abs(1.0 + b * std::polar(1.0, -2 * w)));
  }
};

// The recording of the sweep played through the direct sound and, with a reflection, that
// sound again kReflection samples later, kReflected as loud: headerless float32.
void write_recording(const std::filesystem::path& path, const Direct& d, bool reflection) {
  const std::vector<float> sweep = sweep_samples(kSweep);
  std::vector<float> rec(sweep.size(), 0.0f);
  const int paths = reflection ? 4 : 2;
  for (int k = 0; k < paths; ++k) {
    const double gain = d.g * (k % 2 == 0 ? 1 : d.b) * (k < 2 ? 1 : kReflected);
    const std::size_t delay = kDirect + 2 * (k % 2) + (k < 2 ? 0 : kReflection);
    for (std::size_t i = 0; i + delay < rec.size(); ++i) rec[i + delay] += static_cast<float>(gain * sweep[i]);
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(rec.data()), static_cast<std::streamsize>(rec.size() * sizeof(float)));
}

RunResult run(const TempDir& dir, const char* program, const std::vector<std::string>& args) {
  RunSetup setup;
  setup.program = program;
  return run_program(dir, args, setup);
}

// Measures the angle's recording with vellisk-ir --gate gate_ms (and options) into "NAME.wav"
// and "NAME.frd".
void measure_angle(const TempDir& dir, const std::string& name, const SpinAngle& a, bool reflection,
                   const std::string& gate_ms, std::vector<std::string> args = {}) {
  write_recording(dir.work() / "recording.f32", Direct(a), reflection);
  args.insert(args.end(), {"--gate", gate_ms, "--frd", name + ".frd"});
  args.insert(args.end(), kSweepArgs.begin(), kSweepArgs.end());
  args.insert(args.end(), {"recording.f32", name + ".wav"});
  const RunResult r = run(dir, VELLISK_IR_BINARY, args);
  ASSERT_EQ(r.status, 0) << name << ": " << r.err;
}

// The CTA curves' rows of a CSV vellisk-spin wrote.
std::vector<std::vector<double>> csv_rows(const std::filesystem::path& path) {
  std::istringstream csv(read_file(path));
  std::vector<std::vector<double>> rows;
  for (std::string line; std::getline(csv, line);) {
    if (line.starts_with("#") || line.starts_with("frequency")) continue;
    std::vector<double>& cells = rows.emplace_back();
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(std::stod(cell));
  }
  return rows;
}

}  // namespace

TEST(SpinWav, GatedWavsGiveTheCurvesOfTheGatedTextFiles) {
  TempDir dir;
  std::vector<std::string> wavs = {"--allow-missing", "--gate", "5", "--cta", "wav.csv"};
  std::vector<std::string> frds = {"--allow-missing", "--cta", "frd.csv"};
  for (int d = -120; d <= 180; d += 60) {
    for (const Orbit orbit : {Orbit::horizontal, Orbit::vertical}) {
      if (orbit == Orbit::vertical && (d == 0 || d == 180)) continue;
      const SpinAngle a{orbit, d};
      const std::string name = "box_" + spin_angle_text(a);
      measure_angle(dir, name, a, true, "5");
      wavs.push_back(name + ".wav");
      frds.push_back(name + ".frd");
    }
  }
  const RunResult w = run(dir, VELLISK_SPIN_BINARY, wavs);
  ASSERT_EQ(w.status, 0) << w.err;
  const RunResult f = run(dir, VELLISK_SPIN_BINARY, frds);
  ASSERT_EQ(f.status, 0) << f.err;
  const auto from_wav = csv_rows(dir.work() / "wav.csv"), from_frd = csv_rows(dir.work() / "frd.csv");
  ASSERT_EQ(from_wav.size(), from_frd.size());
  ASSERT_GT(from_wav.size(), 190u);  // 1/20 octave over the band
  double worst = 0;
  for (std::size_t i = 0; i < from_wav.size(); ++i) {
    ASSERT_EQ(from_wav[i].size(), 15u);
    // The text files give their frequencies to 6 or 7 digits, the grid starts at the first, and the CSV
    // rounds to 1e-3 Hz.
    EXPECT_NEAR(from_wav[i][0], from_frd[i][0], 1e-5 * from_frd[i][0] + 1.5e-3);
    for (std::size_t c = 1; c < 15; ++c) worst = std::max(worst, std::abs(from_wav[i][c] - from_frd[i][c]));
  }
  EXPECT_LT(worst, 0.05);
}

TEST(SpinWav, AReflectionAfterTheGateIsGatedOut) {
  TempDir dir;
  const SpinAngle a{Orbit::horizontal, 60};
  measure_angle(dir, "box_H 60", a, true, "5");
  const std::string wav = (dir.work() / "box_H 60.wav").string();
  const Direct truth(a);
  // Gated at 5 ms, the reflection 10.5 ms after the arrival is gone: the direct sound's own
  // level. Ungated, its comb swings the level from 1 - 0.5 to 1 + 0.5 times that.
  for (const double gate : {5.0, 0.0}) {
    SCOPED_TRACE(gate);
    const std::vector<FrequencyResponse> r = read_response_file(wav, gate);
    ASSERT_EQ(r.size(), 1u);
    double low = 1e9, high = -1e9;
    for (std::size_t i = 0; i < r[0].frequencies.size(); ++i) {
      const double hz = r[0].frequencies[i];
      if (hz < 500 || hz > 16000) continue;
      const double error = r[0].level[i] - truth.db(hz);
      low = std::min(low, error), high = std::max(high, error);
    }
    if (gate > 0) {
      EXPECT_GT(low, -0.3);
      EXPECT_LT(high, 0.3);
    } else {
      EXPECT_LT(low, -5);
      EXPECT_GT(high, 3);
    }
  }
}

TEST(SpinWav, AnUncompensatedResponseIsReadAsItsTextFile) {
  // Its rows keep the sweep's band edge and run over hzstart to hzend: the file says so.
  TempDir dir;
  measure_angle(dir, "box_V 60", SpinAngle{Orbit::vertical, 60}, false, "20", {"--uncompensated"});
  const std::vector<FrequencyResponse> r = read_response_file((dir.work() / "box_V 60.wav").string(), 20);
  ASSERT_EQ(r.size(), 1u);
  std::istringstream frd(read_file(dir.work() / "box_V 60.frd"));
  std::size_t i = 0;
  for (std::string line; std::getline(frd, line);) {
    if (line.empty() || line[0] == '*' || line[0] == '#') continue;
    double hz = 0, db = 0;
    std::istringstream(line) >> hz >> db;
    ASSERT_LT(i, r[0].frequencies.size());
    EXPECT_NEAR(r[0].frequencies[i], hz, 1e-6 * hz + 5e-4);  // the text files round
    EXPECT_NEAR(r[0].level[i], db, 0.005) << hz;
    ++i;
  }
  EXPECT_EQ(i, r[0].frequencies.size());
  EXPECT_NEAR(r[0].frequencies.front(), 20, 0.01);
}

TEST(SpinWav, RefusalsAreOneLineAndWriteNothing) {
  TempDir dir;
  measure_angle(dir, "box_H 0", SpinAngle{}, false, "5", {"-H", "2", "--pre", "0.01"});
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"box_H 0-h2.wav"}, "response (box_H 0-h2.wav) does not say how it was measured (its comment: it is "
                           "not a response's text"},
      {{"--gate", "1500", "box_H 0.wav"}, "gate (1500 ms) must not be longer than"},
      {{"missing_H 10.wav"}, "Unable to open response (missing_H 10.wav)"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--cta", "out.csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args.back());
    const RunResult r = run(dir, VELLISK_SPIN_BINARY, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.work() / "out.csv"));
  }
}
