/// @file
/// A live measurement through a JACK server: the sweep file vellisk writes, played to ports
/// and recorded from others in the same cycles, on the server's clock.
///
/// A measurement takes these steps, each refusing what it can before anything plays:
///   check_measure_sweep, check_live_port_count     the sweep and the ports' count, before any
///                                                  server;
///   LiveClient::open, resolve, check_live_ports, check_sharing   the server and its ports;
///   measure_live(client, setup, sink, callbacks)   plays the sweep and records the inputs.
/// The level of a measurement is found first with a burst: level_burst's design, measured the
/// same way into a LevelMeter.
///
/// Realtime: the server's callback only moves samples between the ports and lock-free rings;
/// it never allocates, locks, waits, logs or does I/O. The sweep is computed ahead by one
/// ordinary thread, and the recording handed to the sink by another. Memory does not grow
/// with the recording's length or the number of repeats.
///
/// Threads: a client serves one thread at a time (a measurement's own threads aside); the
/// functions that take no client depend on their arguments alone and may be called from any
/// thread. Errors: checks return the problem; the rest throw Error.
///
/// Only in a library built with JACK (libjack of JACK2, or of PipeWire's JACK layer).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vellisk/problem.h"
#include "vellisk/response.h"
#include "vellisk/sweep.h"
#include "vellisk/export.h"

namespace VELLISK_API vellisk {

// ---------------------------------------------------------------------------------------------
// The sweep

/// The rules a live measurement adds to a design's: check_design's, then a sweep that is not
/// silent, an amplitude of at most 1 in magnitude (the output's full scale) and a whole rate
/// of samples per second. None, or the problem (ProblemCode::invalid_design) naming the value
/// and the rule.
std::optional<Problem> check_measure_sweep(const SweepParams& params);

// ---------------------------------------------------------------------------------------------
// The server

/// One port of the server. A JACK output gives sound (a capture, to record); a JACK input
/// takes it (a playback, to play to).
struct PortInfo {
  std::string name;       ///< the port's full name, "system:capture_1"
  bool output = false;    ///< a JACK output: a capture
  bool physical = false;  ///< a sound card's port
};

/// The name of the server a client connects to: JACK_DEFAULT_SERVER, or "default".
std::string server_name();

/// A client of a running JACK server.
class LiveClient {
 public:
  LiveClient();
  ~LiveClient();
  LiveClient(const LiveClient&) = delete;
  LiveClient& operator=(const LiveClient&) = delete;

  /// Connects to the running server (server_name) as a client named name, or a free variant
  /// of it; never starts a server. Throws Error (ProblemCode::measurement_failed) when no server
  /// runs or it refuses the client.
  void open(const char* name);

  /// Closes the client: its ports are unregistered and disconnected. Open again to go on.
  void close();

  /// The server's sample rate, Hz; of an open client.
  double rate() const;
  /// The server's period, frames a cycle; of an open client.
  unsigned period() const;

  /// Every audio port of the server, in the server's order.
  std::vector<PortInfo> ports() const;

  /// Fills an empty list with the first physical port of the direction asked (output: a
  /// capture), checks that every name is a port of that direction, and puts each port's own
  /// name for an alias. Throws Error (ProblemCode::invalid_request) naming the port, what is
  /// wrong, and option, the caller's name for the list ("--out").
  void resolve(std::vector<std::string>& names, bool output, const char* option) const;

  /// The other clients on a run's ports, once this client's are connected (or before). Another
  /// instance of this client (named as it asked, or a variant) playing to a playback port is
  /// the problem (ProblemCode::invalid_request): the two sweeps would sum in both recordings.
  /// Any other client playing to one, or another instance recording a capture port, adds a
  /// line to warnings, which say what will probably happen and what to do. describe words the
  /// problem in a caller's names; the warnings call the lists by names' names for
  /// Setting::playback and Setting::capture (nullptr: the fields', "playback" and "capture").
  std::optional<Problem> check_sharing(const std::vector<std::string>& playback,
                                       const std::vector<std::string>& capture,
                                       std::vector<std::string>& warnings,
                                       SettingNames names = nullptr) const;

