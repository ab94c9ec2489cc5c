// The run of vellisk-spin: its options, the responses read, the curves, the rating and their files.
#pragma once

namespace vellisk {

// Runs the program; returns the process exit status.
int run_spin(int argc, char** argv);

}  // namespace vellisk
