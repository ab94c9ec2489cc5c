// The figures of a vellisk-ir run, kept once: the printed report and the JSON report are both
// written from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/timing_report.h"
#include "vellisk/response.h"
#include "vellisk/problem.h"

namespace vellisk {

// The figures of a run as its reports give them: the measurement's, and the names of the
// recording and the outputs, and the warnings' words.
struct RunFigures : ResponseReport {
  std::string recording;
  std::vector<std::string> warnings;
  std::vector<std::string> outputs;  // every file written, in order
};

// The report's lines on the sweep, the recording, the window and the gate;
// a channel's lines.
std::vector<std::string> setup_lines(const RunFigures& f);
std::vector<std::string> channel_lines(int channel, const ChannelFigures& c,
                                       const std::string& level_unit);

// A channel's peak-to-noise ratio as the report gives it: "121.1 dB", or "above 300 dB" when
// the noise is 0.
std::string peak_to_noise_text(const ChannelFigures& c);

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

// The option that sets a request's setting ("--pre"): the name the programs' lines give it.
const char* option_name(Setting setting);

// A problem of the library in the programs' words: its settings called by their options.
std::string option_words(const Error& error);

// A warning's words, without "Warning: ", as standard error and the JSON report give it, its
// settings called by their options; recording: the recording's name, which
// recording_ends_early names.
std::string warning_text(const Warning& warning, const std::string& recording = {});

}  // namespace vellisk
