/// @file
/// Sound files: a file read as a source of samples (any file libsndfile reads, WAV, W64, FLAC
/// and the others, or headerless little-endian float32), and the writing of response and
/// recording files (32-bit float WAV or W64, 24-bit FLAC, or headerless float32).
///
/// Errors: opening, writing and closing throw Error. A file that cannot be read as sound is
/// ProblemCode::unreadable, its message one line naming the file by its role ("recording
/// (NAME) ..."); one that cannot be written is ProblemCode::unwritable, its message the reason
/// alone ("No space left on device"), for the caller to say which file. Reading a stretch
/// returns "" or the reason, as every SampleSource does.
///
/// Threads: a FileSource or a SoundFileWriter serves one thread at a time; different ones may
/// be used from several threads at once. The free functions depend on their arguments alone.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "vellisk/response.h"
#include "vellisk/export.h"

namespace VELLISK_API vellisk {

// ---------------------------------------------------------------------------------------------
// Reading

/// Whether a name is that of a headerless little-endian float32 file: it ends in .pcm, .raw or
/// .f32, in any letter case.
bool is_headerless_name(const std::string& name);

/// The most channels a headerless file is read as.
inline constexpr int kMaxFileChannels = 1024;

/// How a FileSource opens its file.
struct FileOptions {
  /// The file is headerless float32 (see is_headerless_name), of channels interleaved channels
  /// and no rate (SourceInfo::rate 0); otherwise libsndfile reads its header.
  bool headerless = false;
  int channels = 1;  ///< a headerless file's channels, 1 to kMaxFileChannels
  /// What messages call the file: "recording" gives "recording (NAME) ...".
  std::string role = "recording";
  /// The file is read once from start to end with read_next, and may be a pipe or FIFO (whose
  /// open waits for its writer). Otherwise it is read in stretches, out of order, with read: a
  /// pipe or FIFO is refused at once, without waiting for a writer.
  bool in_order = false;
  /// The threads a read of a long stretch may use (0: as many as the machine has cores): its
  /// frames are split among them, each part read through a handle of its own on the same
  /// file. A file that cannot be opened again (not a regular file) is read by one thread.
  int readers = 1;
};

/// A sound file as a source of samples. A file that does not say how long it is (a FLAC
/// written to a pipe, a headerless stream) is read through once at open to count its frames;
/// one that cannot be read twice (a pipe or FIFO) is then refused, even when read in order.
class FileSource : public SampleSource {
 public:
  /// Opens path as options say. Throws Error: ProblemCode::invalid_request for a headerless
  /// file's channels out of their range; ProblemCode::unreadable for a file that cannot be
  /// opened, a folder, a pipe read in stretches, a headerless file whose size is not whole
  /// frames, a file libsndfile cannot read, one of unknown length that cannot be counted.
  explicit FileSource(const std::string& path, const FileOptions& options = {});
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  /// The format's name, channels, frames (as the header says; read_next may find fewer) and
  /// rate (0 for a headerless file).
  const SourceInfo& info() const override;

  /// The file's comment: a WAV file's INFO ICMT, a FLAC file's Vorbis comment, or "". A
  /// response vellisk-ir wrote carries response_text there (parse_response_text reads it).
  std::string comment() const;

  /// Reads frames [first, first + count) of channels [channel, channel + n) into out[0] to
  /// out[n - 1]; frames before the start or past the end read as 0. Returns none, or the
  /// problem, as SampleSource::read says: a failed read, or a sample that is not finite. When
  /// levels is given, levels[0]
  /// to levels[n - 1] take in the samples read: an integer format's extreme codes (its most
  /// negative code reads as -1, its most positive as 1 - 2^(1 - bits)), a companded format's
  /// largest magnitude, or any other format's magnitudes of 1 or more count as clipped.
  std::optional<Problem> read(std::int64_t first, std::int64_t count, int channel, int n,
                              float* const* out, SampleLevels* levels = nullptr) override;

