// The inverse filter: the sweep reversed in time, with an envelope falling 6 dB per octave.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "sweep/sample_file.h"
#include "sweep/sweep_design.h"
#include "sweep/sweep_gen.h"

namespace vellisk {

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

// Produces the samples of the sweep reversed in time, each scaled by factor
// and by envelope(k), with output index k in [first, last), in order, handing
// each to out(double). Output index k carries phase index N - k; the fade-out
// taper is applied at index k and the fade-in taper at index N - k, so the
// taper index of the mirrored fade-in runs from Nin down to 1, as in the
// sweep. Every sample depends on its index alone, so parts may be computed
// apart. Returns false when out stopped it.
template <class Envelope, class Out>
bool emit_mirrored(const SweepDesign& d, double factor, std::int64_t first, std::int64_t last,
                   Envelope&& envelope, Out&& out) {
  const std::int64_t n_end = d.sweeplen;
  const std::int64_t nin = d.leadinlen;
  const std::int64_t nout = d.leadoutlen;
  for (std::int64_t k = std::max<std::int64_t>(first, 0); k < std::min(last, nout); ++k) {
    if (!put_sample(out, factor * sweep_phase_sample(d, n_end - k) *
                             half_blackman(d.leadoutstep, d.leadoutstep2, k) * envelope(k))) {
      return false;
    }
  }
  for (std::int64_t k = std::max(first, nout), p = n_end - k; k < std::min(last, n_end - nin);
       ++k, --p) {
    if (!put_sample(out, sweep_phase_sample(d, p) * factor * envelope(k))) return false;
  }
  for (std::int64_t k = std::max(first, n_end - nin), m = n_end - k; k < std::min(last, n_end);
       ++k, --m) {
    if (!put_sample(out, factor * sweep_phase_sample(d, m) *
                             half_blackman(d.leadinstep, d.leadinstep2, m) * envelope(k))) {
      return false;
    }
  }
  return true;
}

// The inverse filter's samples with output index k in [first, last): the
// sweep mirrored, with an envelope that halves once per octave (see
// emit_mirrored).
template <class Out>
bool emit_inverse(const SweepDesign& d, double factor, std::int64_t first, std::int64_t last,
                  Out&& out) {
  return emit_mirrored(
      d, factor, first, last, [&d](std::int64_t k) { return octave_decay(d, k); }, out);
}

// The sweep of unit amplitude reversed in time, its samples with index k in
// [first, last): sample N - k of the sweep at index k (the sweep's sample 0,
// which is 0, falls outside).
template <class Out>
bool emit_reversed_sweep(const SweepDesign& d, std::int64_t first, std::int64_t last, Out&& out) {
  return emit_mirrored(
      d, 1.0, first, last, [](std::int64_t) { return 1.0; }, out);
}

// The whole inverse filter, in order.
template <class Out>
bool emit_inverse(const SweepDesign& d, double factor, Out&& out) {
  return emit_inverse(d, factor, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max(), out);
}

// Writes the inverse filter's samples, scaled by factor, to an open file,
// stopping at the first failed write.
void write_inverse(const SweepDesign& design, double factor, SampleFile& file);

}  // namespace vellisk
