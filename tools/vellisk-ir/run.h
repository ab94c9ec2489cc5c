// The run of vellisk-ir: its options, then the response's checks, measurement, report and files.
#pragma once

namespace vellisk {

// Runs the program; returns the process exit status.
int run_ir(int argc, char** argv);

}  // namespace vellisk
