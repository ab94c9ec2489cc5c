// The measurement stream: the realtime callback, the sweep feeder and the recording writer.
#include "audio/stream.h"

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

#include "audio/jack_client.h"
#include "sweep/sweep_gen.h"

namespace vellisk {

namespace {

constexpr std::size_t kSample = sizeof(float);
constexpr std::int64_t kBlockFrames = 4096;  // what the feeder and the writer move at once
constexpr long kPollNanoseconds = 2'000'000;
constexpr long kWaitNanoseconds = 10'000'000;  // the controlling thread's wait between checks
constexpr int kSilentCycles = 4;               // cycles played silent before the ports go
constexpr int kProgressEvery = 25;             // waits between progress reports

enum Dropout : int { kNoDropout, kCycleMissed, kUnderrun, kOverrun };

// A failure of the server, the client or the stream.
Problem failure(std::string line) {
  return Problem(ProblemCode::measurement_failed, std::move(line));
}

void nap() {
  const timespec t{0, kPollNanoseconds};
  nanosleep(&t, nullptr);
}

// The callback shares these with ordinary threads; a lock in one could make it wait.
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<std::int64_t>::is_always_lock_free &&
                  std::atomic<float>::is_always_lock_free,
              "the realtime callback's atomics must be lock-free");

// Everything the callback touches: set up before activation, then shared only
// through the rings and the atomics.
struct Engine {
  jack_client_t* client = nullptr;
  std::vector<jack_port_t*> outs;
  std::vector<jack_port_t*> ins;
  jack_ringbuffer_t* play = nullptr;  // the sweep file's samples, mono
  jack_ringbuffer_t* rec = nullptr;   // the inputs' samples, interleaved
  std::int64_t play_total = 0;
  std::int64_t rec_total = 0;
  std::int64_t fade_frames = 1;

  std::atomic<bool> start{false};     // play from the next cycle on
  std::atomic<bool> stop{false};      // fade out and record no more
  std::atomic<bool> faded{false};     // the outputs are silent for good
  std::atomic<int> silent_cycles{0};  // cycles played silent since
  std::atomic<bool> finished{false};  // every frame has been recorded
  std::atomic<int> dropout{kNoDropout};
  std::atomic<std::int64_t> dropout_at{0};  // frames recorded before it
  std::atomic<std::int64_t> jump{0};        // kCycleMissed: frames the clock moved
  std::atomic<std::int64_t> xruns{0};
  std::atomic<bool> shutdown{false};
  std::atomic<bool> cancel{false};  // the feeder and the writer end now
  std::atomic<bool> fed{false};     // the feeder has put in every sample
  std::atomic<std::int64_t> written{0};
  std::atomic<bool> write_failed{false};
  std::atomic<std::int64_t> dropout_period{0};
  std::atomic<std::int64_t> worst_ns{0};  // the longest callback so far
  std::unique_ptr<std::atomic<float>[]> peaks;

  // The callback's own.
  bool running = false;
  bool fading = false;
  jack_nframes_t next_time = 0;
  jack_nframes_t period = 0;
  std::int64_t played = 0;
  std::int64_t recorded = 0;
  std::int64_t fade_at = 0;

  ~Engine() {
    if (play != nullptr) jack_ringbuffer_free(play);
    if (rec != nullptr) jack_ringbuffer_free(rec);
  }

