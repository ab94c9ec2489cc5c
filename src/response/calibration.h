// Calibration: a measurement microphone's own response from its calibration file, and the
// factor an acoustic calibrator's recording gives to read levels in dB SPL.
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "response/bands.h"
#include "response/expected.h"
#include "response/frequency_response.h"

namespace vellisk {

// Why a microphone calibration file was refused.
struct MicCalibrationError {
  enum class Code {
    unreadable,         // the file cannot be read: system_error holds errno
    not_numbers,        // line: neither numbers, a comment, a blank nor a sensitivity line
    column_count,       // line: columns numbers, not 2 (frequency dB) or 3 (frequency dB phase)
    mixed_columns,      // line: columns numbers where the first point's line had the other count
    bad_frequency,      // line: frequency_hz is not above 0
    not_ascending,      // line: frequency_hz not above the line before's
    sens_factor_twice,  // line: a second sensitivity line
    too_few_points,     // fewer than 2 points
    does_not_cover,     // the points run from low_hz to high_hz; frequency_hz, an edge of the
                        // band asked for, lies outside; line: the point nearest it
    bad_level,          // line: level_db is not within kMicLevelLimitDb of 0
  };
  Code code = Code::not_numbers;
  int line = 0;  // from 1; 0 when about the whole file
  double frequency_hz = 0;
  int columns = 0;
  double low_hz = 0, high_hz = 0;
  double level_db = 0;
  int system_error = 0;
};

// The largest deviation from flat a microphone's point may give, dB.
inline constexpr double kMicLevelLimitDb = 100;

// A microphone's deviation from flat as its calibration file gives it: lines
// of frequency (Hz), level (dB) and optionally phase (degrees), ascending in
// frequency; blank lines and lines starting with '*', '"' or '#' are
// comments; a "Sens Factor =XdB" line (see sens_factor_db) gives the
// sensitivity. The correction is interpolated linearly in log frequency
// between the points; beyond the first and last point it holds their values
// (check_coverage refuses a band the points do not cover).
class MicCalibration {
 public:
  const std::vector<double>& frequencies() const { return hz_; }
  const std::vector<double>& levels() const { return db_; }
  // The phases as given, unwrapped along the points (steps of at most 180
  // degrees); empty when the file gives none.
  const std::vector<double>& phases() const { return degrees_; }
  bool has_phase() const { return !degrees_.empty(); }
  double low_hz() const { return hz_.front(); }
  double high_hz() const { return hz_.back(); }

  // The microphone's sensitivity relative to its nominal one, dB, when the
  // file states it. No correction applies it: a calibrator's recording through
  // the microphone already holds it (see spl_offset_db).
  std::optional<double> sens_factor_db;

  // The file's lines (from 1) of the first and last points.
  int first_line = 0, last_line = 0;

  // The microphone's level at hz relative to flat, dB: what is subtracted
  // from every level measured through it.
  double level_db(double hz) const;
  // Its phase at hz, degrees (0 without phases): what is subtracted from every phase.
  double phase_deg(double hz) const;
  // Its group delay at hz, seconds: minus the derivative of the interpolated
  // phase against angular frequency (constant in log frequency between
  // points, so it steps there; 0 beyond the points and without phases).
  double group_delay_s(double hz) const;
  // Its response at hz: 10^(level_db / 20) e^(i phase_deg), what a measured
  // spectrum is divided by.
  std::complex<double> response(double hz) const;

 private:
  friend Expected<MicCalibration, MicCalibrationError> parse_mic_calibration(std::string_view);
  // The segment hz lies in (index of its lower point) and where, 0 to 1; -1 below, size beyond.
  std::pair<std::ptrdiff_t, double> locate(double hz) const;
  double interpolate(const std::vector<double>& v, double hz) const;

  std::vector<double> hz_, db_, degrees_;
};

// Parses a calibration file's text (see MicCalibration): every line must be
// a comment, blank, a sensitivity line or a point of 2 or 3 numbers, all
// points with the same count, frequencies above 0 and ascending, levels
// within kMicLevelLimitDb of 0.
Expected<MicCalibration, MicCalibrationError> parse_mic_calibration(std::string_view text);

// Reads and parses the file at path.
Expected<MicCalibration, MicCalibrationError> read_mic_calibration(const std::string& path);

// Refuses a calibration whose points do not reach from low_hz to high_hz (the
// band the rows cover), within 1e-9 of them.
std::optional<MicCalibrationError> check_coverage(const MicCalibration& mic, double low_hz,
                                                  double high_hz);

// What turns a measured level re unit gain into the level the views show:
// the microphone's deviation taken out, and the SPL calibration's offset
// added (0: levels stay re unit gain).
struct LevelCalibration {
  const MicCalibration* mic = nullptr;
  double offset_db = 0;

