// Reading the irfiles once, to their ends, into a scratch file.
#include "inputs.h"

#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <limits>

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
  if (!(f.rate >= kMinRoomRate && f.rate <= kMaxRoomRate)) {
    return what(name) + " has a sample rate of " + std::to_string(r.info().rate) +
           " Hz; the rates taken are 1000 to 10000000";
  }
  // Block by block to the end, however many frames the header announced.
  std::vector<float> block(static_cast<std::size_t>(kBlockFrames * f.channels));
  for (std::int64_t got = 1; got > 0;) {
    if (std::string e = r.read_next(kBlockFrames, block.data(), got); !e.empty()) return e;
    const auto samples = static_cast<std::size_t>(got * f.channels);
    if (std::fwrite(block.data(), sizeof(float), samples, scratch_) != samples) {
      return std::string("Unable to write the scratch file: ") + std::strerror(errno);
    }
    f.frames += got;
    stored_ += static_cast<std::int64_t>(samples);
  }
  const std::int64_t announced = r.info().frames;
  if (announced != std::numeric_limits<std::int64_t>::max() && f.frames < announced) {
    return what(name) + " ends after " + std::to_string(f.frames) + " of the " +
           std::to_string(announced) + " frames its header announces: it is cut short";
  }
  if (f.frames < 1) return what(name) + " holds no samples";
  return "";
}

std::string IrFiles::load(std::size_t i, std::vector<std::vector<float>>& channels) {
  const IrFileInfo& f = files_[i];
  const auto width = static_cast<std::size_t>(f.channels);
  channels.assign(width, std::vector<float>(static_cast<std::size_t>(f.frames)));
  if (fseeko(scratch_, static_cast<off_t>(f.offset) * 4, SEEK_SET) != 0) {
    return std::string("Unable to read the scratch file: ") + std::strerror(errno);
  }
  std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * width);
  for (std::int64_t at = 0; at < f.frames;) {
    const std::int64_t want = std::min(kBlockFrames, f.frames - at);
    const auto samples = static_cast<std::size_t>(want) * width;
    if (std::fread(block.data(), sizeof(float), samples, scratch_) != samples) {
      return std::string("Unable to read the scratch file: ") +
             (std::ferror(scratch_) ? std::strerror(errno) : "it ended early");
    }
    for (std::size_t k = 0; k < samples; ++k) {
      channels[k % width][static_cast<std::size_t>(at) + k / width] = block[k];
    }
    at += want;
  }
  return "";
}

}  // namespace vellisk
