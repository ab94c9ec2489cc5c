// The tests' JACK server and stand-in device.
#include "jack_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace {

void quiet(const char*) {}

// A client on the server, or null.
jack_client_t* open_client(const std::string& server, const char* name) {
  jack_set_error_function(quiet);
  jack_set_info_function(quiet);
  jack_status_t status{};
  return jack_client_open(
      name, static_cast<jack_options_t>(JackNoStartServer | JackServerName | JackUseExactName),
      &status, server.c_str());
}

}  // namespace

JackServer::JackServer(bool synchronous, int period) {
  static int count = 0;
  name_ = "vellisk-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
  const std::string frames = std::to_string(period);
  std::vector<const char*> argv = {"jackd", "-n", name_.c_str(), "-r"};
  if (synchronous) argv.push_back("-S");
  for (const char* a : {"-L", "2", "-d", "dummy", "-r", "48000", "-p"}) argv.push_back(a);
  argv.push_back(frames.c_str());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execvp("jackd", const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  if (pid_ < 0) {
    ADD_FAILURE() << "fork failed";
    return;
  }
  // Up to a minute for the server to answer, on a loaded machine.
  for (int ms = 0; ms < 60000; ms += 20) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      ADD_FAILURE() << "jackd ended at start with status "
                    << (WIFEXITED(status) ? WEXITSTATUS(status) : -1)
                    << (WIFEXITED(status) && WEXITSTATUS(status) == 127 ? " (is jackd installed?)"
                                                                        : "");
      return;
    }
    if (jack_client_t* probe = open_client(name_, "vellisk-test-probe")) {
      ready_ = jack_port_by_name(probe, "loopback:capture_1") != nullptr;
      jack_client_close(probe);
      if (ready_) return;
    }
    usleep(20000);
  }
  ADD_FAILURE() << "jackd " << name_ << " did not answer within a minute";
}

JackServer::~JackServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int ms = 0; ms < 10000; ms += 10) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool connect_ports(const std::string& server, const std::string& from, const std::string& to) {
  jack_client_t* client = open_client(server, "vellisk-test-patch");
  if (client == nullptr) return false;
  const bool done = jack_connect(client, from.c_str(), to.c_str()) == 0;
  jack_client_close(client);
  return done;
}

TestDevice::TestDevice(const std::string& server, std::vector<float> fir, std::size_t keep,
                       const std::string& source)
    : fir_(std::move(fir)), history_(fir_.size() - 1, 0.0f), kept_(keep) {
  client_ = open_client(server, "dut");
  if (client_ == nullptr) return;
  window_.resize(history_.size() + jack_get_buffer_size(client_));
  in_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  out_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (in_ == nullptr || out_ == nullptr || jack_set_process_callback(client_, process, this) != 0 ||
      jack_activate(client_) != 0 ||
      (!source.empty() && jack_connect(client_, source.c_str(), "dut:in") != 0)) {
    jack_client_close(client_);
    client_ = nullptr;
  }
}

TestDevice::~TestDevice() {
  if (client_ != nullptr) jack_client_close(client_);
}

std::vector<float> TestDevice::heard() {
  if (client_ != nullptr) jack_client_close(client_);
  client_ = nullptr;
  kept_.resize(count_.load());
  return kept_;
}

int TestDevice::process(unsigned frames, void* self) {
  TestDevice& d = *static_cast<TestDevice*>(self);
  const auto* in = static_cast<const float*>(jack_port_get_buffer(d.in_, frames));
  auto* out = static_cast<float*>(jack_port_get_buffer(d.out_, frames));
  const std::size_t at = d.count_.load();
  const std::size_t keep = std::min<std::size_t>(frames, d.kept_.size() - at);
  std::copy(in, in + keep, d.kept_.begin() + static_cast<std::ptrdiff_t>(at));
  d.count_.store(at + keep);
  const std::size_t h = d.history_.size();
  if (h + frames > d.window_.size()) return 1;  // the period grew: nothing is filtered
  std::copy(d.history_.begin(), d.history_.end(), d.window_.begin());
  std::copy(in, in + frames, d.window_.begin() + static_cast<std::ptrdiff_t>(h));
  for (unsigned n = 0; n < frames; ++n) {
    double sum = 0;
    for (std::size_t k = 0; k < d.fir_.size(); ++k) {
      sum += static_cast<double>(d.fir_[k]) * d.window_[h + n - k];
    }
    out[n] = static_cast<float>(sum);
  }
  std::copy(d.window_.begin() + frames, d.window_.begin() + frames + static_cast<std::ptrdiff_t>(h),
            d.history_.begin());
  return 0;
}
