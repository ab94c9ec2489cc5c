// The curves of ANSI/CTA-2034-A from the 70 angles of both orbits, and the -6 dB beamwidths.
#include <cmath>
#include <initializer_list>

#include "sweep/out_of_memory.h"
#include "vellisk/spin.h"

namespace vellisk {
namespace {

constexpr int kSteps = 36;

struct At {
  Orbit orbit;
  int degrees;
};

const std::vector<double>& levels(const SpinSet& s, At a) {
  const auto k = static_cast<std::size_t>(((a.degrees / 10) % kSteps + kSteps) % kSteps);
  return a.orbit == Orbit::horizontal ? s.horizontal[k] : s.vertical[k];
}

double power(double db) { return std::pow(10.0, db / 10); }
double decibels(double p) { return p > 0 ? std::max(10 * std::log10(p), -300.0) : -300.0; }

// The mean power of the angles, at each frequency.
std::vector<double> mean_power(const SpinSet& s, std::initializer_list<At> angles) {
  std::vector<double> p(s.frequencies.size(), 0.0);
  for (const At a : angles) {
    const std::vector<double>& l = levels(s, a);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] += power(l[i]);
  }
  for (double& x : p) x /= static_cast<double>(angles.size());
  return p;
}

std::vector<double> mean_of(std::initializer_list<const std::vector<double>*> powers) {
  std::vector<double> p(powers.begin()[0]->size(), 0.0);
  for (const std::vector<double>* q : powers) {
    for (std::size_t i = 0; i < p.size(); ++i) p[i] += (*q)[i];
  }
  for (double& x : p) x /= static_cast<double>(powers.size());
  return p;
}

std::vector<double> in_db(const std::vector<double>& p) {
  std::vector<double> d;
  d.reserve(p.size());
  for (const double x : p) d.push_back(decibels(x));
  return d;
}

// CTA-2034-A's weights of the sound power: the share of the sphere each angle stands for, at
// 0, 10, ... 90 degrees from on-axis (and mirrored beyond), each half-orbit's summing to 1/4;
// on-axis and rear are counted on all four half-orbits.
constexpr double kPowerWeights[10] = {0.000604486, 0.004730189, 0.008955027, 0.012387354, 0.014989611,
                                      0.016868154, 0.018165962, 0.019006744, 0.019477787, 0.019629373};

double power_weight(int k) {
  const int from_axis = std::abs(k <= kSteps / 2 ? k : k - kSteps);  // 0 to 18 steps
  const int w = from_axis <= 9 ? from_axis : 18 - from_axis;
  const bool shared = k == 0 || k == kSteps / 2;
  return (shared ? 2 : 1) * kPowerWeights[w];
}

std::vector<double> sound_power(const SpinSet& s) {
  std::vector<double> p(s.frequencies.size(), 0.0);
  double total = 0;
  for (const auto* orbit : {&s.horizontal, &s.vertical}) {
    for (int k = 0; k < kSteps; ++k) {
      const double w = power_weight(k);
      total += w;
      const std::vector<double>& l = (*orbit)[static_cast<std::size_t>(k)];
      for (std::size_t i = 0; i < p.size(); ++i) p[i] += w * power(l[i]);
    }
  }
  for (double& x : p) x /= total;
  return p;
}

}  // namespace

SpinCurves spin_curves(const SpinSet& s) {
  return memory_checked([&] {
    constexpr Orbit H = Orbit::horizontal, V = Orbit::vertical;
    const auto lw = mean_power(s, {{H, 0}, {V, 10}, {V, -10}, {H, 10}, {H, -10}, {H, 20}, {H, -20}, {H, 30}, {H, -30}});
    const auto floor = mean_power(s, {{V, -20}, {V, -30}, {V, -40}});
    const auto ceiling = mean_power(s, {{V, 40}, {V, 50}, {V, 60}});
    const auto front = mean_power(s, {{H, 0}, {H, 10}, {H, -10}, {H, 20}, {H, -20}, {H, 30}, {H, -30}});
    const auto side = mean_power(s, {{H, 40}, {H, -40}, {H, 50}, {H, -50}, {H, 60}, {H, -60}, {H, 70},
                                     {H, -70}, {H, 80}, {H, -80}});
    const auto rear = mean_power(s, {{H, 180}, {H, 90}, {H, -90}});
    const auto er = mean_of({&floor, &ceiling, &front, &side, &rear});
    const auto sp = sound_power(s);
    std::vector<double> pir(sp.size());
    for (std::size_t i = 0; i < pir.size(); ++i) pir[i] = 0.12 * lw[i] + 0.44 * er[i] + 0.44 * sp[i];

    SpinCurves c;
    c.frequencies = s.frequencies;
    c.on_axis = s.horizontal[0];
    c.listening_window = in_db(lw);
    c.floor_bounce = in_db(floor);
    c.ceiling_bounce = in_db(ceiling);
    c.front_wall = in_db(front);
    c.side_wall = in_db(side);
    c.rear_wall = in_db(rear);
    c.early_reflections = in_db(er);
    c.horizontal_early_reflections = in_db(mean_of({&front, &side, &rear}));
    c.vertical_early_reflections = in_db(mean_of({&floor, &ceiling}));
    c.sound_power = in_db(sp);
    c.predicted_in_room = in_db(pir);
    for (std::size_t i = 0; i < pir.size(); ++i) {
      c.erdi.push_back(c.listening_window[i] - c.early_reflections[i]);
      c.spdi.push_back(c.listening_window[i] - c.sound_power[i]);
    }
    return c;
  });
}

namespace {

// The angle, walking one way from on-axis in steps of 10 degrees, where the band's level
// relative to on-axis first reaches -6 dB (linear in dB between steps); 180 where it never does.
double half_width(const std::vector<double>& relative_db, int direction) {
  double before = 0;
  for (int step = 1; step <= kSteps / 2; ++step) {
    const double now = relative_db[static_cast<std::size_t>(((direction * step) % kSteps + kSteps) % kSteps)];
    if (now <= -6) return 10.0 * (step - 1) + 10.0 * (before + 6) / (before - now);
    before = now;
  }
  return 180;
}

double band_width(const std::vector<std::vector<double>>& orbit, std::size_t first, std::size_t end) {
  std::vector<double> relative(kSteps);
  double on_axis = 0;
  for (std::size_t i = first; i < end; ++i) on_axis += power(orbit[0][i]);
  for (std::size_t k = 0; k < kSteps; ++k) {
    double p = 0;
    for (std::size_t i = first; i < end; ++i) p += power(orbit[k][i]);
    relative[k] = decibels(p) - decibels(on_axis);
  }
  return half_width(relative, 1) + half_width(relative, -1);
}

}  // namespace

Beamwidths beamwidths(const SpinSet& s) {
  Beamwidths b;
  const std::vector<double>& f = s.frequencies;
  if (f.empty()) return b;
  for (int n = -30; n <= 13; ++n) {
    const double centre = 1000 * std::pow(10.0, n / 10.0);
    const double lo = centre * std::pow(10.0, -0.05), hi = centre * std::pow(10.0, 0.05);
    if (lo < f.front() || hi > f.back()) continue;
    std::size_t first = 0;
    while (first < f.size() && f[first] < lo) ++first;
    std::size_t end = first;
    while (end < f.size() && f[end] < hi) ++end;
    if (end == first) continue;
    b.frequencies.push_back(centre);
    b.horizontal_deg.push_back(band_width(s.horizontal, first, end));
    b.vertical_deg.push_back(band_width(s.vertical, first, end));
  }
  return b;
}

}  // namespace vellisk
