// The parametric fit: filters placed one at a time where the error is largest, refined within
// their limits, the weak ones dropped, and the preamp that keeps the gain at most 0 dB.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <array>
#include <optional>

#include "eq/eq_internal.h"
#include "sweep/out_of_memory.h"

namespace vellisk {

namespace {

constexpr double kFitPointsPerOctave = 24;
constexpr double kDropDb = 0.1;        // a filter improving the rms error less is dropped
constexpr double kShelfMaxQ = 0.70710678118654752;  // a shelf with no overshoot
constexpr double kBoostWeight = 100;   // of the boost beyond max_boost_db in the cost
constexpr double kLevelWeight = 0.05;  // of the filters' mean gain over the range

// x as the shortest of 12 significant digits: a multiple of a step reads as written.
double clean(double x) {
  char text[40];
  std::snprintf(text, sizeof text, "%.12g", x);
  return std::strtod(text, nullptr);
}

// x in [lo, hi], a multiple of step.
double snap(double x, double lo, double hi, double step) {
  const double first = std::ceil(lo / step - 1e-9) * step, last = std::floor(hi / step + 1e-9) * step;
  if (first > last) return std::clamp(x, lo, hi);
  return clean(std::clamp(std::round(x / step) * step, first, last));
}

// What the fit works on: the points, the error without filters there, the limits.
struct Fit {
  const EqRequest& request;
  double low = 0, high = 0, rate = 0;
  std::vector<double> f;     // the points, Hz
  std::vector<double> base;  // the smoothed response less the aligned target, dB

  // A filter from its parameters (log2 Hz, dB, log2 Q), within its limits and steps.
  EqFilter make(EqFilterType type, const double x[3]) const {
    const EqRequest& r = request;
    EqFilter e;
    e.type = type;
    e.frequency_hz = snap(std::exp2(x[0]), low, high, r.frequency_step_hz > 0 ? r.frequency_step_hz : 0.01);
    e.gain_db = snap(x[1], -r.max_cut_db, r.max_boost_db, r.gain_step_db > 0 ? r.gain_step_db : 0.01);
    const double q_high = type == EqFilterType::peaking ? r.q_high
                                                        : std::max(r.q_low, std::min(r.q_high, kShelfMaxQ));
    e.q = snap(std::exp2(x[2]), r.q_low, q_high, 1e-4);
    return e;
  }

  std::vector<double> gain(const EqFilter& e) const { return filters_gain_db({e}, rate, f); }

  // The rms error with others and g, the target aligned to the corrected response by the
  // mean, and, weighted, the boost beyond the limit and the level the filters take away on
  // average (so that cuts all around a dip do not stand in for a boost of it).
  double cost(const std::vector<double>& others, const std::vector<double>& g) const {
    std::vector<double> total(f.size());
    for (std::size_t i = 0; i < f.size(); ++i) total[i] = others[i] + g[i];
    return correction_cost(base, total, request.max_boost_db);
  }

  EqError error(const std::vector<double>& total) const { return error_to_target(base, total); }

