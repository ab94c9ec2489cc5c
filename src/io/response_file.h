// Writing impulse responses: 32-bit float WAV or W64, 24-bit FLAC, or headerless float32.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "response/store.h"
#include "vellisk/files.h"

struct sf_private_tag;

namespace vellisk {

// One response file being written, a block of frames at a time.
class ResponseFile {
 public:
  ResponseFile() = default;
  ~ResponseFile();
  ResponseFile(const ResponseFile&) = delete;
  ResponseFile& operator=(const ResponseFile&) = delete;

  // Starts the file on fd, open for writing, which it takes over and closes.
  // Given its frames, a WAV file is written with wav_header (carrying
  // info_list, an INFO list) and its samples as they are, which other programs
  // read without a word: libsndfile's own float WAV has a fmt chunk sox calls
  // incomplete and a PAD chunk scipy does not know. Returns "", or the reason
  // it failed. A FLAC file carries comment, when given, as its comment (a Vorbis comment
  // libsndfile reads back as SF_STR_COMMENT).
  std::string open(int fd, ResponseFormat format, int channels, int rate, std::int64_t frames = -1,
                   const std::string& info_list = {}, const std::string& comment = {});

  // Appends count interleaved frames. Returns false once anything failed.
  bool write(const float* frames, std::int64_t count);

  // Finishes the file. Returns "", or the reason the first write, or the
  // close, failed.
  std::string close();

 private:
  // Writes n bytes to fd_, whatever the system takes at a time; false on failure.
  bool write_bytes(const char* bytes, std::size_t n);

  int fd_ = -1;
  int channels_ = 1;
  sf_private_tag* file_ = nullptr;  // none: a WAV file written here
  std::string error_;
};

// The most a WAV file of `channels` channels at `rate` holds, in frames: 0
// when its byte rate does not fit the header's 32 bits.
std::int64_t wav_max_frames(int channels, double rate, const std::string& info_list);

// Writes rows [first_row, first_row + channels) of store, each frames long, as
// the interleaved channels of file, a fixed-size block at a time. Returns "",
// or the reason a read or write failed.
std::string write_rows(RowStore& store, std::size_t first_row, int channels, std::int64_t frames,
                       ResponseFile& file);

}  // namespace vellisk
