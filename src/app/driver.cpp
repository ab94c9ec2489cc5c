// The program driver: the order of a run and its console output.
#include "app/driver.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/arguments.h"
#include "cli/console.h"
#include "app/messages.h"
#include "app/phases.h"
#include "sweep/validation.h"

void print_design_report(const SweepDesign& design) {
  // Sums and byte counts in 64 bits: a long sweep at a high rate exceeds 2 GiB.
  const std::int64_t sweeplen = design.sweeplen;
  const std::int64_t total = sweeplen + 2 * std::int64_t{design.silencelen};
  errno = 0;
  std::printf("\nSweep length: %" PRId64 " samples\n", sweeplen);
  std::printf("Silence length: %" PRId32 " samples\n", design.silencelen);
  std::printf("Total sweep length: %" PRId64 " samples\n", total);
  std::printf("Total sweep file size: %" PRId64 " bytes\n", total * kSampleBytes);
  std::printf("Total inverse length: %" PRId64 " samples\n", sweeplen);
  std::printf("Total inverse file size: %" PRId64 " bytes\n\n", sweeplen * kSampleBytes);
  flush_output();
}

int run(int argc, const char* const* argv) {
  for (const char* line : kBanner) print_line(line);
  if (argc <= kArgumentCount) {
    for (const char* line : kUsage) print_line(line);
    return EXIT_SUCCESS;
  }
  print_line(kParsing);
  const SweepParams params = parse_numbers(argv + 1);
  print_line(kSetup);
  const SweepDesign design = compute_design(params);
  std::string error = design_error(params, design);
  if (error.empty()) error = output_names_error(argv[9], argv[10]);
  if (error.empty()) error = standard_stream_error("sweepfile", argv[9]);
  if (error.empty()) error = standard_stream_error("inversefile", argv[10]);
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return EXIT_FAILURE;
  }
  print_design_report(design);
  if (generate_sweep_file(design, argv[9]) != 0) return EXIT_FAILURE;
  if (generate_inverse_file(design, argv[10]) != 0) return EXIT_FAILURE;
  return EXIT_SUCCESS;
}
