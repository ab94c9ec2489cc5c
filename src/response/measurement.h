// A measurement: a recording turned into responses, channel batch by channel batch, in parallel.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "response/calibration.h"
#include "response/deconvolution.h"
#include "response/drift.h"
#include "response/frequency_response.h"
#include "response/layout.h"
#include "io/recording.h"
#include "response/store.h"
#include "sweep/sweep_design.h"
#include "vellisk/response.h"

namespace vellisk {

struct Measurement;

using ChannelCurves = ResponseCurves;

struct MeasurementSetup {
  SweepParams params;       // the eight numbers given to vellisk
  std::int64_t pre = 0;     // samples kept before each zero instant
  std::int64_t length = 0;  // samples kept after the linear response's zero instant
  int orders = 1;           // harmonic orders 2 to orders are written (1: none)
  double drift = 0;         // clock drift corrected (0: none)
  bool curves = false;      // keep what a figure of the run draws
  int figure_smooth = 6;    // the figure's level curves: 1/figure_smooth-octave smoothed
  bool responses = false;   // keep each order's frequency response for the text files
  int smooth = 0;           // their smoothing: 1/smooth octave (0: none)
  double gate = 0;          // samples after the arrival that the analyses keep (0: no gate)
  int threads = 1;
  bool compensated = true;       // take the sweep's own response out (see Compensation)
  std::size_t min_fft_size = 0;  // transform at least this size (to share another run's plan)
  std::int64_t shift = 0;        // frames from the recording's start to this sweep's period
  int only_channel = -1;         // measure this recording channel alone (-1: every channel)
  int drift_channel = -1;        // the channel whose band arrivals give a drift estimate
  bool keep_noise = false;       // also keep each channel's noise stretch in the store
  bool limit_top = true;         // put the rows through the band limit's low-pass once analysed
  std::size_t first_row = 0;     // the store's row of the first window
  // A timing channel, deconvolved first: from its response at output time 0
  // (origin), timing finds the offset in output time at which every channel's
  // windows are cut, the zero instant of them all (see Measurement::refit).
  int timing_channel = -1;
  std::function<std::string(const float* origin, const Measurement& m, double& offset)> timing;
  // The views of the linear window, and the calibration every level and phase goes through.
  bool phase_curves = false;     // its PhaseCurves on the text files' grid
  bool waterfall = false;        // its waterfall over 0 to waterfall_ms after the onset
  double waterfall_ms = 20;
  bool spectrogram = false;      // its spectrogram
  LevelCalibration calibration;  // its microphone outlives the setup
  const CancelFlag* cancel = nullptr;  // raised: the measurement ends at its next step
};

// How a response ends in its window (see window_tail).
struct WindowTail {
  bool cut = false;           // the window ends before the decay does
  double above_noise_db = 0;  // the level of the window's last tenth over the noise, dB
  double reaches_noise = 0;   // s after the zero instant where the decay, continued at the
                              // slope of its late part, meets the noise; 0 when it does not fall
};

struct ChannelResult {
  double arrival = 0;     // samples after the zero instant
  double peak = 0;        // the response at its interpolated peak
  double noise = 0;       // rms over the noise stretch
  double window_rms = 0;  // rms over the linear window
  double gain = 0;        // in-band gain: median magnitude at 1/6-octave points (in_band_gain)
  double before = 0;      // the largest magnitude computed before the window
  double before_at = 0;   // where it lies, in samples after the zero instant
  WindowTail tail;        // how the linear window ends, against the noise
  SampleLevels recorded;  // the recording's samples read for this channel
  DriftEstimate drift;    // measured on the drift channel's response
  std::vector<double> harmonic_levels;  // [k - 2]: order k re the linear response, dB
  std::vector<double> harmonic_noise;   // [k - 2]: the noise in order k's window, likewise
  std::vector<bool> below_noise;        // [k - 2]: order k not kHarmonicMarginDb above its noise
  double thd = 0;  // sqrt of the summed power ratios of the orders above their noise
  int polarity = 1;  // -1: inverted (see response_polarity)
  float low = 0, high = 0;              // the extreme samples written, over every file
  bool finite = true;                   // whether every sample written is finite
  ChannelCurves curves;
  std::vector<FrequencyResponse> responses;  // [k - 1]: order k, on the text files' grid
  PhaseCurves phase_curves;
  TimeFrequencyLevels waterfall;
  TimeFrequencyLevels spectrogram;
};

struct Measurement {
  DeconvolutionPlan plan;
  Layout layout;
  std::vector<ChannelResult> channels;
  double offset = 0;   // where the windows were cut, in output time (see timing)
  bool refit = false;  // the offset found lies beyond the output computed: nothing was
                       // cut; measure again with shift moved by its whole samples
};

// Output time range and transform of a setup, before any work.
Measurement plan_measurement(const MeasurementSetup& setup);

// Deconvolves every channel of the recording, keeps the windows in store (order
// k's window of channel c in row first_row + (k - 1) channels + c, and with
// keep_noise its noise stretch in row first_row + orders channels + c) and
// measures each channel. Returns "", or one line saying what failed. shared,
// when given, is the inverse filter's spectrum, transformed, of a measurement
// of the same sweep, drift and transform size (another repeat's).
std::string measure(const MeasurementSetup& setup, SampleSource& recording, RowStore& store,
                    Measurement& result, const InverseSpectrum* shared = nullptr);

// The inverse filter's spectrum of a planned measurement, not yet transformed,
// with every transform size its analysis needs planned.
std::unique_ptr<InverseSpectrum> inverse_spectrum(const MeasurementSetup& setup,
                                                  const Measurement& m);

// The most bytes of memory a measurement of `channels` channels with
// setup.threads threads takes at once, for its buffers and transforms.
double measurement_bytes(const MeasurementSetup& setup, int channels);

// An order stands clearly above its noise when its level exceeds the noise's by this.
inline constexpr double kHarmonicMarginDb = 6;

// The polarity of a response x[0..n) arriving at sample `arrival`: the sign of
// the largest excursion of its running sum (its step response) from its
// onset, the first sample within kOnsetMs before the arrival to reach
// kOnsetLevel of it, up to kPolarityMs after the arrival. The step response of
// a band-limited or dispersive system keeps the sign of its first large
// swing, where the peak of its impulse response need not: an allpass's or a
// cabinet's may be either.
inline constexpr double kPolarityMs = 50;
inline constexpr double kOnsetMs = 10;
inline constexpr double kOnsetLevel = 0.1;
int response_polarity(const float* x, std::int64_t n, double arrival, double rate);

// The 1/6-octave points over the band the rows cover (the band the
// compensation trusts, or hzstart to hzend), or over its middle: from
// 2 hzstart to hzend / 2 within it (the whole band for a sweep of less than
// two octaves).
std::vector<double> band_points(const SweepDesign& d, const Compensation& c, bool middle);

// The in-band gain of a linear window's spectrum (its band edge divided out):
// the median magnitude at the band's middle's points, each the band's mean power.
double in_band_gain(const Spectrum& s, const SweepDesign& d, const Compensation& c);

// The mean power of x[0..n) a sample in each 1/6-octave band over the band
// the rows cover (band_points, not the middle), the narrowest joined until each
// spans 8 bins of a stretch `joined` samples long: white noise of variance v
// reads v in every band.
std::vector<double> band_powers(const float* x, std::int64_t n, const SweepDesign& d,
                                const Compensation& c, std::int64_t joined);

// The row lengths store needs for a measurement of `channels` channels.
std::vector<std::int64_t> row_lengths(const Layout& layout, int channels, bool noise = false);

// The measurements on one channel's windows (rows[k - 1]: order k's) and its
// noise stretch, as measure() makes them; with drift, the band-arrival fit too.
// With setup.limit_top, the rows and the noise leave through the band limit's
// low-pass, as the file receives them.
ChannelResult analyse_windows(const MeasurementSetup& setup, const Measurement& m,
                              std::vector<std::vector<float>>& rows, std::vector<float>& noise,
                              bool drift);

// Deconvolves the whole of channel `channel` of the recording, a window's
// stretch at a time with the setup's filter, and finds its largest value
// (the linear response, for any system that is not mostly distortion), for
// a response that does not lie in the window. Returns "", or what failed.
std::string find_response(const MeasurementSetup& setup, SampleSource& recording, int channel,
                          FoundResponse& found);

}  // namespace vellisk
