/// @file
/// Averages of frequency responses written as text (.frd or .txt files of any program: rows of
/// frequency, level in dB and optionally phase in degrees), microphone positions say, on one
/// log grid over the range every input covers, with the inputs' spread, as vellisk-average
/// makes them. The files are read as streams, twice: memory grows with neither their number
/// nor their length.
///
/// Threads: every function may be called from several threads at once.
#pragma once

#include <string>
#include <vector>

#include "vellisk/export.h"

namespace VELLISK_API vellisk {

/// How the inputs' levels are averaged at each frequency.
enum class AverageMode {
  power,   ///< RMS: 10 lg of the mean of 10^(L / 10); no phase
  db,      ///< the mean of the levels in dB; no phase
  vector,  ///< 20 lg |mean of 10^(L / 20) e^(i phase)|, and that mean's phase: needs phase in each
};

/// The points an octave of an average's grid, unless another count is asked for.
inline constexpr int kAveragePointsPerOctave = 96;

/// An average and the inputs' spread, on one log grid.
struct FrdAverage {
  std::vector<double> frequencies;  ///< Hz, ascending
  std::vector<double> level;        ///< dB, at least -300
  std::vector<double> phase;        ///< degrees in (-180, 180]; vector averages only, else empty
  std::vector<double> min_db;       ///< the inputs' lowest level at each frequency
  std::vector<double> max_db;       ///< their highest
  std::vector<double> std_db;       ///< their levels' sample standard deviation (0 for one input)
};

/// Averages the frequency-response files at paths on a grid of points_per_octave points an
/// octave (1 to 1000) from the lowest frequency all of them reach to the highest. Each input
/// is resampled there: its level in dB and its phase, unwrapped along its rows, linearly in
/// log frequency between the rows around each point. A file's rows are finite numbers
/// separated by white space, a comma or a semicolon, two or three to a row in every row,
/// frequencies from 0.001 Hz to 10 MHz and ascending, levels within 500 dB of 0; blank lines,
/// comments ('*', '#', '"', ';', '\'', '%', "//") and, before the first row, a column heading
/// are passed over.
///
/// Throws Error, its line naming the input by its path as given and the line refused:
/// ProblemCode::unreadable for a file that cannot be read, a pipe or a device (each is read
/// twice) or one that changed between its readings; ProblemCode::invalid_recording for a
/// line that breaks the rows' rules, fewer than two rows, a range that does not overlap the
/// inputs' before it, or (vector mode) an input without phase; ProblemCode::invalid_request
/// for no paths or a grid out of its range.
FrdAverage average_response_files(const std::vector<std::string>& paths, AverageMode mode,
                                  int points_per_octave = kAveragePointsPerOctave);

}  // namespace vellisk
