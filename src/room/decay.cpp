// Onset, Lundeby's iteration, Schroeder integration and least-squares decay times.
#include "room/decay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

double db(double energy) { return 10 * std::log10(std::max(energy, 1e-300)); }

// The sum of weight(i) sq[i] over [first, last), in four running sums: one
// would make every addition wait for the one before.
template <class Weight>
double weighted_sum(const double* sq, std::int64_t first, std::int64_t last, Weight weight) {
  double s[4] = {};
  std::int64_t i = first;
  for (; i + 4 <= last; i += 4) {
    for (int k = 0; k < 4; ++k) s[k] += weight(i + k) * sq[i + k];
  }
  for (; i < last; ++i) s[0] += weight(i) * sq[i];
  return (s[0] + s[1]) + (s[2] + s[3]);
}

// Mean of sq[first, last).
double mean(const double* sq, std::int64_t first, std::int64_t last) {
  if (last <= first) return 0;
  return weighted_sum(sq, first, last, [](std::int64_t) { return 1.0; }) /
         static_cast<double>(last - first);
}

// Least-squares line through (x, y) points.
struct Line {
  double a = 0, b = 0;  // y = a + b x
  double r = 0;
  bool ok = false;
};

struct Sums {
  double n = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0;
  void add(double px, double py) {
    n += 1, x += px, y += py, xx += px * px, xy += px * py, yy += py * py;
  }
  Line line() const {
    Line l;
    const double sxx = xx - x * x / n, sxy = xy - x * y / n, syy = yy - y * y / n;
    if (n < 2 || !(sxx > 0)) return l;
    l.b = sxy / sxx;
    l.a = (y - l.b * x) / n;
    l.r = syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
    l.ok = true;
    return l;
  }
};

// Mean squares over intervals of m samples from first: levels in dB and the
// intervals' middles.
void smooth(const double* sq, std::int64_t first, std::int64_t n, std::int64_t m,
            std::vector<double>& t, std::vector<double>& level) {
  t.clear();
  level.clear();
  for (std::int64_t at = first; at + m <= n; at += m) {
    t.push_back(static_cast<double>(at) + 0.5 * static_cast<double>(m));
    level.push_back(db(mean(sq, at, at + m)));
  }
}

// The line through the smoothed levels from the largest on, within [low, high] dB,
// and before `before`.
Line fit_levels(const std::vector<double>& t, const std::vector<double>& level, double low,
                double high, double before) {
  const auto top = std::max_element(level.begin(), level.end()) - level.begin();
  Sums s;
  for (auto j = static_cast<std::size_t>(top); j < level.size() && t[j] <= before; ++j) {
    if (level[j] >= low && level[j] <= high) s.add(t[j], level[j]);
  }
  return s.line();
}

std::string text(const char* format, double value) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

Onset find_onset(const double* x, std::int64_t n) {
  Onset o;
  double peak = 0;
  for (std::int64_t i = 0; i < n; ++i) peak = std::max(peak, x[i] * x[i]);
  double noise = 0;
  const std::int64_t tail = std::max<std::int64_t>(1, n / 10);
  for (std::int64_t i = n - tail; i < n; ++i) noise += x[i] * x[i];
  noise /= static_cast<double>(tail);
  o.peak_to_noise_db = noise > 0 ? std::min(300.0, db(peak) - db(noise)) : 300;
  if (peak == 0) o.peak_to_noise_db = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    if (x[i] * x[i] >= peak / 100) {
      o.sample = i;
      break;
    }
  }
  return o;
}

