// The run of vellisk-ir: its checks, the measurement, the report and the files.
#pragma once

// Runs the program; returns the process exit status.
int run_ir(int argc, char** argv);
