// A run's two files as the library writes them: their WAV rules, their headers and their samples.
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "sweep/design_text.h"
#include "sweep/inverse_gen.h"
#include "sweep/sample_file.h"
#include "sweep/sweep_gen.h"
#include "sweep/validation.h"
#include "sweep/wav_header.h"
#include "vellisk/sweep.h"

namespace vellisk {

namespace {

DesignFile design_file(SweepFileKind kind) {
  return kind == SweepFileKind::sweep ? DesignFile::sweep : DesignFile::inverse;
}

[[noreturn]] void unwritable(const char* what, int error) {
  throw Error(Problem(ProblemCode::unwritable, std::string(what) + ": " + std::strerror(error),
                      std::nullopt, error));
}

}  // namespace

struct SweepFileWriter::File {
  SampleFile samples;
  std::string path;
  bool open = false;  // opened, and not yet written
};

std::int64_t file_length(const SweepDesign& design, SweepFileKind kind) {
  return file_samples(design, design_file(kind));
}

std::optional<Problem> check_wav_design(const SweepParams& params) {
  std::string error = wav_error(params, compute_design(params));
  if (error.empty()) return std::nullopt;
  return Problem{ProblemCode::invalid_design, std::move(error)};
}

std::string sweep_file_header(const SweepParams& params, SweepFileKind kind, bool wav) {
  if (!wav) return {};
  return design_wav_header(params, compute_design(params), design_file(kind));
}

SweepFileWriter::SweepFileWriter() : file_(std::make_unique<File>()) {}

SweepFileWriter::~SweepFileWriter() = default;

void SweepFileWriter::open(const char* path, const std::string& header) {
  if (file_->open) file_->samples.close();
  file_->open = false;
  file_->path = path;
  if (const int error = file_->samples.open(path, header); error != 0) {
    unwritable((file_->path + " could not be opened").c_str(), error);
  }
  file_->open = true;
}

void SweepFileWriter::write(const SweepDesign& design, SweepFileKind kind) {
  if (!file_->open) unwritable("no file is open to write the samples to", EBADF);
  file_->open = false;
  if (kind == SweepFileKind::sweep) {
    write_sweep(design, file_->samples);
  } else {
    write_inverse(design, normfactor(design), file_->samples);
  }
  if (const int error = file_->samples.close(); error != 0) {
    unwritable((file_->path + " could not be written").c_str(), error);
  }
}

}  // namespace vellisk
