// The program driver: the order of a run and its console output.
#include "run.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>

#include "texts.h"
#include "options.h"
#include "phases.h"
#include "warnings.h"
#include "common/arguments.h"
#include "common/console.h"
#include "common/paths.h"

namespace vellisk {

void print_design_report(const SweepDesign& design, std::int64_t sweep_header,
                         std::int64_t inverse_header) {
  // Sums and byte counts in 64 bits: a long sweep at a high rate exceeds 2 GiB.
  const std::int64_t sweeplen = design.sweeplen;
  const std::int64_t total = sweep_file_length(design);
  constexpr std::int64_t kBytesPerSample = sizeof(float);
  errno = 0;
  std::printf("\nSweep length: %" PRId64 " samples\n", sweeplen);
  std::printf("Silence length: %" PRId32 " samples\n", design.silencelen);
  std::printf("Total sweep length: %" PRId64 " samples\n", total);
  std::printf("Total sweep file size: %" PRId64 " bytes\n", sweep_header + total * kBytesPerSample);
  std::printf("Total inverse length: %" PRId64 " samples\n", sweeplen);
  std::printf("Total inverse file size: %" PRId64 " bytes\n\n",
              inverse_header + sweeplen * kBytesPerSample);
  flush_output();
}

namespace {

// The headers of the two files: none for headerless files, or WAV headers
// carrying the design.
struct Headers {
  std::string sweep;
  std::string inverse;
};

Headers headers_of(const SweepParams& params, bool wav) {
  return {sweep_file_header(params, SweepFileKind::sweep, wav),
          sweep_file_header(params, SweepFileKind::inverse, wav)};
}

void print_help() {
  print_line(kHelpUsage);
  for (std::size_t i = 1; i + 1 < std::size(kUsage); ++i) print_line(kUsage[i]);
  for (const char* line : kHelpOptions) print_line(line);
}

// Everything refused before the report: the numbers, the design, a WAV
// file's limits, and the output names. Returns "" or the refusal line.
std::string run_error(const SweepParams& params, bool wav, const char* sweepfile,
                      const char* inversefile) {
  std::optional<Problem> problem = check_design(params);
  if (!problem && wav) problem = check_wav_design(params);
  if (problem) return problem->message;
  std::string error = output_names_error(sweepfile, inversefile);
  if (error.empty()) error = standard_stream_error("sweepfile", sweepfile);
  if (error.empty()) error = standard_stream_error("inversefile", inversefile);
  return error;
}

}  // namespace

int run_sweep(int argc, char** argv) {
  VelliskOptions options;
  const std::string option_error = read_options(argc, argv, options);
  if (option_error.empty() && options.version) {
    print_line(kVersionLine);
    return EXIT_SUCCESS;
  }
  for (const char* line : kBanner) print_line(line);
  if (!option_error.empty()) return fail(option_error);
  if (options.help) {
    print_help();
    return EXIT_SUCCESS;
  }
  const int count = argc - options.first;
  if (!options.given && count < kArgumentCount) {
    for (const char* line : kUsage) print_line(line);
    return EXIT_SUCCESS;
  }
  if (options.given && count != kArgumentCount) {
    return fail("vellisk takes 10 arguments after its options, not " + std::to_string(count) +
                "; vellisk --help shows them");
  }
  const char* const* args = argv + options.first;
  warn_of_ignored_options(argc, argv, options.first + kArgumentCount);
  print_line(kParsing);
  const SweepParams params = parse_numbers(args);
  print_line(kSetup);
  const SweepDesign design = compute_design(params);
  const char* sweepfile = args[8];
  const char* inversefile = args[9];
  if (const std::string error = run_error(params, options.wav, sweepfile, inversefile);
      !error.empty()) {
    return fail(error);
  }
  warn_of_run(params, options.wav, sweepfile, inversefile);
  const Headers headers = headers_of(params, options.wav);
  print_design_report(design, static_cast<std::int64_t>(headers.sweep.size()),
                      static_cast<std::int64_t>(headers.inverse.size()));
  if (generate_sweep_file(design, sweepfile, headers.sweep) != 0) return EXIT_FAILURE;
  if (generate_inverse_file(design, inversefile, headers.inverse) != 0) return EXIT_FAILURE;
  return EXIT_SUCCESS;
}

}  // namespace vellisk
