// The library's live measurement: the sweep's rules for it, the client, the stream and the
// recording's own warnings.
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/jack_client.h"
#include "audio/stream.h"
#include "response/plausibility.h"
#include "sweep/out_of_memory.h"
#include "sweep/settings.h"
#include "sweep/validation.h"
#include "sweep/wav_header.h"
#include "vellisk/measure.h"

namespace vellisk {

struct LiveClient::Client {
  JackClient jack;
};

// The stream's way to the client's JACK client.
struct LiveAccess {
  static JackClient& jack(LiveClient& client) { return client.client_->jack; }
};

namespace {

void check(ProblemCode code, std::string error) {
  if (!error.empty()) throw Error(Problem(code, std::move(error)));
}

}  // namespace

std::optional<Problem> check_measure_sweep(const SweepParams& params) {
  if (std::optional<Problem> p = check_design(params)) return p;
  std::string error = measurement_error(params);
  if (error.empty() && !(std::abs(params.amplitude) <= 1)) {
    error = "amplitude (" + number_text(params.amplitude) +
            ") must be at most 1 in magnitude: 1 is the output's full scale";
  }
  if (error.empty() && !header_rate(params.rate)) {
    error = "rate (" + number_text(params.rate) + ") must be a whole number of samples per second";
  }
  if (error.empty()) return std::nullopt;
  return Problem(ProblemCode::invalid_design, std::move(error));
}

LiveClient::LiveClient() : client_(std::make_unique<Client>()) {}

LiveClient::~LiveClient() = default;

void LiveClient::open(const char* name) {
  check(ProblemCode::measurement_failed, client_->jack.open(name));
}

void LiveClient::close() { client_->jack.close(); }

double LiveClient::rate() const { return client_->jack.rate(); }

unsigned LiveClient::period() const { return client_->jack.buffer_size(); }

std::vector<PortInfo> LiveClient::ports() const { return client_->jack.ports(); }

void LiveClient::resolve(std::vector<std::string>& names, bool output, const char* option) const {
  check(ProblemCode::invalid_request, client_->jack.resolve(names, output, option));
}

std::optional<Problem> LiveClient::check_sharing(const std::vector<std::string>& playback,
                                                 const std::vector<std::string>& capture,
                                                 std::vector<std::string>& warnings,
                                                 SettingNames names) const {
  std::string error =
      client_->jack.sharing_error(playback, capture, warnings, names != nullptr ? names : field_name);
  if (error.empty()) return std::nullopt;
  return Problem(ProblemCode::invalid_request, std::move(error), Setting::playback);
}

std::optional<Problem> LiveClient::check_rate(double rate) const {
  if (rate == this->rate()) return std::nullopt;
  return Problem(ProblemCode::invalid_request,
                 "rate (" + number_text(rate) + ") must be the JACK server's sample rate (" +
                     number_text(this->rate()) + ")");
}

std::optional<Problem> check_live_port_count(const std::vector<std::string>& playback,
                                             const std::vector<std::string>& capture) {
  for (const auto& [ports, setting] : {std::pair{&playback, Setting::playback},
                                       std::pair{&capture, Setting::capture}}) {
    if (ports->size() <= kMaxLivePorts) continue;
    return Problem(ProblemCode::invalid_request,
                   std::string(marked(setting)) + " may be given at most " +
                       std::to_string(kMaxLivePorts) + " times",
                   setting, static_cast<double>(ports->size()));
  }
  return std::nullopt;
}

std::optional<Problem> check_live_ports(const std::vector<std::string>& playback,
                                        const std::vector<std::string>& capture,
                                        std::vector<std::string>& warnings, SettingNames names) {
  if (std::optional<Problem> p = check_live_port_count(playback, capture)) return p;
  for (std::size_t i = 0; i < playback.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (playback[i] != playback[j]) continue;
      return Problem(ProblemCode::invalid_request,
                     marked(Setting::playback) + (" (" + playback[i]) +
                         ") is given twice: the sweep would reach it twice, at twice the level; "
                         "name each port once",
                     Setting::playback);
    }
  }
  const char* capture_name = (names != nullptr ? names : field_name)(Setting::capture);
  for (std::size_t i = 0; i < capture.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (capture[i] != capture[j]) continue;
      warnings.push_back(capture_name + (" (" + capture[i]) + ") is given twice: channels " +
                         std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                         " of the recording are the same input; name each port once");
    }
  }
  return std::nullopt;
}

long LiveClient::latency(const std::vector<std::string>& playback,
                         const std::vector<std::string>& capture) const {
  return client_->jack.latency(playback, capture);
}

LiveResult measure_live(LiveClient& client, const LiveSetup& setup, RecordingSink& sink,
                        const LiveCallbacks& callbacks) {
  return memory_checked([&] {
    return run_stream(LiveAccess::jack(client), setup, sink, callbacks);
  });
}

std::vector<Warning> recording_warnings(const SampleLevels& levels, int channel) {
  ChannelResult levels_only;  // no response: only the recording's own rules apply
  levels_only.recorded = levels;
  return plausibility_warnings(levels_only, channel, Layout{}, 0);
}

}  // namespace vellisk
