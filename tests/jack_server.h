// Test helpers: a JACK dummy server of the test's own, and a device under test on it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <vector>

struct _jack_client;
struct _jack_port;

// jackd with the dummy driver at 48 kHz, under a name no other test uses, with
// two loopback ports each way (what is played to loopback:playback_N comes back
// from loopback:capture_N one period later). Synchronous unless asked: the
// server then waits for a late client instead of dropping its cycles. The
// server is stopped by its process id when the object goes. A server that
// cannot be started or does not answer fails the test.
class JackServer {
 public:
  explicit JackServer(bool synchronous = true, int period = 256);
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  const std::string& name() const { return name_; }
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
  bool ready_ = false;
};

// Connects two ports of the server, as another program would; true once done.
bool connect_ports(const std::string& server, const std::string& from, const std::string& to);

// A client named "dut" on the server standing in for a device under test:
// what reaches dut:in is filtered by fir and given out at dut:out. The first
// keep samples that reach it are kept; source, when given, is connected to it.
class TestDevice {
 public:
  TestDevice(const std::string& server, std::vector<float> fir, std::size_t keep = 0,
             const std::string& source = "");
  ~TestDevice();
  TestDevice(const TestDevice&) = delete;
  TestDevice& operator=(const TestDevice&) = delete;
  bool ready() const { return client_ != nullptr; }
  // The samples kept; closes the client.
  std::vector<float> heard();

 private:
  static int process(unsigned frames, void* self);
  _jack_client* client_ = nullptr;
  _jack_port* in_ = nullptr;
  _jack_port* out_ = nullptr;
  std::vector<float> fir_;
  std::vector<float> history_;  // the last fir_.size() - 1 inputs, newest last
  std::vector<float> window_;   // history and one period, for the convolution
  std::vector<float> kept_;
  std::atomic<std::size_t> count_{0};
};
