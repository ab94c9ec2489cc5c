// The check a long computation makes between its steps of whether its caller has cancelled it.
#pragma once

#include "vellisk/problem.h"

namespace vellisk {

static_assert(CancelFlag::is_always_lock_free, "a signal handler must be able to raise the flag");

// Throws Error (ProblemCode::cancelled) when the flag is given and raised.
inline void throw_if_cancelled(const CancelFlag* flag) {
  if (flag != nullptr && flag->load(std::memory_order_relaxed)) {
    throw Error(Problem(ProblemCode::cancelled, "The computation was cancelled"));
  }
}

}  // namespace vellisk
