// The public sound files, on the recording reader and the response file writer.
#include "vellisk/files.h"

#include <utility>

#include "io/files_impl.h"
#include "sweep/design_text.h"

namespace vellisk {

FileSource::FileSource(const std::string& path, const FileOptions& options)
    : impl_(std::make_unique<Impl>()) {
  if (std::string e = impl_->recording.open(path.c_str(), options.headerless, options.channels,
                                            options.role.c_str(), options.in_order);
      !e.empty()) {
    throw Error(Problem(ProblemCode::unreadable, std::move(e)));
  }
}

FileSource::~FileSource() = default;

const SourceInfo& FileSource::info() const { return impl_->recording.info(); }

std::string FileSource::comment() const { return impl_->recording.comment(); }

std::string FileSource::read(std::int64_t first, std::int64_t count, int channel, int n,
                             float* const* out, SampleLevels* levels) {
  return impl_->recording.read(first, count, channel, n, out, levels);
}

std::string FileSource::read_next(std::int64_t count, float* out, std::int64_t& got) {
  return impl_->recording.read_next(count, out, got);
}

std::int64_t wav_max_frames(const SoundFileSpec& spec) {
  return wav_max_frames(spec.channels, spec.rate, info_list(spec.software, spec.comment));
}

SoundFileWriter::SoundFileWriter(int fd, const SoundFileSpec& spec)
    : impl_(std::make_unique<Impl>()) {
  if (std::string e = impl_->file.open(fd, spec.format, spec.channels, spec.rate, spec.frames,
                                       info_list(spec.software, spec.comment), spec.comment);
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
