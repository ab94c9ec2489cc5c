// Entry point of vellisk.
#include "common/run_main.h"
#include "run.h"

int main(int argc, char** argv) { return vellisk::run_main(argc, argv, vellisk::run_sweep); }
