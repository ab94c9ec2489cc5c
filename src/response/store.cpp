// The row store: memory up to a budget, an unnamed scratch file beyond.
#include "response/store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vellisk {

namespace {

// Moves count bytes at byte offset at, through pread or pwrite, resuming after a
// partial transfer or a signal; false, with errno set (0 at an early end), on failure.
template <class Transfer, class Bytes>
bool transfer_all(Transfer transfer, int fd, Bytes* data, std::size_t count, off_t at) {
  while (count > 0) {
    const ssize_t done = transfer(fd, data, count, at);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = 0;
      return false;
    }
    const auto n = static_cast<std::size_t>(done);
    data += n, count -= n, at += static_cast<off_t>(n);
  }
  return true;
}

}  // namespace

RowStore::~RowStore() {
  if (scratch_ >= 0) ::close(scratch_);
}

std::string RowStore::open(const std::vector<std::int64_t>& lengths, std::int64_t budget) {
  starts_.assign(1, 0);
  for (const std::int64_t n : lengths) starts_.push_back(starts_.back() + n);
  if (starts_.back() <= budget) {
    memory_.assign(static_cast<std::size_t>(starts_.back()), 0.0f);
    return "";
  }
  errno = 0;
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return std::string("Unable to create a scratch file: ") + std::strerror(errno);
  // The descriptor alone is kept; the file has no name, and is gone when it closes.
  scratch_ = ::fcntl(::fileno(file), F_DUPFD_CLOEXEC, 0);
  const int saved = errno;
  std::fclose(file);
  if (scratch_ < 0) return std::string("Unable to create a scratch file: ") + std::strerror(saved);
  return "";
}

bool RowStore::put(std::size_t row, const float* data) {
  return put(row, 0, starts_[row + 1] - starts_[row], data);
}

bool RowStore::put(std::size_t row, std::int64_t offset, std::int64_t count, const float* data) {
  const std::int64_t at = starts_[row] + offset;
  const auto bytes = static_cast<std::size_t>(count) * sizeof(float);
  if (scratch_ < 0) {
    std::memcpy(memory_.data() + at, data, bytes);
    return true;
  }
  errno = 0;
  if (!transfer_all(::pwrite, scratch_, reinterpret_cast<const char*>(data), bytes,
                    static_cast<off_t>(at) * 4)) {
    error_ = std::string("Unable to write the scratch file: ") +
             (errno != 0 ? std::strerror(errno) : "nothing was written");
    return false;
  }
  return true;
}

bool RowStore::get(std::size_t row, std::int64_t offset, std::int64_t count, float* out) {
  error_ = read(row, offset, count, out);
  return error_.empty();
}

std::string RowStore::read(std::size_t row, std::int64_t offset, std::int64_t count,
                           float* out) const {
  const std::int64_t at = starts_[row] + offset;
  const auto bytes = static_cast<std::size_t>(count) * sizeof(float);
  if (scratch_ < 0) {
    std::memcpy(out, memory_.data() + at, bytes);
    return "";
  }
  errno = 0;
  if (!transfer_all(::pread, scratch_, reinterpret_cast<char*>(out), bytes,
                    static_cast<off_t>(at) * 4)) {
    return std::string("Unable to read the scratch file: ") +
           (errno != 0 ? std::strerror(errno) : "it ended early");
  }
  return "";
}

}  // namespace vellisk
