// The output names of a run that reads files against those files, the standard streams and
// each other.
#include "common/io_names.h"

#include "common/outputs.h"
#include "common/paths.h"

namespace vellisk {

std::string names_error(const std::vector<std::string>& outputs,
                        const std::vector<std::string>& inputs, const std::string& what) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const char* name = outputs[i].c_str();
    for (const std::string& in : inputs) {
      if (same_file(in.c_str(), name)) {
        return "input and output (" + in + ", " + outputs[i] + ") must not name the same file: " +
               what + " would overwrite an input";
      }
    }
    if (std::string e = standard_stream_error("output", name); !e.empty()) return e;
    for (std::size_t j = 0; j < i; ++j) {
      if (same_file(outputs[j].c_str(), name)) {
        return "outputs (" + outputs[j] + ", " + outputs[i] +
               ") must not name the same file: one would overwrite the other";
      }
    }
    if (std::string e = output_error(outputs[i]); !e.empty()) {
      return "Unable to write " + outputs[i] + ": " + e;
    }
  }
  return "";
}

}  // namespace vellisk
