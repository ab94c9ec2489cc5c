// Frequency-response text files (.frd, .txt) of any program read back, and averaged over
// several of them (microphone positions, say) with their spread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "response/expected.h"
#include "vellisk/average.h"

namespace vellisk {

// A frequency response read from text.
struct FrdData {
  std::vector<double> frequencies;  // Hz, ascending
  std::vector<double> level;        // dB
  std::vector<double> phase;        // degrees as written; empty when the file has none
  bool has_phase() const { return !phase.empty(); }
};

// Why a file was refused, or an average could not be made.
struct FrdError {
  enum class Code {
    unreadable,     // the file cannot be read: system_error holds errno
    not_numbers,    // line: neither a row of finite numbers nor a comment (or a heading before
                    // the first row); also a row's line longer than kFrdMaxLine
    column_count,   // line: columns numbers, not 2 (frequency level) or 3 (frequency level phase)
    mixed_columns,  // line: columns numbers, where the first row had the other count
    bad_frequency,  // line: frequency_hz not from kFrdLowestHz to kFrdHighestHz
    not_ascending,  // line: frequency_hz not above the row before's
    too_few_rows,   // fewer than 2 rows
    no_inputs,      // nothing to average
    no_overlap,     // input's range does not overlap the ranges of those before it: together
                    // they run from frequency_hz up to (or down to) its edge
    missing_phase,  // input has no phase, which a vector average needs
    bad_grid,       // columns holds the points an octave asked for, not 1 to 1000
    bad_level,      // line: level_db not from -kFrdLevelLimitDb to kFrdLevelLimitDb
    not_a_file,     // input is a pipe or a device, which cannot be read twice
    changed,        // input changed between its two readings
  };
  Code code = Code::not_numbers;
  int line = 0;   // from 1, for a file's line
  int input = 0;  // from 1, for an input of an average
  int columns = 0;
  double frequency_hz = 0;
  double level_db = 0;
  int system_error = 0;
};

// The frequencies and levels a row may hold, and the longest line read.
inline constexpr double kFrdLowestHz = 1e-3;
inline constexpr double kFrdHighestHz = 1e7;
inline constexpr double kFrdLevelLimitDb = 500;
inline constexpr std::size_t kFrdMaxLine = 65536;

// Parses a .frd or .txt file's text: rows of frequency (Hz), level (dB) and
// optionally phase (degrees), finite numbers separated by white space, a
// comma or a semicolon, every row with the same count, frequencies from
// kFrdLowestHz to kFrdHighestHz and ascending, levels within
// kFrdLevelLimitDb of 0. Blank lines and lines starting with '*', '#', '"',
// ';', '\'', '%' or "//" are comments, anywhere; before the first row, so is
// any line of text that does not read as a row (see reads_as_row: "100 nan"
// does), a column heading such as "Freq(Hz) SPL(dB) Phase(degrees)". Any
// other line is refused, naming it.
Expected<FrdData, FrdError> parse_frd(std::string_view text);

// Reads and parses the file at path.
Expected<FrdData, FrdError> read_frd(const std::string& path);

// What reading a file's rows found: its range and whether its rows have phase.
struct FrdExtent {
  double low_hz = 0, high_hz = 0;
  bool phase = false;
  std::size_t rows = 0;
};

// Reads the file at path as parse_frd does, a line at a time (memory does not
// grow with its length), handing each row to row(hz, level_db, phase_deg),
// phase 0 when the rows have none. A pipe or a device is refused (not_a_file).
Expected<FrdExtent, FrdError> scan_frd(
    const std::string& path, const std::function<void(double, double, double)>& row);

// A row handed on: frequency (Hz), level (dB) and phase (degrees; 0 when there is none).
using FrdRow = std::function<void(double, double, double)>;

// Checks rows given in memory as a file's rows are checked (each row's number standing for its
// line), handing each to row; returns what they cover.
Expected<FrdExtent, FrdError> scan_frd_data(const FrdData& data, const FrdRow& row);

// An input of an average, read twice: scan(i, rows, row) checks input i and returns what it
// covers, handing its rows to row in ascending frequency when rows is true (with rows false it
// may hand none). An error it returns is named by the input's number.
using FrdScan =
    std::function<Expected<FrdExtent, FrdError>(std::size_t input, bool rows, const FrdRow& row)>;

// The average of inputs given by scan, each scanned once for the common range and once onto its
// grid, so that memory grows with neither their number nor their length (as average_frd_files;
// an input whose second scan covers another range than its first is refused as changed).
Expected<FrdAverage, FrdError> average_frd_scans(std::size_t inputs, const FrdScan& scan,
                                                 AverageMode mode, int points_per_octave = 96);

// Averages the inputs on a grid of points_per_octave points an octave from
// the lowest frequency all of them reach up to the highest (their
// overlapping range). Each input is resampled there: its level in dB and its
// phase, unwrapped along its rows (steps of at most 180 degrees between
// rows), linearly in log frequency between the rows around each point.
// Refused with no inputs, ranges that do not overlap, or in vector mode an
// input without phase (naming it).
Expected<FrdAverage, FrdError> average_frd(const std::vector<FrdData>& inputs, AverageMode mode,
                                           int points_per_octave = kAveragePointsPerOctave);

// The same average of the files at paths, read twice with scan_frd (once for
// their common range, once onto its grid), so that memory grows with neither
// their number nor their length. Every refusal names its input.
Expected<FrdAverage, FrdError> average_frd_files(const std::vector<std::string>& paths,
                                                 AverageMode mode,
                                                 int points_per_octave = kAveragePointsPerOctave);

}  // namespace vellisk
