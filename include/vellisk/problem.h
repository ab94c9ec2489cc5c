/// @file
/// What goes wrong: the problems that refuse a computation, and the warnings of one that ran but
/// probably went wrong. Each is a code and its values; the programs (and the Python module)
/// word them.
///
/// Errors, across the library: a computation that cannot run throws Error with its Problem; a check
/// (check_design, check_room, check_setting, ...), which tells beforehand whether a computation
/// would be refused, returns the Problem or none, as result_problem does of a finished measurement
/// and parse_response_text of a text. Memory the machine refuses is a Problem too,
/// ProblemCode::out_of_memory: the computations whose memory grows with their inputs
/// (plan_response, measure_response, measure_live, analyse_room, analyse_room_channel,
/// RoomAnalyser::analyse, average_response_files, plan_correction, fit_correction, design_fir,
/// read_angle_responses, make_spin_set, spin_curves, sweep_samples and inverse_samples of a
/// design's parameters) throw it in place of std::bad_alloc; elsewhere only a small allocation (a
/// line, a name) can fail, and a std::bad_alloc from it is the standard library's. The warnings
/// (WarningCode) and a room analysis's notes (RoomNoteCode, vellisk/room.h) are codes with values
/// that describe words. Reading a stretch of samples (SampleSource::read, FileSource::read_next,
/// ResponseResult::read, read_step) returns the Problem or none, as a check does, so that a reader
/// in a loop needs no exception.
///
/// Threads: every function (describe included) depends on its arguments alone and may be
/// called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "vellisk/export.h"

namespace VELLISK_API vellisk {

/// The kinds of warning a measurement raises. None is raised by a clean measurement.
enum class WarningCode {
  // Of a channel's recording (Warning::channel):
  silent_recording,  ///< every sample read is 0
  clipped,           ///< count samples lie at the format's full scale
  low_recording,     ///< the recording peaks at only value dBFS (below -50 dBFS)
  // Of a channel's response:
  response_elsewhere,   ///< a search of the whole recording found the response value samples
                        ///< after the zero instant (negative: before), at second samples a second
  outside_window,       ///< the response's peak lies outside the window or at its edge, value s
                        ///< from the zero instant
  low_peak_to_noise,    ///< the response's peak stands only value dB above the noise (below 20 dB)
  not_an_impulse,       ///< the response's peak stands only value dB above its rms over the window
  window_ends_early,    ///< the window's last tenth lies value dB above the noise; second: the s
                        ///< after the zero instant where the decay would reach it (0: unknown)
  // Of the whole run (channel 0):
  drift_spreads_arrival,  ///< a clock drift measured and not corrected, value ppm (the applied
                          ///< drift, second ppm, taken from it where not 0), spreads the arrival
                          ///< over third samples across the band; count: the reference channel
                          ///< (from 1), or 0 when measured from the repeats' spacing
  recording_ends_early,   ///< the recording ends count samples before the windows do: read as 0
};

/// A warning: its code, the channel it concerns and the values its code names.
struct Warning {
  WarningCode code = WarningCode::silent_recording;  ///< what probably went wrong
  int channel = 0;       ///< the channel it concerns, from 1; 0: the whole run
  double value = 0;      ///< the first value its code names (see WarningCode)
  double second = 0;     ///< the second value its code names
  double third = 0;      ///< the third value its code names
  std::int64_t count = 0;  ///< the count its code names (samples, a channel)
};

/// The kinds of problem that refuse a computation or end it.
enum class ProblemCode {
  invalid_design,     ///< the eight numbers give no sweep (their rules, ranges then relations)
  invalid_request,    ///< an option of the request is out of its range or conflicts with another
  invalid_recording,  ///< the recording does not fit the request (rate, length, channels)
  unreadable,         ///< a recording or file could not be read (opened, or read from)
  unwritable,         ///< a file could not be written
  measurement_failed, ///< the measurement could not place or compute the response
  not_finite,         ///< a result is not finite
  out_of_memory,      ///< the computation needs more memory than the machine allows: refused
                      ///< beforehand (value: the MiB it needs), or an allocation the machine
                      ///< refused while it ran (value 0)
  cancelled,          ///< the caller's CancelFlag was raised: the computation ended early
  invalid_input,      ///< an input file was read but does not hold what it must: a line that
                      ///< does not parse, too few rows, angles that do not make a set
};

/// A caller's flag that ends a computation early: raise it (from another thread, or from a
/// signal handler: the flag is lock-free) while the computation runs, and the computation
/// throws Error with ProblemCode::cancelled at its next step, within a fraction of a second,
/// holding nothing afterwards. A request points at one (nullptr: never cancelled); the flag
/// must outlive the computation.
using CancelFlag = std::atomic<bool>;

/// The settings of a request that a problem's line may name. tail: a live measurement's, the
/// seconds recorded after the last sweep file (LiveSetup::tail, there in frames); channels: a
/// headerless file's (FileOptions::channels); points: a directivity set's grid
/// (SpinOptions::points_per_octave); playback, capture: a live measurement's ports
/// (LiveSetup::playback, LiveSetup::capture).
enum class Setting {
  pre, length, harmonics, drift, reference, repeat, smooth, gate, align,
  waterfall_range, mic_calibration, spl_calibration, spl_level, tail, channels, points,
  playback, capture
};

/// A caller's names for the settings (a program's options, a module's keywords): the name of
/// each, which describe gives it in a problem's or a warning's line.
using SettingNames = const char* (*)(Setting);

/// A problem: its code and one line that names the value and the rule broken, and the
/// setting by the request's own field ("pre") where a rule concerns one.
struct Problem {
  ProblemCode code = ProblemCode::invalid_request;  ///< the kind of problem
  std::string message;  ///< one line: what failed and why, with the value and the rule
  std::optional<Setting> setting;  ///< the request's setting whose rule is broken, where one is
  double value = 0;                ///< its value (a drift in ppm, a gate in ms, ...)
  /// The line with the settings it names left to be named (describe names them); "" when it
  /// names none. The library's own: make a Problem with its constructor.
  std::string wording;

  Problem() = default;
  /// A problem of code c, worded line, about setting s of value v where it concerns one. The
  /// settings a line of the library names are named by the request's own fields.
  Problem(ProblemCode c, std::string line, std::optional<Setting> s = std::nullopt, double v = 0);
};

/// The problem's line with every setting it names called by names' name for it (nullptr: the
/// request's own fields, "pre", "waterfall_range_ms"): a caller with names of its own (a
/// program's options, a module's keywords) words the library's problems in them. Depends on
/// its arguments alone.
std::string describe(const Problem& problem, SettingNames names);

/// A warning's words, without "Warning: ": what probably happened and what to do, the
/// settings it advises called by names' name for them (nullptr: the request's own fields);
/// recording names the recording, which recording_ends_early says. Depends on its arguments
/// alone.
std::string describe(const Warning& warning, SettingNames names,
                     const std::string& recording = {});

/// Thrown by the library's computations: what() is the problem's message.
class Error : public std::runtime_error {
 public:
  /// The error of problem, whose message what() gives.
  explicit Error(Problem problem)
      : std::runtime_error(problem.message), problem_(std::move(problem)) {}
  /// The problem: its code, message, setting and value.
  const Problem& problem() const { return problem_; }
  /// The problem's code.
  ProblemCode code() const { return problem_.code; }

 private:
  Problem problem_;
};

}  // namespace vellisk
