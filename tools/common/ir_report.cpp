// The report's figures and lines.
#include "common/ir_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "common/console.h"
#include "response/analysis.h"
#include "response/compensation.h"
#include "sweep/validation.h"

namespace vellisk {

namespace {

std::string text(double value) { return number_text(value); }

}  // namespace

double tenths(double x) { return std::round(x * 10) / 10 + 0.0; }

double hundredths(double x) { return std::round(x * 100) / 100 + 0.0; }

std::string band_text(const RunFigures& f) {
  const std::string band = formatted("%.2f Hz to %.2f Hz", f.band_low_hz, f.band_high_hz);
  if (!f.compensated) return band + ", uncompensated: the sweep's own response is left in";
  return band + formatted(", where the sweep is within %g dB of full level", -kTrustedDb);
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

std::string found_text(double at, double rate) {
  const double s = at / rate;
  if (at > 0) {
    return formatted("%.3f s after the zero instant: the recorder probably started that much "
                     "before playback, or the latency is that long", s);
  }
  return formatted("%.3f s before the zero instant: the recording probably began that much "
                   "after playback, and misses the sweep's start", -s);
}

std::string warning_text(const Warning& w, const std::string& recording) {
  const int c = w.channel;
  const char* advice =
      "check that the eight numbers are those of the played sweep, that the recording began "
      "before playback and that --length exceeds the latency";
  switch (w.code) {
    case WarningCode::silent_recording:
      return formatted("channel %d: the recording is silent where the sweep should be (every "
                       "sample read is 0); check the input's connection and channel", c);
    case WarningCode::clipped:
      return formatted("channel %d: %" PRId64 " %s of the recording %s at full scale: it probably "
                       "clipped; lower the playback or input level and measure again",
                       c, w.count, w.count == 1 ? "sample" : "samples", w.count == 1 ? "is" : "are");
    case WarningCode::low_recording:
      return formatted("channel %d: the recording peaks at only %.1f dBFS, so the measurement is "
                       "limited by noise; raise the playback or input level", c, w.value);
    case WarningCode::response_elsewhere:
      return formatted("channel %d: the response lies %s; --align moves the window onto it", c,
                       found_text(w.value, w.second).c_str());
    case WarningCode::outside_window:
      return formatted("channel %d: the response's peak lies outside the window or at its edge "
                       "(%.3f s from the zero instant); the recording may have begun after "
                       "playback, or the latency exceeds --length", c, w.value);
    case WarningCode::low_peak_to_noise:
      return formatted("channel %d: the response's peak-to-noise is only %.1f dB; %s", c, w.value,
                       advice);
    case WarningCode::not_an_impulse:
      return formatted("channel %d: the response does not look like an impulse, its peak only "
                       "%.1f dB above its rms over the window; %s", c, w.value, advice);
    case WarningCode::window_ends_early: {
      // Room to see the floor beyond the decay: a quarter more, in tenths of a second.
      const std::string length =
          w.second > 0 ? formatted("; --length %.1f or more would hold it",
                                   std::ceil(12.5 * w.second) / 10)
                       : std::string("; a longer --length would hold more of it");
      return formatted("channel %d: the response has not decayed into the noise by the end of "
                       "its window (its last tenth is %.0f dB above the noise)%s",
                       c, w.value, length.c_str());
    }
    case WarningCode::drift_spreads_arrival: {
      const std::string how = w.count > 0 ? formatted("on the reference (channel %" PRId64 ")", w.count)
                                          : std::string("from the spacing of the repeats");
      // With a drift given, the warning is about what is left after it.
      const std::string left =
          w.second != 0 ? formatted(", %.1f ppm beyond the %.1f ppm applied,", w.value - w.second,
                                    w.second)
                        : std::string();
      return formatted(
          "a clock drift of %.1f ppm, measured %s%s spreads the response's arrival over %.1f "
          "samples across the band; --drift auto corrects it",
          w.value, how.c_str(), left.empty() ? "," : left.c_str(), w.third);
    }
    case WarningCode::recording_ends_early:
      return "recording (" + recording + ") ends " + std::to_string(w.count) +
             " samples before the window does; they are read as silence";
  }
  return "";
}

}  // namespace vellisk
