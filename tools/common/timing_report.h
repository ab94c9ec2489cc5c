// The report's lines on timing: the reference's latency, the repeats and the clock drift.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "response/timing.h"
#include "sweep/sweep_design.h"

namespace vellisk {

// The timing's figures, as the report and the JSON report give them.
struct TimingFigures {
  int reference = 0;  // the loopback channel, from 1; 0: none
  double latency_samples = 0;
  double latency_ms = 0;
  struct Repeat {
    double offset_samples = 0;           // from its place
    std::optional<double> noise_db;      // re the kept repeats' median; none when that is 0
    std::optional<double> deviation_db;  // from the others, re the median noise; none when 0
    double deviation = 0;                // the same, re unit gain
    bool kept = true;
    double raised_db = 0;  // left out: how much it would have raised the average's noise
  };
  std::vector<Repeat> repeats;  // none for one sweep
  int averaged = 1;
  std::optional<double> median_deviation_db;
  std::optional<double> noise_down_db;  // measured: the kept repeats' median noise over the average's
  double applied_ppm = 0;               // the drift the measurement was made with
  std::optional<double> drift_ppm;  // measured
  std::string drift_source;         // "reference" or "repeats"
  bool drift_corrected = false;
  double drift_spread_samples = 0;  // of the arrival across the band, by the drift left
};

TimingFigures timing_figures(const TimingSetup& timing, const TimingResult& result,
                             const SweepDesign& d);

// The report's lines, and the warning (without "Warning: ") of a drift
// measured and left uncorrected that spreads the response's arrival over more
// than half a sample, or "".
std::vector<std::string> timing_lines(const TimingFigures& f);
std::string timing_warning(const TimingFigures& f);

}  // namespace vellisk
