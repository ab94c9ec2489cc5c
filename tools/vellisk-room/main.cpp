// Entry point of vellisk-room.
#include "common/run_main.h"
#include "run.h"

int main(int argc, char** argv) {
  vellisk::MainTexts texts;
  // Outputs are only created once every file is analysed.
  texts.out_of_memory = "Unable to allocate the memory the analysis needs";
  texts.quiet_broken_pipe = true;
  return vellisk::run_main(argc, argv, vellisk::run_room, texts);
}
