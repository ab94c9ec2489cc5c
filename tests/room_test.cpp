// vellisk-room: band filters against the class 1 mask, decays of closed form, noise, and the
// program end to end.
#include "room/room.h"
#include "vellisk/problem.h"
#include "vellisk/room.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "room_checks.h"
#include "vellisk/response.h"
#include "run_vellisk.h"

using namespace vellisk;

namespace {

constexpr double kRate = 48000;

// The first note's words, "" when there is none: what a failed check prints.
std::string first_note(const std::vector<RoomNote>& notes) {
  return notes.empty() ? "" : describe(notes.front());
}

// A tone at f Hz whose energy decays by 60 dB in t60 s, starting after
// `silence` s, in a file `length` s long, over a deterministic noise floor of
// rms `noise` (a fixed linear congruential sequence, uniform).
std::vector<double> decaying_tone(double f, double t60, double silence, double length,
                                  double noise = 1e-4, unsigned seed = 1) {
  std::vector<double> x(static_cast<std::size_t>(length * kRate));
  const double a = 13.8155 / t60;
  const auto start = static_cast<std::size_t>(silence * kRate);
  unsigned s = seed;
  for (std::size_t i = 0; i < x.size(); ++i) {
    s = s * 1664525u + 1013904223u;
    x[i] = noise * std::sqrt(12.0) * ((s >> 8) / 16777216.0 - 0.5);
    if (i >= start) {
      const double t = static_cast<double>(i - start) / kRate;
      x[i] += std::exp(-a * t / 2) * std::sin(2 * std::numbers::pi * f * t);
    }
  }
  return x;
}

// The closed forms of an exponential energy decay e^(-a t), a = 13.8155 / T.
struct Closed {
  double c80, d50, ts_ms;
};
Closed closed_form(double t60) {
  const double a = 13.8155 / t60;
  return {10 * std::log10(std::exp(0.08 * a) - 1), 1 - std::exp(-0.05 * a), 1000 / a};
}

ChannelAnalysis analyse(const std::vector<double>& x, bool third = false) {
  RoomSetup setup;
  setup.rate = kRate;
  setup.third = third;
  setup.threads = 2;
  return analyse_channel(setup, plan_bands(setup), x);
}

const BandResult& band(const ChannelAnalysis& a, const std::string& label) {
  for (const BandResult& b : a.bands) {
    if (b.label == label) return b;
  }
  ADD_FAILURE() << "no band " << label;
  return a.bands.front();
}

// No value NaN, infinite or impossible, and each note's INR or decay range
// the one printed.
void expect_finite(const ChannelAnalysis& a) {
  for (const BandResult& b : a.bands) {
    SCOPED_TRACE(b.label);
    const BandParameters& p = b.parameters;
    for (const auto& v : {p.edt, p.t20, p.t30, p.edt_r, p.t20_r, p.t30_r, p.curvature, p.c50, p.c80,
                          p.d50, p.ts, p.inr, p.range}) {
      if (v) {
        EXPECT_TRUE(std::isfinite(*v));
      }
    }
    for (const auto& v : {p.edt, p.t20, p.t30}) {
      if (v) {
        EXPECT_GT(*v, 0);
      }
    }
    for (const auto& r : {p.edt_r, p.t20_r, p.t30_r}) {
      if (r) {
        EXPECT_LE(std::abs(*r), 1);
      }
    }
    EXPECT_TRUE(!p.d50 || (*p.d50 >= 0 && *p.d50 <= 1));
    EXPECT_TRUE(!p.ts || *p.ts >= 0);
    EXPECT_EQ(p.c50.has_value(), p.d50.has_value());
    char range[32];
    std::snprintf(range, sizeof range, " %.1f dB", p.range.value_or(0));
    for (const std::string& note : describe(p.notes)) {
      if (note.find("INR ") != std::string::npos || note.find("decay range ") == 0) {
        EXPECT_NE(note.find(range), std::string::npos) << note;
      }
    }
  }
}

// IEC 61260-1 class 1 limits on the relative attenuation of an octave filter,
// dB of gain, at G^x for the x listed; the fractional-octave breakpoints follow
// from them by 1 + (G^(1/2b) - 1) / (G^(1/2) - 1) (G^x - 1).
struct MaskPoint {
  double x;
  double lowest, highest;
};
constexpr MaskPoint kMask[] = {{0, -0.3, 0.3},     {0.125, -0.4, 0.3}, {0.25, -0.6, 0.3},
                               {0.375, -1.3, 0.3}, {0.4999, -5, 0.3},  {0.5001, -1e9, -2},
                               {1, -1e9, -17.5},   {2, -1e9, -42},     {3, -1e9, -61},
                               {4, -1e9, -70}};

}  // namespace

TEST(RoomBands, NominalLabelsBase10CentresAndBandsLeftOutNearNyquist) {
  std::vector<std::string> left_out;
  const std::vector<Band> octaves = analysis_bands(false, 48000, left_out);
  ASSERT_EQ(octaves.size(), 8u);
  EXPECT_TRUE(left_out.empty());
  EXPECT_EQ(octaves[1].label, "125");
  EXPECT_NEAR(octaves[1].centre, 125.89, 0.005);
  EXPECT_EQ(octaves[4].label, "1k");
  EXPECT_DOUBLE_EQ(octaves[4].centre, 1000);
  EXPECT_NEAR(octaves[4].upper / octaves[4].lower, std::pow(10, 0.3), 1e-12);
  const std::vector<Band> thirds = analysis_bands(true, 48000, left_out);
  ASSERT_EQ(thirds.size(), 24u);
  EXPECT_EQ(thirds.front().label, "50");
  EXPECT_EQ(thirds[18].label, "3.15k");
  EXPECT_NEAR(thirds.back().centre, 10000, 1e-9);
  // At 16 kHz, 0.45 x rate is 7.2 kHz: the 8 kHz octave (to 11.2 kHz) and the
  // 4 kHz one (to 5.6 kHz) differ.
  const std::vector<Band> low = analysis_bands(false, 16000, left_out);
  EXPECT_EQ(low.back().label, "4k");
  EXPECT_EQ(left_out, std::vector<std::string>{"8k"});
}

TEST(RoomBands, FiltersMeetTheClass1Mask) {
  for (const double rate : {44100.0, 48000.0}) {
    for (const bool third : {false, true}) {
      std::vector<std::string> left_out;
      const int b = third ? 3 : 1;
      const double g = std::pow(10, 0.3);
      for (const Band& band : analysis_bands(third, rate, left_out)) {
        SCOPED_TRACE(band.label + (third ? " third" : " octave") + " at " + std::to_string(rate));
        const auto sections = band_pass(band.lower, band.upper, rate);
        ASSERT_EQ(sections.size(), 4u);
        for (const MaskPoint& m : kMask) {
          const double omega = 1 + (std::pow(g, 1.0 / (2 * b)) - 1) / (std::pow(g, 0.5) - 1) *
                                       (std::pow(g, m.x) - 1);
          for (const double ratio : {omega, 1 / omega}) {
            const double f = band.centre * ratio;
            if (f >= rate / 2) continue;
            const double gain = 20 * std::log10(magnitude(sections, f, rate));
            EXPECT_GE(gain, m.lowest) << "at " << f << " Hz";
            EXPECT_LE(gain, m.highest) << "at " << f << " Hz";
          }
        }
        // Exactly 3 dB down at the band edges.
        EXPECT_NEAR(20 * std::log10(magnitude(sections, band.lower, rate)), -3.01, 0.01);
        EXPECT_NEAR(20 * std::log10(magnitude(sections, band.upper, rate)), -3.01, 0.01);
      }
    }
  }
}

TEST(RoomBands, FourBandsAtOnceFilterAsEachAlone) {
  // Four lanes in one pass (vector registers where there are some), and the
  // fallback for a cascade of another length: each band exactly as alone.
  std::vector<double> x = decaying_tone(1000, 0.3, 0.01, 0.3);
  x[50] += 1;
  const auto n = static_cast<std::int64_t>(x.size());
  const std::vector<Section> bands[] = {band_pass(177.8, 354.8, kRate), band_pass(354.8, 707.9, kRate),
                                        band_pass(707.9, 1412.5, kRate),
                                        band_pass(8912.5, 11220.2, kRate)};
  std::vector<Section> short_cascade = bands[1];
  short_cascade.pop_back();
  for (const bool reversed : {false, true}) {
    for (const bool fallback : {false, true}) {
      SCOPED_TRACE(std::string(reversed ? "reversed" : "forward") + (fallback ? ", fallback" : ""));
      const std::vector<Section>* f[] = {&bands[0], fallback ? &short_cascade : &bands[1], &bands[2],
                                         &bands[3]};
      std::vector<std::vector<double>> y(4, std::vector<double>(x.size()));
      double* out[] = {y[0].data(), y[1].data(), y[2].data(), y[3].data()};
      filter_four(f, x.data(), out, n, reversed);
      for (int l = 0; l < 4; ++l) {
        std::vector<double> alone(x.size());
        filter(*f[l], x.data(), alone.data(), n, reversed);
        EXPECT_EQ(y[static_cast<std::size_t>(l)], alone) << "lane " << l;
      }
    }
  }
}

TEST(RoomBands, FiltersCarryTheirStateAcrossTheBlocksBetweenCancelChecks) {
  // The filters look at the cancel flag every 65536 samples (forward, or from the end when
  // reversed): a response that straddles such a point rings as one that does not.
  const std::int64_t n = 262144, reference = 40000;
  std::vector<double> x(static_cast<std::size_t>(n));
  for (const std::int64_t at : {reference, std::int64_t{65000}, std::int64_t{197000}}) x[static_cast<std::size_t>(at)] = 1;
  const std::vector<Section> bands[] = {band_pass(177.8, 354.8, kRate), band_pass(354.8, 707.9, kRate),
                                        band_pass(707.9, 1412.5, kRate), band_pass(1412.5, 2818.4, kRate)};
  const std::vector<Section>* f[] = {&bands[0], &bands[1], &bands[2], &bands[3]};
  const CancelFlag lowered{false};
  for (const bool reversed : {false, true}) {
    std::vector<std::vector<double>> four(4, std::vector<double>(x.size())), pair = four, alone = four;
    double* out[] = {four[0].data(), four[1].data(), four[2].data(), four[3].data()};
    filter_four(f, x.data(), out, n, reversed, &lowered);
    filter_pair(bands[0], bands[1], x.data(), pair[0].data(), pair[1].data(), n, reversed, &lowered);
    filter(bands[0], x.data(), alone[0].data(), n, reversed, &lowered);
    for (const std::vector<double>* y : {&four[0], &four[3], &pair[1], &alone[0]}) {
      for (const std::int64_t at : {std::int64_t{65000}, std::int64_t{197000}}) {
        SCOPED_TRACE(std::string(reversed ? "reversed" : "forward") + ", impulse at " + std::to_string(at));
        double peak = 0, worst = 0;
        for (std::int64_t d = 0; d < 3000; ++d) {
          const auto i = static_cast<std::size_t>(reversed ? at - d : at + d);
          const auto r = static_cast<std::size_t>(reversed ? reference - d : reference + d);
          peak = std::max(peak, std::abs((*y)[r]));
          worst = std::max(worst, std::abs((*y)[i] - (*y)[r]));
        }
        EXPECT_GT(peak, 1e-3);
        EXPECT_LT(worst, 1e-12 * peak);
      }
    }
  }
}

