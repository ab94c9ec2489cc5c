// The irfiles of a run of vellisk-room: each opened once and read to its end before any
// analysis, its samples kept in a scratch file until their turn, a block at a time with each
// channel's stretch of the block whole, so that a channel reads back on its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "options.h"
#include "vellisk/response.h"

namespace vellisk {

struct IrFileInfo {
  std::string name;
  std::string format;      // "WAV (Microsoft) Signed 24 bit PCM", "headerless float32"
  int channels = 0;
  std::int64_t frames = 0;  // as read, whatever the header said
  double rate = 0;
  std::int64_t offset = 0;  // where its samples start in the scratch file, in samples
  std::vector<std::int64_t> blocks;  // the frames of each block it is stored in, in order
  std::optional<MeasuredResponse> measured;  // what a vellisk-ir response carries, if it does
};

class IrFiles {
 public:
  IrFiles() = default;
  ~IrFiles();
  IrFiles(const IrFiles&) = delete;
  IrFiles& operator=(const IrFiles&) = delete;

  // Reads every irfile the options name, in order, to its end: a pipe, a FIFO
  // or a stream of unknown length as well as a file. Returns "", or one line
  // refusing the first file that cannot be used: unreadable, of a rate outside
  // the one --rate allows, empty, cut short of the frames its header promises,
  // or holding a sample that is not finite.
  std::string read(const RoomOptions& o);

  const std::vector<IrFileInfo>& files() const { return files_; }

  // The samples of channel c of file i, into samples (resized to its frames). Returns "" or
  // why they could not be read back.
  std::string load(std::size_t i, int c, std::vector<float>& samples);

 private:
  std::string read_one(const RoomOptions& o, const char* name);
  std::FILE* scratch_ = nullptr;
  std::vector<float> block_, planar_;  // a block as read and as stored, kept from file to file
  std::int64_t stored_ = 0;  // samples in the scratch file
  std::vector<IrFileInfo> files_;
};

}  // namespace vellisk
