// The run of vellisk-average: its options, the inputs read, the average and its files.
#pragma once

namespace vellisk {

// Runs the program; returns the process exit status.
int run_average(int argc, char** argv);

}  // namespace vellisk
