// The sample file writer.
#include "sweep/sample_file.h"

#include <algorithm>
#include <cerrno>

namespace vellisk {

SampleFile::~SampleFile() {
  if (file_ != nullptr) std::fclose(file_);
}

int SampleFile::open(const char* path, std::string_view header) {
  errno = 0;
  file_ = std::fopen(path, "wb");
  if (file_ == nullptr) return errno != 0 ? errno : EINVAL;
  // The block is the buffer: the stream hands each block straight to the system.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  error_ = 0;
  fill_ = 0;
  // The header goes out with the first block of samples.
  while (!header.empty()) {
    const std::size_t n = std::min(header.size(), block_.size() - fill_);
    std::memcpy(block_.data() + fill_, header.data(), n);
    fill_ += n;
    header.remove_prefix(n);
    if (fill_ + sizeof(std::uint32_t) > block_.size()) write_block();
  }
  return 0;
}

bool SampleFile::write_block() {
  if (error_ == 0 && fill_ > 0) {
    errno = 0;
    if (std::fwrite(block_.data(), 1, fill_, file_) != fill_) error_ = errno != 0 ? errno : EIO;
  }
  fill_ = 0;
  return error_ == 0;
}

int SampleFile::close() {
  if (file_ == nullptr) return EBADF;
  write_block();
  errno = 0;
  if (std::fclose(file_) != 0 && error_ == 0) error_ = errno != 0 ? errno : EIO;
  file_ = nullptr;
  return error_;
}

}  // namespace vellisk
