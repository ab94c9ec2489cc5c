// The program's run: banner, usage or argument parsing, and the phases in order.
#pragma once

#include <cstdint>

#include "vellisk/sweep.h"

namespace vellisk {

// Number of arguments a run takes after the program name.
inline constexpr int kArgumentCount = 10;

// Prints the six-line report of lengths and file sizes, flushed once. A file's
// size counts its header too: sweep_header and inverse_header bytes (0 for
// headerless files).
void print_design_report(const SweepDesign& design, std::int64_t sweep_header = 0,
                         std::int64_t inverse_header = 0);

// Runs the program; returns the process exit status.
int run_sweep(int argc, char** argv);

}  // namespace vellisk
