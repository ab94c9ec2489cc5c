// Computation of the sweep's design quantities.
#include "sweep/sweep_design.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace vellisk {

std::int32_t to_length(double product) {
  if (std::isnan(product)) return 0;
  if (product >= 2147483648.0) return std::numeric_limits<std::int32_t>::max();
  if (product <= -2147483649.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(product);
}

// pi / (len - 1) and 2 pi / (len - 1); the subtraction is done on the integer.
static double taper_step(double angle, std::int32_t len) {
  return angle / static_cast<double>(std::int64_t{len} - 1);
}

SweepDesign compute_design(const SweepParams& p) {
  SweepDesign d;
  d.rate = p.rate;
  d.amplitude = p.amplitude;
  d.hzstart = p.hzstart;
  d.hzend = p.hzend;
  d.sweeplen = to_length(p.rate * p.duration);
  d.silencelen = to_length(p.rate * p.silence);
  const double n = static_cast<double>(d.sweeplen);
  d.startomega = kTwoPi * p.hzstart;
  d.logratio = std::log((kTwoPi * p.hzend) / d.startomega);
  d.phasescale = d.startomega * p.duration / d.logratio;
  d.expstep = d.logratio / n;
  d.octavelen = n * kLn2 / d.logratio;
  d.leadinlen = to_length(p.leadin * n);
  d.leadinstep = taper_step(kPi, d.leadinlen);
  d.leadinstep2 = taper_step(kTwoPi, d.leadinlen);
  d.leadoutlen = to_length(p.leadout * n);
  d.leadoutstep = taper_step(kPi, d.leadoutlen);
  d.leadoutstep2 = taper_step(kTwoPi, d.leadoutlen);
  return d;
}

SweepDesign drift_design(const SweepParams& params, double drift) {
  if (drift == 0) return compute_design(params);
  SweepParams recorded = params;
  recorded.rate = params.rate * (1 + drift);
  SweepDesign d = compute_design(recorded);
  const SweepDesign played = compute_design(params);
  d.expstep = played.expstep / (1 + drift);
  d.octavelen = played.octavelen * (1 + drift);
  return d;
}

}  // namespace vellisk
