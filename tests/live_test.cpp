// The live measurement through the public API, as a program built on the library uses it: a
// dummy JACK server's loopback recorded into a sink of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "jack_server.h"
#include "vellisk/measure.h"

using namespace vellisk;

namespace {

// 0.2 s from 100 Hz to 10 kHz after 0.05 s of silence: a sweep file of 14400 samples.
constexpr SweepParams kShort = {48000, 0.5, 100, 10000, 0.2, 0.05, 0.1, 0.1};

// Every frame the measurement hands over, kept.
struct MemorySink : RecordingSink {
  std::vector<float> frames;
  bool write(const float* data, std::int64_t count) override {
    frames.insert(frames.end(), data, data + count * 2);
    return true;
  }
};

// A sink that refuses its first block, as a full disk does.
struct FullSink : RecordingSink {
  bool write(const float*, std::int64_t) override { return false; }
};

TEST(LiveMeasurement, SweepRulesBeforeAnyServer) {
  struct Case {
    double rate, amplitude, hzend;
    const char* words;  // in the problem's line
  };
  const Case cases[] = {
      {48000, 1.5, 10000, "amplitude (1.5) must be at most 1 in magnitude"},
      {48000, 0, 10000, "amplitude (0) must not be 0 for a measurement"},
      {48000.5, 0.5, 10000, "rate (48000.5) must be a whole number of samples per second"},
      {48000, 0.5, 30000, "hzend (30000) must not exceed half the sample rate (24000)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    SweepParams p = kShort;
    p.rate = c.rate;
    p.amplitude = c.amplitude;
    p.hzend = c.hzend;
    const std::optional<Problem> problem = check_measure_sweep(p);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->code, ProblemCode::invalid_design);
    EXPECT_NE(problem->message.find(c.words), std::string::npos) << problem->message;
  }
  EXPECT_FALSE(check_measure_sweep(kShort));
  SweepParams full_scale = kShort;
  full_scale.amplitude = -1;
  EXPECT_FALSE(check_measure_sweep(full_scale));
}

// The rules on the ports need no server; their lines name the lists as the caller does.
TEST(LiveMeasurement, PortRulesSpeakTheCallersNames) {
  const SettingNames names = [](Setting s) {
    return s == Setting::playback ? "PLAY" : s == Setting::capture ? "REC" : "?";
  };
  const std::vector<std::string> most(kMaxLivePorts, "a:x"), beyond(kMaxLivePorts + 1, "a:y");
  const std::string twice = " (a:x) is given twice: the sweep would reach it twice, at twice the "
                            "level; name each port once";
  struct Case {
    std::vector<std::string> playback, capture;
    Setting setting;
    std::string line;  // in names
  };
  const Case cases[] = {
      {beyond, beyond, Setting::playback, "PLAY may be given at most 64 times"},
      {most, beyond, Setting::capture, "REC may be given at most 64 times"},
      {{"a:x", "a:y", "a:x"}, {}, Setting::playback, "PLAY" + twice},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> warnings;
    const std::optional<Problem> p = check_live_ports(c.playback, c.capture, warnings, names);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->code, ProblemCode::invalid_request);
    EXPECT_EQ(p->setting, c.setting);
    EXPECT_EQ(describe(*p, names), c.line);
    EXPECT_EQ(describe(*p, nullptr), p->message);
    EXPECT_TRUE(warnings.empty());
  }
  EXPECT_FALSE(check_live_port_count(most, most));
  std::vector<std::string> warnings;
  EXPECT_FALSE(check_live_ports({"a:z"}, {"a:x", "a:y", "a:x"}, warnings, names));
  EXPECT_EQ(warnings, std::vector<std::string>{"REC (a:x) is given twice: channels 1 and 3 of the "
                                               "recording are the same input; name each port "
                                               "once"});
}

TEST(LiveMeasurement, RecordingLevelsAloneDrawTheirWarnings) {
  struct Case {
    SampleLevels levels;
    std::vector<WarningCode> codes;
  };
  const Case cases[] = {
      {{0, 0}, {WarningCode::silent_recording}},
      {{1, 3}, {WarningCode::clipped}},
      {{0.001f, 0}, {WarningCode::low_recording}},
      {{0.5f, 0}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "peak " << c.levels.peak);
    const std::vector<Warning> warnings = recording_warnings(c.levels, 2);
    ASSERT_EQ(warnings.size(), c.codes.size());
    for (std::size_t i = 0; i < warnings.size(); ++i) {
      EXPECT_EQ(warnings[i].code, c.codes[i]);
      EXPECT_EQ(warnings[i].channel, 2);
    }
  }
  const std::vector<Warning> clipped = recording_warnings({1, 3}, 1);
  EXPECT_EQ(clipped.at(0).count, 3);
  EXPECT_NEAR(recording_warnings({0.001f, 0}, 1).at(0).value, -60, 1e-4);
}