  /// Reads the next frames in order, up to count, interleaved into out, however many the
  /// header says there are (a stream written to a pipe does not know), and sets got to the
  /// frames read: 0 at the end. Returns none, or the problem: a failed read
  /// (ProblemCode::unreadable), a sample that is not finite (invalid_recording), or an end
  /// short of the frames info() announces ("irfile (NAME) ends after 100 of the 200 frames its
  /// header announces: it is cut short"). Never seeks, so works on pipes.
  std::optional<Problem> read_next(std::int64_t count, float* out, std::int64_t& got);

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------------------------
// Writing

/// The formats a response (or a recording) is written in.
enum class ResponseFormat {
  kWav,        ///< 32-bit float WAV
  kW64,        ///< 32-bit float Sony Wave64
  kFlac,       ///< 24-bit FLAC (at most 8 channels)
  kHeaderless  ///< headerless little-endian float32
};

/// The extensions that name a format, for messages.
inline constexpr const char* kResponseExtensions = ".wav, .w64, .flac, .pcm, .raw or .f32";

/// The format a file name's extension asks for (any letter case): .wav, .w64, .flac, and .pcm,
/// .raw or .f32 for headerless; none for any other.
std::optional<ResponseFormat> response_format(const std::string& name);

/// Whether a sample is written exactly enough: 24-bit FLAC holds [-1, 1 - 2^-23] and would
/// clip anything that rounds beyond; the float formats hold any value.
bool fits_format(ResponseFormat format, float value);

/// Refuses value, which what ("irfile (ir.flac): channel 2") reaches, where fits_format does:
/// none, or invalid_request ("irfile (ir.flac): channel 2 reaches 1.5, beyond 24-bit full
/// scale; write a .wav or .w64 file, which keeps it").
std::optional<Problem> check_file_value(ResponseFormat format, float value,
                                        const std::string& what);

/// The most channels the format holds (FLAC: 8; the others 1024).
int max_channels(ResponseFormat format);

/// Refuses what, a file of the format to be written, for channels channels beyond
/// max_channels: none, or invalid_request ("irfile (ir.flac) cannot hold 9 channels: a .flac
/// file holds at most 8; write a .wav or .w64 file").
std::optional<Problem> check_file_channels(ResponseFormat format, int channels,
                                           const std::string& what);

/// Refuses a file with a header written at rate: it stores a whole number of samples per
/// second, up to 2147483647. None for a headerless format, or invalid_request: "rate (44100.5)
/// must be a whole number of samples per second for a file with a header; write a .pcm, .raw
/// or .f32 irfile" where the file may be headerless (what: "irfile"), or "... for --step's WAV
/// file" where it may not (what: "--step's WAV file").
std::optional<Problem> check_file_rate(ResponseFormat format, double rate, const std::string& what,
                                       bool may_be_headerless);

/// What a file being written holds.
struct SoundFileLayout {
  ResponseFormat format = ResponseFormat::kWav;  ///< its format
  int channels = 1;  ///< channels a frame, 1 to max_channels(format)
  int rate = 0;      ///< samples per second, 1 or more (a headerless file does not carry it)
  /// The frames it will hold; -1: not known (then a WAV file is written by libsndfile).
  std::int64_t frames = -1;
  /// The program that writes it and its version ("vellisk-ir 1.1.0"): a WAV file of known
  /// frames carries it in its INFO list (ISFT).
  std::string software;
  /// Its comment (a WAV file's INFO ICMT, with software; a FLAC file's Vorbis comment), or "".
  std::string comment;
};

/// The most frames a WAV file of the layout's channels, rate, software and comment holds (its
/// frames are not looked at): 0 when its byte rate does not fit the header's 32 bits.
std::int64_t wav_max_frames(const SoundFileLayout& layout);

/// A sound file being written, a block of frames at a time. Given its frames, a WAV file is
/// written with a plain header (fmt, an INFO list, data) and its samples as they are.
class SoundFileWriter {
 public:
  /// Starts the file on fd, open for writing, which it takes over and closes (even when it
  /// throws). Throws Error: ProblemCode::invalid_request for channels outside 1 to
  /// max_channels(format), or a rate below 1 for a format with a header; unwritable with the
  /// reason the file could not be started.
  SoundFileWriter(int fd, const SoundFileLayout& layout);
  ~SoundFileWriter();
  SoundFileWriter(const SoundFileWriter&) = delete;
  SoundFileWriter& operator=(const SoundFileWriter&) = delete;

  /// Appends count interleaved frames. Throws Error (ProblemCode::unwritable) with the reason
  /// once a write failed.
  void write(const float* frames, std::int64_t count);

  /// Finishes the file. Throws Error (ProblemCode::unwritable) with the reason the close, or
  /// an earlier write, failed. Once closed, a close does nothing; a writer destroyed unclosed
  /// leaves an unfinished file.
  void close();

  class Impl;

 private:
  friend void write_response(const ResponseResult& result, int order, SoundFileWriter& file);
  std::unique_ptr<Impl> impl_;
};

/// Writes order k's windows (k = 1: the linear response) of every channel of result,
/// interleaved, to file, which was opened with result.frames(order) frames of its channels,
/// and finishes the file as close does (a later close does nothing). Throws Error
/// (ProblemCode::unwritable) with the reason the results' scratch file could not be read or
/// the file could not be written.
void write_response(const ResponseResult& result, int order, SoundFileWriter& file);

}  // namespace vellisk
