// Onset, Lundeby's iteration, Schroeder integration and least-squares decay times.
#include "room/decay.h"

#include <algorithm>
#include <cmath>

namespace vellisk {

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
  double r = 0;         // correlation coefficient, within [-1, 1]
  bool ok = false;
};

// Sums about the first point: a stretch far from x = 0, or of nearly equal y,
// would otherwise lose its spread to cancellation.
struct Sums {
  double n = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0;
  double x0 = 0, y0 = 0;
  void add(double px, double py) {
    if (n == 0) x0 = px, y0 = py;
    px -= x0, py -= y0;
    n += 1, x += px, y += py, xx += px * px, xy += px * py, yy += py * py;
  }
  Line line() const {
    Line l;
    if (n < 2) return l;
    const double sxx = xx - x * x / n, sxy = xy - x * y / n, syy = yy - y * y / n;
    if (!(sxx > 0)) return l;
    l.b = sxy / sxx;
    l.a = y0 + (y - l.b * x) / n - l.b * x0;
    l.r = syy > 0 ? std::clamp(sxy / std::sqrt(sxx * syy), -1.0, 1.0) : 0;
    l.ok = std::isfinite(l.a) && std::isfinite(l.b);
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

// The truncation point, within (onset, n]: where the decay's line crosses the noise; and the
// line's energy continued past it: the sum over j > cross of e(cross) e^(-k (j - cross)).
void continue_line(const Line& line, double cross, std::int64_t onset, std::int64_t n,
                   NoiseFit& f) {
  f.cross = std::clamp(static_cast<std::int64_t>(cross), onset + 1, n);
  const double k = -line.b * std::log(10.0) / 10;
  const double at_cross = std::pow(10.0, (line.a + line.b * static_cast<double>(f.cross)) / 10);
  f.decay_per_sample = k;
  f.compensation = at_cross * std::exp(-k) / -std::expm1(-k);
  if (!std::isfinite(f.compensation)) f.compensation = 0;
}

}  // namespace

double rounded(double x, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(x * scale) / scale + 0.0;
}

Onset find_onset(const double* x, std::int64_t n) {
  Onset o;
  double peak = 0;
  std::int64_t at = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    if (x[i] * x[i] > peak) peak = x[i] * x[i], at = i;
  }
  // The noise: the last tenth, after the peak. A response that ends at its
  // peak, or a perfect impulse followed by digital silence (trimmed), has none.
  double noise = 0;
  const std::int64_t from = std::max(n - std::max<std::int64_t>(1, n / 10), at + 1);
  for (std::int64_t i = from; i < n; ++i) noise += x[i] * x[i];
  if (n > from) noise /= static_cast<double>(n - from);
  o.peak = at;
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
  f.rate = rate;
  f.cross = n;
  const std::int64_t length = n - onset;
  const std::int64_t tenth = std::max<std::int64_t>(1, length / 10);
  f.noise_from = n - tenth;
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
    f.range_db = std::min(300.0, top - db(0));
    return f;
  }
  double noise_db = db(f.noise);
  f.range_db = std::max(0.0, top - noise_db);
  // A first line from the largest level down to 10 dB above the noise, and
  // where it meets the noise.
  Line line = fit_levels(t, level, noise_db + 10, top, static_cast<double>(n));
  if (!line.ok || !(line.b < 0)) return f;
  f.first_slope = line.b;
  double cross = std::min(static_cast<double>(n), (noise_db - line.a) / line.b);
  // Then five intervals per 10 dB of that decay, and the noise from 5 dB of
  // decay past the crossing (at least the last tenth), the line over 20 dB from
  // 10 dB above it, and their crossing again, until it settles.
  m = std::clamp<std::int64_t>(std::llround(-10 / line.b / 5), 1,
                               std::max<std::int64_t>(1, length / 10));
  smooth(sq, onset, n, m, t, level);
  for (int iteration = 0; iteration < 10 && level.size() >= 2; ++iteration) {
    const auto from = std::max(onset, std::min(n - tenth, static_cast<std::int64_t>(cross - 5 / line.b)));
    const double noise = mean(sq, from, n);
    if (!(noise > 0)) break;
    noise_db = db(noise);
    const double peak = *std::max_element(level.begin(), level.end());
    const Line late = fit_levels(t, level, noise_db + 10, std::min(peak, noise_db + 30), cross);
    if (!late.ok || !(late.b < 0)) break;
    const double next = std::clamp((noise_db - late.a) / late.b, static_cast<double>(onset),
                                   static_cast<double>(n));
    f.noise = noise;
    f.noise_from = from;
    line = late;
    const bool settled = std::abs(next - cross) < static_cast<double>(m);
    cross = next;
    if (settled) break;
  }
  f.decay = true;
  f.slope = line.b;
  f.range_db = std::max(0.0, *std::max_element(level.begin(), level.end()) - db(f.noise));
  continue_line(line, cross, onset, n, f);
  return f;
}

