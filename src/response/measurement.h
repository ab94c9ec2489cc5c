// A measurement: a recording turned into responses, channel batch by channel batch, in parallel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "response/deconvolution.h"
#include "response/drift.h"
#include "response/layout.h"
#include "response/recording.h"
#include "response/store.h"
#include "sweep/sweep_design.h"

struct MeasurementSetup {
  SweepParams params;       // the eight numbers given to vellisk
  std::int64_t pre = 0;     // samples kept before each zero instant
  std::int64_t length = 0;  // samples kept after the linear response's zero instant
  int orders = 1;           // harmonic orders 2 to orders are written (1: none)
  double drift = 0;         // clock drift corrected (0: none)
  bool curves = false;      // keep what a figure of the run draws
  int threads = 1;
  std::size_t min_fft_size = 0;  // transform at least this size (to share another run's plan)
};

// What a figure draws of one channel.
struct ChannelCurves {
  std::vector<double> frequencies;             // Hz, 1/24 octave apart
  std::vector<double> level;                   // the linear response, dB, 1/6-octave smoothed
  std::vector<std::vector<double>> harmonics;  // [k - 2]: order k at excitation frequency, dB
  std::vector<double> times;                   // ms from the zero instant
  std::vector<double> envelope;                // dB, the peak of each stretch of samples
  double noise_envelope = 0;  // dB, the median of the same peaks over the noise stretch
};

struct ChannelResult {
  double arrival = 0;     // samples after the zero instant
  double peak = 0;        // the response at its interpolated peak
  double noise = 0;       // rms over the noise stretch
  double window_rms = 0;  // rms over the linear window
  double gain = 0;        // in-band gain: median magnitude from 2 hzstart to hzend / 2
  double before = 0;      // the largest magnitude computed before the window
  double before_at = 0;   // where it lies, in samples after the zero instant
  SampleLevels recorded;  // the recording's samples read for this channel
  DriftEstimate drift;    // measured on this run's response
  std::vector<double> harmonic_levels;  // [k - 2]: order k re the linear response, dB
  double thd = 0;                       // sqrt of the summed power ratios of the orders
  float low = 0, high = 0;              // the extreme samples written, over every file
  bool finite = true;                   // whether every sample written is finite
  ChannelCurves curves;
};

struct Measurement {
  DeconvolutionPlan plan;
  Layout layout;
  std::vector<ChannelResult> channels;
};

// Output time range and transform of a setup, before any work.
Measurement plan_measurement(const MeasurementSetup& setup);

// Deconvolves every channel of the recording, keeps the windows in store (order
// k's window of channel c in row (k - 1) channels + c) and measures each channel.
// Returns "", or one line saying what failed.
std::string measure(const MeasurementSetup& setup, Recording& recording, RowStore& store,
                    Measurement& result);

// The most bytes of memory a measurement of `channels` channels with
// setup.threads threads takes at once, for its buffers and transforms.
double measurement_bytes(const MeasurementSetup& setup, int channels);

// The row lengths store needs for a measurement of `channels` channels.
std::vector<std::int64_t> row_lengths(const Layout& layout, int channels);
