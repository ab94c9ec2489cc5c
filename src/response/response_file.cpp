// The response file writer, on libsndfile.
#include "response/response_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

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

int max_channels(ResponseFormat format) { return format == ResponseFormat::kFlac ? 8 : 1024; }

ResponseFile::~ResponseFile() {
  if (file_ != nullptr) sf_close(file_);
  if (fd_ >= 0) ::close(fd_);
}

std::string ResponseFile::open(int fd, ResponseFormat format, int channels, int rate) {
  fd_ = fd;
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
  return "";
}

bool ResponseFile::write(const float* frames, std::int64_t count) {
  if (!error_.empty()) return false;
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
