// Entry point of vellisk-eq.
#include "common/run_main.h"
#include "run.h"

int main(int argc, char** argv) {
  vellisk::MainTexts texts;
  texts.out_of_memory = "Unable to allocate the memory the correction needs";
  texts.quiet_broken_pipe = true;
  return vellisk::run_main(argc, argv, vellisk::run_eq, texts);
}
