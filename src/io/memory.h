// What the machine allows the process.
#pragma once

namespace vellisk {

// The bytes of memory this process may use: the machine's physical memory,
// or less under a limit on its address space or data (ulimit -v, -d).
double usable_memory();

}  // namespace vellisk