bool ends_on_floor(const double* sq, std::int64_t n, const NoiseFit& fit, double bandwidth,
                   double rate) {
  const double slope = fit.slope < 0 ? fit.slope : fit.first_slope;
  if (!(fit.noise > 0) || !(slope < 0) || n - fit.noise_from < 2) return false;
  // The two halves of the noise's stretch: the mean square of a noise of
  // bandwidth B over T seconds varies by 4.34 / sqrt(B T) dB (2 B T independent
  // samples), the difference of two such means by sqrt(2) times that. A floor
  // is level within three of those, and plainly less steep than the decay.
  const std::int64_t mid = fit.noise_from + (n - fit.noise_from) / 2;
  const double drop = db(mean(sq, fit.noise_from, mid)) - db(mean(sq, mid, n));
  const double half = static_cast<double>(n - mid);
  const double independent = std::min(half, 2 * bandwidth * half / rate);
  const double spread = std::sqrt(2.0) * 10 / std::log(10.0) / std::sqrt(independent / 2);
  const double decaying = -slope * half;  // the drop were the decay to go on
  return drop <= std::max(3.0, 3 * spread) && decaying - drop >= std::max(3.0, 2 * spread);
}

EnergyBlocks energy_blocks(const double* sq, std::int64_t first, std::int64_t last, double rate) {
  EnergyBlocks b;
  b.first = first;
  b.last = std::max(first, last);
  b.size = std::max<std::int64_t>(1, std::llround(rate / 1000));
  const auto count = static_cast<std::size_t>((b.last - first + b.size - 1) / b.size);
  b.energy.resize(count);
  b.moment.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    const std::int64_t at = first + static_cast<std::int64_t>(k) * b.size;
    const std::int64_t end = std::min(b.last, at + b.size);
    // Two running sums each, off each other's path.
    double e[2] = {}, c[2] = {}, w = 0;
    std::int64_t j = at;
    for (; j + 2 <= end; j += 2, w += 2) {
      e[0] += sq[j], c[0] += sq[j] * w;
      e[1] += sq[j + 1], c[1] += sq[j + 1] * (w + 1);
    }
    if (j < end) e[0] += sq[j], c[0] += sq[j] * w;
    b.energy[k] = e[0] + e[1];
    b.moment[k] = c[0] + c[1];
  }
  return b;
}

namespace {

// Schroeder's backward integral from the truncation point, plus the
// compensation, from `first` on.
class EnergyCurve {
 public:
  // Built in place over sq[first..last], which it overwrites: sq is not read again.
  EnergyCurve(double* sq, std::int64_t first, const NoiseFit& noise)
      : first_(first), last_(noise.cross), noise_(noise), energy_(sq) {
    double sum = noise.compensation;
    energy_[last_] = sum;
    for (std::int64_t i = last_ - 1; i >= first_; --i) {
      sum += sq[i];
      energy_[i] = sum;
    }
  }
  // Energy from sample i on; past the truncation point, the compensation's decay.
  double operator()(std::int64_t i) const {
    if (i <= last_) return energy_[std::max(i, first_)];
    return noise_.compensation * std::exp(-noise_.decay_per_sample * static_cast<double>(i - last_));
  }
  std::int64_t first() const { return first_; }
  std::int64_t last() const { return last_; }

