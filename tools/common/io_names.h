// The output names of a run that reads files against those files, the standard streams and
// each other.
#pragma once

#include <string>
#include <vector>

namespace vellisk {

// Returns "" unless an output names an input (what: "the average", the run's product, which
// would overwrite it), a standard stream, another output, or a file that cannot be written.
std::string names_error(const std::vector<std::string>& outputs,
                        const std::vector<std::string>& inputs, const std::string& what);

}  // namespace vellisk
