// Cutting, aligning and rotating back the harmonic responses.
#include "response/harmonics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "response/fft.h"

namespace vellisk {

void harmonic_response(const float* origin, const Layout& layout, int k, double phasescale,
                       float* out, const Compensation& c, double rate) {
  const auto order = static_cast<std::size_t>(k - 1);
  const double arrival = layout.arrivals[order];
  const auto whole = static_cast<std::int64_t>(std::floor(arrival));
  const double fraction = arrival - static_cast<double>(whole);
  const std::int64_t margin = layout.margins[order];
  const std::int64_t kept = layout.window(k);
  // The segment: the window, one sample for the fraction, and a margin each
  // side, faded in and out so that its ends do not ring through the window.
  const std::int64_t length = kept + 1 + 2 * margin;
  const std::size_t size = layout.segment_size;
  FloatBuffer buffer = make_float_buffer(size + 2);
  float* s = buffer.get();
  const float* raw = origin + (whole - layout.pre - margin);
  const double fade = std::numbers::pi / static_cast<double>(margin);
  for (std::int64_t j = 0; j < length; ++j) {
    const std::int64_t edge = std::min(j, length - 1 - j);
    const double w = edge < margin ? 0.5 - 0.5 * std::cos(fade * static_cast<double>(edge)) : 1.0;
    s[j] = static_cast<float>(raw[j] * w);
  }
  const RealFft& fft = real_fft(size);
  fft.forward(s);
  // Bin j times exp(i (2 pi j fraction / size + (k - 1) K)): the advance and
  // the rotation back; 1 / size undoes the transforms' gain.
  const double rotation = std::fmod(static_cast<double>(k - 1) * phasescale, 2 * std::numbers::pi);
  const double step = 2 * std::numbers::pi * fraction / static_cast<double>(size);
  const double scale = 1.0 / static_cast<double>(size);
  const bool gains = c.on() && k > 1;
  for (std::size_t j = 0; j <= size / 2; ++j) {
    const double angle = step * static_cast<double>(j) + rotation;
    const double gain =
        gains ? scale * c.harmonic_gain(k, static_cast<double>(j) * rate / static_cast<double>(size))
              : scale;
    const double co = gain * std::cos(angle);
    const double si = gain * std::sin(angle);
    const double re = s[2 * j];
    const double im = s[2 * j + 1];
    s[2 * j] = static_cast<float>(re * co - im * si);
    s[2 * j + 1] = static_cast<float>(re * si + im * co);
  }
  fft.inverse(s);
  for (std::int64_t i = 0; i < kept; ++i) out[i] = s[margin + i];
}

}  // namespace vellisk