  /// The rule on a sweep's rate, rate Hz: the server's own. None, or the problem
  /// (ProblemCode::invalid_request) naming both.
  std::optional<Problem> check_rate(double rate) const;

  /// The most frames the server says a sample takes from this client to the ports played to,
  /// plus from the capture ports recorded to this client.
  long latency(const std::vector<std::string>& playback,
               const std::vector<std::string>& capture) const;

 private:
  /// The library's own way to the JACK client.
  friend struct LiveAccess;
  struct Client;
  std::unique_ptr<Client> client_;  ///< the JACK client
};

/// The most ports a run plays to, and the most it records.
inline constexpr std::size_t kMaxLivePorts = 64;

/// The rule on how many ports a run names, which needs no server: at most kMaxLivePorts to play
/// to and as many to record. None, or the problem (ProblemCode::invalid_request) naming the list
/// by its setting (Setting::playback, checked first, or Setting::capture), its value the count;
/// describe words it in a caller's names. A caller that takes the names one by one checks each
/// list as it grows.
std::optional<Problem> check_live_port_count(const std::vector<std::string>& playback,
                                             const std::vector<std::string>& capture);

/// The rules on a run's ports, resolved: check_live_port_count's, then a playback port named
/// twice is the problem (ProblemCode::invalid_request, Setting::playback), since the sweep would
/// reach it twice, at twice the level; a capture port named twice adds a line to warnings (two
/// channels of the recording are one input). describe words the problem in a caller's names; the
/// warnings' lines call the lists by names' names for Setting::playback and Setting::capture
/// (nullptr: the fields', "playback" and "capture").
std::optional<Problem> check_live_ports(const std::vector<std::string>& playback,
                                        const std::vector<std::string>& capture,
                                        std::vector<std::string>& warnings,
                                        SettingNames names = nullptr);

// ---------------------------------------------------------------------------------------------
// The measurement

/// What is played and recorded. The ranges of repeats and of the tail in seconds are
/// check_setting's (Setting::repeat, Setting::tail).
struct LiveSetup {
  SweepDesign design;                 ///< the sweep file's, played as vellisk writes it
  int repeats = 1;                    ///< the sweep file played this many times back to back
  std::int64_t tail = 0;              ///< frames recorded after the last sweep file ends
  std::vector<std::string> playback;  ///< ports the sweep is played to, the same to each
  std::vector<std::string> capture;   ///< ports recorded, one channel each
  double fade = 0.02;                 ///< s of fade-out when a run is stopped early
};

/// Frames a setup records: repeats times the sweep file, and the tail.
std::int64_t recorded_frames(const LiveSetup& setup);

/// Where the recording goes, a block of interleaved frames at a time, in order, from one
/// ordinary thread of the measurement's (never the server's callback).
class RecordingSink {
 public:
  virtual ~RecordingSink() = default;
  /// Takes count frames of the capture ports' channels, interleaved. Returns false when they
  /// could not be kept: the measurement then ends as LiveOutcome::failed.
  virtual bool write(const float* frames, std::int64_t count) = 0;
};

/// What a measurement has recorded so far, for a progress line.
struct LiveProgress {
  std::int64_t frames = 0;   ///< frames recorded
  std::int64_t total = 0;    ///< frames the measurement records
  std::vector<float> peaks;  ///< per input, the largest magnitude so far
};

/// How the calling thread is told of a measurement and asked about it.
struct LiveCallbacks {
  /// Asked often: a signal number it returns (not 0) fades the sweep out, or before it plays
  /// ends the run at once, as LiveOutcome::interrupted.
  std::function<int()> stop_signal = [] { return 0; };
  /// Asked once the ports are connected, before anything plays: a problem it returns ends
  /// the run as LiveOutcome::refused, with that problem.
  std::function<std::optional<Problem>()> ready = [] { return std::optional<Problem>(); };
  /// Called a few times a second.
  std::function<void(const LiveProgress&)> progress = [](const LiveProgress&) {};
};

/// How a measurement ended.
enum class LiveOutcome {
  complete,     ///< every frame was recorded
  dropout,      ///< cycles were missed, or the sweep or the recording did not keep up
  interrupted,  ///< stop_signal asked it to stop
  failed,       ///< the server stopped, or the sink or the client failed
  refused,      ///< ready refused it
};

/// What a measurement did.
struct LiveResult {
  LiveOutcome outcome = LiveOutcome::failed;  ///< how it ended
  /// Why it did not complete (dropout, failed, refused): ProblemCode::measurement_failed, or
  /// unwritable when the sink failed, or the problem ready returned.
  std::optional<Problem> problem;
  int signal = 0;            ///< interrupted: stop_signal's number
  std::int64_t xruns = 0;    ///< the server's notices of late cycles
  std::int64_t frames = 0;   ///< frames recorded
  std::vector<float> peaks;  ///< per input, the largest magnitude
  double worst_cycle = 0;    ///< s the longest callback took
  unsigned period = 0;       ///< frames a cycle
};

/// Plays the setup's sweep file to its playback ports and records its capture ports into sink,
/// on an open client whose rate is the design's and whose ports resolve has checked. The
/// recording starts in the cycle the sweep does. Throws Error only when memory runs out; every
/// other end is the result's.
LiveResult measure_live(LiveClient& client, const LiveSetup& setup, RecordingSink& sink,
                        const LiveCallbacks& callbacks = {});

// ---------------------------------------------------------------------------------------------
// The level

/// The peak a suggested amplitude aims at, dBFS: room for a louder resonance than the burst
/// found, and for the longer sweep's fuller build-up.
inline constexpr double kLevelTargetDbfs = -12;

/// The burst that sets the level: the sweep's band, amplitude and tapers over at most 3 s,
/// between 1 s of silence each side, in which the noise is measured. When the tapers do not
/// fit so short a sweep (a taper of 1 sample), the sweep's own length, silence 1 s.
SweepParams level_burst(const SweepParams& sweep);

/// What one input recorded of the burst.
struct InputLevel {
  float peak = 0;            ///< the largest magnitude
  std::int64_t clipped = 0;  ///< samples of magnitude 1 or more
  double noise_rms = 0;      ///< rms of the quietest tenth of a second: the noise
  /// Whether a sample reached full scale.
  bool clips() const { return clipped > 0; }
  /// Whether every sample was 0.
  bool silent() const { return peak == 0; }
  /// The peak, dBFS; of a peak above 0.
  double peak_dbfs() const;
  /// Whether there was noise (none: a digital path).
  bool has_noise() const { return noise_rms > 0; }
  /// The peak over the noise, dB; with noise.
  double peak_to_noise_db() const;
};

/// The levels of a recording's channels, taken in as it comes, a block of interleaved frames at
/// a time, in order; memory does not grow with the recording's length. A sink of a
/// measurement: it keeps every frame.
class LevelMeter : public RecordingSink {
 public:
  /// A meter of channels channels at rate samples a second.
  LevelMeter(int channels, double rate);
  /// Takes in count frames; always true.
  bool write(const float* frames, std::int64_t count) override;
  /// The levels, the noise over the tenths of a second completed.
  std::vector<InputLevel> levels() const;

 private:
  int channels_;
  std::int64_t stretch_;  // frames in a tenth of a second
  std::int64_t filled_ = 0;
  std::vector<InputLevel> levels_;
  std::vector<double> sum_;       // squares of the current stretch
  std::vector<double> quietest_;  // the lowest stretch's sum so far, -1 before the first
};

/// The amplitude that would bring a peak recorded at amplitude to kLevelTargetDbfs, for a
/// system that scales with the level.
double suggested_amplitude(double amplitude, float peak);

/// The warnings a recording's levels alone draw on channel `channel` (from 1): silent, clipped
/// or low (WarningCode::silent_recording, clipped, low_recording), as a measurement of it
/// would draw them; none for a clean recording. describe words them.
std::vector<Warning> recording_warnings(const SampleLevels& levels, int channel);

}  // namespace vellisk
