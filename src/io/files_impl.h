// The library's side of the public sound files: what a FileSource and a SoundFileWriter hold.
#pragma once

#include "io/recording.h"
#include "io/response_file.h"
#include "vellisk/files.h"

namespace vellisk {

class FileSource::Impl {
 public:
  Recording recording;
};

class SoundFileWriter::Impl {
 public:
  ResponseFile file;
  bool closed = false;
};

}  // namespace vellisk
