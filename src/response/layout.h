// Where the responses lie in output time: the linear window, each harmonic order's window and
// the stretch where noise is measured.
#pragma once

#include <cstdint>
#include <vector>

#include "sweep/sweep_design.h"

namespace vellisk {

// Output times count samples from the zero instant (see DeconvolutionPlan).
// Order k of the distortion arrives octavelen log2(k) samples before it.
struct Layout {
  std::int64_t pre = 0;               // samples kept before each zero instant
  std::vector<std::int64_t> lengths;  // samples kept after it: [0] linear, [k - 1] order k
  std::vector<double> arrivals;       // each order's zero instant: [k - 1] = -octavelen log2(k)
  std::vector<std::int64_t> margins;  // extra samples each side of a harmonic's window
  std::int64_t noise_first = 0;       // the noise stretch: [noise_first, noise_last)
  std::int64_t noise_last = 0;
  std::int64_t first = 0;  // every output time needed: [first, last)
  std::int64_t last = 0;
  std::size_t segment_size = 0;  // one transform size for every order's segment

  int orders() const { return static_cast<int>(lengths.size()); }
  std::int64_t window(int order) const {
    return pre + lengths[static_cast<std::size_t>(order - 1)];
  }
};

// The layout for a response of pre + length samples and harmonic orders 2 to
// orders (1: none). Order k keeps length, or 0.9 of the gap to order k + 1 less
// pre, whichever is shorter. Noise is measured over up to a quarter of an octave
// time (at most 0.25 s) centred half an octave time before the zero instant,
// between the second order's arrival and the response.
Layout plan_layout(const SweepDesign& design, std::int64_t pre, std::int64_t length, int orders);

}  // namespace vellisk
