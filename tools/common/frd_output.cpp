// Writing frequency responses as text.
#include "common/frd_output.h"

#include <cmath>
#include <cstdio>

#include "common/arguments.h"
#include "common/console.h"
#include "common/versions.h"
#include "sweep/validation.h"

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

std::string frd_text(const RunFigures& f, int channel, int order, double delay_samples,
                     const FrequencyResponse& r) {
  const SweepParams& p = f.params;
  std::string t = "* " + std::string(kIrVersion) + "\n* Sweep:";
  for (const double x :
       {p.rate, p.amplitude, p.hzstart, p.hzend, p.duration, p.silence, p.leadin, p.leadout}) {
    t += ' ';  // appended, not added: GCC 12 warns falsely on literal + temporary
    t += number_text(x);
  }
  t += " (rate amplitude hzstart hzend duration silence leadin leadout)\n";
  t += "* Recording: " + f.recording + ", channel " + std::to_string(channel) + " of " +
       std::to_string(f.info.channels) + "\n";
  t += order == 1 ? "* Response: linear"
                  : "* Response: harmonic order " + std::to_string(order) +
                        ", against its excitation frequency";
  t += ", level in dB re unit gain\n";
  t += "* Smoothing: " + (f.smooth > 0 ? "1/" + std::to_string(f.smooth) + " octave" : "none") +
       "\n";
  t += "* Band: " + band_text(f) + "\n";
  t += "* Gate: " + (f.gate_ms > 0 ? gate_text(f.gate_ms, f.pre_s) : "none") + "\n";
  t += formatted("* Delay removed from the phase: %.6f ms (%.4f samples), the channel's arrival\n",
                 1000 * delay_samples / p.rate, delay_samples);
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
