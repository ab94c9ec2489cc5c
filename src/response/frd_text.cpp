// Wording the refusals of .frd text and of averages, for every program that reads them, and the
// averages of files that the API gives, refused in those words.
#include "response/frd_text.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "sweep/out_of_memory.h"
#include "sweep/validation.h"
#include "vellisk/problem.h"

namespace vellisk {

namespace {

// A limit in Hz without an exponent: "0.001", "10000000".
std::string plain_hz(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", hz);
  return text;
}

}  // namespace

std::string frd_error_text(const FrdError& e, const std::string& name) {
  using Code = FrdError::Code;
  const std::string what = "input (" + name + ")";
  const std::string line = what + " line " + std::to_string(e.line);
  switch (e.code) {
    case Code::unreadable:
      return "Unable to read " + what + ": " + std::strerror(e.system_error);
    case Code::not_numbers:
      return line + " is neither a row of finite numbers (frequency level [phase]) nor a comment";
    case Code::column_count:
      return line + " holds " + std::to_string(e.columns) +
             " numbers, not 2 (frequency level) or 3 (frequency level phase)";
    case Code::mixed_columns:
      return line + " holds " + std::to_string(e.columns) + " numbers, where the first row holds " +
             std::to_string(e.columns == 2 ? 3 : 2);
    case Code::bad_frequency:
      return line + ": its frequency (" + number_text(e.frequency_hz) + ") must be from " +
             plain_hz(kFrdLowestHz) + " to " + plain_hz(kFrdHighestHz) + " Hz";
    case Code::not_ascending:
      return line + ": its frequency (" + number_text(e.frequency_hz) +
             ") must be above the row before's";
    case Code::too_few_rows:
      return what + " holds fewer than 2 rows";
    case Code::no_inputs:
      return "vellisk-average needs at least one input";
    case Code::no_overlap:
      return what + " does not overlap the inputs before it, which together reach " +
             number_text(e.frequency_hz) + " Hz; average responses over a common range";
    case Code::missing_phase:
      return what + " has no phase, which --mode vector needs; average it with --mode power or db";
    case Code::bad_grid:
      return "the grid (" + std::to_string(e.columns) + " points an octave) must be 1 to 1000";
    case Code::bad_level:
      return line + ": its level (" + number_text(e.level_db) + " dB) must be from " +
             number_text(-kFrdLevelLimitDb) + " to " + number_text(kFrdLevelLimitDb) + " dB";
    case Code::not_a_file:
      return what + " is a pipe or a device, not a file: each input is read twice, once for the "
                    "range they share and once onto its grid";
    case Code::changed:
      return what + " changed while it was read; average it once it is written";
  }
  return what + " is refused";
}

namespace {

ProblemCode problem_code(FrdError::Code code) {
  using Code = FrdError::Code;
  switch (code) {
    case Code::unreadable:
    case Code::not_a_file:
    case Code::changed:
      return ProblemCode::unreadable;
    case Code::no_inputs:
    case Code::bad_grid:
      return ProblemCode::invalid_request;
    default:
      return ProblemCode::invalid_recording;
  }
}

}  // namespace

FrdAverage average_response_files(const std::vector<std::string>& paths, AverageMode mode,
                                  int points_per_octave) {
  return memory_checked([&] {
    auto average = average_frd_files(paths, mode, points_per_octave);
    if (!average) {
      const FrdError& e = average.error();
      const std::string name = e.input > 0 ? paths[static_cast<std::size_t>(e.input - 1)] : "";
      throw Error(Problem(problem_code(e.code), frd_error_text(e, name)));
    }
    return std::move(*average);
  });
}

}  // namespace vellisk
