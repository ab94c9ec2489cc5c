// Entry point of vellisk-ir.
#include <cstdlib>

#include "app/console.h"
#include "app/process_guard.h"
#include "ir/ir_run.h"

int main(int argc, char** argv) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  const int status = run_ir(argc, argv);
  if (const int error = output_error(); error != 0) {
    print_error("Unable to write standard output", error);
    return EXIT_FAILURE;
  }
  return status;
}
