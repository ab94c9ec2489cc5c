// A JACK client: connecting to a running server, its ports and their checks.
#pragma once

#include <string>
#include <vector>

#include "vellisk/measure.h"

struct _jack_client;

namespace vellisk {

class JackClient {
 public:
  JackClient() = default;
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // Connects to the running server (JACK_DEFAULT_SERVER, or the default one) as
  // a client named name, or a free variant of it; never starts a server.
  // Returns "", or one line saying why not.
  std::string open(const char* name);

  // Closes the client: its ports are unregistered and disconnected.
  void close();

  _jack_client* get() const { return client_; }
  double rate() const;
  unsigned buffer_size() const;

  // Every audio port of the server, in the server's order.
  std::vector<PortInfo> ports() const;

  // Fills an empty list with the first physical port of the direction asked
  // (output: a capture), checks that every name is a port of that direction,
  // and puts each port's own name for an alias. Returns "", or one line naming
  // the port and what is wrong; option names the option in it.
  std::string resolve(std::vector<std::string>& names, bool output, const char* option) const;

  // The other clients on the ports of a run, once this client's are
  // connected. Another instance of this program (a client named as this one
  // was asked to be, or a variant) playing to a playback port is refused: the
  // two sweeps would sum in both recordings. Any other client playing to one,
  // or another instance recording a capture port, is added to warnings, which
  // call the lists by names' names. Returns "" or the refusal, its list marked
  // (Setting::playback).
  std::string sharing_error(const std::vector<std::string>& playback,
                            const std::vector<std::string>& capture,
                            std::vector<std::string>& warnings, SettingNames names) const;

  // The most frames the server says a sample takes from playback to the
  // ports played to, plus from the capture ports recorded.
  long latency(const std::vector<std::string>& playback,
               const std::vector<std::string>& capture) const;

 private:
  // Whether a client's name is that of another client opened as this one was.
  bool another_instance(const std::string& client) const;

  _jack_client* client_ = nullptr;
  std::string asked_;  // the name asked for at open
};

}  // namespace vellisk
