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
#include <limits>
#include <thread>

#include "response/parallel.h"
#include "sweep/validation.h"

namespace vellisk {

namespace {

constexpr std::size_t kBlockSamples = 64 * 1024;

// The fewest frames a part of a read split among threads holds.
constexpr std::int64_t kMinPartFrames = std::int64_t{1} << 17;

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

// Copies want samples, every width-th of src, to dst, and takes them into levels when given (a
// sample at or beyond low or high is at full scale). Returns the index of the first that is not
// finite, or want when all are.
template <bool kLevels>
std::int64_t take_channel(const float* src, std::size_t width, std::int64_t want, float* dst,
                          float low, float high, SampleLevels* levels) {
  bool finite = true;
  float peak = 0;
  std::int64_t clipped = 0;
  for (std::int64_t i = 0; i < want; ++i) {
    const float v = src[static_cast<std::size_t>(i) * width];
    const float magnitude = std::abs(v);
    dst[i] = v;
    finite &= magnitude <= std::numeric_limits<float>::max();
    if constexpr (kLevels) {
      peak = std::max(peak, magnitude);
      clipped += static_cast<int>(v <= low) | static_cast<int>(v >= high);
    }
  }
  if (!finite) {
    std::int64_t i = 0;
    while (std::isfinite(src[static_cast<std::size_t>(i) * width])) ++i;
    return i;
  }
  if constexpr (kLevels) {
    levels->peak = std::max(levels->peak, peak);
    levels->clipped += clipped;
  }
  return want;
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
  headerless_ = headerless, regular_ = S_ISREG(st.st_mode);  // for the helpers (see parts)
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
  const int k = parts(begin, end);
  if (k == 1) return read_frames(begin, end, first, channel, n, out, levels);
  // Parts of whole blocks, as one reader reads them: the first sample that is not finite is
  // the one it would find.
  const auto block =
      static_cast<std::int64_t>(block_.size() / static_cast<std::size_t>(info_.channels));
  const std::int64_t blocks = (end - begin + block - 1) / block;
  std::vector<std::optional<Problem>> errors(static_cast<std::size_t>(k));
  std::vector<std::vector<SampleLevels>> part_levels(
      static_cast<std::size_t>(k), std::vector<SampleLevels>(static_cast<std::size_t>(n)));
  const auto part = [&](int i) {
    const std::int64_t from = begin + blocks * i / k * block;
    const std::int64_t to = std::min(end, begin + blocks * (i + 1) / k * block);
    Recording& r = i == 0 ? *this : *helpers_[static_cast<std::size_t>(i - 1)];
    const auto at = static_cast<std::size_t>(i);
    errors[at] = r.read_frames(from, to, first, channel, n, out,
                               levels != nullptr ? part_levels[at].data() : nullptr);
  };
  run_parallel(k, part);
  for (int c = 0; levels != nullptr && c < n; ++c) {
    for (const std::vector<SampleLevels>& p : part_levels) {
      const SampleLevels& l = p[static_cast<std::size_t>(c)];
      levels[c].peak = std::max(levels[c].peak, l.peak);
      levels[c].clipped += l.clipped;
    }
  }
  for (std::optional<Problem>& e : errors) {
    if (e) return e;
  }
  return std::nullopt;
}

int Recording::parts(std::int64_t begin, std::int64_t end) {
  const int readers =
      readers_ > 0 ? readers_ : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const auto wanted = static_cast<int>(
      std::clamp<std::int64_t>((end - begin) / kMinPartFrames, 1, std::max(readers, 1)));
  while (regular_ && static_cast<int>(helpers_.size()) + 1 < wanted) {
    // The same file through a description of its own: a position of its own.
    auto helper = std::make_unique<Recording>();
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (!helper->open(self.c_str(), headerless_, info_.channels).empty() ||
        helper->info_.frames != info_.frames || helper->info_.channels != info_.channels) {
      regular_ = false;  // not again
      break;
    }
    helper->name_ = name_, helper->what_ = what_;
    helpers_.push_back(std::move(helper));
  }
  return std::min(wanted, static_cast<int>(helpers_.size()) + 1);
}

std::optional<Problem> Recording::read_frames(std::int64_t begin, std::int64_t end,
                                              std::int64_t first, int channel, int n,
                                              float* const* out, SampleLevels* levels) {
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
      const float* src = block_.data() + channel + c;
      float* dst = out[c] + (at - first);
      const std::int64_t bad =
          levels != nullptr
              ? take_channel<true>(src, width, want, dst, clip_low_, clip_high_, &levels[c])
              : take_channel<false>(src, width, want, dst, clip_low_, clip_high_, nullptr);
      if (bad < want) {
        return not_finite(src[static_cast<std::size_t>(bad) * width], at + bad, channel + c);
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