 private:
  std::int64_t first_, last_;
  const NoiseFit& noise_;
  double* energy_;
};

constexpr double kToDb = 10 / 2.302585092994046;  // 10 / ln 10

// The range a decay time is fitted over, and what it needs.
struct Range {
  DecayTime time;
  double upper, lower;  // dB below the curve's value at the onset
  double needed;        // the decay range it needs, dB: its own and 10 dB to spare
  std::optional<double> BandParameters::*value;
  std::optional<double> BandParameters::*r;
  std::optional<DecayFit> BandParameters::*fit;  // kept for a figure, or null
};
const Range kRanges[] = {
    {DecayTime::edt, 0, -10, 20, &BandParameters::edt, &BandParameters::edt_r, nullptr},
    {DecayTime::t20, -5, -25, 35, &BandParameters::t20, &BandParameters::t20_r,
     &BandParameters::t20_fit},
    {DecayTime::t30, -5, -35, 45, &BandParameters::t30, &BandParameters::t30_r,
     &BandParameters::t30_fit},
};

// The stretch of the curve a range covers: from where it first falls below
// the upper level to where it first falls below the lower.
struct Stretch {
  bool started = false, ended = false;
  std::int64_t from = 0, to = 0;
  Sums sums;
};

// The stretches of the curve the ranges the decay allows cover, with their sums: least squares
// on the curve in dB, in one pass down the curve, each level computed once.
void fit_stretches(const EnergyCurve& curve, std::int64_t onset, double rate, double range_db,
                   Stretch (&stretches)[3]) {
  const double at_onset = curve(onset);
  double deepest = 0;
  for (const Range& g : kRanges) {
    if (range_db >= g.needed) deepest = std::min(deepest, g.lower);
  }
  for (std::int64_t i = onset; deepest < 0 && i <= curve.last(); ++i) {
    const double level = kToDb * std::log(curve(i) / at_onset);
    const double t = static_cast<double>(i - onset) / rate;
    for (int g = 0; g < 3; ++g) {
      Stretch& s = stretches[g];
      if (range_db < kRanges[g].needed || s.ended) continue;
      if (level < kRanges[g].lower) {
        s.ended = true, s.to = i;
      } else if (s.started || level <= kRanges[g].upper) {
        if (!s.started) s.from = i;
        s.started = true;
        s.sums.add(t, level);
      }
    }
    if (level < deepest) break;
  }
}

// A note on a range's decay time.
RoomNote time_note(RoomNoteCode code, const Range& range, double value = 0, double second = 0,
                   double third = 0) {
  RoomNote note(code, value, second, third);
  note.time = range.time;
  return note;
}

// The decay time of one range from the line through its stretch s, with its correlation and
// (for a figure) its fit; or the note that says why there is none. short_range: the note of a
// range too short for it (the INR's, or the decay range's).
void range_time(const Range& range, const Stretch& s, std::int64_t onset, double rate,
                double range_db, RoomNoteCode short_range, BandParameters& p) {
  if (range_db < range.needed) {
    p.notes.push_back(time_note(short_range, range, range_db, range.needed));
    return;
  }
  if (!s.ended) {
    p.notes.push_back(time_note(RoomNoteCode::decay_not_reached, range, range.lower));
    return;
  }
  const Line l = s.sums.line();
  if (!l.ok || !(l.b < 0)) {
    p.notes.push_back(time_note(RoomNoteCode::no_decay_to_fit, range));
    return;
  }
  // A line that falls much less than the curve over its stretch says nothing
  // of the decay (a direct sound, then silence, then a late decay).
  const double t0 = static_cast<double>(s.from - onset) / rate;
  const double t1 = static_cast<double>(s.to - onset) / rate;
  const double fall = -l.b * (t1 - t0), span = range.upper - range.lower;
  if (fall < span / 2) {
    p.notes.push_back(time_note(RoomNoteCode::not_a_line, range, range.upper, range.lower, fall));
    return;
  }
  const double seconds = rounded(-60 / l.b, kTimeDecimals);
  const double r = rounded(l.r, kCorrelationDecimals);
  if (!(seconds > 0) || !std::isfinite(seconds)) {
    p.notes.push_back(time_note(RoomNoteCode::no_decay_to_fit, range));
    return;
  }
  p.*range.value = seconds;
  p.*range.r = r;
  if (r > -0.95) {
    p.notes.push_back(time_note(RoomNoteCode::weak_correlation, range, r));
  }
  if (range.fit != nullptr) {
    p.*range.fit = DecayFit{-60 / l.b, l.r, t0, t1, l.a + l.b * t0, l.a + l.b * t1};
  }
}

// The decay times the range allows, and the curvature of T30 against T20.
void decay_times(const EnergyCurve& curve, std::int64_t onset, double rate, double range_db,
                 RoomNoteCode short_range, BandParameters& p) {
  Stretch stretches[3];
  fit_stretches(curve, onset, rate, range_db, stretches);
  for (int g = 0; g < 3; ++g) {
    range_time(kRanges[g], stretches[g], onset, rate, range_db, short_range, p);
  }
  if (p.t20 && p.t30) {
    p.curvature = rounded(100 * (*p.t30 / *p.t20 - 1), kPercentDecimals);
    if (*p.curvature > 10)
      p.notes.emplace_back(RoomNoteCode::high_curvature, *p.curvature);
  }
}

// The energy the response holds from the curve's first sample to its last, and its first
// moment about `origin`, a sample index.
struct Held {
  double energy = 0, moment = 0;
};
Held held_energy(const EnergyBlocks& blocks, double origin) {
  Held h;
  for (std::size_t b = 0; b < blocks.energy.size(); ++b) {
    const double start = static_cast<double>(blocks.first + static_cast<std::int64_t>(b) * blocks.size);
    h.energy += blocks.energy[b];
    h.moment += blocks.moment[b] + blocks.energy[b] * (start - origin);
  }
  return h;
}

// The first moment about `origin` of the late decay the noise fit adds beyond the curve's last
// sample: its energy at last + 1/k, its energy's centre.
double tail_moment(const NoiseFit& noise, double origin) {
  if (!(noise.compensation > 0)) return 0;
  return noise.compensation * (static_cast<double>(noise.cross) - origin + 1 / noise.decay_per_sample);
}

// The largest share of a band's energy the late decay line may add beyond what the response
// holds: a tenth, a Schroeder curve that falls 10 dB before the response ends.
constexpr double kMaxTailShare = 0.1;

// Whether the late decay line may be continued past the response: not where it would add more
// than kMaxTailShare of the band's energy (a late part that does not fall, or a range too short
// to extrapolate from), nor where it would put the centre time past the response's end, n.
// Otherwise the note that says why every value counts only the energy the response holds.
std::optional<RoomNote> untrusted_tail(const Held& held, const NoiseFit& noise, double origin,
                                          std::int64_t n) {
  if (!(noise.compensation > 0)) return std::nullopt;
  const double total = held.energy + noise.compensation;
  const double share = noise.compensation / total;
  const double centre = (held.moment + tail_moment(noise, origin)) / total;
  if (share <= kMaxTailShare && centre <= static_cast<double>(n) - origin) return std::nullopt;
  return RoomNote(share <= kMaxTailShare ? RoomNoteCode::tail_past_end : RoomNoteCode::tail_too_large,
                  rounded(100 * share, 0));
}

// C50, C80, D50 and Ts on the energy from the curve's first sample, their
// times counted from `origin`, a sample index; held is the energy to the curve's last.
void energy_parameters(const Held& held, const EnergyCurve& curve, const NoiseFit& noise,
                       double origin, double rate, BandParameters& p) {
  const std::int64_t first = curve.first();
  const double total = curve(first);
  const auto after = [&](double seconds) {
    return curve(std::max(first, static_cast<std::int64_t>(std::llround(origin + seconds * rate))));
  };
  // Each clarity from the logarithms of its two energies, which cannot overflow.
  const auto clarity = [&](double late, int ms, std::optional<double>& c) {
    if (late > 0 && total > late) {
      c = rounded(db(total - late) - db(late), kClarityDecimals);
      return true;
    }
    p.notes.emplace_back(RoomNoteCode::no_clarity_energy, static_cast<double>(ms));
    return false;
  };
  const double late50 = after(0.05);
  if (clarity(late50, 50, p.c50)) p.d50 = rounded((total - late50) / total, kDefinitionDecimals);
  clarity(after(0.08), 80, p.c80);
  const double moment = held.moment + tail_moment(noise, origin);
  // The filtered direct sound is centred on the origin, spread by the filter
  // both ways: a centre time within that spread is 0.
  const double ts = 1000 * moment / total / rate;
  if (std::isfinite(ts)) p.ts = rounded(std::max(0.0, ts), kCentreTimeDecimals);
}

// What the end of the response says of the values: a floor gives the INR; a
// response that ends above any floor gives only its decay range, and when that
// is too short for T30, how long it would have to be at its mean rate of decay
// (its range over its duration), for T30's range and 10 dB of floor.
void tail_notes(const NoiseFit& noise, bool floor, double seconds, BandParameters& p) {
  if (floor) {
    p.inr = p.range;
  } else if (*p.range >= kRanges[2].needed) {
    p.notes.emplace_back(RoomNoteCode::no_inr, *p.range);
  } else {
    double needs = 0;
    if (*p.range > 0 && seconds > 0) {
      needs = std::ceil((kRanges[2].needed + 10) / *p.range * seconds * 10) / 10;
    }
    p.notes.emplace_back(RoomNoteCode::too_short, *p.range, needs);
  }
  // A late decay far slower than the first says the noise bent it.
  if (noise.slope < 0 && noise.first_slope < 0 && noise.slope > noise.first_slope / 3 &&
      noise.compensation > 0) {
    p.notes.emplace_back(RoomNoteCode::unreliable_compensation, noise.slope * noise.rate,
                       noise.first_slope * noise.rate);
  }
}

}  // namespace

