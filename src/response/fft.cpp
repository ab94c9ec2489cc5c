// The FFT interface on FFTW, single precision.
#include "response/fft.h"

#include <fftw3.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "io/memory.h"
#include "sweep/out_of_memory.h"

namespace vellisk {

namespace {

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex planner;

fftwf_plan as_plan(void* p) { return static_cast<fftwf_plan>(p); }

template <class Fft>
const Fft& cached(std::size_t size) {
  static std::mutex lock;
  static std::map<std::size_t, std::unique_ptr<Fft>> plans;
  const std::lock_guard<std::mutex> hold(lock);
  std::unique_ptr<Fft>& plan = plans[size];
  if (!plan) plan = std::make_unique<Fft>(size);
  return *plan;
}

}  // namespace

void FloatFree::operator()(float* p) const { std::free(p); }

FloatBuffer make_float_buffer(std::size_t count, bool zeroed) {
  // Every buffer has the same alignment, which the transforms' plans rely on.
  // A large one is aligned to, and asks for, huge pages: a transform's buffer
  // then costs a few hundred page faults instead of thousands.
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(float);
  const std::size_t alignment = bytes >= 2 * kHuge ? kHuge : 64;
  const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  auto* p = static_cast<float*>(std::aligned_alloc(alignment, rounded));
  if (p == nullptr) throw_out_of_memory();
  if (alignment == kHuge) madvise(p, rounded, MADV_HUGEPAGE);
  mark_in_use(p, count * sizeof(float), rounded);
  if (zeroed) std::fill(p, p + count, 0.0f);
  return FloatBuffer(p);
}

std::size_t fast_fft_size(std::size_t n) {
  // The transforms take int sizes; callers check theirs long before this, and a
  // transform that size would need more memory than any machine allows.
  if (n > kMaxFftSize) throw_out_of_memory();
  for (std::size_t m = std::max<std::size_t>(2, n + (n & 1));; m += 2) {
    std::size_t r = m;
    for (const std::size_t p : {2, 3, 5, 7}) {
      while (r % p == 0) r /= p;
    }
    if (r == 1) return m;
  }
}

// Plans are made with FFTW_ESTIMATE, which does not touch the arrays, on a
// scratch buffer; every buffer from make_float_buffer has its alignment.
PlanPair::~PlanPair() {
  const std::lock_guard<std::mutex> lock(planner);
  if (forward_ != nullptr) fftwf_destroy_plan(as_plan(forward_));
  if (inverse_ != nullptr) fftwf_destroy_plan(as_plan(inverse_));
}

RealFft::RealFft(std::size_t size) : PlanPair(size) {
  const int n = static_cast<int>(size);
  FloatBuffer scratch = make_float_buffer(size + 2, false);
  auto* spectrum = reinterpret_cast<fftwf_complex*>(scratch.get());
  const std::lock_guard<std::mutex> lock(planner);
  forward_ = fftwf_plan_dft_r2c_1d(n, scratch.get(), spectrum, FFTW_ESTIMATE);
  if (forward_ == nullptr) throw_out_of_memory();
}

void RealFft::plan_inverse() const {
  // Planning a large inverse costs as much as a few transforms (the library's
  // tables): a caller can have it done while the forward transforms run.
  std::call_once(inverse_planned_, [this] {
    const int n = static_cast<int>(size_);
    FloatBuffer scratch = make_float_buffer(size_ + 2, false);
    auto* spectrum = reinterpret_cast<fftwf_complex*>(scratch.get());
    const std::lock_guard<std::mutex> lock(planner);
    void* plan = fftwf_plan_dft_c2r_1d(n, spectrum, scratch.get(), FFTW_ESTIMATE);
    if (plan == nullptr) throw_out_of_memory();
    inverse_ = plan;
  });
}

void RealFft::forward(float* data) const {
  fftwf_execute_dft_r2c(as_plan(forward_), data, reinterpret_cast<fftwf_complex*>(data));
}

void RealFft::inverse(float* data) const {
  plan_inverse();
  fftwf_execute_dft_c2r(as_plan(inverse_), reinterpret_cast<fftwf_complex*>(data), data);
}

ComplexFft::ComplexFft(std::size_t size) : PlanPair(size) {
  const int n = static_cast<int>(size);
  FloatBuffer scratch = make_float_buffer(2 * size, false);
  auto* data = reinterpret_cast<fftwf_complex*>(scratch.get());
  const std::lock_guard<std::mutex> lock(planner);
  inverse_ = fftwf_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
  if (inverse_ == nullptr) throw_out_of_memory();
}

void ComplexFft::inverse(float* data) const {
  auto* c = reinterpret_cast<fftwf_complex*>(data);
  fftwf_execute_dft(as_plan(inverse_), c, c);
}

const RealFft& real_fft(std::size_t size) { return cached<RealFft>(size); }

const ComplexFft& complex_fft(std::size_t size) { return cached<ComplexFft>(size); }

}  // namespace vellisk
