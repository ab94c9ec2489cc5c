// The memory the machine allows, and mapping it ahead of the writes.
#include "io/memory.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace vellisk {

double usable_memory() {
  double bytes =
      static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit {};
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      bytes = std::min(bytes, static_cast<double>(limit.rlim_cur));
    }
  }
  return bytes;
}

void map_now(void* p, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  // The pages the bytes lie in, which are mapped for the process; a page already mapped keeps
  // what it holds.
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(p) / page * page;
  const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes + page - 1) / page * page;
  if (bytes > 0) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)p, (void)bytes;
#endif
}

void mark_in_use(void* block, std::size_t used, std::size_t size) {
#if defined(__SANITIZE_ADDRESS__)
  ASAN_UNPOISON_MEMORY_REGION(block, used);
  ASAN_POISON_MEMORY_REGION(static_cast<char*>(block) + used, size - used);
#else
  (void)block, (void)used, (void)size;
#endif
}

}  // namespace vellisk
