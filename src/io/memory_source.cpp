// Samples in memory as a source.
#include <algorithm>
#include <cmath>
#include <string>

#include "sweep/validation.h"
#include "vellisk/response.h"

namespace vellisk {

MemorySource::MemorySource(const float* data, std::int64_t frames, int channels, int rate,
                           std::int64_t frame_stride, std::int64_t channel_stride,
                           std::string name)
    : data_(data), frame_stride_(frame_stride), channel_stride_(channel_stride),
      name_(std::move(name)) {
  info_.format = "samples in memory";
  info_.channels = channels;
  info_.frames = frames;
  info_.rate = rate;
}

std::optional<Problem> MemorySource::read(std::int64_t first, std::int64_t count, int channel,
                                          int n, float* const* out, SampleLevels* levels) {
  const std::int64_t begin = std::clamp<std::int64_t>(first, 0, info_.frames);
  const std::int64_t end = std::clamp<std::int64_t>(first + count, begin, info_.frames);
  for (int c = 0; c < n; ++c) {
    float* dst = out[c];
    std::fill(dst, dst + (begin - first), 0.0f);
    std::fill(dst + (end - first), dst + count, 0.0f);
    const float* src = data_ + (channel + c) * channel_stride_;
    for (std::int64_t t = begin; t < end; ++t) {
      const float v = src[t * frame_stride_];
      if (!std::isfinite(v)) {
        return Problem(ProblemCode::invalid_recording,
                       "recording (" + name_ + ") holds a sample that is not finite (" +
                           number_text(v) + ") at frame " + std::to_string(t) + " of channel " +
                           std::to_string(channel + c + 1));
      }
      dst[t - first] = v;
    }
    if (levels != nullptr) {
      // Float samples: a magnitude of 1 or more is at full scale.
      SampleLevels& l = levels[c];
      for (std::int64_t t = begin; t < end; ++t) {
        const float v = std::abs(dst[t - first]);
        l.peak = std::max(l.peak, v);
        l.clipped += v >= 1;
      }
    }
  }
  return std::nullopt;
}

}  // namespace vellisk
