// A buffer of samples the room analysis works in, on huge pages where it is large.
#include "room/samples.h"

#include <sys/mman.h>

#include <cstdlib>
#include <utility>

#include "io/memory.h"
#include "sweep/out_of_memory.h"

namespace vellisk {

SampleBuffer::~SampleBuffer() { std::free(data_); }

SampleBuffer::SampleBuffer(SampleBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      block_bytes_(std::exchange(other.block_bytes_, 0)) {}

SampleBuffer& SampleBuffer::operator=(SampleBuffer&& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
  std::swap(block_bytes_, other.block_bytes_);
  return *this;
}

void SampleBuffer::resize(std::size_t n) {
  if (n > capacity_) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (n > static_cast<std::size_t>(-1) / sizeof(double) - kHuge) throw_out_of_memory();
    const std::size_t bytes = n * sizeof(double);
    const std::size_t alignment = bytes >= kHuge ? kHuge : 64;
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    std::free(data_);
    data_ = nullptr, size_ = capacity_ = block_bytes_ = 0;
    data_ = static_cast<double*>(std::aligned_alloc(alignment, rounded));
    if (data_ == nullptr) throw_out_of_memory();
    if (alignment == kHuge) madvise(data_, bytes / kHuge * kHuge, MADV_HUGEPAGE);
    map_now(data_, bytes);
    capacity_ = n, block_bytes_ = rounded;
  }
  size_ = n;
  mark_in_use(data_, n * sizeof(double), block_bytes_);
}

}  // namespace vellisk