TEST(RoomBands, TwoBandsAtOnceFilterAsEachAlone) {
  // A click and a tone burst, forward and time-reversed: the paired pass must
  // give each band exactly what filtering it alone gives.
  std::vector<double> x = decaying_tone(700, 0.4, 0.01, 0.3);
  x[100] += 1;
  const auto n = static_cast<std::int64_t>(x.size());
  const auto low = band_pass(354.8, 707.9, kRate);
  const auto high = band_pass(707.9, 1412.5, kRate);
  for (const bool reversed : {false, true}) {
    SCOPED_TRACE(reversed ? "reversed" : "forward");
    std::vector<double> a(x.size()), b(x.size()), alone_a(x.size()), alone_b(x.size());
    filter_pair(low, high, x.data(), a.data(), b.data(), n, reversed);
    filter(low, x.data(), alone_a.data(), n, reversed);
    filter(high, x.data(), alone_b.data(), n, reversed);
    EXPECT_EQ(a, alone_a);
    EXPECT_EQ(b, alone_b);
    // Time reversal puts a click's ringing before it, forward filtering after it.
    std::vector<double> click(4000, 0.0), ring(4000), unused(4000);
    click[2000] = 1;
    filter_pair(low, high, click.data(), ring.data(), unused.data(), 4000, reversed);
    const double before = std::abs(ring[1990]), after = std::abs(ring[2010]);
    EXPECT_EQ(reversed ? after : before, 0);
    EXPECT_GT(reversed ? before : after, 1e-4);
  }
}

TEST(RoomDecay, TonesGiveTheClosedFormsInTheirBands) {
  // One channel per octave, T from 2 s at 125 Hz to 0.6 s at 8 kHz.
  const char* labels[] = {"125", "250", "500", "1k", "2k", "4k", "8k"};
  for (int k = 0; k < 7; ++k) {
    const double centre = 1000 * std::pow(10, 0.3 * (k - 3));
    const double t60 = 2.0 - k * 1.4 / 6;
    SCOPED_TRACE(std::string(labels[k]) + " Hz, T " + std::to_string(t60));
    const ChannelAnalysis a = analyse(decaying_tone(centre, t60, 0.1, 2 * t60 + 0.3));
    ASSERT_TRUE(a.onset_found);
    EXPECT_NEAR(a.onset, 0.1, 0.001);
    const BandParameters& p = band(a, labels[k]).parameters;
    ASSERT_TRUE(p.t20 && p.t30 && p.edt && p.c80 && p.d50 && p.ts);
    EXPECT_NEAR(*p.t20, t60, 0.02 * t60);
    EXPECT_NEAR(*p.t30, t60, 0.02 * t60);
    EXPECT_NEAR(*p.edt, t60, 0.05 * t60);
    const Closed c = closed_form(t60);
    EXPECT_NEAR(*p.c80, c.c80, 0.3);
    EXPECT_NEAR(*p.d50, c.d50, 0.02);
    EXPECT_NEAR(*p.ts, c.ts_ms, 5);
    EXPECT_LT(*p.t30_r, -0.999);
    EXPECT_TRUE(p.notes.empty()) << first_note(p.notes);
    expect_finite(a);
  }
}

TEST(RoomDecay, LundebyCompensatesASteadyNoiseFloor) {
  // The 1 kHz band's decay stands about 50 dB above the noise; integrating the
  // squares to the file's end instead stretches T30 by over 20 %.
  const double t60 = 1.2;
  const std::vector<double> x = decaying_tone(1000, t60, 0.1, 4, 1.2e-2);
  const ChannelAnalysis a = analyse(x);
  const BandParameters& p = band(a, "1k").parameters;
  ASSERT_TRUE(p.inr);
  EXPECT_NEAR(*p.inr, 50, 6);
  ASSERT_TRUE(p.t30) << first_note(p.notes);
  EXPECT_NEAR(*p.t30, t60, 0.03 * t60);
  ASSERT_TRUE(p.t20);
  EXPECT_NEAR(*p.t20, t60, 0.03 * t60);

  // The same band, integrated to the end: the noise's energy holds the curve up.
  RoomSetup setup;
  setup.rate = kRate;
  const BandPlan plan = plan_bands(setup);
  std::vector<double> y(x.size());
  filter(plan.filters[4], x.data(), y.data(), static_cast<std::int64_t>(x.size()), true);
  std::vector<double> edc(y.size() + 1, 0.0);
  for (std::size_t i = y.size(); i-- > 0;) edc[i] = edc[i + 1] + y[i] * y[i];
  const auto onset = static_cast<std::size_t>(0.1 * kRate);
  double sx = 0, sy = 0, sxx = 0, sxy = 0, n = 0;
  for (std::size_t i = onset; i < y.size(); ++i) {
    const double level = 10 * std::log10(edc[i] / edc[onset]);
    if (level > -5) continue;
    if (level < -35) break;
    const double t = static_cast<double>(i) / kRate;
    sx += t, sy += level, sxx += t * t, sxy += t * level, n += 1;
  }
  const double plain = -60 / ((sxy - sx * sy / n) / (sxx - sx * sx / n));
  EXPECT_GT(plain, 1.2 * t60);
}

TEST(RoomDecay, ABandDrownedInNoiseGetsNullsAndNotesNeverNaN) {
  // A 4 kHz decay over noise about 30 dB below it in its band: the 4 kHz band keeps its EDT,
  // not T20 or T30; the bands the tone does not reach hold only noise.
  const ChannelAnalysis a = analyse(decaying_tone(3981, 1.0, 0.2, 3, 0.05));
  ASSERT_TRUE(a.onset_found);
  const BandParameters& tone = band(a, "4k").parameters;
  EXPECT_TRUE(tone.edt);
  EXPECT_FALSE(tone.t20);
  EXPECT_FALSE(tone.t30);
  ASSERT_FALSE(tone.notes.empty());
  EXPECT_NE(first_note(tone.notes).find("needed for T20"), std::string::npos) << first_note(tone.notes);
  const BandParameters& noise = band(a, "125").parameters;
  EXPECT_FALSE(noise.edt || noise.t20 || noise.t30);
  EXPECT_FALSE(noise.notes.empty());
  expect_finite(a);

  // A response whose peak is under 20 dB above its noise has no onset at all.
  const ChannelAnalysis none = analyse(decaying_tone(1000, 1.0, 0.2, 3, 0.2));
  EXPECT_FALSE(none.onset_found);
  EXPECT_FALSE(none.bands.front().parameters.notes.empty());
  EXPECT_FALSE(none.single.t30_mid);
}

TEST(RoomDecay, AShortLowDecayKeepsItsTimeThroughTimeReversedFiltering) {
  const ChannelAnalysis a = analyse(decaying_tone(125.89, 0.3, 0.1, 1.0));
  const BandParameters& p = band(a, "125").parameters;
  ASSERT_TRUE(p.t20 && p.t30);
  EXPECT_NEAR(*p.t20, 0.3, 0.015);
  EXPECT_NEAR(*p.t30, 0.3, 0.015);
}

TEST(RoomDecay, EnergyRatiosKeepTheDirectSoundThatTimeReversalMovesAhead) {
  // A click, then 10 ms later a decaying 1 kHz tone of like energy in the
  // 1 kHz band. Time reversal moves the click's band energy ahead of the
  // onset; D50 and C80 must count it all the same. The click's band energy is
  // that of the band filter's impulse response (Parseval).
  const double t60 = 1.0, a = 13.8155 / t60;
  std::vector<double> x = decaying_tone(1000, t60, 0.11, 2.5);
  for (double& v : x) v *= 0.005;
  x[static_cast<std::size_t>(0.1 * kRate)] += 1;
  const ChannelAnalysis result = analyse(x);
  ASSERT_TRUE(result.onset_found);
  EXPECT_NEAR(result.onset, 0.1, 1e-4);

  std::vector<double> h(static_cast<std::size_t>(kRate), 0.0);
  h[0] = 1;
  RoomSetup setup;
  setup.rate = kRate;
  filter(plan_bands(setup).filters[4], h.data(), h.data(), static_cast<std::int64_t>(h.size()),
         false);
  double click = 0;
  for (const double v : h) click += v * v;
  const double tone = 0.005 * 0.005 / 2 * kRate / a;  // the sum of its squares
  const auto early = [&](double ms) { return tone * (1 - std::exp(-a * (ms - 10) / 1000)); };
  const BandParameters& p = band(result, "1k").parameters;
  ASSERT_TRUE(p.d50 && p.c80);
  EXPECT_NEAR(*p.d50, (click + early(50)) / (click + tone), 0.02);
  EXPECT_NEAR(*p.c80, 10 * std::log10((click + early(80)) / (tone - early(80))), 0.3);
}

TEST(RoomDecay, ThirdOctavesAndSingleNumbers) {
  const ChannelAnalysis a = analyse(decaying_tone(1000, 1.5, 0.1, 3.5), true);
  ASSERT_EQ(a.bands.size(), 25u);
  const BandParameters& p = band(a, "1k").parameters;
  ASSERT_TRUE(p.t30);
  EXPECT_NEAR(*p.t30, 1.5, 0.03);
  EXPECT_NEAR(*p.c80, closed_form(1.5).c80, 0.3);

  // Averages over the 500 Hz and 1 kHz octaves, and the bass ratio.
  std::vector<BandResult> bands(4);
  const char* labels[] = {"125", "250", "500", "1k"};
  const double t30[] = {2.4, 2.0, 1.6, 1.4};
  for (int i = 0; i < 4; ++i) {
    bands[static_cast<std::size_t>(i)].label = labels[i];
    bands[static_cast<std::size_t>(i)].parameters.t30 = t30[i];
    bands[static_cast<std::size_t>(i)].parameters.c80 = i;
  }
  const SingleNumbers s = single_numbers(bands, false);
  EXPECT_DOUBLE_EQ(*s.t30_mid, 1.5);
  EXPECT_DOUBLE_EQ(*s.c80_mid, 2.5);
  EXPECT_DOUBLE_EQ(*s.bass_ratio, 4.4 / 3.0);
  EXPECT_FALSE(s.edt_mid);
}

