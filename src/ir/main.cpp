// Entry point of vellisk-ir.
#include <cstdlib>

#include "app/console.h"
#include "app/process_guard.h"
#include "ir/ir_run.h"

int main(int argc, char** argv) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  return exit_status(run_ir(argc, argv));
}
