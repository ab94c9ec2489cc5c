// Deconvolution of a recorded sweep by FFT: the inverse filter's spectrum, computed once for
// all channels, and each channel's convolution with it over a range of output times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "response/compensation.h"
#include "response/fft.h"
#include "response/parallel.h"
#include "sweep/sweep_design.h"

namespace vellisk {

// Output time t counts samples from the zero instant, the moment the sweep began
// to play, as the recording's clock counts them: convolution index z + t, where
// z = silencelen (1 + drift) + sweeplen of the sweep as recorded.
struct DeconvolutionPlan {
  SweepDesign design;      // the sweep as recorded (drift_design)
  double factor = 0;       // its normalisation factor
  double amplitude = 0;    // the sweep's amplitude: the response is divided by it
  std::int64_t zero = 0;   // integer part of z
  double fraction = 0;     // fractional part of z, in [0, 1)
  std::int64_t first = 0;  // output times computed: [first, last)
  std::int64_t last = 0;
  std::size_t fft_size = 0;  // at least sweeplen + (last - first) - 1
  Compensation compensation;  // on: the sweep's own response is taken out (see Compensation)

  // The recording's frames that the outputs depend on: [stretch_start, + stretch_length).
  std::int64_t stretch_start() const { return zero + first - design.sweeplen + 1; }
  std::int64_t stretch_length() const { return design.sweeplen + (last - first) - 1; }
  // Where output time t lies in a buffer after convolve().
  std::size_t index_of(std::int64_t t) const {
    return static_cast<std::size_t>(t - first + design.sweeplen - 1);
  }
};

// The plan for output times [first, last) of a recording made with a clock
// (1 + drift) times as fast as the player's, with a transform of at least
// min_fft_size; compensated or not.
DeconvolutionPlan plan_deconvolution(const SweepParams& params, double drift, std::int64_t first,
                                     std::int64_t last, std::size_t min_fft_size = 0,
                                     bool compensated = false);

// The deconvolution's spectrum, scaled so that the response is the recording
// deconvolved and divided by amplitude, and advanced by the fraction of the zero
// instant: the inverse filter's, or compensated, the regularised division by
// the sweep's own spectrum (see Compensation), whose samples cost less.
class InverseSpectrum {
 public:
  // Plans the forward transform while the filter's samples (those vellisk
  // writes, or compensated, the sweep's reversed) are computed by `threads`
  // threads; then plans, in the background, the inverse and the real and
  // complex transforms of the sizes given, which the analysis will use.
  InverseSpectrum(const DeconvolutionPlan& plan, int threads,
                  const std::vector<std::size_t>& real_sizes = {},
                  const std::vector<std::size_t>& complex_sizes = {});

  // Turns the samples into the spectrum; before it, only forward() may be used.
  void transform();

  // A channel's convolution, in two steps so that the first may run before
  // transform() is done. data holds the plan's stretch of one channel in its
  // first stretch_length() floats, and room for fft_size + 2; afterwards output
  // time t is at data[plan.index_of(t)].
  void forward(float* data) const { fft_->forward(data); }
  void finish(float* data) const;

 private:
  void divide_by_sweep(float* h) const;

  const DeconvolutionPlan& plan_;
  const RealFft* fft_ = nullptr;
  FloatBuffer spectrum_;
  std::optional<Background> planning_;  // joined before the rest is destroyed
};

}  // namespace vellisk