namespace {

// A channel of a sound file, or nothing when it cannot be read.
std::vector<double> read_channel(const std::filesystem::path& path, int channel, double& rate) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  rate = info.samplerate;
  std::vector<double> x;
  for (std::size_t i = static_cast<std::size_t>(channel); i < frames.size();
       i += static_cast<std::size_t>(info.channels)) {
    x.push_back(frames[i]);
  }
  return x;
}

// Exponentially decaying noise (a fixed linear congruential sequence) of T60
// t60 s from `start` s, over a floor `floor_db` below it, `length` s long.
std::vector<double> decaying_noise(double t60, double start, double length, double floor_db,
                                   double rate = kRate) {
  std::vector<double> x(static_cast<std::size_t>(length * rate));
  unsigned s = 3382;
  const auto uniform = [&s] {
    s = s * 1664525u + 1013904223u;
    return std::sqrt(12.0) * ((s >> 8) / 16777216.0 - 0.5);
  };
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / rate - start;
    x[i] = std::pow(10, floor_db / 20) * uniform() +
           (t >= 0 ? std::exp(-6.9078 * t / t60) * uniform() : 0);
  }
  return x;
}

}  // namespace

TEST(RoomPadding, AHallTrimmedAtItsDirectSoundGivesTheValuesOfThePaddedOne) {
  // A measured concert hall (guitarix-common) starts 4 ms and 9 ms before its
  // direct sound, less than any band filter rings. With 0.5 s of zeros before
  // it, every value must stay within 0.2 of its just noticeable difference
  // (ISO 3382-1:2009, table A.1: EDT and T 5 %, C 1 dB, D50 0.05, Ts 10 ms),
  // in every octave from 63 Hz and third-octave from 50 Hz.
  const std::filesystem::path hall = "/usr/share/gx_head/sounds/greathall.wav";
  for (const int channel : {0, 1}) {
    double rate = 0;
    const std::vector<double> trimmed = read_channel(hall, channel, rate);
    ASSERT_FALSE(trimmed.empty()) << hall << " (guitarix-common) cannot be read";
    std::vector<double> padded(static_cast<std::size_t>(0.5 * rate), 0.0);
    padded.insert(padded.end(), trimmed.begin(), trimmed.end());
    for (const bool third : {false, true}) {
      RoomSetup setup;
      setup.rate = rate;
      setup.third = third;
      setup.threads = 2;
      const BandPlan plan = plan_bands(setup);
      const ChannelAnalysis a = analyse_channel(setup, plan, trimmed);
      const ChannelAnalysis b = analyse_channel(setup, plan, padded);
      ASSERT_EQ(a.bands.size(), third ? 25u : 9u);
      expect_finite(a);
      for (std::size_t k = 0; k < a.bands.size(); ++k) {
        SCOPED_TRACE(a.bands[k].label + (third ? " third, channel " : " octave, channel ") +
                     std::to_string(channel + 1));
        const BandParameters& p = a.bands[k].parameters;
        const BandParameters& q = b.bands[k].parameters;
        const auto near = [](const std::optional<double>& x, const std::optional<double>& y,
                             double jnd, bool relative, const char* what) {
          ASSERT_TRUE(x && y) << what;
          EXPECT_NEAR(*x, *y, 0.2 * jnd * (relative ? *y : 1)) << what;
        };
        near(p.edt, q.edt, 0.05, true, "EDT");
        near(p.t20, q.t20, 0.05, true, "T20");
        near(p.t30, q.t30, 0.05, true, "T30");
        near(p.c50, q.c50, 1, false, "C50");
        near(p.c80, q.c80, 1, false, "C80");
        near(p.d50, q.d50, 0.05, false, "D50");
        near(p.ts, q.ts, 10, false, "Ts");
      }
    }
  }
}


TEST(Room, BuffersKeptFromChannelToChannelChangeNothing) {
  // A long channel, then shorter ones in the buffers it leaves (stale samples
  // in them, and a different padding before the onset): each as in buffers of
  // its own.
  for (const bool third : {false, true}) {
    RoomSetup setup;
    setup.rate = kRate;
    setup.third = third;
    setup.threads = 2;
    const BandPlan plan = plan_bands(setup);
    ChannelBuffers kept;
    const std::vector<double> channels[] = {decaying_noise(1.5, 0.3, 2, -70),
                                            decaying_noise(0.6, 0, 0.8, -60),
                                            decaying_tone(500, 0.5, 0.05, 1)};
    for (std::size_t c = 0; c < std::size(channels); ++c) {
      const ChannelAnalysis a = analyse_channel(setup, plan, channels[c], kept);
      const ChannelAnalysis b = analyse_channel(setup, plan, channels[c]);
      ASSERT_EQ(a.bands.size(), b.bands.size());
      for (std::size_t k = 0; k < a.bands.size(); ++k) {
        SCOPED_TRACE("channel " + std::to_string(c) + ", band " + a.bands[k].label +
                     (third ? ", thirds" : ", octaves"));
        const BandParameters &p = a.bands[k].parameters, &q = b.bands[k].parameters;
        EXPECT_EQ(p.t30, q.t30);
        EXPECT_EQ(p.edt, q.edt);
        EXPECT_EQ(p.c80, q.c80);
        EXPECT_EQ(p.ts, q.ts);
        EXPECT_EQ(p.range, q.range);
        EXPECT_EQ(p.notes, q.notes);
      }
      EXPECT_EQ(a.speech.sti, b.speech.sti);
    }
  }
}
TEST(Room, ARaisedCancelFlagEndsTheAnalysisAndALoweredOneChangesNothing) {
  const std::vector<double> x = decaying_noise(1.5, 0.3, 2, -70);
  const std::vector<float> samples(x.begin(), x.end());
  RoomSetup setup;
  setup.rate = kRate;
  setup.threads = 2;
  MemorySource source(samples.data(), static_cast<std::int64_t>(samples.size()), 1, 0, 1, 1);
  const std::vector<ChannelAnalysis> plain = analyse_room(setup, source);
  CancelFlag cancel{false};
  setup.cancel = &cancel;
  const std::vector<ChannelAnalysis> flagged = analyse_room(setup, source);
  ASSERT_EQ(flagged.size(), 1u);
  ASSERT_EQ(flagged[0].bands.size(), plain[0].bands.size());
  for (std::size_t k = 0; k < plain[0].bands.size(); ++k) {
    EXPECT_EQ(flagged[0].bands[k].parameters.t30, plain[0].bands[k].parameters.t30);
    EXPECT_EQ(flagged[0].bands[k].parameters.c80, plain[0].bands[k].parameters.c80);
  }
  cancel = true;
  try {
    analyse_room(setup, source);
    ADD_FAILURE() << "a raised flag did not end the analysis";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ProblemCode::cancelled);
  }
  std::vector<double> y(x.size());
  EXPECT_THROW(filter(band_pass(707.9, 1412.5, kRate), x.data(), y.data(),
                      static_cast<std::int64_t>(x.size()), true, &cancel),
               Error);
}

// The public analyser keeps its bands and buffers from call to call: through changes of rate and
// of kind of band, each channel's values are those of an analysis of its own.
TEST(Room, AnalyserKeptAcrossRatesAndBandsGivesEachChannelsOwnValues) {
  const std::vector<double> tone = decaying_tone(500, 0.5, 0.05, 1);
  const std::vector<float> x(tone.begin(), tone.end());
  const struct {
    double rate;
    bool third;
  } runs[] = {{kRate, false}, {16000, false}, {16000, true}, {kRate, true}, {kRate, true}};
  RoomAnalyser analyser;
  for (const auto& run : runs) {
    SCOPED_TRACE(std::to_string(run.rate) + (run.third ? " Hz, thirds" : " Hz, octaves"));
    RoomSetup setup;
    setup.rate = run.rate;
    setup.third = run.third;
    setup.threads = 2;
    const auto n = static_cast<std::int64_t>(x.size());
    const ChannelAnalysis a = analyser.analyse(setup, x.data(), n);
    const ChannelAnalysis b = analyse_room_channel(setup, x.data(), n);
    ASSERT_EQ(a.bands.size(), b.bands.size());
    // The bands of the rate: all but those whose upper edge passes 0.45 x rate, and the broadband.
    EXPECT_EQ(a.bands.size(), (run.third ? 25u : 9u) - room_bands_left_out(setup).size());
    for (std::size_t k = 0; k < a.bands.size(); ++k) {
      SCOPED_TRACE(a.bands[k].label);
      EXPECT_EQ(a.bands[k].label, b.bands[k].label);
      EXPECT_EQ(a.bands[k].parameters.t30, b.bands[k].parameters.t30);
      EXPECT_EQ(a.bands[k].parameters.c80, b.bands[k].parameters.c80);
      EXPECT_EQ(a.bands[k].parameters.notes, b.bands[k].parameters.notes);
    }
    // The tone's decay, 500 Hz and 0.5 s at 48 kHz, 1.5 s at 16 kHz.
    const std::string at = run.rate == kRate ? "500" : run.third ? "160" : "125";
    ASSERT_TRUE(band(a, at).parameters.t30);
    EXPECT_NEAR(*band(a, at).parameters.t30, 0.5 * kRate / run.rate, 0.02 * kRate / run.rate);
  }
  RoomSetup slow;
  slow.rate = 500;
  EXPECT_THROW(analyser.analyse(slow, x.data(), 100), Error);
}

