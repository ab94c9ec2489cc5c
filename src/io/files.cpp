// The public sound files, on the recording reader and the response file writer.
#include "vellisk/files.h"

#include <unistd.h>

#include <utility>

#include "io/files_impl.h"
#include "sweep/design_text.h"

namespace vellisk {

FileSource::FileSource(const std::string& path, const FileOptions& options)
    : impl_(std::make_unique<Impl>()) {
  if (options.headerless && !(options.channels >= 1 && options.channels <= kMaxFileChannels)) {
    throw Error(Problem(ProblemCode::invalid_request,
                        options.role + " (" + path + "): a headerless file's channels (" +
                            std::to_string(options.channels) + ") must be from 1 to " +
                            std::to_string(kMaxFileChannels)));
  }
  if (std::string e = impl_->recording.open(path.c_str(), options.headerless, options.channels,
                                            options.role.c_str(), options.in_order);
      !e.empty()) {
    throw Error(Problem(ProblemCode::unreadable, std::move(e)));
  }
  impl_->recording.set_readers(options.readers);
}

FileSource::~FileSource() = default;

const SourceInfo& FileSource::info() const { return impl_->recording.info(); }

std::string FileSource::comment() const { return impl_->recording.comment(); }

std::optional<Problem> FileSource::read(std::int64_t first, std::int64_t count, int channel,
                                        int n, float* const* out, SampleLevels* levels) {
  return impl_->recording.read(first, count, channel, n, out, levels);
}

std::optional<Problem> FileSource::read_next(std::int64_t count, float* out, std::int64_t& got) {
  return impl_->recording.read_next(count, out, got);
}

std::int64_t wav_max_frames(const SoundFileLayout& layout) {
  return wav_max_frames(layout.channels, layout.rate, info_list(layout.software, layout.comment));
}

SoundFileWriter::SoundFileWriter(int fd, const SoundFileLayout& layout)
    : impl_(std::make_unique<Impl>()) {
  const bool header = layout.format != ResponseFormat::kHeaderless;
  if (!(layout.channels >= 1 && layout.channels <= max_channels(layout.format)) ||
      (header && layout.rate < 1)) {
    if (fd >= 0) ::close(fd);
    throw Error(Problem(ProblemCode::invalid_request,
                        "a sound file of " + std::to_string(layout.channels) + " channels at " +
                            std::to_string(layout.rate) +
                            " Hz cannot be written: its format holds 1 to " +
                            std::to_string(max_channels(layout.format)) + " channels" +
                            (header ? ", at 1 Hz or more" : "")));
  }
  if (std::string e = impl_->file.open(fd, layout.format, layout.channels, layout.rate, layout.frames,
                                       info_list(layout.software, layout.comment), layout.comment);
      !e.empty()) {
    throw Error(Problem(ProblemCode::unwritable, std::move(e)));
  }
}

SoundFileWriter::~SoundFileWriter() = default;

void SoundFileWriter::write(const float* frames, std::int64_t count) {
  if (!impl_->file.write(frames, count)) close();
}

void SoundFileWriter::close() {
  if (impl_->closed) return;
  impl_->closed = true;
  if (std::string e = impl_->file.close(); !e.empty()) {
    throw Error(Problem(ProblemCode::unwritable, std::move(e)));
  }
}

}  // namespace vellisk
