// The recording reader, on libsndfile.
#include "io/recording.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "sweep/validation.h"

namespace vellisk {

namespace {

constexpr std::size_t kBlockSamples = 64 * 1024;

bool ends_with(const std::string& s, const char* tail) {
  const std::size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
  }
  return true;
}

// The library's name of a major format or a subtype, by its value.
std::string format_name(int format) {
  SF_FORMAT_INFO info{};
  info.format = format;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || info.name == nullptr) {
    return "?";
  }
  return info.name;
}

// Full scale as libsndfile reads a subtype into normalised floats: an integer
// code c of b bits reads as c / 2^(b - 1), so the extreme codes read as -1 and
// 1 - 2^(1 - b) (1 itself in float for 32 bits); the companded formats' largest
// code reads as 32124 / 32768 (mu-law) or 32256 / 32768 (A-law); floats
// are read as they are stored.
void full_scale(int subtype, float& low, float& high) {
  int bits = 0;
  switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      bits = 8;
      break;
    case SF_FORMAT_PCM_16:
      bits = 16;
      break;
    case SF_FORMAT_PCM_24:
      bits = 24;
      break;
    case SF_FORMAT_PCM_32:
      bits = 32;
      break;
    case SF_FORMAT_ULAW:
      high = 32124.0f / 32768;
      low = -high;
      return;
    case SF_FORMAT_ALAW:
      high = 32256.0f / 32768;
      low = -high;
      return;
    default:
      high = 1;
      low = -1;
      return;
  }
  high = static_cast<float>(1 - std::ldexp(1.0, 1 - bits));
  low = -1;
}

}  // namespace

bool is_headerless_name(const std::string& name) {
  return ends_with(name, ".pcm") || ends_with(name, ".raw") || ends_with(name, ".f32");
}

Recording::~Recording() {
  if (file_ != nullptr) sf_close(file_);
  if (fd_ >= 0) close(fd_);
}

