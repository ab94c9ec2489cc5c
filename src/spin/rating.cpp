// Olive's (2004) preference rating of a loudspeaker from its CTA-2034-A curves: the narrow-band
// deviations, the low-frequency extension and the smoothness.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "vellisk/spin.h"

namespace vellisk {
namespace {

// Olive's bands and ranges: 1/2 octaves from 100 Hz to 12.8 kHz; the regression from 100 Hz
// to 16 kHz; the listening window's mean from 300 Hz to 10 kHz.
constexpr double kLowest = 100, kHighest = 16000;
constexpr int kHalfOctaves = 14;
constexpr double kIdealExtensionHz = 14.5;

std::string hz_text(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", hz);
  return text;
}

double mean_db(const std::vector<double>& f, const std::vector<double>& db, double lo, double hi) {
  double sum = 0;
  int n = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] >= lo && f[i] <= hi) sum += db[i], ++n;
  }
  return n > 0 ? sum / n : 0;
}

// The sound power's first frequency below 300 Hz, walking down, 6 dB or more under the
// listening window's mean from 300 Hz to 10 kHz; nothing when none is.
std::optional<double> extension_hz(const SpinCurves& c) {
  const double floor = mean_db(c.frequencies, c.listening_window, 300, 10000) - 6;
  for (std::size_t i = c.frequencies.size(); i-- > 0;) {
    if (c.frequencies[i] < 300 && c.sound_power[i] <= floor) return c.frequencies[i];
  }
  return std::nullopt;
}

}  // namespace

double narrow_band_deviation(const std::vector<double>& f, const std::vector<double>& db) {
  double total = 0;
  int bands = 0;
  for (int b = 0; b < kHalfOctaves; ++b) {
    const double lo = kLowest * std::exp2(b / 2.0), hi = kLowest * std::exp2((b + 1) / 2.0);
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
      if (f[i] >= lo && f[i] < hi) sum += db[i], ++n;
    }
    if (n == 0) continue;
    const double mean = sum / n;
    double deviation = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
      if (f[i] >= lo && f[i] < hi) deviation += std::abs(db[i] - mean);
    }
    total += deviation / n;
    ++bands;
  }
  return bands > 0 ? total / bands : 0;
}

double smoothness(const std::vector<double>& f, const std::vector<double>& db) {
  double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] < kLowest || f[i] > kHighest) continue;
    const double x = std::log10(f[i]), y = db[i];
    n += 1, sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y;
  }
  const double vx = n * sxx - sx * sx, vy = n * syy - sy * sy, cxy = n * sxy - sx * sy;
  if (!(vy > 1e-12 * (n * syy + 1e-300))) return 1;
  return vx > 0 ? std::clamp(cxy * cxy / (vx * vy), 0.0, 1.0) : 0;
}

std::optional<Problem> check_rating_range(double f_lo, double f_hi) {
  if (f_lo <= kLowest * (1 + 1e-9) && f_hi >= kHighest * (1 - 1e-9)) return std::nullopt;
  return Problem(ProblemCode::invalid_request,
                 "the preference rating needs the curves from 100 Hz to 16 kHz, and the inputs "
                 "together run from " + hz_text(f_lo) + " to " + hz_text(f_hi) + " Hz");
}

PreferenceRating preference_rating(const SpinCurves& c) {
  if (c.frequencies.empty()) throw Error({ProblemCode::invalid_request, "the preference rating needs curves"});
  if (std::optional<Problem> p = check_rating_range(c.frequencies.front(), c.frequencies.back())) {
    throw Error(*p);
  }
  PreferenceRating r;
  r.nbd_on = narrow_band_deviation(c.frequencies, c.on_axis);
  r.nbd_pir = narrow_band_deviation(c.frequencies, c.predicted_in_room);
  r.sm_pir = smoothness(c.frequencies, c.predicted_in_room);
  const std::optional<double> x = extension_hz(c);
  r.lfx_below_grid = !x;
  r.lfx_hz = x ? *x : c.frequencies.front();
  r.lfx = std::log10(r.lfx_hz);
  const double others = 12.69 - 2.49 * r.nbd_on - 2.99 * r.nbd_pir + 2.32 * r.sm_pir;
  r.rating = others - 4.31 * r.lfx;
  r.rating_with_subwoofer = others - 4.31 * std::log10(kIdealExtensionHz);
  return r;
}

}  // namespace vellisk
