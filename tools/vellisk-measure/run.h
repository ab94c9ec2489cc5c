// The run of vellisk-measure: its checks, the stream, the report and the files.
#pragma once

namespace vellisk {

// Runs the program; returns the process exit status.
int run_measure(int argc, char** argv);

}  // namespace vellisk
