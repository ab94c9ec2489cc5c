// Writing frequency responses as text.
#include "common/frd_output.h"

#include <cmath>
#include <cstdio>

#include "common/arguments.h"
#include "common/console.h"
#include "common/versions.h"
#include "vellisk/number_text.h"

namespace vellisk {

bool is_frd_name(const std::string& name) {
  return ends_with(name, ".frd") || ends_with(name, ".txt");
}

std::string frd_name(const std::string& base, int channel, int channels, int order) {
  const std::string::size_type dot = base.size() - 4;
  std::string name = base.substr(0, dot);
  if (channels > 1) name += "-c" + std::to_string(channel);
  if (order > 1) name += "-h" + std::to_string(order);
  return name + base.substr(dot);
}

std::string response_header(const RunFigures& f, int channel, int order, double delay_samples,
                            char mark, bool smoothed) {
  const SweepParams& p = f.params;
  const std::string m = std::string(1, mark) + " ";
  std::string t = m + kIrVersion + "\n" + m + "Sweep:";
  for (const double x :
       {p.rate, p.amplitude, p.hzstart, p.hzend, p.duration, p.silence, p.leadin, p.leadout}) {
    t += ' ';  // appended, not added: GCC 12 warns falsely on literal + temporary
    t += number_text(x);
  }
  t += " (rate amplitude hzstart hzend duration silence leadin leadout)\n";
  t += m + "Recording: " + f.recording + ", channel " + std::to_string(channel) + " of " +
       std::to_string(f.info.channels) + "\n";
  t += m + (order == 1 ? "Response: linear"
                       : "Response: harmonic order " + std::to_string(order) +
                             ", against its excitation frequency");
  t += ", level in " + f.level_unit + "\n";
  if (f.spl_offset_db) {
    t += m + formatted("SPL calibration: a calibrator's recording; %.2f dB added to levels re unit gain; "
                       "a level is the SPL a steady sine of the sweep's amplitude gives at the "
                       "microphone\n",
                       *f.spl_offset_db);
  }
  if (!f.mic_calibration.empty()) {
    t += m + "Microphone calibration: " + f.mic_calibration + ", its response taken out\n";
  }
  t += m + "Smoothing: " +
       (f.smooth > 0 && smoothed ? "1/" + std::to_string(f.smooth) + " octave" : "none") + "\n";
  t += m + "Band: " + band_text(f) + "\n";
  t += m + "Gate: " + (f.gate_ms > 0 ? gate_text(f.gate_ms, f.pre_s) : "none") + "\n";
  t += m + formatted("Delay removed from the phase: %.6f ms (%.4f samples), the channel's arrival\n",
                     1000 * delay_samples / p.rate, delay_samples);
  return t;
}

std::string frd_text(const RunFigures& f, int channel, int order, double delay_samples,
                     const FrequencyResponse& r) {
  std::string t = response_header(f, channel, order, delay_samples, '*');
  char line[160];
  t += "* Freq(Hz) SPL(dB) Phase(degrees)\n";
  for (std::size_t i = 0; i < r.frequencies.size(); ++i) {
    double phase = hundredths(r.phase[i]);
    if (phase <= -180) phase += 360;  // -179.996 rounds to -180.00, outside (-180, 180]
    std::snprintf(line, sizeof line, "%.3f\t%.2f\t%.2f\n", r.frequencies[i], hundredths(r.level[i]),
                  phase);
    t += line;
  }
  return t;
}

}  // namespace vellisk

namespace vellisk {

namespace {

// A phase as the rows give it: in hundredths, in (-180, 180].
double row_degrees(double x) {
  const double d = hundredths(x);
  return d <= -180 ? d + 360 : d;
}

}  // namespace

std::string curves_text(const RunFigures& f, int channel, const PhaseCurves& c) {
  const double delay = f.channels[static_cast<std::size_t>(channel - 1)].arrival_samples;
  std::string t = response_header(f, channel, 1, delay, '#');
  t += "# Group delays with the delay removed, left empty where the window cuts off too much of"
       " the band limit's ringing to hold within 0.1 ms; the minimum phase is that of the level's"
       " magnitude, continued beyond the band as its edges' slopes imply\n";
  t += "frequency_hz,level_db,phase_deg,group_delay_ms,min_phase_deg,excess_group_delay_ms\n";
  char line[200], group[40], excess[40];
  for (std::size_t i = 0; i < c.frequencies.size(); ++i) {
    // A group delay that cannot hold (NaN) is left empty, and its excess with it.
    group[0] = excess[0] = '\0';
    if (std::isfinite(c.group_delay[i])) {
      std::snprintf(group, sizeof group, "%.4f", c.group_delay[i] + 0.0);
      std::snprintf(excess, sizeof excess, "%.4f", c.excess_group_delay[i] + 0.0);
    }
    std::snprintf(line, sizeof line, "%.3f,%.2f,%.2f,%s,%.2f,%s\n", c.frequencies[i],
                  hundredths(c.level[i]), row_degrees(c.phase[i]), group,
                  row_degrees(c.min_phase[i]), excess);
    t += line;
  }
  return t;
}

std::string waterfall_text(const RunFigures& f, int channel, double range_ms,
                           const TimeFrequencyLevels& w) {
  const double delay = f.channels[static_cast<std::size_t>(channel - 1)].arrival_samples;
  std::string t = response_header(f, channel, 1, delay, '#', false);
  t += formatted(
      "# Waterfall: slices every %g ms to %g ms from the response's onset (%.3f ms before "
      "its arrival); each slice the spectrum of the response file from its time to the "
      "window's end, under a half-Hann rise of %g ms before it, the band limit kept; the "
      "slice at 0 ms the whole window\n",
      range_ms / 100, range_ms, -w.origin_ms, range_ms / 100);
  t += "time_ms,frequency_hz,level_db\n";
  char line[120];
  for (std::size_t k = 0; k < w.times_ms.size(); ++k) {
    for (std::size_t i = 0; i < w.frequencies.size(); ++i) {
      std::snprintf(line, sizeof line, "%.3f,%.3f,%.2f\n", w.times_ms[k] + 0.0, w.frequencies[i],
                    hundredths(w.level(k, i)));
      t += line;
    }
  }
  return t;
}

}  // namespace vellisk
