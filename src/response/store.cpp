// The row store: memory up to a budget, an unnamed scratch file beyond.
#include "response/store.h"

#include <cerrno>
#include <cstring>

namespace vellisk {

RowStore::~RowStore() {
  if (scratch_ != nullptr) std::fclose(scratch_);
}

std::string RowStore::open(const std::vector<std::int64_t>& lengths, std::int64_t budget) {
  starts_.assign(1, 0);
  for (const std::int64_t n : lengths) starts_.push_back(starts_.back() + n);
  if (starts_.back() <= budget) {
    memory_.assign(static_cast<std::size_t>(starts_.back()), 0.0f);
    return "";
  }
  errno = 0;
  scratch_ = std::tmpfile();
  if (scratch_ == nullptr)
    return std::string("Unable to create a scratch file: ") + std::strerror(errno);
  return "";
}

bool RowStore::put(std::size_t row, const float* data) {
  return put(row, 0, starts_[row + 1] - starts_[row], data);
}

bool RowStore::put(std::size_t row, std::int64_t offset, std::int64_t count, const float* data) {
  const std::int64_t at = starts_[row] + offset;
  if (scratch_ == nullptr) {
    std::memcpy(memory_.data() + at, data, static_cast<std::size_t>(count) * sizeof(float));
    return true;
  }
  errno = 0;
  if (fseeko(scratch_, static_cast<off_t>(at) * 4, SEEK_SET) != 0 ||
      std::fwrite(data, sizeof(float), static_cast<std::size_t>(count), scratch_) !=
          static_cast<std::size_t>(count)) {
    error_ = std::string("Unable to write the scratch file: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool RowStore::get(std::size_t row, std::int64_t offset, std::int64_t count, float* out) {
  const std::int64_t at = starts_[row] + offset;
  if (scratch_ == nullptr) {
    std::memcpy(out, memory_.data() + at, static_cast<std::size_t>(count) * sizeof(float));
    return true;
  }
  errno = 0;
  if (std::fflush(scratch_) != 0 || fseeko(scratch_, static_cast<off_t>(at) * 4, SEEK_SET) != 0 ||
      std::fread(out, sizeof(float), static_cast<std::size_t>(count), scratch_) !=
          static_cast<std::size_t>(count)) {
    error_ = std::string("Unable to read the scratch file: ") +
             (errno != 0 ? std::strerror(errno) : "it ended early");
    return false;
  }
  return true;
}

}  // namespace vellisk
