// The phases of a run that write files, with their progress lines and failure reports.
#pragma once

#include <string>

#include "vellisk/sweep.h"

namespace vellisk {

// Writes the sweep file, after header (none for a headerless file). Returns 0,
// or 1 when the file cannot be opened or written.
int generate_sweep_file(const SweepDesign& design, const char* path,
                        const std::string& header = {});

// Prints the normalisation factor and writes the inverse file, after header.
// Returns 0, or 1 when the file cannot be opened or written.
int generate_inverse_file(const SweepDesign& design, const char* path,
                          const std::string& header = {});

}  // namespace vellisk
