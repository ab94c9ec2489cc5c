// The file-writing phases of a run.
#include "phases.h"

#include <cerrno>
#include <cstdio>

#include "common/console.h"
#include "common/process_guard.h"
#include "sweep/inverse_gen.h"
#include "sweep/sample_file.h"
#include "sweep/sweep_gen.h"

namespace vellisk {

namespace {

struct PhaseTexts {
  const char* opening;
  const char* generating;
  const char* generated;
  const char* open_failed;
  const char* write_failed;
};

// Opens path, lets write(file) fill it and closes it. Success is claimed only
// once every block and the close have succeeded; a file that could not be
// written whole is removed (a device or FIFO stays).
template <class Write>
int generate_file(const PhaseTexts& texts, const char* path, std::string_view header,
                  Write&& write) {
  print_line_path(texts.opening, path);
  const int watch = watch_output(path);
  SampleFile file;
  if (const int error = file.open(path, header); error != 0) {
    release_output(watch);
    print_error(texts.open_failed, error);
    return 1;
  }
  print_line(texts.generating);
  write(file);
  if (const int error = file.close(); error != 0) {
    remove_output(watch);
    print_error(texts.write_failed, error);
    return 1;
  }
  release_output(watch);
  print_line(texts.generated);
  return 0;
}

constexpr PhaseTexts kSweepTexts = {
    "Opening sweep file: ",      "Generating the sweep file...", "Sweep file generated.",
    "Unable to open sweep file", "Unable to write sweep file",
};

constexpr PhaseTexts kInverseTexts = {
    "Opening inverse file: ",      "Generating the inverse file...", "Inverse file generated.",
    "Unable to open inverse file", "Unable to write inverse file",
};

}  // namespace

int generate_sweep_file(const SweepDesign& design, const char* path, std::string_view header) {
  return generate_file(kSweepTexts, path, header,
                       [&design](SampleFile& file) { write_sweep(design, file); });
}

int generate_inverse_file(const SweepDesign& design, const char* path, std::string_view header) {
  const double factor = normfactor(design);
  errno = 0;
  std::printf("Sweep normalizaton factor: %g\n", factor);
  flush_output();
  return generate_file(kInverseTexts, path, header,
                       [&](SampleFile& file) { write_inverse(design, factor, file); });
}

}  // namespace vellisk
