// The floor of a run: a program that computes a design's sweep and inverse samples and writes
// nothing.
#include <cstdio>
#include <cstdlib>

#include "sweep/inverse_gen.h"
#include "sweep/sweep_gen.h"

using namespace vellisk;

int main(int argc, char** argv) {
  if (argc < 9) {
    std::fprintf(
        stderr,
        "usage: vellisk_compute rate amplitude hzstart hzend duration silence leadin leadout\n");
    return 1;
  }
  double n[8];
  for (int i = 0; i < 8; ++i) n[i] = std::strtod(argv[i + 1], nullptr);
  const SweepDesign design = compute_design({n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]});
  double sum = 0;
  emit_sweep(design, [&sum](double v) { sum += v; });
  emit_inverse(design, normfactor(design), [&sum](double v) { sum += v; });
  std::printf("%g\n", sum);
  return 0;
}
