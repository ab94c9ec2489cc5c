// Single-precision FFTs behind a small interface: the one place that knows the FFT library.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>

namespace vellisk {

// Float storage aligned the way the transforms want it.
struct FloatFree {
  void operator()(float* p) const;
};
using FloatBuffer = std::unique_ptr<float[], FloatFree>;

// A buffer of count floats, zeroed unless asked not to (when every float will
// be written before it is read). Throws Error (ProblemCode::out_of_memory) when
// the memory cannot be had, as the plans' constructors do.
FloatBuffer make_float_buffer(std::size_t count, bool zeroed = true);

// The largest transform size: the library takes int sizes.
inline constexpr std::size_t kMaxFftSize = 2147483646;

// The smallest even size of at least n (and at least 2) whose only prime
// factors are 2, 3, 5 and 7, the sizes the transforms are fastest at; throws
// Error (ProblemCode::out_of_memory) beyond kMaxFftSize.
std::size_t fast_fft_size(std::size_t n);

// A forward and an inverse plan of one size.
class PlanPair {
 public:
  PlanPair(const PlanPair&) = delete;
  PlanPair& operator=(const PlanPair&) = delete;
  std::size_t size() const { return size_; }

 protected:
  explicit PlanPair(std::size_t size) : size_(size) {}
  ~PlanPair();
  std::size_t size_;
  void* forward_ = nullptr;
  mutable void* inverse_ = nullptr;  // RealFft plans it when first needed
};

// Real transforms of one even size, in place on a buffer from make_float_buffer
// of size + 2 floats: forward turns size reals into size / 2 + 1 complex
// values (real, imaginary pairs), inverse the other way round. Neither scales:
// forward then inverse multiplies by size. A transform may run in several
// threads at once, each on its own buffer. The inverse is planned when it is
// first needed, or ahead of that by plan_inverse(), from any thread.
class RealFft : public PlanPair {
 public:
  explicit RealFft(std::size_t size);
  void forward(float* data) const;
  void inverse(float* data) const;
  void plan_inverse() const;

 private:
  mutable std::once_flag inverse_planned_;
};

// Inverse complex transforms of one size, in place on size complex values
// (2 * size floats from make_float_buffer), with exp(+i...), unscaled.
class ComplexFft : public PlanPair {
 public:
  explicit ComplexFft(std::size_t size);
  void inverse(float* data) const;
};

// The transforms of one size, planned once for the process and kept: planning
// a size costs milliseconds even when running it costs microseconds. Safe to
// call from several threads.
const RealFft& real_fft(std::size_t size);
const ComplexFft& complex_fft(std::size_t size);

}  // namespace vellisk
