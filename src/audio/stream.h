// The full-duplex measurement stream: the sweep played and the inputs recorded
// on the server's clock, through lock-free rings between the realtime callback
// and two ordinary threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sweep/sweep_design.h"

namespace vellisk {

class JackClient;
class ResponseFile;

struct StreamSetup {
  SweepDesign design;                 // the sweep file's, played as vellisk writes it
  int repeats = 1;                    // the sweep file played this many times back to back
  std::int64_t tail = 0;              // frames recorded after the last sweep file ends
  std::vector<std::string> playback;  // ports the sweep is played to, one output each
  std::vector<std::string> capture;   // ports recorded, one input (and channel) each
  double fade = 0.02;                 // seconds of fade-out when a run is stopped early
};

// What the run has recorded so far, for a progress line.
struct StreamProgress {
  std::int64_t frames = 0;
  std::int64_t total = 0;
  std::vector<float> peaks;  // per input, the largest |sample| so far
};

enum class StreamOutcome { kComplete, kDropout, kInterrupted, kFailed, kRefused };

struct StreamResult {
  StreamOutcome outcome = StreamOutcome::kFailed;
  std::string error;         // kDropout, kFailed, kRefused: one line
  int signal = 0;            // kInterrupted: the signal that stopped the run
  std::int64_t xruns = 0;    // the server's xrun notices
  std::int64_t frames = 0;   // frames recorded
  std::vector<float> peaks;  // per input, the largest |sample|
  double worst_cycle = 0;    // seconds the longest callback took
  unsigned period = 0;       // frames per cycle
};

// Frames the setup records: repeats times the sweep file, and the tail.
std::int64_t recorded_frames(const StreamSetup& setup);

// Plays and records on an open client whose rate is the design's. file is open
// for the inputs' channels and is written by the stream, not closed.
// stop_signal is asked often: a signal number it returns fades the sweep out
// (or, before it plays, ends the run at once) as kInterrupted. ready is asked
// once the ports are connected, before anything plays: a line it returns ends
// the run as kRefused. progress is called a few times a second from the
// calling thread.
StreamResult run_stream(JackClient& client, const StreamSetup& setup, ResponseFile& file,
                        const std::function<int()>& stop_signal,
                        const std::function<std::string()>& ready,
                        const std::function<void(const StreamProgress&)>& progress);

}  // namespace vellisk
