// Tests of the directivity's library functions, in process: angles from names, the CTA-2034-A
// curves and beamwidths of a baffled piston against its closed form, tables of angles, the
// refusals and Olive's rating on curves known by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "run_vellisk.h"
#include "spin_piston.h"
#include "vellisk/spin.h"

using namespace vellisk;
using namespace spin_test;

namespace {

// The curves of the standard computed from D itself: each curve's angles (orbit, degrees).
using Angles = std::vector<std::pair<bool, int>>;
const std::map<std::string, Angles> kCurveAngles = {
    {"listening_window", {{false, 0}, {true, 10}, {true, -10}, {false, 10}, {false, -10}, {false, 20},
                          {false, -20}, {false, 30}, {false, -30}}},
    {"floor", {{true, -20}, {true, -30}, {true, -40}}},
    {"ceiling", {{true, 40}, {true, 50}, {true, 60}}},
    {"front", {{false, 0}, {false, 10}, {false, -10}, {false, 20}, {false, -20}, {false, 30}, {false, -30}}},
    {"side", {{false, 40}, {false, -40}, {false, 50}, {false, -50}, {false, 60}, {false, -60}, {false, 70},
              {false, -70}, {false, 80}, {false, -80}}},
    {"rear", {{false, 180}, {false, 90}, {false, -90}}},
};

double mean_power(const Source& s, double hz, const Angles& angles) {
  double p = 0;
  for (const auto& [v, d] : angles) p += std::pow(10.0, s.db(v, hz, d) / 10);
  return p / static_cast<double>(angles.size());
}

// The standard's sound power: four half-orbits of 0 to 180 degrees, each angle weighted.
double sound_power(const Source& s, double hz) {
  const double w[19] = {0.000604486, 0.004730189, 0.008955027, 0.012387354, 0.014989611, 0.016868154,
                        0.018165962, 0.019006744, 0.019477787, 0.019629373, 0.019477787, 0.019006744,
                        0.018165962, 0.016868154, 0.014989611, 0.012387354, 0.008955027, 0.004730189,
                        0.000604486};
  double p = 0, total = 0;
  for (const bool v : {false, true}) {
    for (const int sign : {1, -1}) {
      for (int i = 0; i <= 18; ++i) p += w[i] * std::pow(10.0, s.db(v, hz, sign * 10 * i) / 10), total += w[i];
    }
  }
  return p / total;
}

double db(double p) { return 10 * std::log10(p); }

SpinSet piston_set(const Source& s, const TempDir& dir) {
  return make_spin_set(read_angle_responses(write_frd_set(s, dir.work())));
}

}  // namespace