NoiseFit lundeby(const double* sq, std::int64_t n, std::int64_t onset, double rate,
                 double interval) {
  NoiseFit f;
  f.cross = n;
  const std::int64_t length = n - onset;
  const std::int64_t tenth = std::max<std::int64_t>(1, length / 10);
  f.noise = mean(sq, n - tenth, n);
  std::vector<double> t, level;
  std::int64_t m = std::clamp<std::int64_t>(std::llround(interval * rate), 1,
                                            std::max<std::int64_t>(1, length / 10));
  smooth(sq, onset, n, m, t, level);
  if (level.empty()) return f;
  const double top = *std::max_element(level.begin(), level.end());
  if (f.noise <= 0) {
    // Nothing but the decay to the end: nothing to truncate or add.
    f.decay = true;
    f.inr_db = 300;
    return f;
  }
  double noise_db = db(f.noise);
  f.inr_db = std::max(0.0, top - noise_db);
  // A first line from the largest level down to 10 dB above the noise, and
  // where it meets the noise.
  Line line = fit_levels(t, level, noise_db + 10, top, static_cast<double>(n));
  if (!line.ok || !(line.b < 0)) return f;
  double cross = std::min(static_cast<double>(n), (noise_db - line.a) / line.b);
  // Then five intervals per 10 dB of that decay, and the noise from 5 dB of
  // decay past the crossing (at least the last tenth), the line over 20 dB from
  // 10 dB above it, and their crossing again, until it settles.
  m = std::clamp<std::int64_t>(std::llround(-10 / line.b / 5), 1,
                               std::max<std::int64_t>(1, length / 10));
  smooth(sq, onset, n, m, t, level);
  for (int iteration = 0; iteration < 10 && level.size() >= 2; ++iteration) {
    const auto from = std::min(n - tenth, static_cast<std::int64_t>(cross - 5 / line.b));
    const double noise = mean(sq, std::max(onset, from), n);
    if (!(noise > 0)) break;
    noise_db = db(noise);
    const double peak = *std::max_element(level.begin(), level.end());
    const Line late = fit_levels(t, level, noise_db + 10, std::min(peak, noise_db + 30), cross);
    if (!late.ok || !(late.b < 0)) break;
    const double next = std::clamp((noise_db - late.a) / late.b, static_cast<double>(onset),
                                   static_cast<double>(n));
    f.noise = noise;
    line = late;
    const bool settled = std::abs(next - cross) < static_cast<double>(m);
    cross = next;
    if (settled) break;
  }
  f.decay = true;
  f.inr_db = std::max(0.0, *std::max_element(level.begin(), level.end()) - db(f.noise));
  f.cross = std::clamp(static_cast<std::int64_t>(cross), onset + 1, n);
  // The line's energy continued past the crossing: sum over j > cross of
  // e(cross) e^(-k (j - cross)).
  const double k = -line.b * std::log(10.0) / 10;
  const double at_cross = std::pow(10.0, (line.a + line.b * static_cast<double>(f.cross)) / 10);
  f.decay_per_sample = k;
  f.compensation = at_cross * std::exp(-k) / -std::expm1(-k);
  return f;
}

