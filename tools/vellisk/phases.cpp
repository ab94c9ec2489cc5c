// The file-writing phases of a run.
#include "phases.h"

#include <cerrno>
#include <cstdio>

#include "common/console.h"
#include "common/process_guard.h"

namespace vellisk {

namespace {

struct PhaseTexts {
  const char* opening;
  const char* generating;
  const char* generated;
  const char* open_failed;
  const char* write_failed;
};

// The system's error number that a writer's Error carries.
int error_number(const Error& e) { return static_cast<int>(e.problem().value); }

// Opens path and writes the file of kind into it. Success is claimed only once
// every block and the close have succeeded; a file that could not be written
// whole is removed (a device or FIFO stays).
int generate_file(const PhaseTexts& texts, const SweepDesign& design, SweepFileKind kind,
                  const char* path, const std::string& header) {
  print_line_path(texts.opening, path);
  const int watch = watch_output(path);
  SweepFileWriter file;
  try {
    file.open(path, header);
  } catch (const Error& e) {
    release_output(watch);
    print_error(texts.open_failed, error_number(e));
    return 1;
  }
  print_line(texts.generating);
  try {
    file.write(design, kind);
  } catch (const Error& e) {
    remove_output(watch);
    print_error(texts.write_failed, error_number(e));
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

int generate_sweep_file(const SweepDesign& design, const char* path, const std::string& header) {
  return generate_file(kSweepTexts, design, SweepFileKind::sweep, path, header);
}

int generate_inverse_file(const SweepDesign& design, const char* path,
                          const std::string& header) {
  const double factor = normalisation_factor(design);
  errno = 0;
  std::printf("Sweep normalizaton factor: %g\n", factor);
  flush_output();
  return generate_file(kInverseTexts, design, SweepFileKind::inverse, path, header);
}

}  // namespace vellisk
