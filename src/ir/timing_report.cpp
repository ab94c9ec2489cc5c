// The report's lines on timing.
#include "ir/timing_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/console.h"

namespace {

// A ratio in dB, within +-300 dB (a repeat identical to the others, or no noise).
double db(double ratio) {
  return ratio > 0 ? std::clamp(20 * std::log10(ratio), -300.0, 300.0) : -300.0;
}

}  // namespace

void report_timing(const TimingSetup& t, const TimingResult& r, const SweepDesign& d) {
  char line[256];
  if (t.reference >= 0) {
    std::snprintf(line, sizeof line,
                  "Reference: channel %d, latency of the playback and recording chain %.2f "
                  "samples (%.3f ms), the zero instant of every channel",
                  t.reference + 1, r.latency, 1000 * r.latency / d.rate);
    print_line(line);
  }
  if (t.repeats > 1) {
    for (std::size_t i = 0; i < r.repeats.size(); ++i) {
      const RepeatResult& rr = r.repeats[i];
      std::snprintf(line, sizeof line,
                    "Repeat %zu: %+.2f samples from its place, deviation from the others %.1f dB "
                    "re the noise",
                    i + 1, rr.offset + 0.0, db(rr.deviation / r.median_noise));
      print_line(line);
    }
    for (std::size_t i = 0; i < r.repeats.size(); ++i) {
      if (r.repeats[i].kept) continue;
      std::snprintf(line, sizeof line,
                    "repeat %zu left out: its response deviates from the others by %.1f dB re the "
                    "noise, the median repeat by %.1f dB (a noise during its sweep?)",
                    i + 1, db(r.repeats[i].deviation / r.median_noise),
                    db(r.median_deviation / r.median_noise));
      print_line(line);
    }
    std::snprintf(line, sizeof line, "Averaged: %d of %zu repeats, noise down %.1f dB", r.kept,
                  r.repeats.size(), 10 * std::log10(r.kept));
    print_line(line);
  }
  if (!r.drift_measured) return;
  char how[64];
  if (t.repeats > 1) {
    std::snprintf(how, sizeof how, "from the spacing of the repeats");
  } else {
    std::snprintf(how, sizeof how, "on the reference (channel %d)", t.reference + 1);
  }
  if (r.corrected) {
    std::snprintf(line, sizeof line, "Drift corrected: %.2f ppm, as measured %s", r.drift * 1e6,
                  how);
    print_line(line);
    return;
  }
  std::snprintf(line, sizeof line, "Clock drift: %.2f ppm, measured %s", r.drift * 1e6, how);
  print_line(line);
  // With --drift PPM, what spreads the arrival is the drift left after it.
  const double spread =
      std::abs(r.drift - r.applied) * d.octavelen * std::log2(d.hzend / d.hzstart);
  if (spread > 0.5) {
    std::fprintf(stderr,
                 "Warning: a clock drift of %.1f ppm, measured %s, spreads the response's arrival "
                 "over %.1f samples across the band; --drift auto corrects it\n",
                 r.drift * 1e6, how, spread);
  }
}
