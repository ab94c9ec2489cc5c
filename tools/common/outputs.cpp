// Temporary files beside each output, renamed into place once all are complete.
#include "common/outputs.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/paths.h"
#include "common/process_guard.h"

namespace vellisk {

namespace {

// The mode a new file gets from open(..., 0666) under the process's umask.
mode_t creation_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The pattern of the temporary that becomes folder + leaf: .LEAF.XXXXXX in the
// same folder, so that the rename stays within one file system, with LEAF cut
// short where the whole would be longer than a name or a path may be there:
// a name of the longest length allowed still gets a temporary.
std::string temporary_pattern(const std::string& folder, const std::string& leaf) {
  constexpr std::size_t kAdded = 8;  // "." and ".XXXXXX"
  long longest = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  if (longest < static_cast<long>(kAdded)) longest = NAME_MAX;
  std::size_t kept = std::min(leaf.size(), static_cast<std::size_t>(longest) - kAdded);
  constexpr std::size_t kPathRoom = PATH_MAX - 1 - kAdded;  // for folder and kept
  if (folder.size() + kept > kPathRoom) kept = kPathRoom - std::min(folder.size(), kPathRoom);
  return folder + "." + leaf.substr(0, kept) + ".XXXXXX";
}

}  // namespace

std::string output_error(const std::string& name) {
  const std::string path = final_name(name.c_str());
  struct stat st {};
  errno = 0;
  if (stat(path.c_str(), &st) != 0 && errno != ENOENT) return std::strerror(errno);
  if (errno == 0 && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  if (errno == 0 && !S_ISREG(st.st_mode)) {
    return access(path.c_str(), W_OK) == 0 ? "" : std::strerror(errno);
  }
  const std::string::size_type slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  return access(folder.c_str(), W_OK | X_OK) == 0 ? "" : std::strerror(errno);
}

std::string write_all(int fd, const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t n = write(fd, text.data() + at, text.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      return std::strerror(errno);
    }
  }
  return "";
}

std::string write_text(int fd, const std::string& text) {
  std::string error = write_all(fd, text);
  if (close(fd) != 0 && error.empty()) error = std::strerror(errno);
  return error;
}

StreamedOutput::~StreamedOutput() {
  if (fd_ >= 0) ::close(fd_);
}

std::string StreamedOutput::open(OutputSet& files, const std::string& name) {
  name_ = name;
  fd_ = files.create(name, error_);
  return error_.empty() ? "" : "Unable to write " + name_ + ": " + error_;
}

void StreamedOutput::write(const std::string& text) {
  if (fd_ >= 0 && error_.empty()) error_ = write_all(fd_, text);
}

std::string StreamedOutput::close() {
  if (fd_ >= 0 && ::close(fd_) != 0 && error_.empty()) error_ = std::strerror(errno);
  fd_ = -1;
  return error_.empty() ? "" : "Unable to write " + name_ + ": " + error_;
}

OutputSet::~OutputSet() { discard(); }

int OutputSet::create(const std::string& name, std::string& error) {
  Entry entry;
  entry.name = final_name(name.c_str());
  struct stat st {};
  const bool exists = stat(entry.name.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    errno = 0;
    const int fd = ::open(entry.name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) error = std::strerror(errno);
    return fd;
  }
  const std::string::size_type slash = entry.name.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : entry.name.substr(0, slash + 1);
  std::string pattern = temporary_pattern(folder, entry.name.substr(folder.size()));
  // Signals wait while the temporary is created and watched: one between the
  // two would leave it behind.
  HeldSignals held;
  errno = 0;
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  const int reason = errno;
  if (fd >= 0) entry.watch = watch_output(pattern.c_str());
  if (fd >= 0 && entry.watch < 0) unlink(pattern.c_str()), close(fd);
  held.release();
  if (fd < 0) {
    error = std::strerror(reason);
    return -1;
  }
  if (entry.watch < 0) {
    error = "too many files written at once";
    return -1;
  }
  entry.temporary = pattern;
  // The file keeps the mode of the one it replaces, or gets a new file's.
  fchmod(fd, exists ? (st.st_mode & 07777) : creation_mode());
  entries_.push_back(entry);
  return fd;
}

std::string OutputSet::commit() {
  // A signal waits until every output is in place: the run it ends leaves
  // all files new, never some new and some as they were.
  HeldSignals held;
  std::string failure;
  for (Entry& e : entries_) {
    if (e.temporary.empty() || !failure.empty()) continue;
    errno = 0;
    if (std::rename(e.temporary.c_str(), e.name.c_str()) != 0) {
      failure = "Unable to write " + e.name + ": " + std::strerror(errno);
      continue;
    }
    release_output(e.watch);
    e.temporary.clear();
  }
  discard();
  return failure;
}

void OutputSet::discard() {
  for (const Entry& e : entries_) {
    if (!e.temporary.empty()) remove_output(e.watch);
  }
  entries_.clear();
}

}  // namespace vellisk
