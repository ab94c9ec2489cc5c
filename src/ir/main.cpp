// Entry point of vellisk-ir.
#include <cerrno>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "cli/console.h"
#include "cli/process_guard.h"
#include "ir/ir_run.h"

int main(int argc, char** argv) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  try {
    return exit_status(run_ir(argc, argv));
  } catch (const std::length_error&) {
    // The window's checks keep every transform far below the largest size.
    print_error("Unable to plan a transform that large", EFBIG);
    return EXIT_FAILURE;
  } catch (const std::bad_alloc&) {
    // Before any output is opened: the transforms' buffers are taken first.
    print_error("Unable to allocate the memory the transforms need", ENOMEM);
    return EXIT_FAILURE;
  }
}
