// The library's version at run time.
#include "vellisk/version.h"

namespace vellisk {

const char* version() noexcept { return VELLISK_VERSION; }

}  // namespace vellisk
