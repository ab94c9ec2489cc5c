// The memory the machine allows.
#include "io/memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

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

}  // namespace vellisk