// A levels file read through the public API: its values whatever the comments, blank lines,
// byte order mark and band line around them; refusals of their kind, naming the file by its
// role; the memory an analysis needs, refused when no machine has it.
TEST(Room, LevelsFilesAndTheMemoryAnAnalysisNeeds) {
  TempDir dir;
  const std::string good = (dir.work() / "levels.txt").string();
  std::ofstream(good) << "\xEF\xBB\xBF# at the back row\n\nband 125 250 500 1k 2k 4k 8k\n"
                         "noise 40 39 38 37 36 35 -50 # HVAC\r\nspeech 62.5 1e2 60 59 58 57 150\n";
  const SpeechLevels levels = read_speech_levels(good, "--levels");
  EXPECT_EQ(levels.speech, (std::array<double, kStiBands>{62.5, 100, 60, 59, 58, 57, 150}));
  EXPECT_EQ(levels.noise, (std::array<double, kStiBands>{40, 39, 38, 37, 36, 35, -50}));
  const std::string loud = (dir.work() / "loud.txt").string();
  std::ofstream(loud) << "speech 60 60 60 60 60 60 60\nnoise 40 40 40 40 40 40 150.5\n";
  const struct {
    std::string path;
    ProblemCode code;
    std::string message;
  } refusals[] = {
      {(dir.work() / "none.txt").string(), ProblemCode::unreadable, "Unable to read levels ("},
      {loud, ProblemCode::invalid_request,
       "levels (" + loud + ") line 2: noise level \"150.5\" at 8k must be a number of dB SPL"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.path);
    try {
      read_speech_levels(r.path);
      ADD_FAILURE() << "not refused";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), r.code);
      EXPECT_EQ(std::string(e.what()).rfind(r.message, 0), 0u) << e.what();
    }
  }
  EXPECT_EQ(room_threads_in_memory(8, 48000, kRate, 4, "irfile (a.wav)"), 4);
  try {
    room_threads_in_memory(1024, std::int64_t{1} << 40, kRate, 4, "irfile (huge.wav)");
    ADD_FAILURE() << "not refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ProblemCode::out_of_memory);
    EXPECT_EQ(std::string(e.what()).rfind("irfile (huge.wav) needs about ", 0), 0u) << e.what();
    // Its value, the MiB needed, tells it from an allocation refused: 2^40 frames of 4 bytes a
    // channel, 16 bytes and one band's 32 bytes each.
    EXPECT_NEAR(e.problem().value, 4144.0 * 1048576, 4144.0 * 1048576 * 1e-6);
  }
}

TEST(RoomTail, AFadedDecayGivesNoInrButTheValuesOfTheDecayWithItsFloor) {
  // T 1.5 s over a floor 70 dB down, 4 s; then the same with its last second
  // faded to zero, as library files often are: the fade is no noise floor.
  const std::vector<double> floor = decaying_noise(1.5, 0.05, 4, -70);
  std::vector<double> faded = floor;
  const std::size_t fade = static_cast<std::size_t>(kRate);
  for (std::size_t i = 0; i < fade; ++i) faded[faded.size() - fade + i] *= 1 - static_cast<double>(i + 1) / kRate;
  const ChannelAnalysis a = analyse(floor), b = analyse(faded);
  expect_finite(a);
  expect_finite(b);
  for (std::size_t k = 0; k < a.bands.size(); ++k) {
    SCOPED_TRACE(a.bands[k].label);
    const BandParameters& p = a.bands[k].parameters;
    const BandParameters& q = b.bands[k].parameters;
    ASSERT_TRUE(p.inr && p.t30 && q.t30 && q.range);
    EXPECT_GT(*p.inr, 60);
    EXPECT_TRUE(p.notes.empty()) << first_note(p.notes);
    EXPECT_FALSE(q.inr);
    ASSERT_FALSE(q.notes.empty());
    EXPECT_EQ(first_note(q.notes).find("the response ends above any noise floor"), 0u) << first_note(q.notes);
    EXPECT_NEAR(*q.t30, *p.t30, 0.01 * *p.t30);
    EXPECT_NEAR(*q.edt, *p.edt, 0.01 * *p.edt);
    EXPECT_NEAR(*q.c80, *p.c80, 0.2);
  }
}

TEST(RoomTail, ADecayCutLongBeforeItsFloorSaysHowLongItWouldNeedToBe) {
  // The same decay cut 0.55 s after its onset, 22 dB down: no floor, no T20 or
  // T30, and about the length T30 needs, 55 dB of a 40 dB/s decay: 1.4 s (the
  // bands' smoothed ranges read it within 1.2 s to 2 s).
  std::vector<double> x = decaying_noise(1.5, 0.05, 0.6, -70);
  const ChannelAnalysis a = analyse(x);
  expect_finite(a);
  for (const BandResult& b : a.bands) {
    SCOPED_TRACE(b.label);
    const BandParameters& p = b.parameters;
    EXPECT_FALSE(p.inr || p.t20 || p.t30);
    ASSERT_TRUE(p.range);
    EXPECT_NEAR(*p.range, 21, 4);
    ASSERT_FALSE(p.notes.empty());
    const std::string note = first_note(p.notes);
    EXPECT_NE(note.find("ends above any noise floor"), std::string::npos) << note;
    const std::size_t at = note.find("T30 needs about ");
    ASSERT_NE(at, std::string::npos) << note;
    EXPECT_NEAR(std::stod(note.substr(at + 16)), 1.6, 0.4) << note;
    // A clean decay cut short keeps its late tail.
    for (const std::string& n : describe(p.notes)) EXPECT_EQ(n.find("late decay line"), std::string::npos) << n;
  }
  // The broadband's energy ratios are those of the whole decay (a band's vary with its noise).
  const BandParameters& p = a.bands.back().parameters;
  ASSERT_TRUE(p.c80 && p.ts);
  EXPECT_NEAR(*p.c80, closed_form(1.5).c80, 0.3);
  EXPECT_NEAR(*p.ts, closed_form(1.5).ts_ms, 5);
}

TEST(RoomDecay, ADecayTimeTheCurveDoesNotFollowIsWithheld) {
  // A click, 20 ms of nothing, then a faint decay: the broadband curve drops
  // 10 dB at once and stays level for 20 ms, so a line over 0 to -10 dB says
  // nothing of the decay (it gave 17 s for a 0.4 s room).
  std::vector<double> x = decaying_noise(0.4, 0.12, 1.5, -80);
  for (std::size_t i = 0; i < static_cast<std::size_t>(0.12 * kRate); ++i) x[i] = 0;
  for (double& v : x) v *= 0.01;
  x[static_cast<std::size_t>(0.1 * kRate)] = 1;
  const ChannelAnalysis a = analyse(x);
  expect_finite(a);
  const BandParameters& p = a.bands.back().parameters;
  EXPECT_FALSE(p.edt);
  ASSERT_FALSE(p.notes.empty());
  EXPECT_EQ(first_note(p.notes).find("EDT not given: the decay curve is no line from 0 to -10 dB"), 0u)
      << first_note(p.notes);
  ASSERT_TRUE(p.t30);
  EXPECT_NEAR(*p.t30, 0.4, 0.04);
}

