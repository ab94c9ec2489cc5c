// Latency and clock drift measured independently of the system: a loopback timing reference,
// repeated sweeps, and the measurement run around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "response/measurement.h"
#include "io/recording.h"
#include "response/store.h"

namespace vellisk {

// A system's own frequency-dependent delay (a crossover, a cabinet, a room)
// moves its band arrivals against log frequency exactly as a clock drift does:
// one sweep through an unknown system cannot tell the two apart. Drift is
// measured only where the system is known: on a loopback channel, which holds
// the played signal wired straight back, or from the spacing of repeated
// sweeps, which differs from the played period only by the clocks.
struct TimingSetup {
  int reference = -1;       // the loopback channel, 0-based; -1: none
  int repeats = 1;          // sweep files played back to back
  bool drift_auto = false;  // correct the drift measured
};

// A repeat's noise and deviation are measured band by band over the band the
// rows cover, each band's power as a ratio to the typical repeat's noise
// there, and averaged over the bands: rms, re that typical noise.
struct RepeatResult {
  double offset = 0;     // samples from the period's start, as recorded, to its zero instant
  double deviation = 0;  // its linear windows less the repeats' median, sample by sample
  double noise = 0;      // its noise stretches
  bool kept = true;      // whether it is in the average
  double raised_db = 0;  // left out: how much it would have raised the average's noise
};

struct TimingResult {
  bool drift_measured = false;
  double drift = 0;        // recorder clock over player clock, minus 1
  bool corrected = false;  // the measurement was made with the drift measured corrected
  double applied = 0;      // the drift the measurement was made with, measured or given
  double latency = 0;      // the reference's arrival: samples from the sweep's start
  std::vector<RepeatResult> repeats;
  int kept = 1;                    // repeats averaged
  double median_noise = 0;         // of the noise of the repeats kept
  double median_deviation = 0;     // of their deviations
  double averaged_noise = 0;       // of the average's noise stretches, measured alike
  std::int64_t frames_needed = 0;  // the recording's frames up to the last window's end
  std::int64_t shift = 0;          // whole samples the timing moved the (first) sweep's period by
};

// Sets up what the timing needs before the measurement is planned: the
// timing channel, and the output the windows' offsets need.
void prepare_timing(const TimingSetup& timing, MeasurementSetup& setup);

// The timing hook of a loopback on channel: its arrival, to a hundredth of a
// sample, is the zero instant of every channel.
std::string reference_arrival(const float* origin, const Measurement& m, int channel,
                              double& offset);

// "" for a drift measured that the sweep can take (drift_error's rules);
// otherwise why it is refused, applying it or not. how: where it was
// measured ("on the reference (channel 1)").
std::string drift_limit_error(const SweepParams& params, double drift, const std::string& how,
                              bool applying);

// Checks the timing options against the recording; "" or one line.
std::string timing_error(const TimingSetup& timing, const SweepDesign& design, int channels,
                         std::int64_t frames, const std::string& recording_name);

// Makes the measurement the timing asks for: a probe for the drift first when
// it is to be corrected, then the measurement itself, its windows in store
// (opened here). setup.drift is the drift corrected. Returns "", or one line.
std::string measure_timed(const TimingSetup& timing, MeasurementSetup& setup, SampleSource& recording,
                          RowStore& store, Measurement& m, TimingResult& result);

// measure(), moved by the whole samples of the offset its timing found when
// the windows there lie beyond the output computed (a long latency); shift
// gains what it was moved by.
std::string measure_fitted(MeasurementSetup& setup, SampleSource& recording, RowStore& store,
                           Measurement& m, const InverseSpectrum* shared = nullptr);

// The lag of b against a (positive when b is later), both n samples of
// band-limited responses, from the peak of their cross-correlation, to about
// a hundredth of a sample.
double correlation_lag(const float* a, const float* b, std::int64_t n);

// The drift from where repeats, period samples apart as played, began as
// recorded: the least-squares slope over the repeats kept, over the period,
// less 1.
double drift_from_spacing(const std::vector<double>& starts, const std::vector<bool>& kept,
                          std::int64_t period);

}  // namespace vellisk
