// The run of vellisk-room: its checks, the analysis of each file, the report and the files.
#pragma once

namespace vellisk {

// Runs the program; returns the process exit status.
int run_room(int argc, char** argv);

}  // namespace vellisk
