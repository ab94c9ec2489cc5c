// Entry point of vellisk-room.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <new>

#include "cli/console.h"
#include "cli/process_guard.h"
#include "room_app/room_run.h"

int main(int argc, char** argv) {
  if (!guard_process()) return EXIT_FAILURE;  // no /dev/null: nothing can be written safely
  try {
    const int status = run_room(argc, argv);
    if (status == EXIT_SUCCESS && output_error() == EPIPE) {
      // The report's reader has gone, as `vellisk-room ... | head` does: end
      // as the tools of the system do, quietly, by the signal.
      std::signal(SIGPIPE, SIG_DFL);
      std::raise(SIGPIPE);
    }
    return exit_status(status);
  } catch (const std::bad_alloc&) {
    // Outputs are only created once every file is analysed.
    print_error("Unable to allocate the memory the analysis needs", ENOMEM);
    return EXIT_FAILURE;
  }
}
