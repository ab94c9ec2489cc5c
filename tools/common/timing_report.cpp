// The report's lines on timing.
#include "common/timing_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/console.h"
#include "response/analysis.h"

namespace vellisk {

namespace {

// a / b in dB, or none when either is 0 (identical repeats, or no noise at all).
std::optional<double> ratio_db(double a, double b) {
  if (!(a > 0 && b > 0)) return std::nullopt;
  return 20 * std::log10(a / b);
}

// Where the drift was measured, in words.
std::string how(const TimingFigures& f) {
  if (f.drift_source == "repeats") return "from the spacing of the repeats";
  return "on the reference (channel " + std::to_string(f.reference) + ")";
}

// A repeat's line: where it lies, its noise and how far it is from the others.
std::string repeat_line(std::size_t i, const TimingFigures::Repeat& r) {
  std::string line = formatted("Repeat %zu: %+.2f samples from its place", i + 1, r.offset_samples);
  if (r.noise_db) line += formatted(", noise %+.1f dB re the kept repeats' median", *r.noise_db);
  if (r.deviation == 0) return line + ", identical to the others";
  if (r.deviation_db) {
    return line + formatted(", deviation from the others %.1f dB re the noise", *r.deviation_db);
  }
  return line + formatted(", deviation from the others %.1f dB re unit gain", decibels(r.deviation));
}

}  // namespace

TimingFigures timing_figures(const TimingSetup& t, const TimingResult& r, const SweepDesign& d) {
  TimingFigures f;
  if (t.reference >= 0) {
    f.reference = t.reference + 1;
    f.latency_samples = r.latency;
    f.latency_ms = 1000 * r.latency / d.rate;
  }
  if (t.repeats > 1) {
    for (const RepeatResult& rr : r.repeats) {
      f.repeats.push_back({rr.offset + 0.0, ratio_db(rr.noise, r.median_noise),
                           ratio_db(rr.deviation, r.median_noise), rr.deviation, rr.kept,
                           rr.raised_db});
    }
    f.averaged = r.kept;
    f.median_deviation_db = ratio_db(r.median_deviation, r.median_noise);
    f.noise_down_db = ratio_db(r.median_noise, r.averaged_noise);
  }
  f.applied_ppm = r.applied * 1e6;
  if (r.drift_measured) {
    f.drift_ppm = r.drift * 1e6;
    f.drift_source = t.repeats > 1 ? "repeats" : "reference";
    f.drift_corrected = r.corrected;
    // With --drift PPM, what spreads the arrival is the drift left after it.
    f.drift_spread_samples =
        std::abs(r.drift - r.applied) * d.octavelen * std::log2(d.hzend / d.hzstart);
  }
  return f;
}

std::vector<std::string> timing_lines(const TimingFigures& f) {
  std::vector<std::string> lines;
  if (f.reference > 0) {
    lines.push_back(formatted(
        "Reference: channel %d, latency of the playback and recording chain %.2f samples (%.3f "
        "ms), the zero instant of every channel",
        f.reference, f.latency_samples, f.latency_ms));
  }
  for (std::size_t i = 0; i < f.repeats.size(); ++i) lines.push_back(repeat_line(i, f.repeats[i]));
  for (std::size_t i = 0; i < f.repeats.size(); ++i) {
    const TimingFigures::Repeat& r = f.repeats[i];
    if (r.kept) continue;
    lines.push_back(formatted(
        "repeat %zu left out: its noise%s would have raised the average's by %.1f dB (a noise "
        "during its sweep?)",
        i + 1, r.noise_db ? formatted(", %+.1f dB re the kept repeats' median,", *r.noise_db).c_str() : "",
        r.raised_db));
  }
  if (!f.repeats.empty()) {
    lines.push_back(
        formatted("Averaged: %d of %zu repeats, ", f.averaged, f.repeats.size()) +
        (f.noise_down_db ? formatted("noise down %.1f dB, as measured", *f.noise_down_db)
                         : std::string("no noise measured")));
  }
  if (!f.drift_ppm) return lines;
  lines.push_back(formatted(f.drift_corrected ? "Drift corrected: %.2f ppm, as measured %s"
                                              : "Clock drift: %.2f ppm, measured %s",
                            *f.drift_ppm, how(f).c_str()));
  return lines;
}

std::string timing_warning(const TimingFigures& f) {
  if (!f.drift_ppm || f.drift_corrected || !(f.drift_spread_samples > 0.5)) return "";
  // With --drift PPM, the warning is about what is left after it.
  const std::string left =
      f.applied_ppm != 0
          ? formatted(", %.1f ppm beyond the %.1f ppm applied,", *f.drift_ppm - f.applied_ppm,
                      f.applied_ppm)
          : std::string();
  return formatted(
      "a clock drift of %.1f ppm, measured %s%s spreads the response's arrival over %.1f samples "
      "across the band; --drift auto corrects it",
      *f.drift_ppm, how(f).c_str(), left.empty() ? "," : left.c_str(), f.drift_spread_samples);
}

}  // namespace vellisk
