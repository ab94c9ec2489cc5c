// Reading stretches of a recorded sweep: any file libsndfile reads, or headerless float32.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vellisk/files.h"
#include "vellisk/response.h"

struct sf_private_tag;

namespace vellisk {

using RecordingInfo = SourceInfo;

// One open recording, read a fixed-size block at a time.
class Recording : public SampleSource {
 public:
  Recording() = default;
  ~Recording();
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Opens name for reading; a headerless file holds channels interleaved
  // channels. A file that does not say how long it is (a FLAC written to a
  // pipe) is read through once to count its frames; one that cannot be read
  // twice (a pipe) is then refused. A file read in stretches (read) must be
  // a file: a pipe or FIFO is refused at once, without waiting for a writer;
  // one read once in order (read_next, in_order) may be a pipe or FIFO, whose
  // open waits for its writer. Returns "", or one line that says why the
  // file cannot be used; its messages call the file role ("recording (NAME)").
  std::string open(const char* name, bool headerless, int channels, const char* role = "recording",
                   bool in_order = false);

  const RecordingInfo& info() const override { return info_; }

  // The file's comment (a WAV file's INFO ICMT, libsndfile's SF_STR_COMMENT), or "".
  std::string comment() const;

  // Reads frames [first, first + count) of the channels [channel, channel + n)
  // into out[0] to out[n - 1]; frames before the start or past the end read as
  // 0. Returns none, or the problem: a failed read (unreadable), or a sample
  // that is not finite (invalid_recording). When levels is given, levels[0]
  // to levels[n - 1] take in the samples read: an integer format's extreme
  // codes (its most negative code reads as -1, its most positive as
  // 1 - 2^(1 - bits)), a companded format's largest magnitude, or any other
  // format's magnitudes of 1 or more count as clipped.
  std::optional<Problem> read(std::int64_t first, std::int64_t count, int channel, int n,
                              float* const* out, SampleLevels* levels = nullptr) override;

  // Reads the next frames in order, up to count, interleaved into out, however
  // many the header says there are (a stream written to a pipe does not know);
  // got is 0 at the end. Returns none, or the problem, as read does, or an end
  // before the frames the header announced (the file is cut short). Works on
  // pipes: it never seeks.
  std::optional<Problem> read_next(std::int64_t count, float* out, std::int64_t& got);

  // The threads a long read may use (0: as many as the machine has cores): its frames are split
  // among them, each part read through a handle of its own on the same file, opened when first
  // needed; a file that cannot be opened again is read by one thread.
  void set_readers(int readers) { readers_ = readers; }

 private:
  // Reads the file to its end to count its frames, then returns to its start.
  std::string count_frames();
  // The problems of a read: one that failed for reason, and a sample v that is not finite.
  Problem unreadable(const char* reason) const;
  Problem not_finite(float v, std::int64_t frame, int channel) const;
  // The parts a read of frames [begin, end) is split into, each a whole number of blocks: as
  // many as the readers and the helpers opened allow, each of at least kMinPartFrames.
  int parts(std::int64_t begin, std::int64_t end);
  // Reads frames [begin, end) of the channels into out, which starts at frame first.
  std::optional<Problem> read_frames(std::int64_t begin, std::int64_t end, std::int64_t first,
                                     int channel, int n, float* const* out, SampleLevels* levels);

  int fd_ = -1;
  sf_private_tag* file_ = nullptr;
  std::string name_;
  std::string what_;  // "recording (NAME)", for messages
  RecordingInfo info_;
  std::int64_t next_ = 0;  // the next frame read_next reads
  std::vector<float> block_;
  float clip_low_ = -1;  // a sample at or beyond these is at full scale
  float clip_high_ = 1;
  bool headerless_ = false;
  bool regular_ = false;  // a regular file, which helpers may open again
  int readers_ = 1;
  std::vector<std::unique_ptr<Recording>> helpers_;  // the other parts' handles
};

}  // namespace vellisk
