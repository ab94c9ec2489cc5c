// A buffer of samples the room analysis works in: left unfilled, kept between channels, and
// where it is large, on huge pages.
#pragma once

#include <cstddef>

namespace vellisk {

// Doubles in one block of memory that only grows. Growing neither fills nor keeps the values:
// the system maps each page when it is first written. From 2 MiB on the block is aligned to
// 2 MiB and its whole 2 MiB pages are asked for as huge pages (one page fault for each in place
// of 512); the rest of it stays in small pages, so that no more is mapped than is written.
class SampleBuffer {
 public:
  SampleBuffer() = default;
  ~SampleBuffer();
  SampleBuffer(SampleBuffer&& other) noexcept;
  SampleBuffer& operator=(SampleBuffer&& other) noexcept;
  SampleBuffer(const SampleBuffer&) = delete;
  SampleBuffer& operator=(const SampleBuffer&) = delete;

  // n values, of no account until written; throws Error (ProblemCode::out_of_memory) when
  // memory runs out.
  void resize(std::size_t n);
  double* data() { return data_; }
  const double* data() const { return data_; }
  std::size_t size() const { return size_; }
  double& operator[](std::size_t i) { return data_[i]; }
  double operator[](std::size_t i) const { return data_[i]; }

 private:
  double* data_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
  std::size_t block_bytes_ = 0;  // the block as allocated, rounded up to its alignment
};

}  // namespace vellisk