TEST(Spin, AnglesComeFromTheEndsOfNames) {
  const struct {
    const char* name;
    bool found;
    Orbit orbit;
    int degrees;
  } cases[] = {
      {"woofer_H 30.frd", true, Orbit::horizontal, 30},  {"dir/x_H-30.txt", true, Orbit::horizontal, -30},
      {"name_V 10.frd", true, Orbit::vertical, 10},      {"name_hor_30deg.frd", true, Orbit::horizontal, 30},
      {"name_ver_-40deg.frd", true, Orbit::vertical, -40}, {"V+40.frd", true, Orbit::vertical, 40},
      {"a vertical 190.txt", true, Orbit::vertical, -170}, {"Horizontal 180°.frd", true, Orbit::horizontal, 180},
      {"name 30.frd", false, Orbit::horizontal, 0},      {"Ch 30.frd", false, Orbit::horizontal, 0},
      {"name_H.frd", false, Orbit::horizontal, 0},       {"V 10/plain.frd", false, Orbit::horizontal, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto a = spin_angle_from_name(c.name);
    ASSERT_EQ(a.has_value(), c.found);
    if (c.found) {
      EXPECT_EQ(*a, (SpinAngle{c.orbit, c.degrees}));
    }
  }
}

TEST(Spin, PistonCurvesAreTheirClosedForms) {
  for (const double radius : {0.05, 0.12}) {
    SCOPED_TRACE(radius);
    TempDir dir;
    const Source s{radius};
    const SpinSet set = piston_set(s, dir);
    ASSERT_TRUE(set.filled_in.empty());
    const SpinCurves c = spin_curves(set);
    ASSERT_NEAR(c.frequencies.front(), 20, 1e-6);
    ASSERT_NEAR(c.frequencies.back(), 20480, 1e-3);
    double worst = 0;
    for (std::size_t i = 0; i < c.frequencies.size(); ++i) {
      const double hz = c.frequencies[i];
      const double lw = mean_power(s, hz, kCurveAngles.at("listening_window"));
      const double f = mean_power(s, hz, kCurveAngles.at("floor")), ce = mean_power(s, hz, kCurveAngles.at("ceiling"));
      const double fr = mean_power(s, hz, kCurveAngles.at("front")), si = mean_power(s, hz, kCurveAngles.at("side"));
      const double re = mean_power(s, hz, kCurveAngles.at("rear"));
      const double er = (f + ce + fr + si + re) / 5, sp = sound_power(s, hz);
      const std::pair<double, double> pairs[] = {
          {c.on_axis[i], s.db(false, hz, 0)}, {c.listening_window[i], db(lw)}, {c.floor_bounce[i], db(f)},
          {c.ceiling_bounce[i], db(ce)}, {c.front_wall[i], db(fr)}, {c.side_wall[i], db(si)},
          {c.rear_wall[i], db(re)}, {c.early_reflections[i], db(er)},
          {c.horizontal_early_reflections[i], db((fr + si + re) / 3)},
          {c.vertical_early_reflections[i], db((f + ce) / 2)}, {c.sound_power[i], db(sp)},
          {c.predicted_in_room[i], db(0.12 * lw + 0.44 * er + 0.44 * sp)},
          {c.erdi[i], db(lw) - db(er)}, {c.spdi[i], db(lw) - db(sp)}};
      for (const auto& [got, want] : pairs) worst = std::max(worst, std::abs(got - want));
    }
    EXPECT_LT(worst, 0.05);
    // The source beams: at the top, power falls well below the listening window.
    EXPECT_GT(c.spdi.back(), 10);
  }
}

TEST(Spin, PistonBeamwidthsAreItsOwnWithinTheirBands) {
  for (const double radius : {0.05, 0.12}) {
    SCOPED_TRACE(radius);
    TempDir dir;
    const Source s{radius};
    const Beamwidths b = beamwidths(piston_set(s, dir));
    ASSERT_EQ(b.frequencies.size(), 29u);  // 25 Hz to 16 kHz
    // D's own -6 dB angle: 2 J1(x) / x = 1/2 at x = 2.2151.
    const auto own = [](double hz, double a) {
      const double x = 2.2151 / (2 * std::numbers::pi * hz / 343.0 * a);
      return x >= 1 ? 360.0 : 2 * std::asin(x) * 180 / std::numbers::pi;
    };
    int checked = 0;
    for (std::size_t i = 0; i < b.frequencies.size(); ++i) {
      const double lo = b.frequencies[i] * std::pow(10.0, -0.05), hi = b.frequencies[i] * std::pow(10.0, 0.05);
      if (own(hi, radius) < 30) continue;  // narrower than the 10-degree steps resolve
      SCOPED_TRACE(b.frequencies[i]);
      EXPECT_GE(b.horizontal_deg[i], own(hi, radius) - 1);
      EXPECT_LE(b.horizontal_deg[i], own(lo, radius) + 1);
      ++checked;
    }
    EXPECT_GT(checked, 12);
    EXPECT_EQ(b.horizontal_deg.front(), 360);
    // The vertical orbit's piston is wider, so its beam narrower, at the top.
    EXPECT_LT(b.vertical_deg.back(), b.horizontal_deg.back());
  }
}

TEST(Spin, TablesOfAnglesReadAsTheirFrdFiles) {
  TempDir dir;
  const Source s{0.12};
  write_text(dir.work() / "SPL Horizontal.txt", table_text(s, false));
  write_text(dir.work() / "SPL Vertical.txt", table_text(s, true));
  const auto from_tables = read_angle_responses(
      {(dir.work() / "SPL Horizontal.txt").string(), (dir.work() / "SPL Vertical.txt").string()});
  ASSERT_EQ(from_tables.size(), 72u);  // on-axis and rear in both
  const SpinCurves t = spin_curves(make_spin_set(from_tables));
  const SpinCurves f = spin_curves(piston_set(s, dir));
  ASSERT_EQ(t.frequencies.size(), f.frequencies.size());
  for (std::size_t i = 0; i < t.frequencies.size(); ++i) {
    ASSERT_NEAR(t.sound_power[i], f.sound_power[i], 1e-6);
    ASSERT_NEAR(t.early_reflections[i], f.early_reflections[i], 1e-6);
    ASSERT_NEAR(t.listening_window[i], f.listening_window[i], 1e-6);
  }
}

TEST(Spin, MissingAnglesAreRefusedOrFilledFromTheirNeighbours) {
  TempDir dir;
  const Source s{0.05};
  std::vector<std::string> names = write_frd_set(s, dir.work());
  std::erase_if(names, [](const std::string& n) {
    const SpinAngle a = *spin_angle_from_name(n);
    return a == SpinAngle{Orbit::horizontal, 40} || a == SpinAngle{Orbit::horizontal, -40} ||
           a == SpinAngle{Orbit::horizontal, 180} || a == SpinAngle{Orbit::vertical, 10};
  });
  const auto responses = read_angle_responses(names);
  try {
    make_spin_set(responses);
    FAIL() << "not refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ProblemCode::invalid_request);
    EXPECT_NE(std::string(e.what()).find("angles missing (H 40, H 180, H -40, V 10)"), std::string::npos) << e.what();
  }
  SpinOptions allow;
  allow.allow_missing = true;
  const SpinSet set = make_spin_set(responses, allow);
  EXPECT_EQ(set.filled_in.size(), 4u);
  // H 40 lies between H 30 and H 50; the rear between H 170 and H -170.
  for (std::size_t i = 0; i < set.frequencies.size(); i += 17) {
    const double hz = set.frequencies[i];
    EXPECT_NEAR(set.horizontal[4][i], (s.db(false, hz, 30) + s.db(false, hz, 50)) / 2, 1e-6);
    EXPECT_NEAR(set.horizontal[18][i], s.db(false, hz, 170), 1e-6);
    EXPECT_NEAR(set.vertical[18][i], s.db(false, hz, 170), 1e-6);
  }
}

TEST(Spin, RefusalsNameTheirCause) {
  TempDir dir;
  const Source s{0.05};
  const std::vector<std::string> names = write_frd_set(s, dir.work());
  const auto w = [&dir](const std::string& name, const std::string& text) {
    write_text(dir.work() / name, text);
    return (dir.work() / name).string();
  };
  const std::string on_axis = *std::find_if(names.begin(), names.end(), [](const std::string& n) {
    return spin_angle_from_name(n) == SpinAngle{Orbit::horizontal, 0};
  });
  const struct {
    std::vector<std::string> files;
    std::string says;
  } cases[] = {
      {{w("a_H 10.frd", "100 1\n200 2\n")}, "no input is on-axis (H 0)"},
      {{on_axis, w("b_H 15.frd", "100 1\n200 2\n")}, "(H 15) is not a multiple of 10 degrees"},
      {{on_axis, w("c_H 0.frd", "100 1\n200 2\n")}, "both give H 0"},
      {{w("d_H 20.frd", "100 1\n200 2\nx 3\n")}, "line 3 is neither a row of finite numbers"},
      {{w("plain.frd", "100 1\n200 2\n")}, "input (" + (dir.work() / "plain.frd").string() + ") has no angle"},
      {{w("SPL Horizontal.txt", "On-Axis\t\t10\xC2\xB0\n100\t1\t100\t2\n200\t1\n")}, "line 3 holds 2 numbers, not 4"},
      {{w("SPL Horizontal b.txt", "On-Axis\t\t10\xC2\xB0\n100\t1\t200\t2\n150\t1\t150\t2\n")},
       "line 3 gives H 10 the frequency"},
      {{w("table.txt", "On-Axis\t\t10\xC2\xB0\n100\t1\t100\t2\n")}, "neither Horizontal nor Vertical"},
      {{w("f_H 0.frd", "10 1\n20 2e300\n")}, "its level (2e+300 dB) must be from -500 to 500 dB"},
      {{w("e_H 0.frd", "10 1\n20 2\n"), w("e_H 10.frd", "30 1\n40 2\n")}, "does not overlap the inputs before it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    try {
      make_spin_set(read_angle_responses(c.files));
      FAIL() << "not refused";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

TEST(Spin, RatingPartsAreOlivesOnCurvesKnownByHand) {
  // A grid of 1/20 octave set half a step off the half-octave edges: ten points in each band.
  SpinCurves c;
  for (int i = -40; i < 160; ++i) c.frequencies.push_back(100 * std::exp2((i + 0.5) / 20));
  const std::size_t n = c.frequencies.size();
  // On-axis alternates +-1 dB: in every band its mean is 0 and its deviation 1.
  for (std::size_t i = 0; i < n; ++i) c.on_axis.push_back(i % 2 == 0 ? 1 : -1);
  // The in-room response falls 1 dB an octave: a straight line, smoothness 1; in a half
  // octave of ten points 0.05 dB apart its mean absolute deviation is 0.125 dB.
  for (const double f : c.frequencies) c.predicted_in_room.push_back(-std::log2(f / 1000));
  c.listening_window.assign(n, 0.0);
  // Sound power 10 dB down below 60 Hz: the first point below 60 Hz walking down is the extension.
  for (const double f : c.frequencies) c.sound_power.push_back(f < 60 ? -10 : -3);
  const PreferenceRating r = preference_rating(c);
  EXPECT_NEAR(r.nbd_on, 1, 1e-9);
  EXPECT_NEAR(r.nbd_pir, 0.125, 1e-9);
  EXPECT_NEAR(r.sm_pir, 1, 1e-9);
  const double x = 100 * std::exp2((std::floor(20 * std::log2(60.0 / 100) - 0.5) + 0.5) / 20);
  EXPECT_NEAR(r.lfx_hz, x, 1e-9);
  EXPECT_FALSE(r.lfx_below_grid);
  EXPECT_NEAR(r.rating, 12.69 - 2.49 - 2.99 * 0.125 - 4.31 * std::log10(x) + 2.32, 1e-9);
  EXPECT_NEAR(r.rating_with_subwoofer, 12.69 - 2.49 - 2.99 * 0.125 - 4.31 * std::log10(14.5) + 2.32, 1e-9);
  // A V symmetric about the range's middle in log frequency fits no slope: smoothness 0.
  std::vector<double> vf;
  for (int i = 0; i <= 146; ++i) vf.push_back(100 * std::pow(160.0, i / 146.0));
  std::vector<double> vd;
  for (const double f : vf) vd.push_back(std::abs(std::log10(f) - std::log10(std::sqrt(100.0 * 16000))));
  EXPECT_NEAR(smoothness(vf, vd), 0, 1e-9);
  // Curves short of 100 Hz to 16 kHz are not rated.
  c.frequencies.resize(n - 20);
  EXPECT_THROW(preference_rating(c), Error);
}
