// What the machine allows the process.
#pragma once

#include <cstddef>

namespace vellisk {

// The bytes of memory this process may use: the machine's physical memory,
// or less under a limit on its address space or data (ulimit -v, -d).
double usable_memory();

// Has the system map the pages of [p, p + bytes), all of which are about to be written, in one
// call: a page fault for each page costs several microseconds, more on a virtual machine, and a
// buffer of a few MiB has hundreds. Does nothing where the system cannot (before Linux 5.14),
// and leaves what cannot be mapped now to be mapped when written.
void map_now(void* p, std::size_t bytes);

// Under AddressSanitizer, marks the first `used` bytes of a block of `size` bytes as in use and
// poisons the rest, so that a write past what is in use is reported although the block is
// rounded up to its alignment; does nothing otherwise.
void mark_in_use(void* block, std::size_t used, std::size_t size);

}  // namespace vellisk
