// Rows of float samples kept between their computation and the files they go to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellisk {

// Holds one row per output file and channel. Up to a fixed budget the rows are
// kept in memory, beyond it in an unnamed scratch file, so that memory does not
// grow with the number of channels or orders. The scratch file is read and
// written at explicit offsets, with no shared file position: once the rows are
// stored, get may be called from several threads at once.
class RowStore {
 public:
  RowStore() = default;
  ~RowStore();
  RowStore(const RowStore&) = delete;
  RowStore& operator=(const RowStore&) = delete;

  // Makes room for rows of the given lengths, in memory up to budget samples.
  // Returns "", or why it failed.
  std::string open(const std::vector<std::int64_t>& lengths, std::int64_t budget = kMemoryBudget);

  static constexpr std::int64_t kMemoryBudget = 16 * 1024 * 1024;  // samples: 64 MiB

  // Stores a whole row; returns false when the scratch file cannot be written.
  bool put(std::size_t row, const float* data);
  // Stores count samples of a row from offset, likewise.
  bool put(std::size_t row, std::int64_t offset, std::int64_t count, const float* data);

  // Reads count samples of a row from offset; returns false on a failed read.
  bool get(std::size_t row, std::int64_t offset, std::int64_t count, float* out);
  // The same, returning "" or why the read failed; safe from several threads at once.
  std::string read(std::size_t row, std::int64_t offset, std::int64_t count, float* out) const;

  // Why the last put or get failed.
  const std::string& error() const { return error_; }

 private:
  std::vector<std::int64_t> starts_;
  std::vector<float> memory_;
  int scratch_ = -1;  // the scratch file's descriptor
  std::string error_;
};

}  // namespace vellisk
