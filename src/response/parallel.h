// Work spread over threads, done in the calling thread when no more threads can be started.
#pragma once

#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vellisk {

// Runs task(i) for i in [0, n), each on a thread of its own where one can be
// started and in the calling thread otherwise; returns when all are done, and
// throws in the calling thread what the first task to fail threw (running out
// of memory, say).
template <class Task>
void run_parallel(int n, Task task) {
  std::exception_ptr failure;
  std::mutex lock;
  const auto guarded = [&](int i) {
    try {
      task(i);
    } catch (...) {
      const std::lock_guard<std::mutex> hold(lock);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  int started = 0;
  for (; started < n; ++started) {
    try {
      threads.emplace_back(guarded, started);
    } catch (const std::system_error&) {
      break;
    }
  }
  for (int i = started; i < n; ++i) guarded(i);
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

// A task started on a thread of its own, or run at once when none can be.
class Background {
 public:
  template <class Task>
  explicit Background(Task task) {
    const auto guarded = [this, task] {
      try {
        task();
      } catch (...) {
        failure_ = std::current_exception();
      }
    };
    try {
      thread_ = std::thread(guarded);
    } catch (const std::system_error&) {
      guarded();
    }
  }
  ~Background() {
    if (thread_.joinable()) thread_.join();
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // Returns once the task is done, or throws what it threw. Called by one
  // thread at a time.
  void wait() {
    if (thread_.joinable()) thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::thread thread_;
  std::exception_ptr failure_;
};

}  // namespace vellisk
