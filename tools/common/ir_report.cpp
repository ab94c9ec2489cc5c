// The report's figures and lines.
#include "common/ir_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "common/console.h"
#include "vellisk/number_text.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

std::string text(double value) { return number_text(value); }

}  // namespace

double tenths(double x) { return std::round(x * 10) / 10 + 0.0; }

double hundredths(double x) { return std::round(x * 100) / 100 + 0.0; }

std::string band_text(const RunFigures& f) {
  const std::string band = formatted("%.2f Hz to %.2f Hz", f.band_low_hz, f.band_high_hz);
  if (!f.compensated) return band + ", uncompensated: the sweep's own response is left in";
  return band + formatted(", where the sweep is within %g dB of full level", kBandWithinDb);
}

std::string gate_text(double gate_ms, double pre_s) {
  return formatted("%s ms after the arrival, from %s s before it; resolves %.4g Hz and up",
                   text(gate_ms).c_str(), text(pre_s).c_str(), 1000 / gate_ms);
}

std::vector<std::string> setup_lines(const RunFigures& f) {
  const int channels = f.info.channels;
  std::vector<std::string> lines = {
      formatted("Sweep: %" PRId32 " samples from %s Hz to %s Hz at %s Hz, after %" PRId32
                " samples of silence",
                f.sweeplen, text(f.params.hzstart).c_str(), text(f.params.hzend).c_str(),
                text(f.params.rate).c_str(), f.silencelen),
      formatted("Recording: %s, %s, %d %s, %" PRId64 " frames%s", f.recording.c_str(),
                f.info.format.c_str(), channels, channels == 1 ? "channel" : "channels",
                f.info.frames, f.info.rate == 0 ? "" : formatted(" at %d Hz", f.info.rate).c_str()),
      formatted("Window: pre %s s, length %s s, %" PRId64
                " samples, zero instant at sample %" PRId64,
                text(f.pre_s).c_str(), text(f.length_s).c_str(), f.window_samples, f.zero_sample),
      formatted("Transform size: %zu samples", f.transform_samples),
      formatted(
          "Noise measured from %.3f s to %.3f s, between the second harmonic and the response",
          f.noise_first_s, f.noise_last_s),
  };
  lines.push_back("Band: " + band_text(f));
  if (f.gate_ms > 0) lines.push_back("Gate: " + gate_text(f.gate_ms, f.pre_s));
  // A calibrated run says what its levels are in.
  if (!f.mic_calibration.empty() || f.spl_offset_db) {
    std::string line = "Levels: " + f.level_unit;
    if (!f.mic_calibration.empty()) line += ", the microphone's response (" + f.mic_calibration + ") taken out";
    if (f.spl_offset_db) line += formatted(", %.2f dB added by the SPL calibration", *f.spl_offset_db);
    lines.push_back(line);
  }
  return lines;
}

std::string peak_to_noise_text(const ChannelFigures& c) {
  return c.peak_to_noise_db ? formatted("%.1f dB", *c.peak_to_noise_db) : "above 300 dB";
}

std::vector<std::string> channel_lines(int channel, const ChannelFigures& c,
                                       const std::string& level_unit) {
  if (c.silent) return {formatted("Channel %d: no response, every sample is 0", channel)};
  const std::string noise = peak_to_noise_text(c);
  // Calibrated to SPL, the gain is in dB SPL while the impulse's peak stays re unit gain.
  const bool spl = level_unit == "dB SPL";
  std::vector<std::string> lines = {formatted(
      "Channel %d: arrival %.1f samples (%.3f ms), in-band gain %.2f %s, impulse peak %.2f "
      "dB%s, peak-to-noise %s, recorded peak %.2f dBFS%s",
      channel, tenths(c.arrival_samples), c.arrival_ms, hundredths(c.gain_db),
      spl ? "dB SPL" : "dB", c.impulse_peak_db, spl ? " re unit gain" : "", noise.c_str(),
      c.recorded_peak_dbfs, c.polarity < 0 ? ", polarity inverted" : "")};
  if (c.harmonic_level_db.empty()) return lines;
  std::string line = formatted("Channel %d harmonics:", channel);
  bool below = false;
  for (std::size_t i = 0; i < c.harmonic_level_db.size(); ++i) {
    below = below || c.below_noise[i];
    line += formatted(c.below_noise[i] ? " H%zu below the noise (%.1f dB, noise %.1f dB),"
                                       : " H%zu %.1f dB (noise %.1f dB),",
                      i + 2, c.harmonic_level_db[i], c.harmonic_noise_db[i]);
  }
  const std::string thd = c.thd_percent > 0
                              ? formatted(" THD %.3g %% (%.1f dB)", c.thd_percent, c.thd_db)
                              : std::string(" THD none above the noise");
  lines.push_back(line + thd + (below ? ", of the orders above their noise" : ""));
  return lines;
}

const char* option_name(Setting setting) {
  switch (setting) {
    case Setting::pre: return "--pre";
    case Setting::length: return "--length";
    case Setting::harmonics: return "--harmonics";
    case Setting::drift: return "--drift";
    case Setting::reference: return "--reference";
    case Setting::repeat: return "--repeat";
    case Setting::smooth: return "--smooth";
    case Setting::gate: return "--gate";
    case Setting::align: return "--align";
    case Setting::waterfall_range: return "--waterfall-range";
    case Setting::mic_calibration: return "--mic-cal";
    case Setting::spl_calibration: return "--spl-cal";
    case Setting::spl_level: return "--spl-cal's level";
    case Setting::tail: return "--tail";
    case Setting::channels: return "--channels";
    case Setting::points: return "--points";
    case Setting::playback: return "--out";
    case Setting::capture: return "--in";
  }
  return "--";
}

std::string option_words(const Error& error) { return describe(error.problem(), option_name); }

std::string found_text(double at, double rate) { return found_response_text(at, rate); }

std::string warning_text(const Warning& w, const std::string& recording) {
  return describe(w, option_name, recording);
}

}  // namespace vellisk
