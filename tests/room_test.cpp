// vellisk-room: band filters against the class 1 mask, decays of closed form, noise, and the
// program end to end.
#include "room/room.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "room_checks.h"
#include "run_vellisk.h"

namespace {

constexpr double kRate = 48000;

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
    for (const std::string& note : p.notes) {
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
    EXPECT_TRUE(p.notes.empty()) << p.notes.front();
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
  ASSERT_TRUE(p.t30) << (p.notes.empty() ? "" : p.notes.front());
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
  EXPECT_NE(tone.notes.front().find("needed for T20"), std::string::npos) << tone.notes.front();
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
std::vector<double> decaying_noise(double t60, double start, double length, double floor_db) {
  std::vector<double> x(static_cast<std::size_t>(length * kRate));
  unsigned s = 3382;
  const auto uniform = [&s] {
    s = s * 1664525u + 1013904223u;
    return std::sqrt(12.0) * ((s >> 8) / 16777216.0 - 0.5);
  };
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / kRate - start;
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
    EXPECT_TRUE(p.notes.empty()) << p.notes.front();
    EXPECT_FALSE(q.inr);
    ASSERT_FALSE(q.notes.empty());
    EXPECT_EQ(q.notes.front().find("the response ends above any noise floor"), 0u) << q.notes.front();
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
    const std::string& note = p.notes.front();
    EXPECT_NE(note.find("ends above any noise floor"), std::string::npos) << note;
    const std::size_t at = note.find("T30 needs about ");
    ASSERT_NE(at, std::string::npos) << note;
    EXPECT_NEAR(std::stod(note.substr(at + 16)), 1.6, 0.4) << note;
  }
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
  EXPECT_EQ(p.notes.front().find("EDT not given: the decay curve is no line from 0 to -10 dB"), 0u)
      << p.notes.front();
  ASSERT_TRUE(p.t30);
  EXPECT_NEAR(*p.t30, 0.4, 0.04);
}

namespace {

// Channels of equal length, interleaved into a sound file, 32-bit float WAV unless told.
void write_wav(const std::filesystem::path& path, const std::vector<std::vector<double>>& channels,
               int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
  SF_INFO info{};
  info.channels = static_cast<int>(channels.size());
  info.samplerate = static_cast<int>(kRate);
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
            "curvature_pct,c50_db,c80_db,d50,ts_ms,inr_db,decay_range_db,bass_ratio,notes");
  EXPECT_NE(csv.find("\nhall.wav,2,500,501.19,0.080"), std::string::npos);
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
  };
  const std::vector<std::string> inputs = {"a.f32", "a.wav",     "cut.flac", "empty.wav",
                                           "fast.wav", "huge.flac", "nan.f32", "sub.svg"};
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
