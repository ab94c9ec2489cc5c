// Running out of memory as the library reports it: Error with ProblemCode::out_of_memory.
#pragma once

#include <new>

#include "vellisk/problem.h"

namespace vellisk {

// The error of an allocation the machine refused while a computation ran: its value 0, since
// what the computation needs is not known (a refusal made beforehand gives it).
[[noreturn]] inline void throw_out_of_memory() {
  throw Error(Problem(ProblemCode::out_of_memory,
                      "Unable to allocate the memory the computation needs"));
}

// compute(), with a std::bad_alloc from within it (a container that could not grow) thrown as
// throw_out_of_memory's error: the body of an API function that allocates as it computes.
template <class Compute>
auto memory_checked(Compute compute) -> decltype(compute()) {
  try {
    return compute();
  } catch (const std::bad_alloc&) {
    throw_out_of_memory();
  }
}

}  // namespace vellisk
