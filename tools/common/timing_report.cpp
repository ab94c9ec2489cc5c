// The report's lines on timing.
#include "common/timing_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/console.h"
#include "vellisk/number_text.h"

namespace vellisk {

namespace {

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

}  // namespace vellisk