  std::vector<double> deviation(const std::vector<double>& total) const {
    return aligned_deviation(base, total);
  }
};

std::vector<double> zeros(std::size_t n) { return std::vector<double>(n, 0.0); }

void add(std::vector<double>& to, const std::vector<double>& g, double sign = 1) {
  for (std::size_t i = 0; i < to.size(); ++i) to[i] += sign * g[i];
}

// A pattern search of the filter's frequency, gain and Q, the others' gain held.
EqFilter refine(const Fit& fit, const EqFilter& start, const std::vector<double>& others) {
  const EqRequest& r = fit.request;
  double x[3] = {std::log2(start.frequency_hz), start.gain_db, std::log2(start.q)};
  const double lo[3] = {std::log2(fit.low), -r.max_cut_db, std::log2(r.q_low)};
  const double hi[3] = {std::log2(fit.high), r.max_boost_db, std::log2(r.q_high)};
  double step[3] = {1.0 / 6, 1.0, 0.5};
  const double finest[3] = {1.0 / 1024, 0.005, 1.0 / 1024};
  double best = fit.cost(others, fit.gain(fit.make(start.type, x)));
  for (int round = 0; round < 2000; ++round) {
    bool moved = false;
    for (int k = 0; k < 3 && !moved; ++k) {
      for (const double sign : {1.0, -1.0}) {
        double y[3] = {x[0], x[1], x[2]};
        y[k] = std::clamp(y[k] + sign * step[k], lo[k], hi[k]);
        const double c = fit.cost(others, fit.gain(fit.make(start.type, y)));
        if (c < best - 1e-12) {
          best = c;
          std::copy(y, y + 3, x);
          moved = true;
          break;
        }
      }
    }
    if (moved) continue;
    if (step[0] <= finest[0] && step[1] <= finest[1] && step[2] <= finest[2]) break;
    for (int k = 0; k < 3; ++k) step[k] = std::max(step[k] / 2, finest[k] / 2);
  }
  return fit.make(start.type, x);
}

// A peak's Q from the width over which the error stays above half its value at i.
double width_q(const std::vector<double>& error, std::size_t i) {
  const double half = error[i] / 2;
  std::size_t a = i, b = i;
  while (a > 0 && error[a - 1] * half > half * half) --a;
  while (b + 1 < error.size() && error[b + 1] * half > half * half) ++b;
  const double octaves = std::max(1.0, static_cast<double>(b - a)) / kFitPointsPerOctave;
  const double ratio = std::exp2(octaves);
  return std::sqrt(ratio) / (ratio - 1);
}

// The points of the error's largest local extremes of one sign (sign 1: peaks), at most n.
std::vector<std::size_t> extremes(const std::vector<double>& error, double sign, std::size_t n) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < error.size(); ++i) {
    const double e = sign * error[i];
    if (e > 0 && (i == 0 || e >= sign * error[i - 1]) &&
        (i + 1 == error.size() || e > sign * error[i + 1])) {
      at.push_back(i);
    }
  }
  std::sort(at.begin(), at.end(), [&](std::size_t a, std::size_t b) {
    return sign * error[a] > sign * error[b];
  });
  if (at.size() > n) at.resize(n);
  return at;
}

// The starting filters of the next step: cuts at the error's highest peaks, boosts at its
// lowest dips, and the shelves not yet used.
std::vector<EqFilter> candidates(const Fit& fit, const std::vector<double>& error,
                                 const std::vector<EqFilter>& placed) {
  std::vector<EqFilter> out;
  for (const double sign : {1.0, -1.0}) {
    if ((sign > 0 ? fit.request.max_cut_db : fit.request.max_boost_db) <= 0) continue;
    for (const std::size_t i : extremes(error, sign, 6)) {
      out.push_back({EqFilterType::peaking, fit.f[i], -error[i], width_q(error, i)});
    }
  }
  if (!fit.request.shelves) return out;
  const auto used = [&placed](EqFilterType t) {
    return std::any_of(placed.begin(), placed.end(), [t](const EqFilter& e) { return e.type == t; });
  };
  const auto mean_error = [&](double from, double to) {
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < fit.f.size(); ++i) {
      if (fit.f[i] >= from && fit.f[i] <= to) sum += error[i], ++n;
    }
    return n > 0 ? sum / n : 0.0;
  };
  if (!used(EqFilterType::low_shelf)) {
    const double at = std::min(2 * fit.low, fit.high);
    out.push_back({EqFilterType::low_shelf, at, -mean_error(fit.low, at), kShelfMaxQ});
  }
  if (!used(EqFilterType::high_shelf)) {
    const double at = std::max(fit.high / 2, fit.low);
    out.push_back({EqFilterType::high_shelf, at, -mean_error(at, fit.high), kShelfMaxQ});
  }
  return out;
}

