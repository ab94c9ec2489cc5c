// The options of a response, shared by vellisk-ir and vellisk-measure: their table, their
// reading and ranges, and the request they make.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/ir_report.h"
#include "vellisk/response.h"

struct option;

namespace vellisk {

struct ResponseOptions {
  double length = 1;         // seconds kept after the zero instant
  double pre = 0.1;          // seconds kept before it
  long harmonics = 1;        // highest harmonic order written; 1 when not given
  bool drift_auto = false;   // --drift auto
  bool drift_given = false;  // --drift PPM
  double drift_ppm = 0;
  long reference = 0;  // --reference C: the loopback channel, 1-based; 0 when not given
  long repeat = 1;     // --repeat N: sweep files played back to back
  std::string plot;    // --plot FILE.svg; empty when not given
  std::string frd;     // --frd FILE.frd; empty when not given
  long smooth = 0;     // --smooth N: 1/N octave; 0 when not given
  double gate = 0;     // --gate MS, in milliseconds; 0 when not given
  std::string json;    // --json FILE; empty when not given
  bool uncompensated = false;  // --uncompensated: keep the sweep's own response in
  bool align = false;          // --align: cut the windows at the response found
  std::string sweep;           // --sweep FILE: the design from a sweep WAV; empty when not given
  // The views and the calibration.
  std::string curves;            // --curves FILE.csv; empty when not given
  std::string step;              // --step FILE.wav; empty when not given
  std::string waterfall;         // --waterfall FILE.csv; empty when not given
  double waterfall_range = 20;   // --waterfall-range MS
  bool waterfall_range_given = false;
  std::string mic_cal;           // --mic-cal FILE; empty when not given
  std::string spl_cal;           // --spl-cal FILE.wav LEVEL; empty when not given
  double spl_level = 94;         // its LEVEL, dB SPL
  std::vector<std::string> views;  // --views LIST: the figure's panels; empty: level, envelope
};

// The panels --views chooses from, in the order the help gives them.
inline constexpr const char* kViewNames[] = {"level", "phase", "group-delay", "step",
                                             "waterfall", "spectrogram", "envelope"};

// The options of a response, as getopt_long reads them, ending in an all-zero entry: a short
// one's val is its letter ("lpH"), a long-only one's above 255.
const std::vector<option>& response_long_options();

// Reads option val (of the table) with its value arg, which may be null for one that takes
// none. Returns "", or one line naming the option, the rule and the value given.
std::string read_response_option(int val, const char* arg, ResponseOptions& options);

// An option that takes a second value after its first (--spl-cal FILE.wav LEVEL): the val under
// which read_response_option reads that second value, or 0.
int second_value_of(int val);

// The rules between the options, once all are read: "" or the refusal.
std::string response_options_error(const ResponseOptions& options);

// The request the options make for the eight numbers.
ResponseRequest request_of(const ResponseOptions& options, const SweepParams& params);

// With --sweep, the eight numbers must not be given too: eight arguments or more are
// refused, before the program counts its files. Returns "" or the refusal.
std::string sweep_and_numbers_error(const std::string& sweep, std::size_t arguments);

// The design of the sweep that was played: the one --sweep's file carries, read and checked
// sample by sample, or else the eight numbers at numbers[0] to numbers[7]. Returns "" and
// fills params, or the refusal.
std::string sweep_params(const std::string& sweep, const char* const* numbers,
                         SweepParams& params);

}  // namespace vellisk
