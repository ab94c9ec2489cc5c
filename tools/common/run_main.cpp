// The frame of every program's run.
#include "common/run_main.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "common/console.h"
#include "common/process_guard.h"

namespace vellisk {

namespace {

int guarded_run(int argc, char** argv, int (*run)(int, char**), const MainTexts& texts) {
  if (texts.too_large == nullptr) return run(argc, argv);
  try {
    return run(argc, argv);
  } catch (const std::length_error&) {
    print_error(texts.too_large, EFBIG);
    return EXIT_FAILURE;
  }
}

}  // namespace

bool allocation_failed(const Error& e) {
  return e.code() == ProblemCode::out_of_memory && e.problem().value == 0;
}

void pass_allocation_failure(const Error& e) {
  if (allocation_failed(e)) throw;
}

int run_main(int argc, char** argv, int (*run)(int, char**), const MainTexts& texts) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  try {
    const int status = guarded_run(argc, argv, run, texts);
    if (texts.quiet_broken_pipe && status == EXIT_SUCCESS && output_error() == EPIPE) {
      std::signal(SIGPIPE, SIG_DFL);
      std::raise(SIGPIPE);
    }
    return exit_status(status);
  } catch (const Error& e) {
    if (!allocation_failed(e)) throw;
    print_error(texts.out_of_memory, ENOMEM);
    return EXIT_FAILURE;
  } catch (const std::bad_alloc&) {
    print_error(texts.out_of_memory, ENOMEM);
    return EXIT_FAILURE;
  }
}

}  // namespace vellisk