  void drop(int kind) {
    int none = kNoDropout;
    if (dropout.compare_exchange_strong(none, kind)) {
      dropout_at.store(recorded);
      dropout_period.store(period);
    }
    fading = true;
  }
};

std::int64_t monotonic_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// The realtime callback's steps. They read and write the rings and the port
// buffers only: no allocation, lock, wait, message or file.

// Every output silent for the cycle.
void silence(Engine& e, jack_nframes_t n) {
  for (jack_port_t* port : e.outs) {
    auto* buffer = static_cast<float*>(jack_port_get_buffer(port, n));
    std::fill(buffer, buffer + n, 0.0f);
  }
}

// Whether the run plays this cycle: from the first cycle after start, until
// the outputs are faded for good; the outputs are silent otherwise.
bool plays(Engine& e, jack_nframes_t n, jack_nframes_t now) {
  if (!e.running) {
    if (e.stop.load(std::memory_order_relaxed)) e.faded.store(true);
    if (!e.start.load(std::memory_order_acquire) || e.faded.load()) {
      silence(e, n);
      return false;
    }
    e.running = true;
    e.next_time = now;
  }
  if (e.faded.load(std::memory_order_relaxed)) {
    silence(e, n);
    e.silent_cycles.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  return true;
}

// The sweep, from the ring into the first output (faded out once stopping),
// and copied to the others.
void play(Engine& e, jack_nframes_t n) {
  if (e.outs.empty()) {
    if (e.fading) e.faded.store(true);
    return;
  }
  auto* out = static_cast<float*>(jack_port_get_buffer(e.outs[0], n));
  auto k = static_cast<jack_nframes_t>(std::min<std::int64_t>(n, e.play_total - e.played));
  const auto ready = static_cast<jack_nframes_t>(jack_ringbuffer_read_space(e.play) / kSample);
  if (ready < k) {
    if (!e.fading) e.drop(kUnderrun);
    k = ready;
  }
  jack_ringbuffer_read(e.play, reinterpret_cast<char*>(out), k * kSample);
  e.played += k;
  std::fill(out + k, out + n, 0.0f);
  if (e.fading) {
    // A raised-cosine fade from 1 to 0 over fade_frames, then silence.
    for (jack_nframes_t i = 0; i < n; ++i, ++e.fade_at) {
      const double x = static_cast<double>(e.fade_at) / static_cast<double>(e.fade_frames);
      out[i] *= x >= 1 ? 0.0f : static_cast<float>(0.5 + 0.5 * std::cos(3.141592653589793 * x));
    }
    if (e.fade_at >= e.fade_frames) e.faded.store(true);
  }
  for (std::size_t p = 1; p < e.outs.size(); ++p) {
    auto* buffer = static_cast<float*>(jack_port_get_buffer(e.outs[p], n));
    std::copy(out, out + n, buffer);
  }
}

// The inputs, interleaved into the ring.
void record(Engine& e, jack_nframes_t n) {
  const auto r = static_cast<jack_nframes_t>(std::min<std::int64_t>(n, e.rec_total - e.recorded));
  const std::size_t channels = e.ins.size();
  if (jack_ringbuffer_write_space(e.rec) < r * channels * kSample) {
    e.drop(kOverrun);
    return;
  }
  jack_ringbuffer_data_t parts[2];
  jack_ringbuffer_get_write_vector(e.rec, parts);
  const std::size_t first_part = parts[0].len / kSample;
  for (std::size_t c = 0; c < channels; ++c) {
    const auto* in = static_cast<const float*>(jack_port_get_buffer(e.ins[c], n));
    for (jack_nframes_t i = 0; i < r; ++i) {
      const std::size_t at = i * channels + c;
      float* slot = at < first_part ? reinterpret_cast<float*>(parts[0].buf) + at
                                    : reinterpret_cast<float*>(parts[1].buf) + (at - first_part);
      std::memcpy(slot, in + i, kSample);
    }
  }
  jack_ringbuffer_write_advance(e.rec, r * channels * kSample);
  e.recorded += r;
  if (e.recorded == e.rec_total) {
    e.finished.store(true);
    e.faded.store(true);
  }
}

// One cycle: the sweep played, and the inputs recorded in the cycle it starts.
// A cycle the server's clock skipped while recording is a dropout.
void cycle(Engine& e, jack_nframes_t n) {
  const jack_nframes_t now = jack_last_frame_time(e.client);
  if (!plays(e, n, now)) return;
  const bool recording = !e.fading && e.recorded < e.rec_total;
  if (e.stop.load(std::memory_order_relaxed)) e.fading = true;
  if (recording && now != e.next_time) {
    e.jump.store(static_cast<std::int64_t>(now - e.next_time) + e.period);
    e.drop(kCycleMissed);
  }
  e.next_time = now + n;
  e.period = n;
  play(e, n);
  if (recording && !e.fading) record(e, n);
}

// The callback, timed: the worst cycle is what the period must leave room for.
int process(jack_nframes_t n, void* arg) {
  Engine& e = *static_cast<Engine*>(arg);
  const std::int64_t begin = monotonic_ns();
  cycle(e, n);
  const std::int64_t took = monotonic_ns() - begin;
  if (took > e.worst_ns.load(std::memory_order_relaxed)) e.worst_ns.store(took);
  return 0;
}

int count_xrun(void* arg) {
  static_cast<Engine*>(arg)->xruns.fetch_add(1);
  return 0;
}

void server_gone(void* arg) { static_cast<Engine*>(arg)->shutdown.store(true); }

// The feeder: the sweep file's samples, repeats times, computed ahead into the play ring.
void feed(Engine& e, const SweepDesign& design, int repeats) {
  std::vector<float> block(static_cast<std::size_t>(kBlockFrames));
  std::size_t used = 0;
  const auto flush = [&]() {
    for (std::size_t done = 0; done < used;) {
      const std::size_t room = jack_ringbuffer_write_space(e.play) / kSample;
      if (room == 0) {
        if (e.cancel.load()) return false;
        nap();
        continue;
      }
      const std::size_t n = std::min(room, used - done);
      jack_ringbuffer_write(e.play, reinterpret_cast<const char*>(block.data() + done),
                            n * kSample);
      done += n;
    }
    used = 0;
    return true;
  };
  for (int r = 0; r < repeats; ++r) {
    const bool whole = emit_sweep(design, [&](double value) {
      block[used++] = static_cast<float>(value);
      return used < block.size() || flush();
    });
    if (!whole) return;
  }
  if (flush()) e.fed.store(true);
}

// The writer: the recording from the ring to the file, with each input's peak so far.
void write_out(Engine& e, RecordingSink& sink) {
  const std::size_t channels = e.ins.size();
  std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * channels);
  std::vector<float> peaks(channels, 0.0f);
  std::int64_t written = 0;
  while (written < e.rec_total && !e.cancel.load()) {
    const auto ready =
        static_cast<std::int64_t>(jack_ringbuffer_read_space(e.rec) / (channels * kSample));
    if (ready == 0) {
      nap();
      continue;
    }
    const std::int64_t n = std::min({ready, kBlockFrames, e.rec_total - written});
    jack_ringbuffer_read(e.rec, reinterpret_cast<char*>(block.data()),
                         static_cast<std::size_t>(n) * channels * kSample);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) * channels; ++i) {
      const float a = std::abs(block[i]);
      const std::size_t c = i % channels;
      peaks[c] = std::max(peaks[c], a);
    }
    for (std::size_t c = 0; c < channels; ++c) e.peaks[c].store(peaks[c]);
    if (!sink.write(block.data(), n)) {
      e.write_failed.store(true);
      return;
    }
    written += n;
    e.written.store(written);
  }
}

