// vellisk-ir's warning of a window that ends before the response has decayed: on a hall it
// names a --length that holds it; clean cabinets and filters in a default window never draw it.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_vellisk.h"
#include "sweep/sweep_gen.h"

using namespace vellisk;

namespace {

const std::vector<std::string> kNumbers = {"8000", "0.5", "30", "3500", "2", "0.5", "0.05", "0.01"};
const char* const kWindow = "has not decayed into the noise by the end of its window";

std::vector<double> sweep_samples() {
  std::vector<double> s;
  emit_sweep(compute_design({8000, 0.5, 30, 3500, 2, 0.5, 0.05, 0.01}),
             [&s](double v) { s.push_back(v); });
  return s;
}

// The sweep through the response h, 4 s of room after it, over a floor of
// uniform noise of rms `noise` (a fixed linear congruential sequence).
void record(const std::filesystem::path& path, const std::vector<double>& h, double noise) {
  std::vector<double> s = sweep_samples();
  std::vector<float> y(s.size() + 32000);
  unsigned state = 7;
  for (std::size_t i = 0; i < y.size(); ++i) {
    double v = 0;
    for (std::size_t k = 0; k < h.size() && k <= i; ++k) {
      if (i - k < s.size()) v += h[k] * s[i - k];
    }
    state = state * 1664525u + 1013904223u;
    y[i] = static_cast<float>(v + noise * std::sqrt(12.0) * ((state >> 8) / 16777216.0 - 0.5));
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(y.data()),
             static_cast<std::streamsize>(y.size() * sizeof(float)));
}

RunResult run_ir(const TempDir& dir, std::vector<std::string> args) {
  RunSetup setup;
  setup.program = VELLISK_IR_BINARY;
  std::vector<std::string> all = args;
  all.insert(all.end(), kNumbers.begin(), kNumbers.end());
  all.insert(all.end(), {"rec.pcm", "ir.pcm"});
  return run_program(dir, all, setup);
}

}  // namespace

TEST(VelliskIrWindow, AHallInTheDefaultWindowNamesTheLengthThatHoldsIt) {
  // A direct sound, then a diffuse decay of T 2.5 s (24 dB/s) from 20 dB
  // below it, over a noise floor: a window of 1 s holds 24 dB of it. The
  // length named must be longer, yet not absurd, and hold it.
  std::vector<double> h(static_cast<std::size_t>(3.5 * 8000));
  unsigned state = 1;
  for (std::size_t i = 1; i < h.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / 8000;
    h[i] = 0.05 * std::exp(-6.9078 * t / 2.5) * std::sqrt(12.0) * ((state >> 8) / 16777216.0 - 0.5);
  }
  h[0] = 0.5;
  TempDir dir;
  record(dir.work() / "rec.pcm", h, 3e-5);
  const RunResult r = run_ir(dir, {});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::size_t at = r.err.find(kWindow);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::size_t length = r.err.find("--length ", at);
  ASSERT_NE(length, std::string::npos) << r.err;
  const double suggested = std::stod(r.err.substr(length + 9));
  EXPECT_GE(suggested, 1.5) << r.err;
  EXPECT_LE(suggested, 4.5) << r.err;
  const RunResult held = run_ir(dir, {"-l", r.err.substr(length + 9, 3)});
  EXPECT_EQ(held.err.find(kWindow), std::string::npos) << held.err;
}

TEST(VelliskIrWindow, CleanCabinetsAndFiltersInTheDefaultWindowDrawNoWarning) {
  // Measured guitar cabinets (guitarix-common), taken at 8 kHz as they are,
  // and sox's filters, each through the sweep over a floor 100 dB down.
  std::vector<std::vector<double>> systems;
  for (const char* name : {"amps/Marshall MG 15.wav", "amps/Mesa Boogie Mark V.wav",
                           "amps/Peavey Vypyr 15.wav", "amps/Splawn Nitro.wav"}) {
    const std::filesystem::path path = std::filesystem::path("/usr/share/gx_head/sounds") / name;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << path << " (guitarix-common) cannot be read";
    std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<double>& h = systems.emplace_back();
    for (std::size_t i = 0; i < frames.size(); i += static_cast<std::size_t>(info.channels)) {
      h.push_back(0.2 * frames[i]);
    }
  }
  for (std::size_t i = 0; i < systems.size(); ++i) {
    SCOPED_TRACE("cabinet " + std::to_string(i));
    TempDir dir;
    record(dir.work() / "rec.pcm", systems[i], 1e-5);
    const RunResult r = run_ir(dir, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find(kWindow), std::string::npos) << r.err;
  }
  for (const char* effect : {"lowpass 1000", "highpass -1 40", "bandpass 1000 100h",
                             "equalizer 60 10q 12 gain -12", "sinc 200-3000"}) {
    SCOPED_TRACE(effect);
    TempDir dir;
    record(dir.work() / "sweep.pcm", {1.0}, 0);
    const std::string sox = std::string(VELLISK_SOX) + " -t f32 -r 8000 -c 1 sweep.pcm -t f32 rec.pcm " +
                            effect + " pad 0 1";
    ASSERT_EQ(std::system(("cd '" + dir.work().string() + "' && " + sox).c_str()), 0) << sox;
    const RunResult r = run_ir(dir, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find(kWindow), std::string::npos) << r.err;
  }
}