BandParameters band_parameters(const double* sq, std::int64_t n, std::int64_t onset,
                               std::int64_t early, double delay, double rate, double interval,
                               int curve_points) {
  BandParameters p;
  const NoiseFit noise = lundeby(sq, n, onset, rate, interval);
  p.inr = std::round(noise.inr_db * 10) / 10;
  if (!noise.decay) {
    p.notes.push_back(text("no decay stands 10 dB above the noise (INR %.0f dB)", noise.inr_db));
    return p;
  }
  // Schroeder's backward integral from the truncation point, plus the
  // compensation, from `early` samples before the onset.
  const std::int64_t first = std::max<std::int64_t>(0, onset - early);
  const std::int64_t last = noise.cross;  // exclusive
  std::vector<double> energy(static_cast<std::size_t>(last - first + 1));
  double sum = noise.compensation;
  energy.back() = sum;
  for (std::int64_t i = last - 1; i >= first; --i) {
    sum += sq[i];
    energy[static_cast<std::size_t>(i - first)] = sum;
  }
  const auto remaining = [&](std::int64_t i) {
    // Energy from sample i on; past the truncation point, the compensation's decay.
    if (i <= last) return energy[static_cast<std::size_t>(i - first)];
    return noise.compensation * std::exp(-noise.decay_per_sample * static_cast<double>(i - last));
  };
  const double at_onset = remaining(onset);
  if (!(at_onset > 0)) {
    p.notes.push_back("no energy after the onset");
    return p;
  }

  // Decay times: least squares on the curve in dB between two levels below its
  // value at the onset, each from where it first falls below the upper level
  // to where it first falls below the lower.
  const double to_db = 10 / std::log(10.0);
  struct Range {
    Range(double u, double l, const char* n, double inr, std::optional<double>* v,
          std::optional<double>* c)
        : upper(u), lower(l), name(n), needed(inr), value(v), r(c) {}
    double upper, lower;
    const char* name;
    double needed;  // INR, dB
    std::optional<double>* value;
    std::optional<double>* r;
    bool wanted = false, started = false, ended = false;
    std::int64_t from = 0, to = 0;
    Sums sums;
  };
  Range ranges[] = {{0, -10, "EDT", 20, &p.edt, &p.edt_r},
                    {-5, -25, "T20", 35, &p.t20, &p.t20_r},
                    {-5, -35, "T30", 45, &p.t30, &p.t30_r}};
  // One pass down the curve, each level computed once, feeding every range
  // still open.
  double deepest = 0;
  for (Range& g : ranges) {
    g.wanted = noise.inr_db >= g.needed;
    if (g.wanted) deepest = std::min(deepest, g.lower);
  }
  if (deepest < 0) {
    for (std::int64_t i = onset; i <= last; ++i) {
      const double level = to_db * std::log(remaining(i) / at_onset);
      const double t = static_cast<double>(i - onset) / rate;
      for (Range& g : ranges) {
        if (!g.wanted || g.ended) continue;
        if (level < g.lower) {
          g.ended = true;
          g.to = i;
        } else if (g.started || level <= g.upper) {
          if (!g.started) g.from = i;
          g.started = true;
          g.sums.add(t, level);
        }
      }
      if (level < deepest) break;
    }
  }
  for (Range& g : ranges) {
    if (!g.wanted) {
      p.notes.push_back(text("INR %.0f dB < ", noise.inr_db) +
                        text("%.0f dB needed for ", g.needed) + g.name);
      continue;
    }
    if (!g.ended) {
      p.notes.push_back(std::string(g.name) + text(": the decay does not reach %.0f dB", g.lower));
      continue;
    }
    const Line l = g.sums.line();
    if (!l.ok || !(l.b < 0)) {
      p.notes.push_back(std::string(g.name) + ": no decay to fit");
      continue;
    }
    *g.value = -60 / l.b;
    *g.r = l.r;
    if (l.r > -0.95) {
      p.notes.push_back(std::string(g.name) + text(" correlation %.3f is weaker than -0.95", l.r));
    }
    if (g.value == &p.t30) {
      DecayFit d;
      d.seconds = -60 / l.b;
      d.r = l.r;
      d.t0 = static_cast<double>(g.from - onset) / rate;
      d.t1 = static_cast<double>(g.to - onset) / rate;
      d.level0 = l.a + l.b * d.t0;
      d.level1 = l.a + l.b * d.t1;
      p.t30_fit = d;
    }
  }
  if (p.t20 && p.t30) {
    p.curvature = 100 * (*p.t30 / *p.t20 - 1);
    if (*p.curvature > 10)
      p.notes.push_back(text("curvature %.1f %% is above 10 %%", *p.curvature));
  }

  // Energy ratios and centre time, on the energy from the start of the early sums.
  const double total = remaining(first);
  const double origin = static_cast<double>(onset) - delay;
  const auto after = [&](double seconds) {
    return remaining(
        std::max(first, static_cast<std::int64_t>(std::llround(origin + seconds * rate))));
  };
  const double late50 = after(0.05), late80 = after(0.08);
  if (late50 > 0 && total > late50) p.c50 = 10 * std::log10((total - late50) / late50);
  if (late80 > 0 && total > late80) p.c80 = 10 * std::log10((total - late80) / late80);
  if (!p.c50 || !p.c80) p.notes.push_back("no energy before or after 50 ms or 80 ms: no clarity");
  p.d50 = (total - late50) / total;
  double moment = weighted_sum(
      sq, first, last, [origin](std::int64_t i) { return static_cast<double>(i) - origin; });
  if (noise.compensation > 0) {
    moment +=
        noise.compensation * (static_cast<double>(last) - origin + 1 / noise.decay_per_sample);
  }
  p.ts = 1000 * moment / total / rate;

  if (curve_points > 0) {
    const std::int64_t span = last - onset;
    const std::int64_t step = std::max<std::int64_t>(1, span / curve_points);
    for (std::int64_t i = onset; i <= last; i += step) {
      p.curve_t.push_back(static_cast<double>(i - onset) / rate);
      p.curve_db.push_back(to_db * std::log(std::max(remaining(i), 1e-300) / at_onset));
    }
  }
  return p;
}
