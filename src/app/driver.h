// The program's run: banner, usage or argument parsing, and the phases in order.
#pragma once

#include "sweep/sweep_design.h"

// Number of arguments a run takes after the program name.
inline constexpr int kArgumentCount = 10;

// Prints the six-line report of lengths and file sizes, flushed once.
void print_design_report(const SweepDesign& design);

// Runs the program; returns the process exit status.
int run(int argc, const char* const* argv);