// Waits nanoseconds, then returns the signal that asks the run to stop, or 0.
int wait_signal(const std::function<int()>& stop_signal, long nanoseconds) {
  const timespec t{0, nanoseconds};
  if (nanoseconds > 0) nanosleep(&t, nullptr);
  return stop_signal();
}

std::string seconds_text(std::int64_t frames, double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(frames) / rate);
  return text;
}

std::size_t ring_bytes(double seconds, double rate, std::size_t channels, unsigned period) {
  const auto frames = std::max<std::size_t>(static_cast<std::size_t>(seconds * rate),
                                            16 * static_cast<std::size_t>(period));
  return frames * channels * kSample;
}

// The threads a run starts, joined whatever way it ends.
struct Workers {
  Engine& engine;
  std::thread feeder;
  std::thread writer;
  void stop() {
    engine.cancel.store(true);
    if (feeder.joinable()) feeder.join();
    if (writer.joinable()) writer.join();
  }
  ~Workers() { stop(); }
};

// The ports the client registers, unregistered when the run ends.
struct Ports {
  Engine& engine;
  bool active = false;
  ~Ports() {
    if (active) jack_deactivate(engine.client);
    for (jack_port_t* p : engine.outs) jack_port_unregister(engine.client, p);
    for (jack_port_t* p : engine.ins) jack_port_unregister(engine.client, p);
  }
};

