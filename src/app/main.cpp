// Entry point of vellisk.
#include <cstdlib>

#include "app/console.h"
#include "app/driver.h"
#include "app/process_guard.h"

int main(int argc, char** argv) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  const int status = run(argc, argv);
  // Lost progress and report lines are a failure too, even when the files are complete.
  if (const int error = output_error(); error != 0) {
    print_error("Unable to write standard output", error);
    return EXIT_FAILURE;
  }
  return status;
}
