// Entry point of vellisk.
#include <cstdlib>

#include "cli/console.h"
#include "app/driver.h"
#include "cli/process_guard.h"

int main(int argc, char** argv) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  return exit_status(run(argc, argv));
}
