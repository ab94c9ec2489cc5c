// The words of a frequency-response text file refused, or of an average that could not be made.
#include "response/frd_text.h"

#include <cstring>

#include "sweep/validation.h"

namespace vellisk {

std::string frd_error_text(const FrdError& e, const std::string& name) {
  using Code = FrdError::Code;
  const std::string what = "input (" + name + ")";
  const std::string line = what + " line " + std::to_string(e.line);
  switch (e.code) {
    case Code::unreadable:
      return "Unable to read " + what + ": " + std::strerror(e.system_error);
    case Code::not_numbers:
      return line + " is text among the rows: a row is frequency, level [phase]";
    case Code::column_count:
      return line + " holds " + std::to_string(e.columns) +
             " numbers, not 2 (frequency level) or 3 (frequency level phase)";
    case Code::mixed_columns:
      return line + " holds " + std::to_string(e.columns) + " numbers, where the first row holds " +
             std::to_string(e.columns == 2 ? 3 : 2);
    case Code::bad_frequency:
      return line + ": its frequency (" + number_text(e.frequency_hz) + ") must be greater than 0";
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
  }
  return what + " is refused";
}

}  // namespace vellisk
