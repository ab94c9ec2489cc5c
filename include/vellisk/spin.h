/// @file
/// A loudspeaker's directivity from its responses at angles: the ANSI/CTA-2034-A curves, the
/// -6 dB beamwidths and Olive's preference rating. Failures throw vellisk::Error.
///
/// Threads: every function depends on its arguments (and the files they name) alone and may be
/// called from several threads at once.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vellisk/export.h"
#include "vellisk/problem.h"

namespace VELLISK_API vellisk {

/// The two orbits a loudspeaker is measured on.
enum class Orbit { horizontal, vertical };

/// Where one response was measured: its orbit and its angle from on-axis in degrees, in
/// (-180, 180]. On the vertical orbit positive angles look up (towards the ceiling) and
/// negative ones down (the floor); 0 is on-axis and 180 the rear on both orbits.
struct SpinAngle {
  Orbit orbit = Orbit::horizontal;  ///< the orbit
  int degrees = 0;                   ///< from on-axis, in (-180, 180]
  bool operator==(const SpinAngle&) const = default;  ///< the same orbit and angle
};

/// The angle a file's name gives, from the end of its name without folders and extension:
/// an orbit mark (H, hor, horizontal, V, ver, vert or vertical, any letter case, after the
/// start of the name or a character other than a letter), optional spaces or underscores,
/// a whole number of degrees with an optional sign, and an optional "deg" or "°".
/// "name_H 30.frd", "name_H-30.txt", "name_V 10.frd", "name_hor_30deg.frd" and "V+40.frd"
/// all give one; nothing when the name ends otherwise. 190 is read as -170.
std::optional<SpinAngle> spin_angle_from_name(std::string_view file_name);

/// "H 30", "V -10": an angle as the library's lines name it.
std::string spin_angle_text(const SpinAngle& angle);

/// A response at one angle, its levels at ascending frequencies.
struct AngleResponse {
  SpinAngle angle;                  ///< where it was measured
  std::vector<double> frequencies;  ///< Hz, ascending
  std::vector<double> level_db;     ///< dB at each frequency
  std::string source;  ///< the file (and column) it was read from, for the lines of problems
};

/// Reads the responses of files, each a .frd or .txt file of any program (as vellisk-average
/// reads them), a table of two orbits' angles (see parse_angle_tables), or a response WAV
/// file of one channel that vellisk-ir wrote (a name ending in .wav, any letter case), whose
/// levels are those of read_response_file gated at gate_ms (0: not gated). The angle of a
/// .frd or WAV file comes from angles_file when one is given (lines "H 30 name": an orbit
/// letter, a whole number of degrees and the file's name as given, or its name without
/// folders), else from its name (spin_angle_from_name). Refuses a file that cannot be read or
/// parsed (naming its line), a WAV file that is silent or holds several channels, and a file
/// whose angle is not known.
std::vector<AngleResponse> read_angle_responses(const std::vector<std::string>& files,
                                                const std::string& angles_file = "",
                                                double gate_ms = 0);

/// Whether text is a table of angles: a line before its first row of numbers names the
/// angle "On-Axis".
bool is_angle_table(std::string_view text);

/// Parses a table of one orbit's angles as measurement services publish them ("SPL
/// Horizontal.txt", "SPL Vertical.txt"): a line naming the angles ("On-Axis", "10°", "-10°",
/// ... "180°"; other cells such as "Frequency" or "dB" are passed over), then rows holding
/// for each angle a pair of frequency and level, separated by tabs (or white space, a comma
/// or a semicolon); rows of one frequency and a level for each angle are read too. source
/// names the file in the lines of problems.
std::vector<AngleResponse> parse_angle_tables(std::string_view text, Orbit orbit,
                                              const std::string& source);

/// How a set of responses is put on one grid.
struct SpinOptions {
  /// Fill in the angles missing from the 10-degree steps of both orbits, linearly in dB
  /// between their nearest measured neighbours on the same orbit; otherwise refused.
  bool allow_missing = false;
  /// Points an octave of the common grid (1 to 1000, check_setting's Setting::points); 0: the
  /// inputs' own frequencies, which must then be the same in every input.
  int points_per_octave = 20;
};

/// Every 10 degrees of both orbits, on one grid.
struct SpinSet {
  std::vector<double> frequencies;  ///< Hz: from the highest first to the lowest last frequency of the inputs
  /// The horizontal orbit's levels (dB) at each frequency, [k] at 10 k degrees (k 0 to 35;
  /// 35 is -10 degrees).
  std::vector<std::vector<double>> horizontal;
  /// The vertical orbit's, likewise; its [0] and [18] are the horizontal's on-axis and rear.
  std::vector<std::vector<double>> vertical;
  std::vector<SpinAngle> filled_in;  ///< the angles filled in from their neighbours
};

/// Puts the responses on one grid. Refuses, before any work: no on-axis response, an angle
/// not a multiple of 10 degrees or given twice, the angles missing from either orbit (naming
/// them) unless options.allow_missing (an orbit with nothing but on-axis and rear is refused
/// even then), and ranges that do not overlap (naming the input).
SpinSet make_spin_set(const std::vector<AngleResponse>& responses, const SpinOptions& options = {});

/// The curves of ANSI/CTA-2034-A, in dB on the set's grid. Every average is one of powers.
struct SpinCurves {
  std::vector<double> frequencies;  ///< Hz, the set's grid
  std::vector<double> on_axis;      ///< 0 degrees
  std::vector<double> listening_window;  ///< 0, +-10 vertical, +-10 +-20 +-30 horizontal
  std::vector<double> floor_bounce;      ///< -20 -30 -40 vertical
  std::vector<double> ceiling_bounce;    ///< 40 50 60 vertical
  std::vector<double> front_wall;        ///< 0 +-10 +-20 +-30 horizontal
  std::vector<double> side_wall;         ///< +-40 to +-80 horizontal
  std::vector<double> rear_wall;         ///< 180 +-90 horizontal
  std::vector<double> early_reflections;             ///< the five bounces' mean
  std::vector<double> horizontal_early_reflections;  ///< front, side and rear walls' mean
  std::vector<double> vertical_early_reflections;    ///< floor and ceiling bounces' mean
  std::vector<double> sound_power;  ///< all 70 angles, weighted by the sphere's share of each
  std::vector<double> predicted_in_room;  ///< 0.12 listening window + 0.44 ER + 0.44 power
  std::vector<double> erdi;  ///< listening window over early reflections (dB)
  std::vector<double> spdi;  ///< listening window over sound power (dB)
};

/// The curves of the set.
SpinCurves spin_curves(const SpinSet& set);

/// The -6 dB beamwidths per 1/3 octave: the angle between the first angles on either side
/// of on-axis where the band's level falls 6 dB below on-axis's (linear in dB between the
/// 10-degree steps); 360 where it never does.
struct Beamwidths {
  std::vector<double> frequencies;  ///< the bands' centres, 1000 * 10^(n / 10) Hz
  std::vector<double> horizontal_deg;  ///< each band's on the horizontal orbit, degrees
  std::vector<double> vertical_deg;    ///< on the vertical orbit
};

/// The beamwidths of the set, for the 1/3-octave bands whose edges lie within its grid.
Beamwidths beamwidths(const SpinSet& set);

/// Olive's (2004) preference rating and its parts.
struct PreferenceRating {
  double nbd_on = 0;   ///< narrow-band deviation of on-axis, dB
  double nbd_pir = 0;  ///< of the predicted in-room response, dB
  double lfx_hz = 0;   ///< the low-frequency extension's frequency
  double lfx = 0;      ///< log10 of lfx_hz
  bool lfx_below_grid = false;  ///< sound power never falls 6 dB short: lfx_hz is the grid's lowest
  double sm_pir = 0;   ///< smoothness of the predicted in-room response (r^2, 0 to 1)
  double rating = 0;   ///< 12.69 - 2.49 NBD_ON - 2.99 NBD_PIR - 4.31 LFX + 2.32 SM_PIR
  double rating_with_subwoofer = 0;  ///< the same with LFX at log10(14.5 Hz)
};

/// Mean over the fourteen 1/2-octave bands from 100 Hz to 12.8 kHz of the mean absolute
/// deviation of a curve's levels in the band from their mean (dB).
double narrow_band_deviation(const std::vector<double>& frequencies, const std::vector<double>& db);

/// r^2 of the straight line fitted to a curve's levels over log frequency, 100 Hz to 16 kHz
/// (1 for a curve whose levels do not vary).
double smoothness(const std::vector<double>& frequencies, const std::vector<double>& db);

/// The rating of the curves. Refused (ProblemCode::invalid_request) unless their grid runs
/// from 100 Hz or below to 16 kHz or above.
PreferenceRating preference_rating(const SpinCurves& curves);

/// The rule preference_rating's curves keep: frequencies f_lo to f_hi that run from 100 Hz or
/// below to 16 kHz or above. None, or the problem (ProblemCode::invalid_request) naming both.
std::optional<Problem> check_rating_range(double f_lo, double f_hi);

}  // namespace vellisk