// The loopback gives back what is played one period later: the recording is the library's own
// sweep file, repeated, bit for bit, then the tail's silence; a port that is none is refused,
// and a sink that fails, a stop signal or a ready that refuses ends the run.
TEST(LiveMeasurement, LoopbackIntoASinkIsTheSweepFileOnePeriodLate) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1);
  EXPECT_EQ(server_name(), server.name());
  LiveClient client;
  client.open("vellisk-live-test");
  ASSERT_EQ(client.rate(), 48000);
  const unsigned period = client.period();

  LiveSetup setup;
  setup.design = compute_design(kShort);
  setup.repeats = 2;
  setup.tail = 1000;
  setup.playback = {"loopback:playback_1"};
  setup.capture = {"loopback:capture_1", "loopback:capture_2"};
  client.resolve(setup.playback, false, "playback");
  client.resolve(setup.capture, true, "capture");
  std::vector<std::string> none = {"loopback:nothing"};
  try {
    client.resolve(none, true, "capture");
    ADD_FAILURE() << "a port that is none was resolved";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ProblemCode::invalid_request);
    EXPECT_NE(std::string(e.what()).find("capture (loopback:nothing)"), std::string::npos);
  }

  EXPECT_FALSE(client.check_rate(48000));
  EXPECT_TRUE(client.check_rate(44100));
  std::vector<std::string> warnings;
  EXPECT_FALSE(check_live_ports(setup.playback, setup.capture, warnings));
  EXPECT_TRUE(warnings.empty());
  EXPECT_FALSE(check_live_ports({}, {"a:x", "a:y", "a:x"}, warnings));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("channels 1 and 3"), std::string::npos) << warnings[0];
  EXPECT_TRUE(check_live_ports({"a:x", "a:x"}, {}, warnings));

  MemorySink sink;
  const LiveResult r = measure_live(client, setup, sink);
  ASSERT_EQ(r.outcome, LiveOutcome::complete) << (r.problem ? r.problem->message : "");
  const std::int64_t frames = recorded_frames(setup);
  ASSERT_EQ(frames, 2 * 14400 + 1000);
  EXPECT_EQ(r.frames, frames);
  ASSERT_EQ(static_cast<std::int64_t>(sink.frames.size()), 2 * frames);
  const std::vector<float> sweep = sweep_samples(kShort);
  std::int64_t wrong = 0;
  for (std::int64_t t = 0; t < frames; ++t) {
    const std::int64_t i = t - period;
    const float played = i >= 0 && i < 2 * 14400 ? sweep[static_cast<std::size_t>(i % 14400)] : 0;
    const float* got = &sink.frames[static_cast<std::size_t>(2 * t)];
    if (std::memcmp(got, &played, 4) != 0) ++wrong;
    if (got[1] != 0) ++wrong;  // nothing plays to the second loopback
  }
  EXPECT_EQ(wrong, 0);
  float peak = 0;
  for (const float v : sweep) peak = std::max(peak, std::abs(v));
  EXPECT_EQ(r.peaks.at(0), peak);
  EXPECT_EQ(r.peaks.at(1), 0.0f);

  FullSink full;
  const LiveResult failed = measure_live(client, setup, full);
  EXPECT_EQ(failed.outcome, LiveOutcome::failed);
  ASSERT_TRUE(failed.problem);
  EXPECT_EQ(failed.problem->code, ProblemCode::unwritable);

  LiveCallbacks stop;
  stop.stop_signal = [] { return SIGINT; };
  const LiveResult stopped = measure_live(client, setup, sink, stop);
  EXPECT_EQ(stopped.outcome, LiveOutcome::interrupted);
  EXPECT_EQ(stopped.signal, SIGINT);

  // A ready that refuses ends the run before anything plays, with its own problem.
  LiveCallbacks refusing;
  refusing.ready = [] {
    return std::optional<Problem>(Problem(ProblemCode::invalid_request, "taken", Setting::capture));
  };
  MemorySink untouched;
  const LiveResult refused = measure_live(client, setup, untouched, refusing);
  EXPECT_EQ(refused.outcome, LiveOutcome::refused);
  ASSERT_TRUE(refused.problem);
  EXPECT_EQ(refused.problem->message, "taken");
  EXPECT_EQ(refused.problem->setting, Setting::capture);
  EXPECT_TRUE(untouched.frames.empty());
  client.close();
}

}  // namespace
