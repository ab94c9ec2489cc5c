// Entry point of vellisk-measure.
#include <cerrno>
#include <cstdlib>
#include <new>

#include "cli/console.h"
#include "cli/process_guard.h"
#include "measure/measure_run.h"

int main(int argc, char** argv) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  try {
    return exit_status(run_measure(argc, argv));
  } catch (const std::bad_alloc&) {
    print_error("Unable to allocate memory", ENOMEM);
    return EXIT_FAILURE;
  }
}
