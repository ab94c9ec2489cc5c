// A request's calibration loaded: the microphone's file and the calibrator's recording, each
// refused in one line naming the file, the line or the rule.
#pragma once

#include <optional>
#include <string>

#include "response/calibration.h"
#include "vellisk/response.h"

namespace vellisk {

struct LoadedCalibration {
  std::optional<MicCalibration> mic;
  std::optional<double> offset_db;  // the SPL calibration's

  LevelCalibration level() const {
    return {mic ? &*mic : nullptr, offset_db.value_or(0)};
  }
};

// The refusal of a microphone file (named `path`), in words.
std::string mic_error_text(const MicCalibrationError& e, const std::string& path);

// The refusal of a calibrator's recording (named `path`), in words.
std::string calibrator_error_text(const CalibratorError& e, const std::string& path);

// Reads request.mic_calibration, which must cover band_low to band_high Hz (the band the rows
// cover), and measures request.spl_calibration (its first channel, at most
// kCalibratorMaxSeconds) through it. Returns "" or the refusal; throws Error (unreadable) when
// the microphone's file cannot be read or the calibrator's cannot be opened.
inline constexpr double kCalibratorMaxSeconds = 60;
std::string load_calibration(const ResponseRequest& request, double band_low, double band_high,
                             LoadedCalibration& out);

}  // namespace vellisk
