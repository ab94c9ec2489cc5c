// Entry point of vellisk-ir.
#include "common/run_main.h"
#include "run.h"

int main(int argc, char** argv) {
  vellisk::MainTexts texts;
  // Before any output is opened: the transforms' buffers are taken first; and the window's
  // checks keep every transform far below the largest size.
  texts.out_of_memory = "Unable to allocate the memory the transforms need";
  texts.too_large = "Unable to plan a transform that large";
  return vellisk::run_main(argc, argv, vellisk::run_ir, texts);
}
