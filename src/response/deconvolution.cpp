// The inverse filter's spectrum and the convolution of a channel with it.
#include "response/deconvolution.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "response/parallel.h"
#include "sweep/inverse_gen.h"

namespace vellisk {

DeconvolutionPlan plan_deconvolution(const SweepParams& params, double drift, std::int64_t first,
                                     std::int64_t last, std::size_t min_fft_size,
                                     bool compensated) {
  DeconvolutionPlan p;
  p.design = drift_design(params, drift);
  p.factor = normfactor(p.design);
  p.amplitude = params.amplitude;
  const double z = static_cast<double>(compute_design(params).silencelen) * (1 + drift) +
                   static_cast<double>(p.design.sweeplen);
  p.zero = static_cast<std::int64_t>(std::floor(z));
  p.fraction = z - std::floor(z);
  p.first = first;
  p.last = last;
  p.fft_size = fast_fft_size(std::max(static_cast<std::size_t>(p.stretch_length()), min_fft_size));
  if (compensated) p.compensation = Compensation(compute_design(params));
  return p;
}

InverseSpectrum::InverseSpectrum(const DeconvolutionPlan& plan, int threads,
                                 const std::vector<std::size_t>& real_sizes,
                                 const std::vector<std::size_t>& complex_sizes)
    : plan_(plan), spectrum_(make_float_buffer(plan.fft_size + 2, false)) {
  // Planning a large transform costs about as much as running it (the
  // library's tables); one thread plans, then joins the others on the samples,
  // taken a block at a time.
  float* h = spectrum_.get();
  const std::int64_t n = plan.design.sweeplen;
  std::fill(h + n, h + plan.fft_size + 2, 0.0f);
  constexpr std::int64_t kBlock = 65536;
  std::atomic<std::int64_t> next{0};
  const auto compute = [&] {
    for (std::int64_t begin; (begin = next.fetch_add(kBlock)) < n;) {
      auto to = [h, k = begin](double v) mutable { h[k++] = static_cast<float>(v); };
      if (plan.compensation.on()) {
        emit_reversed_sweep(plan.design, begin, std::min(n, begin + kBlock), to);
      } else {
        emit_inverse(plan.design, plan.factor, begin, std::min(n, begin + kBlock), to);
      }
    }
  };
  run_parallel(std::max(threads, 1), [&](int i) {
    if (i == 0) fft_ = &real_fft(plan.fft_size);
    compute();
  });
  // The rest is planned while the filter is transformed and the first channels are read: a
  // transform that needs a plan before then plans it, or waits for it.
  planning_.emplace([fft = fft_, real_sizes, complex_sizes] {
    fft->plan_inverse();
    for (const std::size_t size : real_sizes) real_fft(size).plan_inverse();
    for (const std::size_t size : complex_sizes) complex_fft(size);
  });
}

void InverseSpectrum::transform() {
  float* h = spectrum_.get();
  fft_->forward(h);
  if (plan_.compensation.on()) return divide_by_sweep(h);
  // Bin j times exp(2 pi i j fraction / size) advances the filter by the
  // fraction of a sample; 1 / (size amplitude) undoes the transforms' gain and
  // the sweep's level.
  const double size = static_cast<double>(plan_.fft_size);
  const double scale = 1.0 / (size * plan_.amplitude);
  const double step = 2.0 * std::numbers::pi * plan_.fraction / size;
  for (std::size_t j = 0; j <= plan_.fft_size / 2; ++j) {
    double c = scale;
    double s = 0;
    if (plan_.fraction != 0) {
      const double angle = step * static_cast<double>(j);
      c = scale * std::cos(angle);
      s = scale * std::sin(angle);
    }
    const double re = h[2 * j];
    const double im = h[2 * j + 1];
    h[2 * j] = static_cast<float>(re * c - im * s);
    h[2 * j + 1] = static_cast<float>(re * s + im * c);
  }
}

void InverseSpectrum::divide_by_sweep(float* h) const {
  // h holds R, the reversed sweep's spectrum: conj(S) delayed by sweeplen, as
  // the inverse filter is. Bin j becomes T R |R|^2 / (|R|^4 + eps^2),
  // advanced and scaled as the inverse filter's bins are.
  const double size = static_cast<double>(plan_.fft_size);
  const double scale = 1.0 / (size * plan_.amplitude);
  const double step = 2.0 * std::numbers::pi * plan_.fraction / size;
  const double hz_per_bin = plan_.design.rate / size;
  h[0] = h[1] = 0.0f;
  EdgeBins edges(plan_.compensation, plan_.fft_size);
  for (std::size_t j = 1; j <= plan_.fft_size / 2; ++j) {
    const auto at = static_cast<double>(j);
    const std::complex<double> r(h[2 * j], h[2 * j + 1]);
    const double eps = regularisation(size, plan_.design.expstep, at) *
                       plan_.compensation.regularisation_growth(at * hz_per_bin);
    const double power = std::norm(r);
    std::complex<double> c = r * (scale * power / (power * power + eps * eps));
    c *= edges.next();
    if (plan_.fraction != 0) c *= std::polar(1.0, step * at);
    h[2 * j] = static_cast<float>(c.real());
    h[2 * j + 1] = static_cast<float>(c.imag());
  }
}

void InverseSpectrum::finish(float* data) const {
  const float* h = spectrum_.get();
  for (std::size_t j = 0; j <= plan_.fft_size / 2; ++j) {
    const float re = data[2 * j];
    const float im = data[2 * j + 1];
    data[2 * j] = re * h[2 * j] - im * h[2 * j + 1];
    data[2 * j + 1] = re * h[2 * j + 1] + im * h[2 * j];
  }
  fft_->inverse(data);
}

}  // namespace vellisk
