// The layout of the response windows in output time.
#include "response/layout.h"

#include <algorithm>
#include <cmath>

#include "response/fft.h"

namespace vellisk {

Layout plan_layout(const SweepDesign& design, std::int64_t pre, std::int64_t length, int orders) {
  Layout l;
  const double d = design.octavelen;
  l.pre = pre;
  l.first = -pre;
  l.last = length;
  for (int k = 1; k <= orders; ++k) {
    const double arrival = -d * std::log2(static_cast<double>(k));
    const double gap = d * std::log2(static_cast<double>(k + 1) / k);
    std::int64_t kept = length;
    std::int64_t margin = 0;
    if (k > 1) {
      kept = std::min(length, static_cast<std::int64_t>(std::floor(0.9 * gap)) - pre);
      margin = std::clamp<std::int64_t>(std::llround(0.05 * gap), 16, 4096);
      // The segment read around the order's arrival: on a short sweep its
      // margin may reach past the linear window's end.
      const auto start = static_cast<std::int64_t>(std::floor(arrival)) - pre - margin;
      l.first = std::min(l.first, start);
      l.last = std::max(l.last, start + kept + 1 + 2 * margin);
    }
    l.lengths.push_back(kept);
    l.arrivals.push_back(arrival);
    l.margins.push_back(margin);
    // Planning a transform of a new size costs more than running it: every
    // order's segment shares the size of the longest.
    l.segment_size =
        std::max(l.segment_size, fast_fft_size(static_cast<std::size_t>(
                                     std::max<std::int64_t>(pre + kept + 1 + 2 * margin, 2))));
  }
  const std::int64_t noise =
      std::max<std::int64_t>(1, std::min(std::llround(d / 4), std::llround(0.25 * design.rate)));
  l.noise_first = -std::llround(d / 2) - noise / 2;
  l.noise_last = l.noise_first + noise;
  l.first = std::min(l.first, l.noise_first);
  return l;
}

}  // namespace vellisk
