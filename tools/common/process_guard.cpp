// Standard descriptors, signal handling and removal of incomplete outputs.
#include "common/process_guard.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/console.h"
#include "common/paths.h"

namespace vellisk {

namespace {

constexpr int kWatches = 1024;

// The signals that end a run, after its incomplete outputs are removed.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : kStopSignals) sigaddset(&set, s);
  return set;
}

// The names an open creates or truncates, with links followed. The handler
// reads them, so a name is in place before its watch is armed, and is freed
// only after it is disarmed.
char* watched[kWatches];
volatile std::sig_atomic_t armed[kWatches];

// Async-signal-safe: stat and unlink only.
void remove_if_regular(const char* name) {
  struct stat st {};
  if (stat(name, &st) == 0 && S_ISREG(st.st_mode)) unlink(name);
}

extern "C" void end_on_signal(int signal_number) {
  for (int i = 0; i < kWatches; ++i) {
    if (armed[i] != 0) remove_if_regular(watched[i]);
  }
  // The handler was reset to the default on entry: the signal ends the process
  // as soon as it returns, and the exit status says which signal it was.
  raise(signal_number);
}

}  // namespace

bool guard_process() {
  bool filled = true;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one: the lower ones are open.
    if (open("/dev/null", O_RDWR) != fd) filled = false;
    if (fd == 1) fail_output(EBADF);
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = end_on_signal;
  action.sa_flags = SA_RESETHAND;
  action.sa_mask = stop_signals();
  for (const int s : kStopSignals) {
    struct sigaction old {};
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      sigaction(s, &action, nullptr);
    }
  }
  return filled;
}

int watch_output(const char* name) {
  for (int i = 0; i < kWatches; ++i) {
    if (armed[i] != 0) continue;
    std::free(watched[i]);
    watched[i] = strdup(final_name(name).c_str());
    if (watched[i] == nullptr) return -1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    armed[i] = 1;
    return i;
  }
  return -1;
}

void release_output(int watch) {
  if (watch >= 0) armed[watch] = 0;
}

void remove_output(int watch) {
  if (watch < 0) return;
  armed[watch] = 0;
  remove_if_regular(watched[watch]);
}

HeldSignals::HeldSignals() {
  const sigset_t set = stop_signals();
  held_ = pthread_sigmask(SIG_BLOCK, &set, &before_) == 0;
}

int HeldSignals::pending() const {
  sigset_t waiting;
  if (sigpending(&waiting) != 0) return 0;
  for (const int s : kStopSignals) {
    if (sigismember(&waiting, s) == 1) return s;
  }
  return 0;
}

void HeldSignals::release() {
  if (held_) pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  held_ = false;
}

void HeldSignals::honour() {
  const int s = pending();
  if (s == 0) return;
  // Delivered to the process guard's handler, which removes the outputs being
  // written and ends the process; an outer hold does not keep it waiting.
  release();
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, s);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  std::signal(s, SIG_DFL);
  raise(s);
  std::_Exit(128 + s);
}

}  // namespace vellisk
