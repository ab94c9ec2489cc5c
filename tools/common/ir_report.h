// The figures of a vellisk-ir run, kept once: the printed report and the JSON report are both
// written from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/timing_report.h"
#include "response/measurement.h"
#include "io/recording.h"
#include "sweep/sweep_design.h"
#include "vellisk/problem.h"

namespace vellisk {

struct ChannelFigures {
  bool silent = false;         // every sample is 0: nothing else is measured
  double arrival_samples = 0;  // after the zero instant
  double arrival_ms = 0;
  double gain_db = 0;                      // in-band gain: the band's median magnitude
  double impulse_peak_db = 0;              // the response's peak re unit gain
  std::optional<double> peak_to_noise_db;  // none when the noise is 0
  int polarity = 1;                        // -1: inverted
  std::vector<double> harmonic_level_db;   // [k - 2]: order k re the linear response
  std::vector<double> harmonic_noise_db;   // [k - 2]: the noise in order k's window, likewise
  std::vector<bool> below_noise;           // [k - 2]: left out of the THD
  double thd_percent = 0;
  double thd_db = 0;
  double recorded_peak_dbfs = 0;  // of the recording's samples read for the channel
  std::int64_t clipped_samples = 0;
};

struct RunFigures {
  SweepParams params;
  std::int32_t sweeplen = 0;
  std::int32_t silencelen = 0;
  std::string recording;
  RecordingInfo info;  // rate 0 for a headerless recording
  double pre_s = 0;
  double length_s = 0;
  std::int64_t window_samples = 0;
  std::int64_t zero_sample = 0;
  std::size_t transform_samples = 0;
  double noise_first_s = 0;
  double noise_last_s = 0;
  bool compensated = true;  // the sweep's own response taken out
  double band_low_hz = 0;   // the rows' band: where the sweep is within 12 dB of full level
  double band_high_hz = 0;  // (uncompensated: hzstart to hzend)
  double gate_ms = 0;  // 0: no gate
  std::int64_t aligned_samples = 0;  // --align: how far the windows were moved
  int smooth = 0;      // the text files' 1/N octave; 0: none
  int figure_smooth = 6;
  std::optional<double> drift_given_ppm;  // --drift PPM
  TimingFigures timing;
  std::vector<ChannelFigures> channels;
  std::vector<std::string> warnings;
  std::vector<std::string> outputs;  // every file written, in order
};

// The figures of a measured channel.
ChannelFigures channel_figures(const ChannelResult& r, double rate);

// The report's lines on the sweep, the recording, the window and the gate;
// a channel's lines.
std::vector<std::string> setup_lines(const RunFigures& f);
std::vector<std::string> channel_lines(int channel, const ChannelFigures& c);

// The band of the rows and the figure, for the report and the text files'
// headers: "23.28 Hz to 19698.93 Hz, where the sweep is within 12 dB of full level".
std::string band_text(const RunFigures& f);

// What a gate keeps and the lowest frequency it resolves, for the report and
// the text files' headers: "4 ms after the arrival, from 0.1 s before it; resolves 250 Hz and up".
std::string gate_text(double gate_ms, double pre_s);

// x rounded to a tenth or a hundredth, without the sign of a negative zero, as the report
// gives arrivals and gains.
double tenths(double x);
double hundredths(double x);

// What a response found outside the window probably means ("3.004 s after the zero instant: the
// recorder probably started that much before playback, ..."), at samples after the zero instant.
std::string found_text(double at, double rate);

// A warning's words, without "Warning: ", as standard error and the JSON report give it;
// recording: the recording's name, which recording_ends_early names.
std::string warning_text(const Warning& warning, const std::string& recording = {});

}  // namespace vellisk
