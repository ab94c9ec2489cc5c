// The sweep signal: silence, a tapered exponential sine sweep, silence.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "sweep/sample_file.h"
#include "sweep/sweep_design.h"

namespace vellisk {

// sin(K (exp(i R) - 1)): the sweep at phase index i; any integer index is allowed.
inline double sweep_phase_sample(const SweepDesign& d, std::int64_t i) {
  return std::sin(d.phasescale * (std::exp(static_cast<double>(i) * d.expstep) - 1.0));
}

// Rising half of a Blackman window. With a = pi / (len - 1) and b = 2 pi / (len - 1)
// it goes from 0 (-2^-56 by rounding) at m = 0 to 1 at m = len - 1.
inline double half_blackman(double a, double b, std::int64_t m) {
  const double x = static_cast<double>(m);
  return (0.42 - 0.5 * std::cos(a * x)) + 0.08 * std::cos(b * x);
}

// Hands one sample to out. An out that returns bool stops the samples by
// returning false; one that returns nothing takes them all.
template <class Out>
bool put_sample(Out& out, double value) {
  if constexpr (std::is_void_v<decltype(out(value))>) {
    out(value);
    return true;
  } else {
    return out(value);
  }
}

// Produces the sweep file's samples in order, handing each to out(double).
// Sample S + n carries phase index n. The fade-out taper index m = N - n runs
// from Nout down to 1, so the last sweep sample is weighted by the taper at 1.
// Returns false when out stopped it.
template <class Out>
bool emit_sweep(const SweepDesign& d, Out&& out) {
  const std::int64_t n_end = d.sweeplen;
  const std::int64_t nin = d.leadinlen;
  const std::int64_t nout = d.leadoutlen;
  for (std::int64_t i = 0; i < d.silencelen; ++i) {
    if (!put_sample(out, 0.0)) return false;
  }
  for (std::int64_t n = 0; n < nin; ++n) {
    if (!put_sample(out, half_blackman(d.leadinstep, d.leadinstep2, n) * sweep_phase_sample(d, n) *
                             d.amplitude)) {
      return false;
    }
  }
  for (std::int64_t n = nin; n < n_end - nout; ++n) {
    if (!put_sample(out, sweep_phase_sample(d, n) * d.amplitude)) return false;
  }
  for (std::int64_t n = n_end - nout, m = nout; n < n_end; ++n, --m) {
    if (!put_sample(out, half_blackman(d.leadoutstep, d.leadoutstep2, m) *
                             sweep_phase_sample(d, n) * d.amplitude)) {
      return false;
    }
  }
  for (std::int64_t i = 0; i < d.silencelen; ++i) {
    if (!put_sample(out, 0.0)) return false;
  }
  return true;
}

// Writes the sweep's samples to an open file, stopping at the first failed write.
void write_sweep(const SweepDesign& design, SampleFile& file);

}  // namespace vellisk
