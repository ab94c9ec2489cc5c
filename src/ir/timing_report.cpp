// The report's lines on timing.
#include "ir/timing_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A ratio in dB, within +-300 dB (a repeat identical to the others, or no noise).
double db(double ratio) {
  return ratio > 0 ? std::clamp(20 * std::log10(ratio), -300.0, 300.0) : -300.0;
}

// Where the drift was measured, in words.
std::string how(const TimingFigures& f) {
  if (f.drift_source == "repeats") return "from the spacing of the repeats";
  return "on the reference (channel " + std::to_string(f.reference) + ")";
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
      f.repeats.push_back({rr.offset + 0.0, db(rr.deviation / r.median_noise), rr.kept});
    }
    f.averaged = r.kept;
    f.median_deviation_db = db(r.median_deviation / r.median_noise);
    f.noise_down_db = 10 * std::log10(r.kept);
  }
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
  char line[256];
  if (f.reference > 0) {
    std::snprintf(line, sizeof line,
                  "Reference: channel %d, latency of the playback and recording chain %.2f "
                  "samples (%.3f ms), the zero instant of every channel",
                  f.reference, f.latency_samples, f.latency_ms);
    lines.push_back(line);
  }
  for (std::size_t i = 0; i < f.repeats.size(); ++i) {
    std::snprintf(line, sizeof line,
                  "Repeat %zu: %+.2f samples from its place, deviation from the others %.1f dB "
                  "re the noise",
                  i + 1, f.repeats[i].offset_samples, f.repeats[i].deviation_db);
    lines.push_back(line);
  }
  for (std::size_t i = 0; i < f.repeats.size(); ++i) {
    if (f.repeats[i].kept) continue;
    std::snprintf(line, sizeof line,
                  "repeat %zu left out: its response deviates from the others by %.1f dB re the "
                  "noise, the median repeat by %.1f dB (a noise during its sweep?)",
                  i + 1, f.repeats[i].deviation_db, f.median_deviation_db);
    lines.push_back(line);
  }
  if (!f.repeats.empty()) {
    std::snprintf(line, sizeof line, "Averaged: %d of %zu repeats, noise down %.1f dB", f.averaged,
                  f.repeats.size(), f.noise_down_db);
    lines.push_back(line);
  }
  if (!f.drift_ppm) return lines;
  std::snprintf(line, sizeof line,
                f.drift_corrected ? "Drift corrected: %.2f ppm, as measured %s"
                                  : "Clock drift: %.2f ppm, measured %s",
                *f.drift_ppm, how(f).c_str());
  lines.push_back(line);
  return lines;
}

std::string timing_warning(const TimingFigures& f) {
  if (!f.drift_ppm || f.drift_corrected || !(f.drift_spread_samples > 0.5)) return "";
  char line[256];
  std::snprintf(line, sizeof line,
                "a clock drift of %.1f ppm, measured %s, spreads the response's arrival over "
                "%.1f samples across the band; --drift auto corrects it",
                *f.drift_ppm, how(f).c_str(), f.drift_spread_samples);
  return line;
}
