// Reading the irfiles once, to their ends, into a scratch file.
#include "inputs.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vellisk/files.h"
#include "vellisk/problem.h"
#include "vellisk/room.h"

namespace vellisk {

namespace {

constexpr std::int64_t kBlockFrames = 16384;

std::string what(const char* name) { return std::string("irfile (") + name + ")"; }

}  // namespace

IrFiles::~IrFiles() {
  if (scratch_ != nullptr) std::fclose(scratch_);
}

std::string IrFiles::read(const RoomOptions& o) {
  scratch_ = std::tmpfile();
  if (scratch_ == nullptr) return std::string("Unable to create a scratch file: ") + std::strerror(errno);
  for (const char* name : o.files) {
    if (std::string e = read_one(o, name); !e.empty()) return e;
  }
  if (std::fflush(scratch_) != 0) {
    return std::string("Unable to write the scratch file: ") + std::strerror(errno);
  }
  return "";
}

std::string IrFiles::read_one(const RoomOptions& o, const char* name) {
  const bool headerless = is_headerless_name(name);
  if (headerless && o.rate == 0) {
    return what(name) + " is headerless float32: give its sample rate with --rate";
  }
  FileOptions options;
  options.headerless = headerless;
  options.channels = o.channels != 0 ? static_cast<int>(o.channels) : 1;
  options.role = "irfile";
  options.in_order = true;
  std::optional<FileSource> opened;
  try {
    opened.emplace(name, options);
  } catch (const Error& e) {
    return e.what();
  }
  FileSource& r = *opened;
  IrFileInfo& f = files_.emplace_back();
  f.name = name;
  f.format = r.info().format;
  f.channels = r.info().channels;
  f.rate = headerless ? o.rate : r.info().rate;
  f.offset = stored_;
  // A response that says how it was measured, for as many channels as it holds.
  if (MeasuredResponse m; !parse_response_text(r.comment(), m) &&
                          static_cast<int>(m.channels.size()) == f.channels) {
    f.measured = std::move(m);
  }
  // A headerless file's rate is --rate's, which the options judged.
  if (const std::optional<Problem> p = check_room_rate(r.info().rate, what(name)); p && !headerless) {
    return p->message;
  }
  // Block by block to the end, however many frames the header announced.
  const auto width = static_cast<std::size_t>(f.channels);
  block_.resize(static_cast<std::size_t>(kBlockFrames) * width);
  planar_.resize(block_.size());
  for (std::int64_t got = 1; got > 0;) {
    if (std::optional<Problem> p = r.read_next(kBlockFrames, block_.data(), got)) return p->message;
    if (got == 0) break;
    const auto frames = static_cast<std::size_t>(got);
    for (std::size_t j = 0; j < frames; ++j) {
      for (std::size_t k = 0; k < width; ++k) planar_[k * frames + j] = block_[j * width + k];
    }
    if (std::fwrite(planar_.data(), sizeof(float), frames * width, scratch_) != frames * width) {
      return std::string("Unable to write the scratch file: ") + std::strerror(errno);
    }
    f.blocks.push_back(got);
    f.frames += got;
    stored_ += static_cast<std::int64_t>(frames * width);
  }
  if (const std::optional<Problem> p = check_room_frames(f.frames, what(name))) return p->message;
  return "";
}

std::string IrFiles::load(std::size_t i, int c, std::vector<float>& samples) {
  const IrFileInfo& f = files_[i];
  samples.resize(static_cast<std::size_t>(f.frames));
  const auto unreadable = [](const char* why) {
    return std::string("Unable to read the scratch file: ") + why;
  };
  std::int64_t block = f.offset, at = 0;  // the block's first sample in the scratch, its frame
  for (const std::int64_t frames : f.blocks) {
    auto* into = reinterpret_cast<char*>(samples.data() + at);
    std::size_t bytes = static_cast<std::size_t>(frames) * sizeof(float);
    auto from = static_cast<off_t>((block + c * frames) * 4);
    while (bytes > 0) {
      const ssize_t got = pread(fileno(scratch_), into, bytes, from);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return unreadable(std::strerror(errno));
      if (got == 0) return unreadable("it ended early");
      into += got, bytes -= static_cast<std::size_t>(got), from += got;
    }
    block += frames * f.channels;
    at += frames;
  }
  return "";
}

}  // namespace vellisk