std::string Recording::open(const char* name, bool headerless, int channels, const char* role,
                            bool in_order) {
  name_ = name;
  what_ = std::string(role) + " (" + name_ + ")";
  const std::string& what = what_;
  fd_ = ::open(name, O_RDONLY | O_CLOEXEC | (in_order ? 0 : O_NONBLOCK));
  const int fd = fd_;
  if (fd < 0) return "Unable to open " + what + ": " + std::strerror(errno);
  SF_INFO sf{};
  struct stat st {};
  if (fstat(fd, &st) != 0) return "Unable to open " + what + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return what + " is a folder, not a sound file";
  if (!in_order && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
    return what + " is a pipe or FIFO: it is read in stretches, out of order; save it to a file "
                  "first";
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return "Unable to open " + what + ": " + std::strerror(errno);
  }
  if (headerless) {
    if (S_ISREG(st.st_mode) && st.st_size % (4 * static_cast<off_t>(channels)) != 0) {
      return what + " holds " + std::to_string(st.st_size) +
             " bytes, not a whole number of frames of " + std::to_string(channels) +
             " float32 samples";
    }
    sf.samplerate = 1;  // not stored in the file, and not used
    sf.channels = channels;
    sf.format = SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE;
  }
  file_ = sf_open_fd(fd, SFM_READ, &sf, SF_FALSE);
  if (file_ == nullptr) {
    const std::string reason = sf_strerror(nullptr);
    return what + " cannot be read as sound: " + reason;
  }
  info_.channels = sf.channels;
  info_.frames = sf.frames;
  block_.resize(std::max<std::size_t>(kBlockSamples, static_cast<std::size_t>(sf.channels)));
  // A FLAC written to a pipe does not say how long it is, nor does a
  // headerless stream: its frames are counted, or it is refused.
  if (sf.frames == SF_COUNT_MAX || (headerless && !S_ISREG(st.st_mode))) {
    if (lseek(fd, 0, SEEK_CUR) < 0) {
      return what + " does not say how long it is, and cannot be read twice to count its " +
             "frames (a pipe?); save it to a file first";
    }
    if (std::string e = count_frames(); !e.empty()) return e;
  }
  if (headerless) {
    info_.format = "headerless float32";
  } else {
    info_.rate = sf.samplerate;
    info_.format = format_name(sf.format & SF_FORMAT_TYPEMASK) + " " +
                   format_name(sf.format & SF_FORMAT_SUBMASK);
    // Integer codes read as fractions of full scale (the default, made sure of).
    sf_command(file_, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    full_scale(sf.format & SF_FORMAT_SUBMASK, clip_low_, clip_high_);
  }
  return "";
}

std::string Recording::count_frames() {
  const auto block_frames = static_cast<sf_count_t>(block_.size()) / info_.channels;
  info_.frames = 0;
  for (sf_count_t n; (n = sf_readf_float(file_, block_.data(), block_frames)) > 0;) {
    info_.frames += n;
  }
  if (sf_error(file_) != 0) return "Unable to read " + what_ + ": " + sf_strerror(file_);
  if (sf_seek(file_, 0, SEEK_SET) != 0) {
    return "Unable to read " + what_ + ": " + sf_strerror(file_);
  }
  return "";
}

Problem Recording::unreadable(const char* reason) const {
  return Problem(ProblemCode::unreadable, "Unable to read " + what_ + ": " + reason);
}

Problem Recording::not_finite(float v, std::int64_t frame, int channel) const {
  return Problem(ProblemCode::invalid_recording,
                 what_ + " holds a sample that is not finite (" + number_text(v) + ") at frame " +
                     std::to_string(frame) + " of channel " + std::to_string(channel + 1));
}

std::optional<Problem> Recording::read(std::int64_t first, std::int64_t count, int channel, int n,
                                       float* const* out, SampleLevels* levels) {
  const std::int64_t begin = std::clamp<std::int64_t>(first, 0, info_.frames);
  const std::int64_t end = std::clamp<std::int64_t>(first + count, begin, info_.frames);
  for (int c = 0; c < n; ++c) {
    std::fill(out[c], out[c] + (begin - first), 0.0f);
    std::fill(out[c] + (end - first), out[c] + count, 0.0f);
  }
  if (begin == end) return std::nullopt;
  if (sf_seek(file_, begin, SEEK_SET) != begin) {
    return unreadable(sf_strerror(file_));
  }
  const std::size_t width = static_cast<std::size_t>(info_.channels);
  const std::int64_t block_frames = static_cast<std::int64_t>(block_.size() / width);
  for (std::int64_t at = begin; at < end;) {
    const std::int64_t want = std::min(block_frames, end - at);
    if (sf_readf_float(file_, block_.data(), want) != want) {
      return unreadable(sf_error(file_) != 0 ? sf_strerror(file_) : "it ended early");
    }
    for (int c = 0; c < n; ++c) {
      float* dst = out[c] + (at - first);
      const float* src = block_.data() + channel + c;
      for (std::int64_t i = 0; i < want; ++i) {
        const float v = src[static_cast<std::size_t>(i) * width];
        if (!std::isfinite(v)) {
          return not_finite(v, at + i, channel + c);
        }
        dst[i] = v;
      }
      if (levels != nullptr) {
        SampleLevels& l = levels[c];
        for (std::int64_t i = 0; i < want; ++i) {
          l.peak = std::max(l.peak, std::abs(dst[i]));
          l.clipped += dst[i] <= clip_low_ || dst[i] >= clip_high_;
        }
      }
    }
    at += want;
  }
  return std::nullopt;
}

std::optional<Problem> Recording::read_next(std::int64_t count, float* out, std::int64_t& got) {
  got = sf_readf_float(file_, out, count);
  if (got < 0 || sf_error(file_) != 0) {
    got = 0;
    return unreadable(sf_strerror(file_));
  }
  if (got == 0 && count > 0 && next_ < info_.frames && info_.frames != SF_COUNT_MAX) {
    return Problem(ProblemCode::unreadable, what_ + " ends after " + std::to_string(next_) +
                                                " of the " + std::to_string(info_.frames) +
                                                " frames its header announces: it is cut short");
  }
  const auto width = static_cast<std::int64_t>(info_.channels);
  for (std::int64_t i = 0; i < got * width; ++i) {
    if (!std::isfinite(out[i])) {
      return not_finite(out[i], next_ + i / width, static_cast<int>(i % width));
    }
  }
  next_ += got;
  return std::nullopt;
}

std::string Recording::comment() const {
  const char* text = file_ != nullptr ? sf_get_string(file_, SF_STR_COMMENT) : nullptr;
  return text != nullptr ? text : "";
}

}  // namespace vellisk
