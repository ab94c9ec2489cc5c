// The inverse filter: the sweep reversed in time, with an envelope falling 6 dB per octave.
#pragma once

#include <cmath>
#include <cstdint>

#include "sweep/sample_file.h"
#include "sweep/sweep_design.h"
#include "sweep/sweep_gen.h"

// O: octaves from hzstart to hzend, from the direct frequency ratio.
inline double octaves(const SweepDesign& d) { return std::log(d.hzend / d.hzstart) / kLn2; }

// F: scales the inverse filter so that the sweep followed by it has a gain of
// amplitude across the swept band. 1.3862943611198906 is 2 ln 2.
inline double normfactor(const SweepDesign& d) {
  const double o = octaves(d);
  return (2.0 * (d.hzend - d.hzstart) / d.rate) *
         (o * 1.3862943611198906 / (1.0 - std::pow(2.0, -o))) / static_cast<double>(d.sweeplen);
}

// 0.5^(k / D): 1 at k = 0, halving once per octave of the sweep.
inline double octave_decay(const SweepDesign& d, std::int64_t k) {
  return std::pow(0.5, static_cast<double>(k) / d.octavelen);
}

// Produces the inverse filter's samples in order, handing each to out(double).
// Output index k carries phase index N - k; the fade-out taper is applied at
// index k and the fade-in taper at index N - k, so the taper index of the
// mirrored fade-in runs from Nin down to 1, as in the sweep.
template <class Out>
void emit_inverse(const SweepDesign& d, double factor, Out&& out) {
  const std::int64_t n_end = d.sweeplen;
  const std::int64_t nin = d.leadinlen;
  const std::int64_t nout = d.leadoutlen;
  for (std::int64_t k = 0; k < nout; ++k) {
    out(factor * sweep_phase_sample(d, n_end - k) *
        half_blackman(d.leadoutstep, d.leadoutstep2, k) * octave_decay(d, k));
  }
  for (std::int64_t k = nout, p = n_end - nout; k < n_end - nin; ++k, --p) {
    out(sweep_phase_sample(d, p) * factor * octave_decay(d, k));
  }
  for (std::int64_t k = n_end - nin, m = nin; k < n_end; ++k, --m) {
    out(factor * sweep_phase_sample(d, m) * half_blackman(d.leadinstep, d.leadinstep2, m) *
        octave_decay(d, k));
  }
}

// Writes the inverse filter's samples, scaled by factor, to an open file.
void write_inverse(const SweepDesign& design, double factor, SampleFile& file);
