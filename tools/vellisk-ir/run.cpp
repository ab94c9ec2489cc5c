// The run of vellisk-ir.
#include "run.h"

#include <cstdlib>
#include <string>

#include "common/console.h"
#include "common/response_run.h"
#include "common/versions.h"
#include "options.h"
#include "texts.h"

namespace vellisk {

int run_ir(int argc, char** argv) {
  IrOptions o;
  if (const std::string e = parse_options(argc, argv, o); !e.empty()) return fail(e);
  if (o.version) {
    print_line(kIrVersion);
    return EXIT_SUCCESS;
  }
  if (o.help || (o.arguments.empty() && o.sweep.empty())) {
    for (const char* line : kIrHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  if (const std::string e = sweep_and_numbers_error(o.sweep, o.arguments.size()); !e.empty()) {
    return fail(e);
  }
  // The files follow the eight numbers, or stand alone after --sweep.
  const std::size_t files = o.sweep.empty() ? 8 : 0;
  if (o.arguments.size() != files + 2) {
    const char* takes = o.sweep.empty() ? "vellisk-ir takes 10" : "vellisk-ir --sweep takes 2";
    return fail(std::string(takes) + " arguments after its options, not " +
                std::to_string(o.arguments.size()) + "; vellisk-ir --help shows them");
  }
  // Everything that can be refused is refused before any work.
  SweepParams params;
  if (const std::string e = sweep_params(o.sweep, o.arguments.data(), params); !e.empty()) {
    return fail(e);
  }
  ResponseJob job;
  if (const std::string e = prepare_response_job(o, o.channels, params, o.arguments[files],
                                                 o.arguments[files + 1], job);
      !e.empty()) {
    return fail(e);
  }
  return run_response_job(job);
}

}  // namespace vellisk