// Connects from to to, and waits until the server says they are connected,
// or a stop signal comes (then returns "" with signal set).
std::string connect(jack_client_t* client, const std::string& from, const std::string& to,
                    const std::function<int()>& stop_signal, int& signal) {
  const int status = jack_connect(client, from.c_str(), to.c_str());
  if (status != 0 && status != EEXIST) {
    return "Unable to connect the JACK ports " + from + " and " + to;
  }
  const jack_port_t* port = jack_port_by_name(client, from.c_str());
  for (int i = 0; i < 2500; ++i) {
    if (port != nullptr && jack_port_connected_to(port, to.c_str()) != 0) return "";
    if ((signal = wait_signal(stop_signal, kPollNanoseconds)) != 0) return "";
  }
  return "The JACK server did not confirm the connection of " + from + " to " + to;
}

// The rings, the peaks and the ports of a run, and the callbacks on them. Returns "" or why not.
std::string open_engine(Engine& e, JackClient& client, const LiveSetup& setup) {
  const double rate = setup.design.rate;
  const std::size_t channels = setup.capture.size();
  e.client = client.get();
  e.rec_total = recorded_frames(setup);
  e.play_total = e.rec_total - setup.tail;
  e.fade_frames = std::max<std::int64_t>(1, std::llround(setup.fade * rate));
  e.peaks = std::make_unique<std::atomic<float>[]>(channels);
  const unsigned period = client.buffer_size();
  e.play = jack_ringbuffer_create(ring_bytes(1.0, rate, 1, period));
  e.rec = jack_ringbuffer_create(ring_bytes(2.0, rate, channels, period));
  if (e.play == nullptr || e.rec == nullptr) return "Unable to allocate the stream's ring buffers";
  // Touched and, where allowed, locked now, so that the callback meets no page fault.
  for (jack_ringbuffer_t* ring : {e.play, e.rec}) {
    jack_ringbuffer_mlock(ring);
    std::memset(ring->buf, 0, ring->size);
  }
  for (std::size_t i = 0; i < setup.playback.size() + channels; ++i) {
    const bool output = i < setup.playback.size();
    const std::string name =
        (output ? "out_" : "in_") + std::to_string(output ? i + 1 : i + 1 - setup.playback.size());
    jack_port_t* port = jack_port_register(e.client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                           output ? JackPortIsOutput : JackPortIsInput, 0);
    if (port == nullptr) return "Unable to register the JACK port " + name;
    (output ? e.outs : e.ins).push_back(port);
  }
  jack_set_process_callback(e.client, process, &e);
  jack_set_xrun_callback(e.client, count_xrun, &e);
  jack_on_shutdown(e.client, server_gone, &e);
  return "";
}

// Connects the run's ports to the ports of the setup. Returns "" or why not; a stop signal
// that comes meanwhile ends it, in signal.
std::string connect_ports(Engine& e, const LiveSetup& setup,
                          const std::function<int()>& stop_signal, int& signal) {
  const std::size_t outs = setup.playback.size();
  for (std::size_t i = 0; i < outs + setup.capture.size() && signal == 0; ++i) {
    const bool output = i < outs;
    const std::string ours = jack_port_name(output ? e.outs[i] : e.ins[i - outs]);
    const std::string& theirs = output ? setup.playback[i] : setup.capture[i - outs];
    std::string error = output ? connect(e.client, ours, theirs, stop_signal, signal)
                               : connect(e.client, theirs, ours, stop_signal, signal);
    if (!error.empty()) return error;
  }
  return "";
}

// What went wrong in a dropout.
std::string dropout_text(const Engine& e, int kind, double rate) {
  const std::string at = "Dropout at " + seconds_text(e.dropout_at.load(), rate) + " s: ";
  if (kind == kCycleMissed) {
    return at + "the server's clock moved " + std::to_string(e.jump.load()) + " frames in a cycle of " +
           std::to_string(e.dropout_period.load()) +
           ", so cycles were missed; close other programs or use a longer period";
  }
  if (kind == kUnderrun) {
    return at + "the sweep was not computed in time; close other programs or use a longer period";
  }
  return at + "the recording was not written in time; is the disk slow or busy?";
}

