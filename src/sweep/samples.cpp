// The library's sweep: the rules of a design and its samples, a block at a time.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "sweep/inverse_gen.h"
#include "sweep/out_of_memory.h"
#include "sweep/sweep_design.h"
#include "sweep/sweep_gen.h"
#include "sweep/validation.h"
#include "vellisk/sweep.h"

namespace vellisk {

namespace {

// Sweep file sample i (0 <= i < sweep_file_length), as emit_sweep computes it.
double sweep_file_sample(const SweepDesign& d, std::int64_t i) {
  const std::int64_t n = i - d.silencelen;
  const std::int64_t n_end = d.sweeplen;
  if (n < 0 || n >= n_end) return 0.0;
  if (n < d.leadinlen) {
    return half_blackman(d.leadinstep, d.leadinstep2, n) * sweep_phase_sample(d, n) * d.amplitude;
  }
  if (n < n_end - d.leadoutlen) return sweep_phase_sample(d, n) * d.amplitude;
  return half_blackman(d.leadoutstep, d.leadoutstep2, n_end - n) * sweep_phase_sample(d, n) *
         d.amplitude;
}

SweepDesign checked_design(const SweepParams& params) {
  if (std::optional<Problem> p = check_design(params)) throw Error(*p);
  return compute_design(params);
}

}  // namespace

std::optional<Problem> check_design(const SweepParams& params) {
  std::string error = design_error(params, compute_design(params));
  if (error.empty()) return std::nullopt;
  return Problem{ProblemCode::invalid_design, std::move(error)};
}

double normalisation_factor(const SweepDesign& design) { return normfactor(design); }

std::int64_t sweep_file_length(const SweepDesign& design) {
  return std::int64_t{design.sweeplen} + 2 * std::int64_t{design.silencelen};
}

void sweep_samples(const SweepDesign& design, std::int64_t first, std::int64_t count,
                   float* out) {
  const std::int64_t total = sweep_file_length(design);
  for (std::int64_t k = 0; k < count; ++k) {
    const std::int64_t i = first + k;
    out[k] = i >= 0 && i < total ? static_cast<float>(sweep_file_sample(design, i)) : 0.0f;
  }
}

void inverse_samples(const SweepDesign& design, std::int64_t first, std::int64_t count,
                     float* out) {
  std::fill(out, out + count, 0.0f);
  const std::int64_t from = std::max<std::int64_t>(first, 0);
  float* at = out + (from - first);
  emit_inverse(design, normfactor(design), from, first + count,
               [&at](double v) { *at++ = static_cast<float>(v); });
}

std::vector<float> sweep_samples(const SweepParams& params) {
  return memory_checked([&] {
    const SweepDesign d = checked_design(params);
    std::vector<float> out(static_cast<std::size_t>(sweep_file_length(d)));
    sweep_samples(d, 0, static_cast<std::int64_t>(out.size()), out.data());
    return out;
  });
}

std::vector<float> inverse_samples(const SweepParams& params) {
  return memory_checked([&] {
    const SweepDesign d = checked_design(params);
    std::vector<float> out(static_cast<std::size_t>(d.sweeplen));
    inverse_samples(d, 0, d.sweeplen, out.data());
    return out;
  });
}

}  // namespace vellisk
