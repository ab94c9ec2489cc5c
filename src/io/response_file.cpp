// The response file writer, on libsndfile.
#include "io/response_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sweep/wav_header.h"
#include "vellisk/number_text.h"

namespace vellisk {

std::optional<ResponseFormat> response_format(const std::string& name) {
  const std::string::size_type dot = name.rfind('.');
  const std::string::size_type slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "wav") return ResponseFormat::kWav;
  if (ext == "w64") return ResponseFormat::kW64;
  if (ext == "flac") return ResponseFormat::kFlac;
  if (ext == "pcm" || ext == "raw" || ext == "f32") return ResponseFormat::kHeaderless;
  return {};
}

bool fits_format(ResponseFormat format, float value) {
  if (format != ResponseFormat::kFlac) return true;
  // With clipping on, the library scales by 2^23 and rounds, as here.
  const double scaled = std::nearbyint(static_cast<double>(value) * 8388608.0);
  return scaled >= -8388608.0 && scaled <= 8388607.0;
}

std::optional<Problem> check_file_value(ResponseFormat format, float value,
                                        const std::string& what) {
  if (fits_format(format, value)) return std::nullopt;
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return Problem(ProblemCode::invalid_request,
                 what + " reaches " + text + ", beyond 24-bit full scale; write a .wav or .w64 "
                                             "file, which keeps it");
}

int max_channels(ResponseFormat format) { return format == ResponseFormat::kFlac ? 8 : 1024; }

std::optional<Problem> check_file_channels(ResponseFormat format, int channels,
                                           const std::string& what) {
  if (channels <= max_channels(format)) return std::nullopt;
  const std::string most = std::to_string(max_channels(format));
  return Problem(ProblemCode::invalid_request,
                 what + " cannot hold " + std::to_string(channels) + " channels: a " +
                     (format == ResponseFormat::kFlac ? ".flac file" : "file") + " holds at most " +
                     most + (format == ResponseFormat::kFlac ? "; write a .wav or .w64 file" : ""));
}

std::optional<Problem> check_file_rate(ResponseFormat format, double rate, const std::string& what,
                                       bool may_be_headerless) {
  if (format == ResponseFormat::kHeaderless || header_rate(rate)) return std::nullopt;
  const std::string start =
      "rate (" + number_text(rate) + ") must be a whole number of samples per second for ";
  return Problem(ProblemCode::invalid_request,
                 may_be_headerless
                     ? start + "a file with a header; write a .pcm, .raw or .f32 " + what
                     : start + what);
}

ResponseFile::~ResponseFile() {
  if (file_ != nullptr) sf_close(file_);
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t wav_max_frames(int channels, double rate, const std::string& info_list) {
  if (channels < 1 || 4.0 * channels * rate > 4294967295.0) return 0;
  return wav_max_samples(info_list) / channels;
}

bool ResponseFile::write_bytes(const char* bytes, std::size_t n) {
  while (n > 0) {
    errno = 0;
    const ssize_t written = ::write(fd_, bytes, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error_ = errno != 0 ? std::strerror(errno) : "nothing was written";
      return false;
    }
    bytes += written;
    n -= static_cast<std::size_t>(written);
  }
  return true;
}

std::string ResponseFile::open(int fd, ResponseFormat format, int channels, int rate,
                               std::int64_t frames, const std::string& info_list,
                               const std::string& comment) {
  fd_ = fd;
  channels_ = channels;
  if (format == ResponseFormat::kWav && frames >= 0) {
    const std::string header =
        wav_header(static_cast<std::uint32_t>(rate), static_cast<std::uint32_t>(frames), info_list,
                   static_cast<std::uint16_t>(channels));
    write_bytes(header.data(), header.size());
    return error_;
  }
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = rate > 0 ? rate : 1;
  switch (format) {
    case ResponseFormat::kWav:
      info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
      break;
    case ResponseFormat::kW64:
      info.format = SF_FORMAT_W64 | SF_FORMAT_FLOAT;
      break;
    case ResponseFormat::kFlac:
      info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
      break;
    case ResponseFormat::kHeaderless:
      info.format = SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE;
      break;
  }
  file_ = sf_open_fd(fd_, SFM_WRITE, &info, SF_FALSE);
  if (file_ == nullptr) {
    error_ = sf_strerror(nullptr);
    return error_;
  }
  // Scale floats by 2^23 both ways, and clip rather than wrap: a sample that
  // does not fit is refused before the file is opened, so none is clipped.
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // No PEAK chunk: other readers (scipy) warn about a chunk they do not know.
  sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  if (format == ResponseFormat::kFlac && !comment.empty() &&
      sf_set_string(file_, SF_STR_COMMENT, comment.c_str()) != 0) {
    error_ = sf_strerror(file_);
  }
  return error_;
}

bool ResponseFile::write(const float* frames, std::int64_t count) {
  if (!error_.empty()) return false;
  if (file_ == nullptr) {
    // Little-endian float32, as the header says.
    const auto n = static_cast<std::size_t>(count) * static_cast<std::size_t>(channels_);
    if constexpr (std::endian::native == std::endian::little) {
      return write_bytes(reinterpret_cast<const char*>(frames), 4 * n);
    }
    std::vector<char> bytes(4 * n);
    for (std::size_t i = 0; i < n; ++i) {
      const auto bits = std::bit_cast<std::uint32_t>(frames[i]);
      for (std::size_t b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<char>((bits >> (8 * b)) & 0xffu);
    }
    return write_bytes(bytes.data(), bytes.size());
  }
  errno = 0;
  if (sf_writef_float(file_, frames, count) != count) {
    const int system_error = errno;
    error_ = system_error != 0 ? std::strerror(system_error) : sf_strerror(file_);
    // The library may fail without saying why (its encoder refusing a sample).
    if (sf_error(file_) == SF_ERR_NO_ERROR && system_error == 0)
      error_ = "the samples were refused";
    return false;
  }
  return true;
}

std::string ResponseFile::close() {
  if (file_ != nullptr) {
    errno = 0;
    if (sf_close(file_) != 0 && error_.empty()) error_ = sf_strerror(nullptr);
    file_ = nullptr;
  }
  if (fd_ >= 0) {
    if (::close(fd_) != 0 && error_.empty()) error_ = std::strerror(errno);
    fd_ = -1;
  }
  return error_;
}

std::string write_rows(RowStore& store, std::size_t first_row, int channels, std::int64_t frames,
                       ResponseFile& file) {
  const auto width = static_cast<std::size_t>(channels);
  const std::int64_t block = std::max<std::int64_t>(1, 16384 / channels);
  std::vector<float> row(static_cast<std::size_t>(block));
  std::vector<float> interleaved(static_cast<std::size_t>(block) * width);
  for (std::int64_t at = 0; at < frames; at += block) {
    const std::int64_t n = std::min(block, frames - at);
    for (std::size_t c = 0; c < width; ++c) {
      if (!store.get(first_row + c, at, n, row.data())) return store.error();
      for (std::int64_t i = 0; i < n; ++i)
        interleaved[static_cast<std::size_t>(i) * width + c] = row[static_cast<std::size_t>(i)];
    }
    if (!file.write(interleaved.data(), n)) break;
  }
  return file.close();
}

}  // namespace vellisk
