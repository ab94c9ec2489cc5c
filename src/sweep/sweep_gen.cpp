// Streaming of the sweep into a sample file.
#include "sweep/sweep_gen.h"

namespace vellisk {

void write_sweep(const SweepDesign& design, SampleFile& file) {
  emit_sweep(design, [&file](double sample) { return file.write(sample); });
}

}  // namespace vellisk
