// The program's run: banner, usage or argument parsing, and the phases in order.
#pragma once

#include "sweep/sweep_design.h"

// Number of arguments a run takes after the program name.
inline constexpr int kArgumentCount = 10;

// Reads arguments 1 to 8 of argv as numbers, the way atof does: leading blanks
// skipped, the longest numeric prefix converted, no prefix reading as 0.
SweepParams parse_arguments(const char* const* argv);

// Prints the six-line report of lengths and file sizes, flushed once.
void print_design_report(const SweepDesign& design);

// Runs the program; returns the process exit status.
int run(int argc, const char* const* argv);
