// The JACK client: opening, port listing and port checks.
#include "audio/jack_client.h"

#include <jack/jack.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sweep/settings.h"

namespace vellisk {

namespace {

// JACK's own messages would add lines to the program's one-line errors.
void quiet(const char*) {}

std::string direction(bool output) {
  return output ? "an output (capture) port" : "an input (playback) port";
}

}  // namespace

std::string server_name() {
  const char* name = std::getenv("JACK_DEFAULT_SERVER");
  return name != nullptr && *name != '\0' ? name : "default";
}

JackClient::~JackClient() { close(); }

std::string JackClient::open(const char* name) {
  jack_set_error_function(quiet);
  jack_set_info_function(quiet);
  jack_status_t status{};
  asked_ = name;
  client_ = jack_client_open(name, JackNoStartServer, &status);
  if (client_ != nullptr) return "";
  if ((status & JackServerFailed) != 0 || (status & JackServerError) != 0) {
    return "No JACK server named '" + server_name() +
           "' is running (vellisk-measure never starts one); start it, for example with "
           "jackd -d alsa -d hw:NAME -r 48000 -p 256, or run under pw-jack";
  }
  char code[16];
  std::snprintf(code, sizeof code, "0x%x", static_cast<unsigned>(status));
  return "Unable to open a JACK client on server '" + server_name() + "' (JACK status " + code +
         ")";
}

void JackClient::close() {
  if (client_ != nullptr) jack_client_close(client_);
  client_ = nullptr;
}

double JackClient::rate() const { return jack_get_sample_rate(client_); }

unsigned JackClient::buffer_size() const { return jack_get_buffer_size(client_); }

std::vector<PortInfo> JackClient::ports() const {
  std::vector<PortInfo> list;
  const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, 0);
  for (const char** n = names; n != nullptr && *n != nullptr; ++n) {
    const jack_port_t* port = jack_port_by_name(client_, *n);
    if (port == nullptr) continue;
    const int flags = jack_port_flags(port);
    list.push_back({*n, (flags & JackPortIsOutput) != 0, (flags & JackPortIsPhysical) != 0});
  }
  jack_free(static_cast<void*>(names));
  return list;
}

std::string JackClient::resolve(std::vector<std::string>& names, bool output,
                                const char* option) const {
  if (names.empty()) {
    const char** found =
        jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                       JackPortIsPhysical | (output ? JackPortIsOutput : JackPortIsInput));
    if (found != nullptr && found[0] != nullptr) names.push_back(found[0]);
    jack_free(static_cast<void*>(found));
    if (names.empty()) {
      return std::string("The JACK server has no physical ") + (output ? "capture" : "playback") +
             " port; name one with " + option + " (vellisk-measure --list shows the ports)";
    }
  }
  for (std::string& name : names) {
    const jack_port_t* port = jack_port_by_name(client_, name.c_str());
    if (port == nullptr) {
      return std::string(option) + " (" + name +
             ") is not a port of the JACK server; vellisk-measure --list shows the ports";
    }
    const bool is_output = (jack_port_flags(port) & JackPortIsOutput) != 0;
    if (is_output != output || std::string(jack_port_type(port)) != JACK_DEFAULT_AUDIO_TYPE) {
      return std::string(option) + " (" + name + ") is " +
             (std::string(jack_port_type(port)) != JACK_DEFAULT_AUDIO_TYPE
                  ? std::string("not an audio port")
                  : direction(is_output)) +
             "; " + option + " takes " + direction(output);
    }
    name = jack_port_name(port);
  }
  return "";
}

bool JackClient::another_instance(const std::string& client) const {
  return client != jack_get_client_name(client_) &&
         (client == asked_ || client.rfind(asked_ + "-", 0) == 0);
}

std::string JackClient::sharing_error(const std::vector<std::string>& playback,
                                      const std::vector<std::string>& capture,
                                      std::vector<std::string>& warnings,
                                      SettingNames names) const {
  const std::string own = jack_get_client_name(client_);
  // The ports connected to name that belong to other clients.
  const auto others = [&](const std::string& name) {
    std::vector<std::string> list;
    const jack_port_t* port = jack_port_by_name(client_, name.c_str());
    const char** connected = port != nullptr ? jack_port_get_all_connections(client_, port) : nullptr;
    for (const char** c = connected; c != nullptr && *c != nullptr; ++c) {
      if (std::string(*c).rfind(own + ":", 0) != 0) list.emplace_back(*c);
    }
    jack_free(static_cast<void*>(connected));
    return list;
  };
  const auto client_of = [](const std::string& port) { return port.substr(0, port.find(':')); };
  for (const std::string& name : playback) {
    for (const std::string& source : others(name)) {
      if (another_instance(client_of(source))) {
        return marked(Setting::playback) + (" (" + name) + ") is played to by another " +
               asked_ + " (" + client_of(source) +
               ") too: two sweeps at once would spoil both recordings; wait until it ends";
      }
      warnings.push_back(names(Setting::playback) + (" (" + name) + ") also plays what " +
                         source + " sends, which adds to the sweep; disconnect it and measure again");
    }
  }
  for (const std::string& name : capture) {
    for (const std::string& reader : others(name)) {
      if (!another_instance(client_of(reader))) continue;
      warnings.push_back(names(Setting::capture) + (" (" + name) + ") is recorded by another " +
                         asked_ + " (" + client_of(reader) +
                         ") too: where its sweep reaches this input, each recording holds both "
                         "sweeps; measure one at a time");
    }
  }
  return "";
}

long JackClient::latency(const std::vector<std::string>& playback,
                         const std::vector<std::string>& capture) const {
  const auto most = [&](const std::vector<std::string>& names, jack_latency_callback_mode_t mode) {
    long frames = 0;
    for (const std::string& name : names) {
      jack_latency_range_t range{};
      if (jack_port_t* port = jack_port_by_name(client_, name.c_str())) {
        jack_port_get_latency_range(port, mode, &range);
      }
      frames = std::max(frames, static_cast<long>(range.max));
    }
    return frames;
  };
  return most(playback, JackPlaybackLatency) + most(capture, JackCaptureLatency);
}

}  // namespace vellisk