// Watches the running stream until it is complete, or a signal, a dropout, the server or a
// failed write ends it; shows its progress meanwhile.
void watch_stream(Engine& e, const LiveSetup& setup, const LiveCallbacks& callbacks,
                  LiveResult& result) {
  const std::size_t channels = setup.capture.size();
  LiveProgress now;
  now.total = e.rec_total;
  now.peaks.assign(channels, 0.0f);
  for (int wait = 1;; ++wait) {
    if (const int s = wait_signal(callbacks.stop_signal, kWaitNanoseconds); s != 0) {
      result.outcome = LiveOutcome::interrupted;
      result.signal = s;
      return;
    }
    if (const int kind = e.dropout.load(); kind != kNoDropout) {
      result.outcome = LiveOutcome::dropout;
      result.problem = failure(dropout_text(e, kind, setup.design.rate));
      return;
    }
    if (e.shutdown.load()) {
      result.problem = failure("The JACK server stopped during the measurement");
      return;
    }
    if (e.write_failed.load()) {
      result.problem = Problem(ProblemCode::unwritable, "Unable to write the recording");
      return;
    }
    now.frames = e.written.load();
    if (now.frames == e.rec_total) {
      result.outcome = LiveOutcome::complete;
      return;
    }
    if (wait % kProgressEvery == 0) {
      for (std::size_t c = 0; c < channels; ++c) now.peaks[c] = e.peaks[c].load();
      callbacks.progress(now);
    }
  }
}

}  // namespace

std::int64_t recorded_frames(const LiveSetup& setup) {
  return sweep_file_length(setup.design) * setup.repeats + setup.tail;
}

LiveResult run_stream(JackClient& client, const LiveSetup& setup, RecordingSink& sink,
                      const LiveCallbacks& callbacks) {
  const std::function<int()>& stop_signal = callbacks.stop_signal;
  LiveResult result;
  const unsigned period = client.buffer_size();
  Engine e;
  Ports ports{e};
  if (std::string error = open_engine(e, client, setup); !error.empty()) {
    result.problem = failure(std::move(error));
    return result;
  }
  Workers workers{e, {}, {}};
  workers.feeder = std::thread(feed, std::ref(e), std::cref(setup.design), setup.repeats);
  workers.writer = std::thread(write_out, std::ref(e), std::ref(sink));

  const auto interrupted = [&](int s) {
    result.outcome = LiveOutcome::interrupted;
    result.signal = s;
    return result;
  };
  // The ring is full before anything plays.
  while (!e.fed.load() && jack_ringbuffer_write_space(e.play) >= kSample) {
    if (const int signal = wait_signal(stop_signal, kPollNanoseconds); signal != 0) {
      return interrupted(signal);
    }
  }
  if (jack_activate(e.client) != 0) {
    result.problem = failure("Unable to activate the JACK client");
    return result;
  }
  ports.active = true;
  int s = 0;
  if (std::string error = connect_ports(e, setup, stop_signal, s); !error.empty()) {
    result.problem = failure(std::move(error));
    return result;
  }
  if (s != 0 || (s = wait_signal(stop_signal, 0)) != 0) return interrupted(s);
  if (std::optional<Problem> refusal = callbacks.ready()) {
    result.problem = std::move(refusal);
    result.outcome = LiveOutcome::refused;
    return result;
  }
  e.start.store(true, std::memory_order_release);
  watch_stream(e, setup, callbacks, result);

  // A run stopped early fades out before the ports go, and the last of the
  // fade is given a few cycles to leave the server's buffers.
  e.stop.store(true);
  for (int i = 0; i < 1000 && e.silent_cycles.load() < kSilentCycles && !e.shutdown.load(); ++i) {
    nap();
  }
  workers.stop();
  result.xruns = e.xruns.load();
  result.frames = e.written.load();
  for (std::size_t c = 0; c < setup.capture.size(); ++c) result.peaks.push_back(e.peaks[c].load());
  result.worst_cycle = static_cast<double>(e.worst_ns.load()) * 1e-9;
  result.period = period;
  return result;
}

}  // namespace vellisk
