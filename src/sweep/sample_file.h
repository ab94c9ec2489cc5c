// Little-endian float32 sample files, headerless or after a given header, written a block at a
// time.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vellisk {

// Owns one output file. Samples are rounded to float32 and gathered in a block
// that goes to the file when full, so no library call is made per sample and
// memory does not grow with the number of samples.
class SampleFile {
 public:
  SampleFile() = default;
  SampleFile(const SampleFile&) = delete;
  SampleFile& operator=(const SampleFile&) = delete;
  ~SampleFile();

  // Creates the file, or truncates an existing one, and starts it with header
  // (none for a headerless file). Returns 0, or the system error number of the
  // failed open.
  int open(const char* path, std::string_view header = {});

  // Appends one sample, rounded to nearest float32, in little-endian order.
  // Returns false once a block could not be written: nothing more reaches the file.
  bool write(double value) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
    if constexpr (std::endian::native == std::endian::big) {
      bits = (bits >> 24) | ((bits >> 8) & 0xff00u) | ((bits << 8) & 0xff0000u) | (bits << 24);
    }
    std::memcpy(block_.data() + fill_, &bits, sizeof bits);
    fill_ += sizeof bits;
    // A header may leave the samples off the block's 4-byte grid: the block
    // goes out as soon as it has no room for another sample.
    return fill_ + sizeof bits <= block_.size() || write_block();
  }

  // Writes what is left of the block and closes the file. Returns 0, or the
  // system error number of the first write or close that failed.
  int close();

 private:
  // Hands the block to the file; returns false when this or an earlier block failed.
  bool write_block();

  std::FILE* file_ = nullptr;
  int error_ = 0;
  std::size_t fill_ = 0;
  std::array<unsigned char, 64 * 1024> block_{};
};

}  // namespace vellisk