BandParameters band_parameters(double* sq, std::int64_t n, std::int64_t onset,
                               const BandTiming& timing, double rate, int curve_points) {
  BandParameters p;
  NoiseFit noise = lundeby(sq, n, onset, rate, timing.interval);
  p.range = rounded(noise.range_db, kLevelDecimals);
  if (!noise.decay) {
    p.inr = p.range;
    p.notes.emplace_back(RoomNoteCode::no_decay, *p.range);
    // A response too short to decay over Lundeby's intervals (a click) that stands well above
    // the noise still has its modulation transfer: all of it, noise and all.
    if (timing.modulation && *p.range >= kMinModulationRangeDb) {
      const std::int64_t first = std::max<std::int64_t>(0, onset - timing.early);
      p.modulation = modulation_sums(energy_blocks(sq, first, n, rate), onset, noise, rate);
    }
    return p;
  }
  const bool floor = ends_on_floor(sq, n, noise, timing.bandwidth, rate);
  const std::int64_t first = std::max<std::int64_t>(0, onset - timing.early);
  const EnergyBlocks blocks = energy_blocks(sq, first, noise.cross, rate);
  const double origin = static_cast<double>(onset) - timing.delay;
  const Held held = held_energy(blocks, origin);
  const std::optional<RoomNote> no_tail = untrusted_tail(held, noise, origin, n);
  if (no_tail) noise.compensation = 0;
  tail_notes(noise, floor, static_cast<double>(n - onset) / rate, p);
  if (no_tail) p.notes.push_back(*no_tail);
  const EnergyCurve curve(sq, first, noise);
  const double at_onset = curve(onset);
  if (!(at_onset > 0)) {
    p.notes.emplace_back(RoomNoteCode::no_energy_after_onset);
    return p;
  }
  decay_times(curve, onset, rate, *p.range,
              floor ? RoomNoteCode::inr_too_short : RoomNoteCode::range_too_short, p);
  energy_parameters(held, curve, noise, origin, rate, p);
  if (timing.modulation) p.modulation = modulation_sums(blocks, onset, noise, rate);

  if (curve_points > 0) {
    const std::int64_t span = curve.last() - onset;
    const std::int64_t step = std::max<std::int64_t>(1, span / curve_points);
    for (std::int64_t i = onset; i <= curve.last(); i += step) {
      p.curve_t.push_back(static_cast<double>(i - onset) / rate);
      p.curve_db.push_back(kToDb * std::log(std::max(curve(i), 1e-300) / at_onset));
    }
  }
  return p;
}

}  // namespace vellisk