  bool on() const { return mic != nullptr || offset_db != 0; }
  // What is added to a level measured at hz, dB.
  double level_change_db(double hz) const {
    return offset_db - (mic != nullptr ? mic->level_db(hz) : 0);
  }
  // What is added to a phase measured at hz, degrees.
  double phase_change_deg(double hz) const { return mic != nullptr ? -mic->phase_deg(hz) : 0; }
};

// Applies a calibration to rows sampled at their frequencies times scale (a
// harmonic order's rows: its level at scale times the excitation frequency
// was measured through the microphone there): levels changed, phases changed
// and wrapped to (-180, 180]; levels stay at least -300 dB.
void calibrate(FrequencyResponse& r, const LevelCalibration& c, double scale = 1);

// Divides every bin of a spectrum by the microphone's response at its
// frequency: what a spectrum's level, phase and minimum phase then show is
// the system's, as the microphone's calibration gives it.
void remove_microphone(Spectrum& s, const MicCalibration& mic);

// Why a calibrator's recording was refused.
struct CalibratorError {
  enum class Code {
    bad_level,        // stated_level_db is not within kCalibratorLevels
    bad_frequency,    // stated_hz is not between 0 and half the rate
    too_short,        // seconds of recording, less than kCalibratorMinSeconds
    silent,           // every sample is the same
    clipped,          // a sample lies at its format's full scale, as the recording's reader
                      // judges it: the level read would be too low
    not_a_tone,       // what is not the tone is only rest_db below it (at least
                      // kCalibratorPurityDb needed)
    wrong_frequency,  // the tone is at frequency_hz, more than kCalibratorFrequencyTolerance
                      // off stated_hz
    not_steady,       // the 0.1 s block at seconds is deviation_db off the median block
  };
  Code code = Code::not_a_tone;
  double stated_level_db = 0;
  double stated_hz = 0;
  double frequency_hz = 0;
  double seconds = 0;
  double rest_db = 0;
  double deviation_db = 0;
};

inline constexpr double kCalibratorMinSeconds = 0.5;
inline constexpr double kCalibratorPurityDb = 20;
inline constexpr double kCalibratorFrequencyTolerance = 0.05;  // of the stated frequency
inline constexpr double kCalibratorBlockSeconds = 0.1;
inline constexpr double kCalibratorSteadyDb = 0.5;  // each block's level from the median's
// The stated calibrator levels accepted, dB SPL.
inline constexpr double kCalibratorLevelMin = 40;
inline constexpr double kCalibratorLevelMax = 160;

// The steady tone of an acoustic calibrator as recorded.
struct CalibratorTone {
  double frequency_hz = 0;  // the tone's frequency, measured
  double rms = 0;           // its rms in the recording's units (full scale 1), noise excluded
};

// Measures a calibrator's recording x[0..n) at `rate`, stated to play
// stated_level_db dB SPL at stated_hz: the tone's frequency (power-weighted
// over its spectral peak of a Hann-windowed transform) and rms (the power in
// that peak, so hum and noise do not count). Refused unless it is at least
// kCalibratorMinSeconds long, unclipped (clipped: how many of its samples
// its reader found at the format's full scale, SampleLevels::clipped), a tone
// kCalibratorPurityDb above everything else (the mean taken out), within
// kCalibratorFrequencyTolerance of stated_hz, and steady: every whole 0.1 s
// block's rms within kCalibratorSteadyDb of the median block's.
Expected<CalibratorTone, CalibratorError> measure_calibrator(const float* x, std::int64_t n,
                                                             double rate, double stated_level_db,
                                                             double stated_hz,
                                                             std::int64_t clipped);

// The offset, dB, that turns a level re unit gain into dB SPL, given the
// calibrator's tone recorded through the same input chain at the same gain,
// its stated level L_cal, the sweep's amplitude (full scale 1) and the
// microphone's calibration M (nullptr: none):
//
//   offset = L_cal + 20 lg(amplitude / sqrt 2) - 20 lg(rms) + M(f_cal)
//
// A level of G dB re unit gain measured at f through the microphone then
// reads G - M(f) + offset dB SPL: the rms sound pressure level a steady sine
// of the sweep's amplitude, played at f, produces at the microphone. (Its
// recording has an rms of amplitude 10^(G / 20) / sqrt 2; the chain turns a
// pressure p at f into p s 10^(M(f) / 20), where the calibrator's tone gives
// s = rms / (p_cal 10^(M(f_cal) / 20)), p_cal being L_cal's pressure.)
double spl_offset_db(const CalibratorTone& tone, double stated_level_db, double amplitude,
                     const MicCalibration* mic);

}  // namespace vellisk
