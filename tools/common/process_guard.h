// Protections a program that writes files needs from its process: standard
// descriptors, signals that would end a write silently, and removal of
// incomplete output files.
#pragma once

#include <signal.h>

namespace vellisk {

// Call first in main. Fills a closed descriptor 0, 1 or 2 with /dev/null so
// that no output file takes its number (a closed standard output is then
// reported as a failure to write it); ignores SIGPIPE and SIGXFSZ, so that a
// broken pipe or a file-size limit becomes a failed write; and makes SIGINT,
// SIGTERM and SIGHUP remove the outputs being written before they end the
// process (a signal ignored at start stays ignored). Returns false when a
// closed descriptor could not be filled.
bool guard_process();

// Outputs being written. A name is watched from just before its file is
// opened until the file is complete; a regular file under a watched name is
// removed when the run is ended by a signal, or by remove_output().
// Devices and FIFOs are never removed. Returns the watch, or -1 when too many
// names are watched at once.
int watch_output(const char* name);

// The file is complete, or was never created: it stays.
void release_output(int watch);

// The file could not be written whole: removes it when it is a regular file.
void remove_output(int watch);

// Holds SIGINT, SIGTERM and SIGHUP pending, from construction until release,
// in the calling thread and every thread it starts meanwhile (a library's
// included), so that none interrupts a system call half done or runs a
// handler in another thread. Release restores the signal mask held before,
// so that a signal that came meanwhile then ends the process as
// guard_process arranged. Holds nest: an inner one leaves the outer's in place.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals() { release(); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

  // The first of SIGINT, SIGTERM and SIGHUP that came and waits, or 0.
  int pending() const;

  // Restores the mask held before; a signal that waits is delivered now.
  void release();

  // Ends the process by the signal that waits, if one does; returns otherwise.
  void honour();

 private:
  sigset_t before_;
  bool held_ = false;
};

}  // namespace vellisk
