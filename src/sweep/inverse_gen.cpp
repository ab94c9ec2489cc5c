// Streaming of the inverse filter into a sample file.
#include "sweep/inverse_gen.h"

namespace vellisk {

void write_inverse(const SweepDesign& design, double factor, SampleFile& file) {
  emit_inverse(design, factor, [&file](double sample) { return file.write(sample); });
}

}  // namespace vellisk
