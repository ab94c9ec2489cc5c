// Loading a request's calibration files, and their refusals in words.
#include "response/calibration_load.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "io/recording.h"
#include "sweep/settings.h"
#include "vellisk/problem.h"
#include "sweep/validation.h"

namespace vellisk {

namespace {

std::string text(double value) { return number_text(value); }

// A band edge as the report gives it: "19698.85 Hz".
std::string formatted_hz(double hz) {
  char t[64];
  std::snprintf(t, sizeof t, "%.2f Hz", hz);
  return t;
}

}  // namespace

std::string mic_error_text(const MicCalibrationError& e, const std::string& path) {
  using Code = MicCalibrationError::Code;
  const std::string what = std::string(marked(Setting::mic_calibration)) + " (" + path + ")";
  const std::string line = what + " line " + std::to_string(e.line);
  switch (e.code) {
    case Code::unreadable:
      return "Unable to read " + what + ": " + std::strerror(e.system_error);
    case Code::not_numbers:
      return line + " is not a point (frequency dB [phase]), a comment ('*', '\"' or '#') or a "
                    "Sens Factor line";
    case Code::column_count:
      return line + " holds " + std::to_string(e.columns) +
             " numbers, not 2 (frequency dB) or 3 (frequency dB phase)";
    case Code::mixed_columns:
      return line + " holds " + std::to_string(e.columns) + " numbers, where the first point holds " +
             std::to_string(e.columns == 2 ? 3 : 2);
    case Code::bad_frequency:
      return line + ": its frequency (" + text(e.frequency_hz) + ") must be greater than 0";
    case Code::not_ascending:
      return line + ": its frequency (" + text(e.frequency_hz) +
             ") must be above the point before's";
    case Code::sens_factor_twice:
      return line + " is a second Sens Factor line";
    case Code::too_few_points:
      return what + " holds fewer than 2 points";
    case Code::bad_level:
      return line + ": its level (" + text(e.level_db) + " dB) must be from " +
             text(-kMicLevelLimitDb) + " to " + text(kMicLevelLimitDb) + " dB";
    case Code::does_not_cover:
      return line + ": its points run from " + text(e.low_hz) + " to " + text(e.high_hz) +
             " Hz, and do not reach " + formatted_hz(e.frequency_hz) +
             ", an edge of the band measured; use a file that covers the band";
  }
  return what + " is refused";
}

std::string calibrator_error_text(const CalibratorError& e, const std::string& path) {
  using Code = CalibratorError::Code;
  const std::string what = std::string(marked(Setting::spl_calibration)) + " (" + path + ")";
  switch (e.code) {
    case Code::bad_level:
      return std::string(marked(Setting::spl_level)) + " (" + text(e.stated_level_db) +
             ") must be a number of dB SPL from 40 to 160";
    case Code::bad_frequency:
      return what + ": the calibrator's frequency (" + text(e.stated_hz) +
             " Hz) must lie between 0 and half the recording's rate";
    case Code::too_short:
      return what + " holds " + text(e.seconds) + " s, less than the 0.5 s a level needs";
    case Code::silent:
      return what + " is silent: every sample is the same";
    case Code::clipped:
      return what + " reaches full scale: the level read would be too low; record the "
                    "calibrator at a lower gain, and measure at that gain";
    case Code::not_a_tone: {
      // The rest's level re the tone, to a tenth of a decibel.
      char db[32];
      std::snprintf(db, sizeof db, "%.1f", std::abs(e.rest_db));
      const std::string needed = text(kCalibratorPurityDb);
      if (e.rest_db >= -0.05) {
        return what + " is not a steady tone: the rest is " + db + " dB above it (it must be " +
               needed + " dB below)";
      }
      return what + " is not a steady tone: the rest is only " + db + " dB below it (" + needed +
             " dB needed)";
    }
    case Code::wrong_frequency:
      return what + " holds a tone at " + text(e.frequency_hz) + " Hz, not the calibrator's " +
             text(e.stated_hz) + " Hz";
    case Code::not_steady:
      return what + " is not steady: the 0.1 s at " + text(e.seconds) + " s is " +
             text(e.deviation_db) + " dB off the median (0.5 dB allowed)";
  }
  return what + " is refused";
}

std::string load_calibration(const ResponseRequest& r, double band_low, double band_high,
                             LoadedCalibration& out) {
  out = LoadedCalibration{};
  if (!r.mic_calibration.empty()) {
    auto mic = read_mic_calibration(r.mic_calibration);
    if (!mic && mic.error().code == MicCalibrationError::Code::unreadable) {
      throw Error(Problem(ProblemCode::unreadable, mic_error_text(mic.error(), r.mic_calibration),
                          Setting::mic_calibration));
    }
    if (!mic) return mic_error_text(mic.error(), r.mic_calibration);
    if (auto e = check_coverage(*mic, band_low, band_high)) {
      return mic_error_text(*e, r.mic_calibration);
    }
    out.mic = std::move(*mic);
  }
  if (!r.spl_calibration.empty()) {
    Recording file;
    if (std::string e = file.open(r.spl_calibration.c_str(), false, 1, marked(Setting::spl_calibration)); !e.empty()) {
      // A file that cannot be opened at all is unreadable; one that opens is refused.
      std::FILE* readable = std::fopen(r.spl_calibration.c_str(), "rb");
      if (readable == nullptr) {
        throw Error(Problem(ProblemCode::unreadable, e, Setting::spl_calibration));
      }
      std::fclose(readable);
      return e;
    }
    const SourceInfo& info = file.info();
    const std::int64_t n = std::min<std::int64_t>(
        info.frames, static_cast<std::int64_t>(kCalibratorMaxSeconds * info.rate));
    std::vector<float> x(static_cast<std::size_t>(n));
    float* channels[] = {x.data()};
    // Full scale as the recording's check judges it, for the file's own format.
    SampleLevels levels;
    if (std::optional<Problem> p = file.read(0, n, 0, 1, channels, &levels)) return p->message;
    auto tone = measure_calibrator(x.data(), n, info.rate, r.spl_level_db, r.spl_hz, levels.clipped);
    if (!tone) return calibrator_error_text(tone.error(), r.spl_calibration);
    out.offset_db = spl_offset_db(*tone, r.spl_level_db, r.sweep.amplitude,
                                  out.mic ? &*out.mic : nullptr);
  }
  return "";
}

}  // namespace vellisk
