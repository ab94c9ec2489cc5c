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
  if (o.help || o.arguments.empty()) {
    for (const char* line : kIrHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  if (o.arguments.size() != 10) {
    return fail("vellisk-ir takes 10 arguments after its options, not " +
                std::to_string(o.arguments.size()) + "; vellisk-ir --help shows them");
  }
  // Everything that can be refused is refused before any work.
  ResponseJob job;
  if (const std::string e = prepare_response_job(o, o.channels, o.arguments.data(),
                                                 o.arguments[8], o.arguments[9], job);
      !e.empty()) {
    return fail(e);
  }
  return run_response_job(job);
}

}  // namespace vellisk