// The notes the analyses above seldom give, worded as the reports print them: each branch of a
// note's words (C50's D50, a length known or not, the centre time's clause).
TEST(RoomNotes, EachCodeWordsItsValues) {
  const auto timed = [](RoomNoteCode code, DecayTime time, double value, double second) {
    RoomNote note(code, value, second);
    note.time = time;
    return note;
  };
  RoomNote band(RoomNoteCode::band_below_noise);
  band.band = "4k";
  const struct {
    RoomNote note;
    const char* words;
  } cases[] = {
      {RoomNote(RoomNoteCode::no_clarity_energy, 50), "no energy before or after 50 ms: no C50 or D50"},
      {RoomNote(RoomNoteCode::no_clarity_energy, 80), "no energy before or after 80 ms: no C80"},
      {RoomNote(RoomNoteCode::too_short, 12.34),
       "the response ends above any noise floor, 12.3 dB into its decay: it is too short"},
      {RoomNote(RoomNoteCode::too_short, 12.3, 1.6),
       "the response ends above any noise floor, 12.3 dB into its decay: it is too short; T30 "
       "needs about 1.6 s after the onset"},
      {RoomNote(RoomNoteCode::tail_past_end, 7),
       "the late decay line would add 7 % of the band's energy past the response and put the "
       "centre time past its end: no tail is added, and every value counts only the energy the "
       "response holds"},
      {RoomNote(RoomNoteCode::tail_too_large, 19),
       "the late decay line would add 19 % of the band's energy past the response: no tail is "
       "added, and every value counts only the energy the response holds"},
      {timed(RoomNoteCode::inr_too_short, DecayTime::t30, 31.4, 45), "INR 31.4 dB < 45 dB needed for T30"},
      {timed(RoomNoteCode::range_too_short, DecayTime::edt, 19.4, 20),
       "decay range 19.4 dB < 20 dB needed for EDT"},
      {timed(RoomNoteCode::no_decay_to_fit, DecayTime::t20, 0, 0), "T20: no decay to fit"},
      {RoomNote(RoomNoteCode::no_energy_after_onset), "no energy after the onset"},
      {RoomNote(RoomNoteCode::no_sti_onset), "no onset: no STI"},
      {band, "band 4k stands less than 20 dB above its noise: no STI"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    EXPECT_EQ(describe(c.note), c.words);
  }
  // A channel without parameters: its peak-to-noise ratio a tenth below, never up to 20 dB.
  ChannelAnalysis channel;
  channel.peak_to_noise_db = 19.99;
  EXPECT_EQ(describe_no_parameters(channel),
            "peak only 19.9 dB above the noise, 20 dB needed: no onset, no parameters");
  channel.ends_ms = 3.21;
  EXPECT_EQ(describe_no_parameters(channel),
            "the response ends 3.2 ms after its peak, in digital silence: no decay to measure, no "
            "parameters");
  channel.onset_found = true;
  EXPECT_EQ(describe_no_parameters(channel), "");
}

namespace {

// A position whose 63 Hz octave gives every band value but those cleared, whose other bands
// are left out, and whose single-number values and STI are all given or all not.
ChannelAnalysis position(std::vector<std::optional<double> BandParameters::*> cleared, bool singles) {
  ChannelAnalysis c;
  c.onset_found = true;
  c.bands.push_back({"63", 63.1, {}});
  BandParameters& p = c.bands[0].parameters;
  p.edt = p.t20 = p.t30 = 1.0, p.c80 = 2.0, p.d50 = 0.5, p.ts = 60.0;
  for (const auto member : cleared) p.*member = std::nullopt;
  if (singles) {
    c.single = {1.0, 1.0, 2.0, 0.5, 60.0, 1.1};
    c.speech.sti = 0.6;
  }
  return c;
}

}  // namespace

// Positions that lack the same values share one note, in the order of the first value each
// lacks, which says on how many positions the values rest; a value no position lacks has none.
TEST(RoomAverageNotes, PositionsLackingTheSameValuesShareANote) {
  using P = BandParameters;
  SpatialAverage average = start_average(false);
  add_position(average, "p1", position({}, true));
  add_position(average, "p2, channel 2", position({&P::t20, &P::t30}, false));
  add_position(average, "p3", position({&P::edt, &P::t30, &P::c80}, true));
  SpatialAverage none = start_average(false);
  add_position(none, "p1", position({}, true));
  EXPECT_TRUE(average_notes(none.bands[0], none.positions).empty());

  EXPECT_EQ(describe(average_notes(average.bands[0], average.positions)),
            (std::vector<std::string>{"EDT, C80: no value at p3; from 2 of 3 positions",
                                      "T20: no value at p2, channel 2; from 2 of 3 positions",
                                      "T30: no value at p2, channel 2; p3; from 1 of 3 positions"}));
  EXPECT_EQ(describe(average_notes(average.bands[1], average.positions)),
            (std::vector<std::string>{"EDT, T20, T30, C80, D50, Ts: no value at p1; p2, channel 2; "
                                      "p3; from 0 of 3 positions"}));
  EXPECT_EQ(describe(average_notes(average.single, average.positions)),
            (std::vector<std::string>{"T30 mid, EDT mid, C80 mid, D50 mid, Ts mid, bass ratio "
                                      "(Beranek), STI: no value at p2, channel 2; from 2 of 3 "
                                      "positions"}));
}

// A file's own rate and length, judged by the library: the rates' ends taken, beyond refused.
TEST(Room, AFilesRateAndLengthAreJudgedByTheLibrary) {
  for (const int rate : {1000, 10000000}) EXPECT_FALSE(check_room_rate(rate, "a")) << rate;
  EXPECT_TRUE(check_room_rate(10000001, "a"));
  const std::optional<Problem> slow = check_room_rate(999, "irfile (a.wav)");
  ASSERT_TRUE(slow);
  EXPECT_EQ(slow->code, ProblemCode::invalid_recording);
  EXPECT_EQ(slow->message, "irfile (a.wav) has a sample rate of 999 Hz; the rates taken are 1000 to 10000000");
  EXPECT_FALSE(check_room_frames(1, "ir"));
  EXPECT_EQ(check_room_frames(0, "ir")->message, "ir holds no samples");
}

namespace {

// A modulation transfer function of one value everywhere.
ModulationMatrix uniform(double m) {
  ModulationMatrix u;
  for (auto& band : u) band.fill(m);
  return u;
}

// The index of an exponential decay of T s in every band, from the closed form of its
// modulation transfer function and the definitions alone: with equal bands the weights and
// redundancies leave the mean transmission index (they sum to 1).
double closed_form_sti(double t60) {
  double sum = 0;
  for (const double f : kModulationHz) {
    const double m = 1 / std::sqrt(1 + std::pow(2 * std::numbers::pi * f * t60 / 13.8, 2));
    const double snr = std::clamp(10 * std::log10(m / (1 - m)), -15.0, 15.0);
    sum += (snr + 15) / 30;
  }
  return sum / kModulations;
}

}  // namespace

TEST(RoomSti, TheStandardsVerificationValues) {
  // IEC 60268-16:2020, A.2.2: two neighbouring bands fully transmitted, the others not.
  const double pairs[] = {0.127, 0.279, 0.398, 0.531, 0.486, 0.302};
  for (int k = 0; k + 1 < kStiBands; ++k) {
    ModulationMatrix m = uniform(0);
    m[k].fill(1);
    m[k + 1].fill(1);
    EXPECT_NEAR(*transmission_index(m).sti, pairs[k], 5e-4) << kStiBandLabels[k];
  }
  // A.3.1.2: a uniform m and the index it gives.
  const double uniform_m[][2] = {{0.059351, 0.1}, {0.11182, 0.2}, {0.20076, 0.3}, {0.33386, 0.4},
                                 {0.5, 0.5},      {0.66614, 0.6}, {0.79924, 0.7}, {0.88818, 0.8},
                                 {0.94065, 0.9},  {1, 1},         {0, 0}};
  for (const auto& [m, sti] : uniform_m) {
    const SpeechTransmission t = transmission_index(uniform(m));
    EXPECT_NEAR(*t.sti, sti, 5e-5) << m;
    EXPECT_NEAR(*t.mti[3], sti, 5e-5) << m;
  }
  // Table A.1's note: the 250 Hz band lost and the others whole sums to 1.036, given as 1.
  ModulationMatrix hole = uniform(1);
  hole[1].fill(0);
  EXPECT_EQ(*transmission_index(hole).sti, 1);
  // Annex F's letters, the edges in hundredths; the masking slope at Table A.2's levels.
  const std::pair<double, const char*> letters[] = {{0, "U"},    {0.35, "U"}, {0.36, "J"}, {0.5, "G"},
                                                    {0.63, "D"}, {0.64, "C"}, {0.71, "B"}, {0.72, "A"},
                                                    {0.75, "A"}, {0.76, "A+"}, {1, "A+"}};
  for (const auto& [sti, letter] : letters) EXPECT_EQ(sti_rating(sti), letter) << sti;
  for (const auto& [level, slope] : {std::pair{60.0, -35.0}, {65.0, -29.9}, {80.0, -19.8}, {100.0, -10.0}}) {
    EXPECT_NEAR(masking_db(level), slope, 1e-9) << level;
  }
}

TEST(RoomSti, TheWorkedExampleWithSpeechAndNoiseLevels) {
  // IEC 60268-16:2011, Annex M, Table M.1, steps 3 and 4: the MTF of the channel alone (step 2's
  // result), the speech and occupancy-noise levels, and the MTF, indices and STI printed.
  const double source[kModulations][kStiBands] = {
      {0.983, 0.960, 0.978, 0.990, 0.990, 0.986, 0.997}, {0.968, 0.936, 0.959, 0.974, 0.980, 0.979, 0.995},
      {0.947, 0.904, 0.931, 0.953, 0.966, 0.968, 0.992}, {0.920, 0.869, 0.898, 0.927, 0.949, 0.955, 0.987},
      {0.886, 0.826, 0.852, 0.892, 0.925, 0.935, 0.981}, {0.851, 0.791, 0.808, 0.856, 0.900, 0.914, 0.974},
      {0.816, 0.756, 0.764, 0.816, 0.871, 0.891, 0.964}, {0.773, 0.721, 0.730, 0.776, 0.841, 0.866, 0.953},
      {0.741, 0.684, 0.705, 0.745, 0.809, 0.838, 0.941}, {0.726, 0.628, 0.678, 0.736, 0.780, 0.812, 0.929},
      {0.714, 0.557, 0.656, 0.723, 0.753, 0.786, 0.916}, {0.670, 0.520, 0.623, 0.678, 0.728, 0.765, 0.904},
      {0.591, 0.483, 0.556, 0.615, 0.701, 0.749, 0.893}, {0.554, 0.446, 0.523, 0.614, 0.685, 0.737, 0.884}};
  const double adjusted[kModulations][kStiBands] = {
      {0.981, 0.946, 0.946, 0.953, 0.971, 0.975, 0.992}, {0.966, 0.922, 0.927, 0.938, 0.961, 0.968, 0.990},
      {0.945, 0.891, 0.900, 0.918, 0.947, 0.957, 0.987}, {0.919, 0.856, 0.868, 0.893, 0.931, 0.944, 0.982},
      {0.884, 0.814, 0.823, 0.859, 0.907, 0.925, 0.976}, {0.850, 0.779, 0.781, 0.824, 0.882, 0.904, 0.969},
      {0.814, 0.745, 0.738, 0.786, 0.855, 0.881, 0.959}, {0.772, 0.710, 0.706, 0.747, 0.825, 0.856, 0.948},
      {0.739, 0.674, 0.681, 0.718, 0.793, 0.829, 0.936}, {0.724, 0.619, 0.656, 0.709, 0.765, 0.804, 0.924},
      {0.713, 0.549, 0.634, 0.696, 0.739, 0.778, 0.911}, {0.668, 0.512, 0.602, 0.653, 0.714, 0.757, 0.900},
      {0.589, 0.476, 0.537, 0.593, 0.687, 0.741, 0.889}, {0.553, 0.439, 0.505, 0.592, 0.672, 0.729, 0.880}};
  ModulationMatrix m;
  for (int k = 0; k < kStiBands; ++k) {
    for (int f = 0; f < kModulations; ++f) m[k][f] = source[f][k];
  }
  const SpeechLevels levels{{82.9, 82.9, 79.2, 73.2, 67.2, 61.2, 55.2},
                            {55.5, 47.5, 41.5, 37.5, 34.5, 32.5, 30.5}};
  const ModulationMatrix with = with_levels(m, levels);
  for (int k = 0; k < kStiBands; ++k) {
    for (int f = 0; f < kModulations; ++f) {
      EXPECT_NEAR(with[k][f], adjusted[f][k], 0.0011) << kStiBandLabels[k] << " at " << kModulationHz[f];
    }
  }
  const SpeechTransmission t = transmission_index(with);
  const double mti[] = {0.73, 0.66, 0.67, 0.71, 0.77, 0.80, 0.92};
  for (int k = 0; k < kStiBands; ++k) EXPECT_NEAR(*t.mti[k], mti[k], 0.0051) << kStiBandLabels[k];
  EXPECT_NEAR(*t.sti, 0.76, 0.005);
  EXPECT_EQ(t.rating, "A+");
}

TEST(RoomSti, ExponentialDecaysGiveTheClosedForm) {
  // Decaying noise of T 0.5, 1 and 2 s: m(F) = 1 / sqrt(1 + (2 pi F T / 13.8)^2) in every band,
  // over a floor the analysis removes. (One noise's bands stray from it by up to 0.05 below
  // 1 kHz, and the index by about 0.01.) Octaves, and the sums of three third-octaves, which
  // must give the index of the octaves.
  for (const double t60 : {0.5, 1.0, 2.0}) {
    SCOPED_TRACE(std::to_string(t60) + " s");
    const std::vector<double> x = decaying_noise(t60, 0.05, t60 + 1, -65);
    const SpeechTransmission octaves = analyse(x, false).speech, thirds = analyse(x, true).speech;
    ASSERT_TRUE(octaves.sti && thirds.sti) << first_note(octaves.notes);
    EXPECT_NEAR(*octaves.sti, closed_form_sti(t60), 0.02);
    EXPECT_NEAR(*thirds.sti, *octaves.sti, 0.005);
    for (int k = 4; k < kStiBands; ++k) {
      EXPECT_NEAR(*octaves.mti[k], closed_form_sti(t60), 0.02) << kStiBandLabels[k];
    }
  }
  // A rate whose octaves stop at 4 kHz has no STI, and says why.
  RoomSetup setup;
  setup.rate = 16000;
  const ChannelAnalysis low = analyse_channel(setup, plan_bands(setup), decaying_noise(0.5, 0.05, 0.5, -60));
  EXPECT_FALSE(low.speech.sti);
  ASSERT_FALSE(low.speech.notes.empty());
  EXPECT_EQ(low.speech.notes.front().code, RoomNoteCode::octave_left_out);
  EXPECT_EQ(first_note(low.speech.notes), "the 8k octave is left out at this rate: no STI");
}

namespace {

// Channels of equal length, interleaved into a sound file, 32-bit float WAV unless told.
void write_wav(const std::filesystem::path& path, const std::vector<std::vector<double>>& channels,
               int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT, int rate = static_cast<int>(kRate)) {
  SF_INFO info{};
  info.channels = static_cast<int>(channels.size());
  info.samplerate = rate;
  info.format = format;
  std::vector<float> frames;
  for (std::size_t i = 0; i < channels.front().size(); ++i) {
    for (const auto& c : channels) frames.push_back(static_cast<float>(c[i]));
  }
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const auto count = static_cast<sf_count_t>(channels.front().size());
  ASSERT_EQ(sf_writef_float(file, frames.data(), count), count);
  sf_close(file);
}

RunResult run_room(const TempDir& dir, const std::vector<std::string>& args) {
  RunSetup setup;
  setup.program = VELLISK_ROOM_BINARY;
  return run_program(dir, args, setup);
}

}  // namespace

TEST(VelliskRoom, MultichannelRunWritesTableCsvJsonAndFigure) {
  TempDir dir;
  write_wav(dir.work() / "hall.wav",
            {decaying_tone(1000, 1.2, 0.05, 3.4), decaying_tone(501.19, 1.6, 0.08, 3.4, 1e-4, 7)});
  std::vector<float> raw;
  for (const double v : decaying_tone(2000, 0.8, 0.02, 1.8)) raw.push_back(static_cast<float>(v));
  std::ofstream(dir.work() / "late.f32", std::ios::binary)
      .write(reinterpret_cast<const char*>(raw.data()),
             static_cast<std::streamsize>(raw.size() * sizeof(float)));
  const RunResult r = run_room(dir, {"--json", "out.json", "--csv", "out.csv", "--plot", "out.svg",
                                     "-r", "48000", "hall.wav", "late.f32"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Channel 2: onset 0.0800 s"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("JSON written: out.json"), std::string::npos);

  const auto json = nlohmann::json::parse(read_file(dir.work() / "out.json"));
  ASSERT_EQ(json["files"].size(), 2u);
  const auto& hall = json["files"][0];
  EXPECT_EQ(hall["file"], "hall.wav");
  EXPECT_EQ(hall["rate"], 48000);
  EXPECT_TRUE(hall["rate"].is_number_integer());
  ASSERT_EQ(hall["channels"].size(), 2u);
  const auto& second = hall["channels"][1];
  EXPECT_EQ(second["channel"], 2);
  EXPECT_NEAR(second["onset_s"].get<double>(), 0.08, 0.001);
  ASSERT_EQ(second["bands"].size(), 9u);
  EXPECT_EQ(second["bands"][8]["band"], "broadband");
  EXPECT_TRUE(second["bands"][8]["centre_hz"].is_null());
  const auto& b500 = second["bands"][3];
  EXPECT_EQ(b500["band"], "500");
  EXPECT_NEAR(b500["centre_hz"].get<double>(), 501.19, 0.005);
  EXPECT_NEAR(b500["t30_s"].get<double>(), 1.6, 0.032);
  for (const char* key : {"edt_s", "t20_s", "c50_db", "c80_db", "d50", "ts_ms", "inr_db"}) {
    EXPECT_TRUE(b500[key].is_number()) << key;
  }
  EXPECT_TRUE(b500["notes"].is_array());
  const auto& first = hall["channels"][0];
  EXPECT_NEAR(first["bands"][4]["t30_s"].get<double>(), 1.2, 0.024);
  for (const char* key : {"t30_mid_s", "edt_mid_s", "c80_mid_db", "d50_mid", "bass_ratio"}) {
    EXPECT_TRUE(second["single"].contains(key)) << key;
  }
  EXPECT_EQ(json["files"][1]["rate"], 48000);
  EXPECT_NEAR(json["files"][1]["channels"][0]["bands"][5]["t30_s"].get<double>(), 0.8, 0.016);

  // A CSV row per file, channel and band, and one of single-number values, after the header.
  const std::string csv = read_file(dir.work() / "out.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 3 * 10);
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "file,channel,band,centre_hz,onset_s,edt_s,edt_r,t20_s,t20_r,t30_s,t30_r,"
            "curvature_pct,c50_db,c80_db,d50,ts_ms,inr_db,decay_range_db,bass_ratio,sti,sti_rating,"
            "mti_125,mti_250,mti_500,mti_1k,mti_2k,mti_4k,mti_8k,positions,edt_s_std,t20_s_std,"
            "t30_s_std,c80_db_std,d50_std,ts_ms_std,t20_s_uncertainty,t30_s_uncertainty,sti_std,notes");
  EXPECT_NE(csv.find("\nhall.wav,2,500,501.19,0.080"), std::string::npos);
  EXPECT_EQ(csv_faults(csv), "");
  // Without levels, none recorded; a tone leaves the other octaves in the noise: no STI, and
  // a note why.
  EXPECT_TRUE(json["sti_levels"].is_null());
  EXPECT_FALSE(json.contains("average"));
  EXPECT_TRUE(second["sti"].is_null());
  EXPECT_EQ(second["sti_bands"], nlohmann::json(std::vector<std::nullptr_t>(7, nullptr)));
  EXPECT_TRUE(second["sti_rating"].is_null());
  ASSERT_EQ(second["sti_notes"].size(), 1u);
  EXPECT_EQ(second["sti_notes"][0], "band 4k stands less than 20 dB above its noise: no STI");
  // The figure's texts, without the markup and the character references PLplot
  // writes them with: a row per channel.
  const std::string svg = read_file(dir.work() / "out.svg");
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  std::string words;
  bool in_tag = false;
  for (std::size_t i = 0; i < svg.size(); ++i) {
    if (svg[i] == '<' || svg[i] == '>') {
      in_tag = svg[i] == '<';
    } else if (!in_tag && svg.compare(i, 3, "&#x") == 0) {
      const std::size_t end = svg.find(';', i);
      words += static_cast<char>(std::stoi(svg.substr(i + 3, end - i - 3), nullptr, 16));
      i = end;
    } else if (!in_tag) {
      words += svg[i];
    }
  }
  for (const char* title : {"hall.wav, channel 1", "hall.wav, channel 2", "late.f32, channel 1",
                            "Decay curve (dB)", "T30"}) {
    EXPECT_NE(words.find(title), std::string::npos) << title;
  }
}

TEST(VelliskRoom, LevelsGiveTheIndexOfACleanChannelUnderNoise) {
  // A click: m = 1 in every band, STI 1 alone. Speech of 70 dB in every band over noise s dB
  // below it leaves m / (1 + 10^(-s/10)), whose effective SNR is s: STI (s + 15) / 30, less
  // what masking (the band below, 23 dB down at most) and the reception threshold (24 dB down)
  // take, under 0.005.
  TempDir dir;
  std::vector<double> click = decaying_noise(0.01, 0.5, 0.8, -90);
  for (double& v : click) v *= 1e-3;
  click[static_cast<std::size_t>(0.01 * kRate)] = 1;
  write_wav(dir.work() / "click.wav", {click});
  const RunResult alone = run_room(dir, {"--json", "alone.json", "click.wav"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  EXPECT_NE(alone.out.find("STI (IEC 60268-16:2020) of each response alone: no background noise"),
            std::string::npos);
  // (The 125 Hz band filter's own ringing leaves its index 0.99.)
  EXPECT_NE(alone.out.find("  STI 1.00 (A+); MTI 125 Hz - 8 kHz: 0.99 1.00 1.00 1.00 1.00 1.00 1.00\n"),
            std::string::npos) << alone.out;
  for (const double snr : {-6.0, 0.0, 6.0}) {
    SCOPED_TRACE(snr);
    // A UTF-8 byte order mark, as the other text files may start with.
    std::ofstream(dir.work() / "levels.txt")
        << "\xEF\xBB\xBF# speech and noise at the listener, dB SPL\nband 125 250 500 1k 2k 4k 8k\n"
        << "speech 70 70 70 70 70 70 70\r\nnoise";
    for (int k = 0; k < kStiBands; ++k) std::ofstream(dir.work() / "levels.txt", std::ios::app) << " " << 70 - snr;
    const RunResult r = run_room(dir, {"--levels", "levels.txt", "--json", "out.json", "click.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("with the speech and noise levels of levels.txt"), std::string::npos) << r.out;
    const auto json = nlohmann::json::parse(read_file(dir.work() / "out.json"));
    EXPECT_EQ(json["sti_levels"]["noise_db"][6], 70 - snr);
    EXPECT_NEAR(json["files"][0]["channels"][0]["sti"].get<double>(), (snr + 15) / 30, 0.005);
  }
}

TEST(VelliskRoom, AveragesOverPositionsCountOutAndNameThoseWithoutAValue) {
  // Four positions of T 0.9, 1.0, 1.1 and 1.0 s in one file, and a fifth of 1.0 s at 22.05 kHz,
  // where the 8 kHz octave is left out: 8 kHz averages four positions and names the fifth.
  TempDir dir;
  std::vector<std::vector<double>> four;
  for (const double t60 : {0.9, 1.0, 1.1, 1.0}) four.push_back(decaying_noise(t60, 0.05, 1.8, -80));
  write_wav(dir.work() / "room.wav", four);
  write_wav(dir.work() / "low.wav", {decaying_noise(1.0, 0.05, 1.8, -80, 22050)},
            SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050);
  const RunResult r = run_room(dir, {"--average", "--json", "out.json", "--csv", "out.csv",
                                     "--plot", "out.svg", "room.wav", "low.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Average of 5 positions (ISO 3382-2)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  8 kHz: EDT, T20, T30, C80, D50, Ts: no value at low.wav, channel 1; from 4 "
                       "of 5 positions\n"),
            std::string::npos)
      << r.out;
  const auto json = nlohmann::json::parse(read_file(dir.work() / "out.json"));
  const auto& average = json["average"];
  EXPECT_EQ(average["positions"], 5);
  // Each band's mean and sample deviation: of the positions' values as reported, and near the
  // decays' own (1.0 s and 0.071 s over five, 1.0 s and 0.082 s over four) in the top octaves,
  // where one noise strays least from its decay.
  for (const std::size_t band : {6u, 7u}) {
    const auto& a = average["bands"][band];
    SCOPED_TRACE(a["band"].get<std::string>());
    std::vector<double> t30;
    for (const auto& file : json["files"]) {
      for (const auto& channel : file["channels"]) {
        for (const auto& b : channel["bands"]) {
          if (b["band"] == a["band"]) t30.push_back(b["t30_s"].get<double>());
        }
      }
    }
    ASSERT_EQ(t30.size(), band == 6 ? 5u : 4u);
    double mean = 0, squares = 0;
    for (const double v : t30) mean += v / static_cast<double>(t30.size());
    for (const double v : t30) squares += (v - mean) * (v - mean);
    const double sd = std::sqrt(squares / static_cast<double>(t30.size() - 1));
    EXPECT_NEAR(a["t30_s"].get<double>(), mean, 0.0006);
    EXPECT_NEAR(a["t30_s_std"].get<double>(), sd, 0.0006);
    EXPECT_NEAR(mean, 1.0, 0.02);
    EXPECT_NEAR(sd, band == 6 ? 0.0707 : 0.0816, 0.01);
    // ISO 3382-2: 0.55 T sqrt((1 + 1.52 / 10) / (N B T)), B = 0.71 times the centre.
    const double n = static_cast<double>(t30.size()), centre = a["centre_hz"].get<double>();
    EXPECT_NEAR(a["t30_s_uncertainty"].get<double>(),
                0.55 * mean * std::sqrt(1.152 / (n * 0.71 * centre * mean)), 0.0006);
    if (band == 7) {
      EXPECT_EQ(a["counted_out"]["t30_s"], nlohmann::json::array({"low.wav, channel 1"}));
    } else {
      EXPECT_TRUE(a["counted_out"].empty());
    }
  }
  EXPECT_TRUE(average["bands"][8]["t30_s_uncertainty"].is_null());  // the broadband has no B
  EXPECT_TRUE(average["single"]["sti"].is_number());
  EXPECT_TRUE(average["single"]["sti_std"].is_number());
  // The CSV's average rows: one per band and a "mid" row, with their deviations.
  const std::string csv = read_file(dir.work() / "out.csv");
  EXPECT_EQ(csv_faults(csv), "");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 4 * 10 + 9 + 10);
  EXPECT_NE(csv.find("\naverage,,1k,1000.00,,"), std::string::npos);
}

TEST(VelliskRoom, ThirdOctavesAtALowRateLeaveTheTopBandsOutByName) {
  // At 22.05 kHz, 0.45 x rate is 9.9 kHz: the 8 kHz and 10 kHz third-octaves
  // (to 8.9 kHz and 11.2 kHz) part ways.
  TempDir dir;
  std::vector<double> tone(static_cast<std::size_t>(2.5 * 22050));
  for (std::size_t i = 2205; i < tone.size(); ++i) {
    const double t = static_cast<double>(i - 2205) / 22050;
    tone[i] = std::exp(-13.8155 / 1.5 * t / 2) * std::sin(2 * std::numbers::pi * 1000 * t) +
              1e-7 * std::sin(static_cast<double>(i));
  }
  std::vector<float> raw(tone.begin(), tone.end());
  std::ofstream(dir.work() / "tone.raw", std::ios::binary)
      .write(reinterpret_cast<const char*>(raw.data()),
             static_cast<std::streamsize>(raw.size() * sizeof(float)));
  const RunResult r =
      run_room(dir, {"-b", "third", "--rate", "22050", "--json", "t.json", "tone.raw"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Bands left out, their upper edge above 0.45 x rate: 10 kHz\n"),
            std::string::npos)
      << r.out;
  const auto json = nlohmann::json::parse(read_file(dir.work() / "t.json"));
  const auto& bands = json["files"][0]["channels"][0]["bands"];
  ASSERT_EQ(bands.size(), 24u);  // 50 Hz - 8 kHz, and the broadband
  EXPECT_EQ(bands[14]["band"], "1.25k");
  EXPECT_EQ(bands[22]["band"], "8k");
  EXPECT_EQ(bands[13]["band"], "1k");
  EXPECT_NEAR(bands[13]["t30_s"].get<double>(), 1.5, 0.03);
  EXPECT_NEAR(json["files"][0]["rate"].get<double>(), 22050, 0);
}

namespace {

// A file's bytes with `bytes` written over them at `at`.
void patch(const std::filesystem::path& path, std::size_t at, const std::string& bytes) {
  std::string all = read_file(path);
  all.replace(at, bytes.size(), bytes);
  std::ofstream(path, std::ios::binary) << all;
}

// A FLAC file's count of frames, the 36 bits after its STREAMINFO's rate,
// channels and bits: 0 when unknown, as an encoder writing to a pipe leaves it.
void set_flac_frames(const std::filesystem::path& path, std::uint64_t frames) {
  const std::string all = read_file(path);
  ASSERT_EQ(all.substr(0, 4), "fLaC");
  std::string bytes = all.substr(21, 5);
  bytes[0] = static_cast<char>((bytes[0] & 0xF0) | ((frames >> 32) & 0x0F));
  for (int k = 0; k < 4; ++k) bytes[1 + static_cast<std::size_t>(k)] = static_cast<char>(frames >> (24 - 8 * k));
  patch(path, 21, bytes);
}

}  // namespace

TEST(VelliskRoom, RefusalsComeBeforeAnyOutput) {
  // Each refused with one line before anything is reported or written; an
  // error ending in '*' is matched up to it.
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--bands", "half", "a.wav"}, "--bands (half) must be octave or third\n"},
      {{"-r", "100", "a.f32"},
       "--rate (100) must be a number of samples per second from 1000 "
       "to 10000000\n"},
      {{"-c", "0", "a.f32"}, "--channels (0) must be a whole number from 1 to 1024\n"},
      {{"--plot", "out.png", "a.wav"}, "--plot (out.png) must name a file ending in .svg\n"},
      {{"--frobnicate", "a.wav"},
       "unknown option --frobnicate; vellisk-room --help lists the "
       "options\n"},
      {{"--json"}, "option --json needs a value\n"},
      {{"--json", "out.json"}, "no irfile given; vellisk-room --help shows the usage\n"},
      {{"--csv", "", "a.wav"}, "--csv must name a file; an empty name was given\n"},
      {{"--json", "", "a.wav"}, "--json must name a file; an empty name was given\n"},
      {{"a.f32"}, "irfile (a.f32) is headerless float32: give its sample rate with --rate\n"},
      {{"-r", "48000", "a.wav"}, "--rate is for headerless files; none is given\n"},
      {{"--json", "a.wav", "a.wav"},
       "--json (a.wav) must not name irfile a.wav: it would "
       "overwrite it\n"},
      {{"--json", "x.json", "--csv", "x.json", "a.wav"},
       "--csv and --json (x.json, x.json) must not name the same file\n"},
      {{"--csv", "out.csv", "a.wav", "missing.wav"},
       "Unable to open irfile (missing.wav): "
       "No such file or directory\n"},
      {{"empty.wav"}, "irfile (empty.wav) holds no samples\n"},
      {{"--csv", "no/such/folder/out.csv", "a.wav"},
       "Unable to write no/such/folder/out.csv: No such file or directory\n"},
      {{"--json", "/proc/out.json", "a.wav"}, "Unable to write /proc/out.json: *"},
      {{"--plot", "sub.svg", "a.wav"}, "--plot (sub.svg) is a folder, not a file\n"},
      {{"-r", "48000", "--csv", "out.csv", "a.wav", "nan.f32"},
       "irfile (nan.f32) holds a sample that is not finite (nan) at frame 5 of channel 1\n"},
      {{"a.wav", "cut.flac"}, "Unable to read irfile (cut.flac): *"},
      {{"a.wav", "huge.flac"},
       "irfile (huge.flac) ends after 48000 of the 134217728 frames its header announces: it is "
       "cut short\n"},
      {{"fast.wav"},
       "irfile (fast.wav) has a sample rate of 200000000 Hz; the rates taken are 1000 to "
       "10000000\n"},
      {{"--levels", "", "a.wav"}, "--levels must name a file; an empty name was given\n"},
      {{"--levels", "missing.txt", "a.wav"},
       "Unable to read --levels (missing.txt): No such file or directory\n"},
      {{"--levels", "levels.txt", "a.wav"},
       "--levels (levels.txt) line 3: noise needs 7 levels, 125 Hz to 8 kHz; 6 given\n"},
      {{"--levels", "loud.txt", "a.wav"},
       "--levels (loud.txt) line 1: speech level \"200\" at 4k must be a number of dB SPL from -50 "
       "to 150\n"},
      {{"--levels", "sub.svg", "a.wav"}, "Unable to read --levels (sub.svg): Is a directory\n"},
      // A NUL is shown, not taken for the end of the word or level.
      {{"--levels", "nulword.txt", "a.wav"},
       "--levels (nulword.txt) line 2: \"no?ise\" begins no line of a levels file (speech, noise, "
       "band or #)\n"},
      {{"--levels", "nul.txt", "a.wav"},
       "--levels (nul.txt) line 1: speech level \"6?\" at 500 must be a number of dB SPL from -50 "
       "to 150\n"},
      {{"--csv", "levels.txt", "--levels", "levels.txt", "a.wav"},
       "--csv (levels.txt) must not name the --levels file: it would overwrite it\n"},
  };
  const std::vector<std::string> inputs = {"a.f32",     "a.wav",      "cut.flac", "empty.wav",
                                           "fast.wav",  "huge.flac",  "levels.txt", "loud.txt",
                                           "nan.f32",   "nul.txt",    "nulword.txt", "sub.svg"};
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    TempDir dir;
    const std::filesystem::path w = dir.work();
    write_wav(w / "a.wav", {decaying_tone(1000, 0.5, 0.01, 1)});
    write_wav(w / "empty.wav", {std::vector<double>{}});
    std::ofstream(w / "a.f32") << "    ";
    std::ofstream(w / "nan.f32") << std::string(20, '\0') << std::string("\0\0\xc0\x7f", 4);
    std::filesystem::create_directory(w / "sub.svg");
    write_wav(w / "cut.flac", {decaying_tone(1000, 0.5, 0.01, 1)}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    std::filesystem::resize_file(w / "cut.flac", std::filesystem::file_size(w / "cut.flac") / 2);
    write_wav(w / "huge.flac", {decaying_tone(1000, 0.5, 0.01, 1)}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    set_flac_frames(w / "huge.flac", std::uint64_t{1} << 27);
    write_wav(w / "fast.wav", {decaying_tone(1000, 0.5, 0.01, 0.1)}, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    patch(w / "fast.wav", 24, std::string("\x00\xc2\xeb\x0b", 4));  // 200000000
    std::ofstream(w / "levels.txt") << "speech 60 60 60 60 60 60 60\n\nnoise 30 30 30 30 30 30\n";
    std::ofstream(w / "loud.txt") << "speech 60 60 60 60 60 200 60 # too loud\n";
    std::ofstream(w / "nul.txt") << std::string("speech 60 60 6\0 60 60 60 60\n", 28);
    std::ofstream(w / "nulword.txt") << std::string("speech 60 60 60 60 60 60 60\nno\0ise 30\n", 38);
    const RunResult r = run_room(dir, c.args);
    EXPECT_EQ(r.status, 1);
    if (c.error.back() == '*') {
      EXPECT_EQ(r.err.rfind(c.error.substr(0, c.error.size() - 1), 0), 0u) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    } else {
      EXPECT_EQ(r.err, c.error);
    }
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find("recording"), std::string::npos) << r.err;
    EXPECT_LT(r.max_rss_kib, 200 * 1024);
    EXPECT_EQ(list_files(w), inputs);
  }
}

TEST(VelliskRoom, StreamsAndStrangeNamesAreReadAsTheyAre) {
  TempDir dir;
  const std::filesystem::path w = dir.work();
  const std::vector<double> tone = decaying_tone(1000, 0.5, 0.01, 1.2);
  // A FLAC of unknown length, as an encoder writing to a pipe leaves it.
  write_wav(w / "stream.flac", {tone}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  set_flac_frames(w / "stream.flac", 0);
  // Names with PLplot's escape character and a byte that is not UTF-8.
  write_wav(w / "take#2.wav", {tone});
  write_wav(w / "bad\xff.wav", {tone});
  // A FIFO, written once by another thread.
  write_wav(w / "source.wav", {tone});
  const std::string bytes = read_file(w / "source.wav");
  std::filesystem::remove(w / "source.wav");
  ASSERT_EQ(mkfifo((w / "fifo").c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(w / "fifo", std::ios::binary) << bytes; });
  const RunResult r = run_room(dir, {"--json", "out.json", "--plot", "out.svg", "--csv", "out.csv",
                                     "stream.flac", "fifo", "take#2.wav", "bad\xff.wav"});
  writer.join();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("stream.flac: FLAC (Free Lossless Audio Codec) Signed 24 bit PCM, 1 channel, "
                       "57600 frames at 48000 Hz\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("fifo: WAV (Microsoft) 32 bit float, 1 channel, 57600 frames"),
            std::string::npos);
  const auto json = nlohmann::json::parse(read_file(w / "out.json"));
  ASSERT_EQ(json["files"].size(), 4u);
  EXPECT_EQ(json["files"][2]["file"], "take#2.wav");
  EXPECT_EQ(json["files"][3]["file"], "bad\xEF\xBF\xBD.wav");
  const std::string svg = read_file(w / "out.svg");
  EXPECT_NE(svg.find("&#x74;&#x61;&#x6b;&#x65;&#x23;&#x32;"), std::string::npos);  // "take#2"
  EXPECT_EQ(csv_faults(read_file(w / "out.csv")), "");
}

TEST(VelliskRoom, EachChannelOfAStreamReadsBackAsTheSameSamplesAlone) {
  // Three channels over three blocks of the scratch file (the last one short), through a FIFO
  // after a file of two channels: each channel's values are those of its samples as a file of
  // its own.
  TempDir dir;
  const std::filesystem::path w = dir.work();
  const std::vector<std::vector<double>> channels = {decaying_tone(1000, 0.3, 0.01, 0.85),
                                                     decaying_tone(2000, 0.2, 0.03, 0.85, 1e-4, 3),
                                                     decaying_noise(0.4, 0.02, 0.85, -60)};
  write_wav(w / "two.wav", {channels[2], channels[0]});
  write_wav(w / "source.wav", channels);
  const std::string bytes = read_file(w / "source.wav");
  std::filesystem::remove(w / "source.wav");
  std::vector<std::string> args = {"--json", "out.json", "two.wav", "fifo"};
  for (std::size_t c = 0; c < channels.size(); ++c) {
    args.push_back("alone" + std::to_string(c) + ".wav");
    write_wav(w / args.back(), {channels[c]});
  }
  ASSERT_EQ(mkfifo((w / "fifo").c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(w / "fifo", std::ios::binary) << bytes; });
  const RunResult r = run_room(dir, args);
  writer.join();
  ASSERT_EQ(r.status, 0) << r.err;
  const auto files = nlohmann::json::parse(read_file(w / "out.json"))["files"];
  ASSERT_EQ(files.size(), 5u);
  for (std::size_t c = 0; c < channels.size(); ++c) {
    SCOPED_TRACE("channel " + std::to_string(c + 1));
    EXPECT_EQ(files[1]["channels"][c]["bands"], files[2 + c]["channels"][0]["bands"]);
  }
  EXPECT_EQ(files[0]["channels"][0]["bands"], files[4]["channels"][0]["bands"]);
  EXPECT_EQ(files[0]["channels"][1]["bands"], files[2]["channels"][0]["bands"]);
}

TEST(VelliskRoom, NoImpossibleValueFromTinyOrAbruptResponses) {
  // Eight samples; a spike over a floor; a decay that starts at its first
  // sample: none may give an infinite clarity, a negative centre time or a
  // correlation beyond -1.
  TempDir dir;
  const std::filesystem::path w = dir.work();
  write_wav(w / "eight.wav", {{0.1, 1, -0.5, 0.25, -0.1, 0.05, -0.02, 0.01}});
  std::vector<double> spike = decaying_noise(0.01, 0.5, 1, -60);
  write_wav(w / "spike.wav", {spike});
  write_wav(w / "start.wav", {decaying_noise(0.3, 0, 1, -90)});
  for (const bool third : {false, true}) {
    const RunResult r = run_room(dir, {"-b", third ? "third" : "octave", "--csv", "out.csv",
                                       "eight.wav", "spike.wav", "start.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("inf"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("nan"), std::string::npos) << r.out;
    EXPECT_EQ(csv_faults(read_file(w / "out.csv")), "");
  }
}

TEST(VelliskRoom, ReportsOverManyFilesAreWrittenAsTheyGoInFlatMemory) {
  // The JSON and CSV of 1000 files against those of 100: each file's part is written as it is
  // analysed, not held (the JSON held whole grew by about 25 MB over the 900 files).
#ifdef __SANITIZE_ADDRESS__
  // AddressSanitizer holds freed memory in quarantine, which would grow with the files.
  const char* options = std::getenv("ASAN_OPTIONS");
  const std::string asan = std::string(options != nullptr ? options : "") + ":quarantine_size_mb=0";
  setenv("ASAN_OPTIONS", asan.c_str(), 1);
#endif
  TempDir dir;
  const std::filesystem::path w = dir.work();
  write_wav(w / "room.wav", {decaying_noise(0.3, 0.01, 0.4, -60, 8000)},
            SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000);
  std::vector<std::string> args = {"--json", "out.json", "--csv", "out.csv"};
  long peak[2] = {};
  for (const int files : {100, 1000}) {
    SCOPED_TRACE(files);
    for (int i = static_cast<int>(args.size()) - 4; i < files; ++i) {
      const std::string name = "r" + std::to_string(i) + ".wav";
      std::filesystem::create_symlink("room.wav", w / name);
      args.push_back(name);
    }
    const RunResult r = run_room(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    peak[files == 1000] = r.max_rss_kib;
    const nlohmann::json j = nlohmann::json::parse(read_file(w / "out.json"));
    ASSERT_EQ(j["files"].size(), static_cast<std::size_t>(files));
    EXPECT_EQ(j["files"].back()["file"], "r" + std::to_string(files - 1) + ".wav");
    EXPECT_TRUE(j["sti_levels"].is_null());
  }
  EXPECT_LT(peak[1] - peak[0], 4096) << peak[0] << " KiB for 100 files, " << peak[1] << " for 1000";
}

TEST(VelliskRoom, AClosedReportPipeEndsTheRunQuietlyWithItsFiles) {
  TempDir dir;
  write_wav(dir.work() / "a.wav", {decaying_tone(1000, 0.5, 0.01, 1)});
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  RunSetup setup;
  setup.program = VELLISK_ROOM_BINARY;
  setup.stdout_fd = ends[1];
  const RunResult r = run_program(dir, {"--csv", "out.csv", "a.wav", "a.wav"}, setup);
  close(ends[1]);
  EXPECT_EQ(r.signal, SIGPIPE);
  EXPECT_EQ(r.err, "");
  const std::string csv = read_file(dir.work() / "out.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 2 * 10);
}

// A perfect impulse, and one of two samples, before digital silence: no decay
// follows them, and no noise, which the report says rather than a peak-to-noise
// of 0 dB. Notes name their bands in words ("1 kHz").
TEST(VelliskRoom, APerfectImpulseHoldsNoDecayAndNotesNameTheirBands) {
  TempDir dir;
  std::vector<double> one(48000), two(48000);
  one[100] = 1, two[100] = 1, two[101] = -0.5;
  write_wav(dir.work() / "one.wav", {one, two});
  write_wav(dir.work() / "decay.wav", {decaying_noise(0.5, 0.01, 1, -200)});
  const RunResult r = run_room(dir, {"--json", "r.json", "one.wav", "decay.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* ends : {"Channel 1: the response ends 0.0 ms after its peak, in digital silence: "
                           "no decay to measure, no parameters\n",
                           "Channel 2: the response ends 0.0 ms after its peak"}) {
    EXPECT_NE(r.out.find(ends), std::string::npos) << r.out;
  }
  EXPECT_EQ(r.out.find("peak only"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n  1 kHz: "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("k Hz"), std::string::npos) << r.out;
  const nlohmann::json j = nlohmann::json::parse(read_file(dir.work() / "r.json"));
  EXPECT_TRUE(j.at("files").at(0).at("channels").at(0).at("onset_s").is_null()) << j.dump();
}