// The best next filter refined, or none that improves the error.
std::optional<EqFilter> place_next(const Fit& fit, const std::vector<EqFilter>& placed,
                                   const std::vector<double>& total) {
  const std::vector<double> error = fit.deviation(total);
  const double now = fit.cost(total, zeros(fit.f.size()));
  std::optional<EqFilter> best;
  double best_cost = now;
  for (const EqFilter& start : candidates(fit, error, placed)) {
    const EqFilter e = refine(fit, fit.make(start.type, std::array<double, 3>{
        std::log2(start.frequency_hz), start.gain_db, std::log2(start.q)}.data()), total);
    const double c = fit.cost(total, fit.gain(e));
    if (c < best_cost) best_cost = c, best = e;
  }
  return best;
}

// Each filter refined again with the others held, passes times.
void refine_all(const Fit& fit, std::vector<EqFilter>& filters, std::vector<double>& total,
                int passes) {
  for (int pass = 0; pass < passes; ++pass) {
    for (EqFilter& e : filters) {
      add(total, fit.gain(e), -1);
      e = refine(fit, e, total);
      add(total, fit.gain(e));
    }
  }
}

// Drops, weakest first, each filter whose removal raises the rms error by less than kDropDb.
void drop_weak(const Fit& fit, std::vector<EqFilter>& filters, std::vector<double>& total) {
  while (!filters.empty()) {
    const double now = fit.cost(total, zeros(fit.f.size()));
    std::size_t weakest = 0;
    double least = 1e300;
    for (std::size_t j = 0; j < filters.size(); ++j) {
      std::vector<double> without = total;
      add(without, fit.gain(filters[j]), -1);
      const double gain = fit.cost(without, zeros(fit.f.size())) - now;
      if (gain < least) least = gain, weakest = j;
    }
    if (least >= kDropDb) return;
    add(total, fit.gain(filters[weakest]), -1);
    filters.erase(filters.begin() + static_cast<std::ptrdiff_t>(weakest));
    refine_all(fit, filters, total, 1);
  }
}

}  // namespace

double correction_cost(const std::vector<double>& base, const std::vector<double>& total,
                       double max_boost_db) {
  double sum = 0, sum2 = 0, over = 0, level = 0;
  for (std::size_t i = 0; i < base.size(); ++i) {
    level += total[i];
    const double e = base[i] + total[i];
    sum += e;
    sum2 += e * e;
    const double beyond = total[i] - max_boost_db;
    if (beyond > 0) over += beyond * beyond;
  }
  const auto n = static_cast<double>(base.size());
  const double mean_gain = level / n;
  return std::sqrt(std::max(sum2 / n - (sum / n) * (sum / n), 0.0) + kBoostWeight * over / n +
                   kLevelWeight * mean_gain * mean_gain);
}

std::vector<double> aligned_deviation(const std::vector<double>& base,
                                      const std::vector<double>& total) {
  std::vector<double> e(base.size());
  double mean = 0;
  for (std::size_t i = 0; i < base.size(); ++i) mean += e[i] = base[i] + total[i];
  mean /= static_cast<double>(base.size());
  for (double& d : e) d -= mean;
  return e;
}

EqError error_to_target(const std::vector<double>& base, const std::vector<double>& total) {
  const std::vector<double> e = aligned_deviation(base, total);
  EqError out;
  double sum = 0;
  for (const double d : e) {
    sum += d * d;
    out.max_db = std::max(out.max_db, std::abs(d));
  }
  out.rms_db = std::sqrt(sum / static_cast<double>(e.size()));
  return out;
}

