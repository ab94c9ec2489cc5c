// Entry point of vellisk.
#include "app/driver.h"

int main(int argc, char** argv) { return run(argc, argv); }
