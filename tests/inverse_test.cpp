// Tests of the inverse filter, and of the impulse that the sweep and inverse files make together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "run_vellisk.h"
#include "sweep/inverse_gen.h"

using namespace vellisk;

namespace {

std::vector<double> inverse_of(const SweepParams& p) {
  const SweepDesign d = compute_design(p);
  std::vector<double> samples;
  emit_inverse(d, normfactor(d), [&samples](double v) { samples.push_back(v); });
  return samples;
}

TEST(Inverse, EnvelopeHalvesEveryOctave) {
  // Two octaves over 1000 samples: D is 500 up to rounding.
  const SweepDesign d = compute_design({1000, 1, 100, 400, 1, 0, 0, 0});
  EXPECT_NEAR(d.octavelen, 500, 1e-9);
  EXPECT_EQ(octave_decay(d, 0), 1.0);
  EXPECT_NEAR(octave_decay(d, 500), 0.5, 1e-12);
  EXPECT_NEAR(octave_decay(d, d.sweeplen - 1), 100.0 / 400, 1e-3);
}

TEST(Inverse, FactorDependsOnlyOnBandRateAndLength) {
  const SweepParams designs[] = {
      {44100, 0.5, 10, 21000, 45, 2, 0.05, 0.005},
      {8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02},
      {96000, 1, 20, 40000, 7.3, 0, 0, 0},
  };
  for (const SweepParams& p : designs) {
    SCOPED_TRACE(testing::Message() << p.hzstart << " to " << p.hzend << " Hz at " << p.rate);
    const SweepDesign d = compute_design(p);
    const double f = normfactor(d);
    const double expected = 4 * p.hzend * std::log(p.hzend / p.hzstart);
    EXPECT_NEAR(f * d.sweeplen * p.rate, expected, expected * 1e-12);
    SweepParams other = p;
    other.amplitude = -3;
    other.silence = 1.5;
    other.leadin = 0.3;
    other.leadout = 0.2;
    EXPECT_EQ(normfactor(compute_design(other)), f);
  }
}

TEST(Inverse, EndsMirrorTheSweepTapers) {
  // N = 100; a two-sample fade-in weights the last two inverse samples 0 and 1.
  const SweepParams p = {100, 0.5, 10, 40, 1, 0, 0.02, 0};
  const SweepDesign d = compute_design(p);
  const double f = normfactor(d);
  const std::vector<double> s = inverse_of(p);
  ASSERT_EQ(s.size(), 100u);
  EXPECT_EQ(s[0], f * sweep_phase_sample(d, 100));
  EXPECT_NEAR(s[98], 0.0, 1e-15);
  EXPECT_NEAR(s[99], f * sweep_phase_sample(d, 1) * octave_decay(d, 99), 1e-15);
}

TEST(InverseFile, RunMatchesReferenceOutputAndFiles) {
  TempDir dir;
  const RunResult r = run_vellisk(dir, golden_args());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, banner_text() + read_file(kTestData / "stdout-after-banner.txt"));
  EXPECT_TRUE(read_file(dir.work() / "inverse.pcm") == read_file(kTestData / "inverse.pcm"))
      << "inverse.pcm differs from the reference";
}

// The written sweep convolved with the written inverse filter is a band-limited
// impulse at S + N whose gain across the band is the amplitude.
TEST(InverseFile, SweepThroughInverseIsAnImpulse) {
  const std::vector<std::vector<std::string>> designs = {
      {"8000", "0.5", "50", "3000", "1", "0.1", "0.1", "0.02"},
      {"16000", "-0.7", "40", "7000", "1", "0.05", "0.05", "0.01"},
      {"12000", "1", "100", "5000", "1.5", "0", "0", "0"},
  };
  constexpr std::int64_t kHalf = 1024;  // half the analysis window, samples
  for (std::vector<std::string> args : designs) {
    SCOPED_TRACE(testing::Message() << args[0] << " " << args[1]);
    const double rate = std::stod(args[0]);
    const double amplitude = std::stod(args[1]);
    const double hzstart = std::stod(args[2]);
    const double hzend = std::stod(args[3]);
    args.push_back("s.pcm");
    args.push_back("i.pcm");
    TempDir dir;
    ASSERT_EQ(run_vellisk(dir, args).status, 0);
    const std::vector<float> sweep = read_samples(dir.work() / "s.pcm");
    const std::vector<float> inverse = read_samples(dir.work() / "i.pcm");
    const auto n = static_cast<std::int64_t>(inverse.size());
    const auto silence = (static_cast<std::int64_t>(sweep.size()) - n) / 2;
    const std::int64_t centre = silence + n;

    std::vector<double> window;
    for (std::int64_t j = centre - kHalf; j < centre + kHalf; ++j) {
      double sums[4] = {};  // four running sums, for speed
      const std::int64_t last = std::min(j, static_cast<std::int64_t>(sweep.size()) - 1);
      for (std::int64_t t = std::max<std::int64_t>(0, j - n + 1); t <= last; ++t) {
        sums[t & 3] +=
            double{sweep[static_cast<std::size_t>(t)]} * inverse[static_cast<std::size_t>(j - t)];
      }
      window.push_back((sums[0] + sums[1]) + (sums[2] + sums[3]));
    }
    std::size_t peak = 0;
    for (std::size_t k = 0; k < window.size(); ++k) {
      if (std::abs(window[k]) > std::abs(window[peak])) peak = k;
    }
    EXPECT_EQ(static_cast<std::int64_t>(peak), kHalf) << "the peak lies off S + N";
    EXPECT_EQ(window[peak] > 0, amplitude > 0);

    const double bin_hz = rate / static_cast<double>(window.size());
    for (double hz = std::ceil(4 * hzstart / bin_hz) * bin_hz; hz <= hzend / 2; hz += bin_hz) {
      std::complex<double> sum;
      for (std::size_t k = 0; k < window.size(); ++k) {
        sum +=
            window[k] * std::polar(1.0, -2 * std::numbers::pi * hz * static_cast<double>(k) / rate);
      }
      ASSERT_NEAR(std::abs(sum), std::abs(amplitude), 0.005 * std::abs(amplitude)) << hz << " Hz";
    }
  }
}

}  // namespace