namespace {

// Points kFitPointsPerOctave an octave from low to high, both included.
std::vector<double> fit_points(double low, double high) {
  const double octaves = std::log2(high / low);
  const auto n = static_cast<std::size_t>(std::max(2.0, std::ceil(octaves * kFitPointsPerOctave) + 1));
  std::vector<double> f(n);
  for (std::size_t i = 0; i < n; ++i) {
    f[i] = low * std::exp2(octaves * static_cast<double>(i) / static_cast<double>(n - 1));
  }
  f.back() = high;
  return f;
}

// Frequencies from 1 Hz to just below half of each rate, 96 an octave, and each filter's own:
// where the filters' largest gain is looked for.
std::vector<double> dense_points(const std::vector<EqFilter>& filters, double rate) {
  std::vector<double> f;
  for (double x = 1; x < rate / 2; x *= std::exp2(1.0 / 96)) f.push_back(x);
  for (const EqFilter& e : filters) f.push_back(e.frequency_hz);
  return f;
}

double largest_gain(const std::vector<EqFilter>& filters, double rate) {
  const std::vector<double> g = filters_gain_db(filters, rate, dense_points(filters, rate));
  return *std::max_element(g.begin(), g.end());
}

// Scales the boosts down until the filters' largest gain is within max_boost_db.
void cap_boost(const Fit& fit, std::vector<EqFilter>& filters) {
  for (int round = 0; round < 20; ++round) {
    const double top = largest_gain(filters, fit.rate);
    if (top <= fit.request.max_boost_db + 0.005) return;
    const double scale = fit.request.max_boost_db / top;
    for (EqFilter& e : filters) {
      if (e.gain_db <= 0) continue;
      const double x[3] = {std::log2(e.frequency_hz), e.gain_db * scale - 0.01, std::log2(e.q)};
      e = fit.make(e.type, x);
    }
  }
}

Fit make_fit(const EqPlan& plan, EqCorrection& out) {
  const EqRequest& r = plan.request;
  Fit fit{r, plan.low_hz, plan.high_hz, *std::min_element(r.rates.begin(), r.rates.end()), {}, {}};
  fit.f = fit_points(plan.low_hz, plan.high_hz);
  out.smoothed.frequencies = out.target.frequencies = fit.f;
  double mean_m = 0, mean_t = 0;
  for (const double f : fit.f) {
    out.smoothed.level.push_back(sixth_octave_level(plan.measured, f));
    out.target.level.push_back(target_at(r, plan.target_rows, f));
    mean_m += out.smoothed.level.back();
    mean_t += out.target.level.back();
  }
  out.target_offset_db = (mean_m - mean_t) / static_cast<double>(fit.f.size());
  for (std::size_t i = 0; i < fit.f.size(); ++i) {
    out.target.level[i] += out.target_offset_db;
    fit.base.push_back(out.smoothed.level[i] - out.target.level[i]);
  }
  return fit;
}

}  // namespace

EqCorrection fit_correction(const EqPlan& plan) {
  return memory_checked([&] {
    EqCorrection out;
    const Fit fit = make_fit(plan, out);
    std::vector<EqFilter>& filters = out.filters;
    std::vector<double> total = zeros(fit.f.size());
    while (static_cast<int>(filters.size()) < plan.request.filters) {
      const std::optional<EqFilter> next = place_next(fit, filters, total);
      if (!next) break;
      filters.push_back(*next);
      add(total, fit.gain(*next));
    }
    refine_all(fit, filters, total, 6);
    drop_weak(fit, filters, total);
    cap_boost(fit, filters);
    double top = 0;
    for (const double rate : plan.request.rates) top = std::max(top, largest_gain(filters, rate));
    out.preamp_db = clean(-std::ceil(std::max(top, 0.0) * 100 - 1e-9) / 100) + 0.0;
    out.filters_gain = {fit.f, filters_gain_db(filters, fit.rate, fit.f)};
    out.before = fit.error(zeros(fit.f.size()));
    out.after = fit.error(out.filters_gain.level);
    out.predicted = filters_predicted(plan, out, fit.rate);
    return out;
  });
}

EqCurve filters_predicted(const EqPlan& plan, const EqCorrection& fit, double rate) {
  EqCurve out;
  for (const double f : plan.measured.frequencies) {
    if (f >= rate / 2) break;
    out.frequencies.push_back(f);
  }
  out.level = filters_gain_db(fit.filters, rate, out.frequencies);
  for (std::size_t i = 0; i < out.level.size(); ++i)
    out.level[i] += plan.measured.level[i] + fit.preamp_db;
  return out;
}

}  // namespace vellisk
