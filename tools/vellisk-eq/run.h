// The run of vellisk-eq: its options, the inputs read, the fit and its files.
#pragma once

namespace vellisk {

// Runs the program; returns the process exit status.
int run_eq(int argc, char** argv);

}  // namespace vellisk
