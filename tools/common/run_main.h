// What every program's main does around its run: the process's protections, what escapes the
// run, and the exit status.
#pragma once

#include "vellisk/problem.h"

namespace vellisk {

// The lines of what may escape a run.
struct MainTexts {
  // An allocation refused, the library's (allocation_failed) or the program's own
  // (std::bad_alloc): "<this>: Cannot allocate memory".
  const char* out_of_memory = "Unable to allocate memory";
  // A std::length_error (a transform too large to plan), likewise with EFBIG's text; null
  // leaves it uncaught.
  const char* too_large = nullptr;
  // When the run succeeded but its report's reader has gone (`... | head`) and there is
  // nothing else to say, end quietly by SIGPIPE, as the system's tools do.
  bool quiet_broken_pipe = false;
};

// Whether e is the library's report of an allocation the machine refused while a computation
// ran (ProblemCode::out_of_memory with no need known), which run_main words, rather than a
// refusal made beforehand, which names the memory needed.
bool allocation_failed(const Error& e);

// In a handler of Error, before the handler words it: rethrows e when allocation_failed, for
// run_main to word it.
void pass_allocation_failure(const Error& e);

// Guards the process (guard_process), runs run(argc, argv), turns what escapes it into one
// line on standard error and status 1, and returns the status the process ends with
// (exit_status: 1 when standard output could not be written).
int run_main(int argc, char** argv, int (*run)(int, char**), const MainTexts& texts = {});

}  // namespace vellisk
