// Entry point of vellisk-room.
#include <cerrno>
#include <cstdlib>
#include <new>

#include "cli/console.h"
#include "cli/process_guard.h"
#include "room_app/room_run.h"

int main(int argc, char** argv) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  try {
    return exit_status(run_room(argc, argv));
  } catch (const std::bad_alloc&) {
    // Outputs are only created once every file is analysed.
    print_error("Unable to allocate the memory the analysis needs", ENOMEM);
    return EXIT_FAILURE;
  }
}
