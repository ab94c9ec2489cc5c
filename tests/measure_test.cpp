// End-to-end tests of vellisk-measure against JACK dummy servers the tests start, and with
// jconvolver running vellisk-eq's correction FIR there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "jack_server.h"
#include "run_vellisk.h"

namespace {

// 1 s from 20 Hz to 20 kHz after 0.2 s of silence: a sweep file of 67200 samples.
const std::vector<std::string> kNumbers = {"48000", "0.5", "20",   "20000",
                                           "1",     "0.2", "0.05", "0.005"};
constexpr std::int64_t kFileLength = 67200;
constexpr std::int64_t kPeriod = 256;

std::vector<std::string> with(std::vector<std::string> options,
                              const std::vector<std::string>& numbers,
                              const std::vector<std::string>& files) {
  options.insert(options.end(), numbers.begin(), numbers.end());
  options.insert(options.end(), files.begin(), files.end());
  return options;
}

RunResult run_measure(const TempDir& dir, const std::string& server,
                      const std::vector<std::string>& args, RunSetup setup = {}) {
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setup.program = VELLISK_MEASURE_BINARY;
  return run_program(dir, args, setup);
}

struct Sound {
  SF_INFO info{};
  std::vector<float> data;  // interleaved
};

Sound read_sound(const std::filesystem::path& path) {
  Sound s;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &s.info);
  EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return s;
  s.data.resize(static_cast<std::size_t>(s.info.frames * s.info.channels));
  sf_readf_float(file, s.data.data(), s.info.frames);
  sf_close(file);
  return s;
}

// Whether the recording being written in dir's work folder, under a temporary
// name until it is complete, holds at least bytes.
std::function<bool()> written(const TempDir& dir, std::uintmax_t bytes) {
  return [&dir, bytes] {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir.work(), ignored)) {
      if (entry.file_size(ignored) >= bytes) return true;
    }
    return false;
  };
}

// The sweep file vellisk writes for kNumbers.
std::vector<float> sweep_file(const TempDir& dir) {
  const RunResult r =
      run_vellisk(dir, with({}, kNumbers, {"../sweep.pcm", "../inverse.pcm"}), dir.root() / "out");
  EXPECT_EQ(r.status, 0) << r.err;
  return read_samples(dir.root() / "sweep.pcm");
}

// Standard error without the server's xrun notices, which a busy machine's
// dummy server may send into any run.
std::string without_xrun_notices(const std::string& err) {
  std::istringstream lines(err);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Warning: the JACK server reported ", 0) != 0) kept += line + "\n";
  }
  return kept;
}

TEST(VelliskMeasure, LoopbackRecordsTheSweepFileBitForBitOnePeriodLate) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TempDir dir;
  const std::vector<float> sweep = sweep_file(dir);
  ASSERT_EQ(static_cast<std::int64_t>(sweep.size()), kFileLength);
  const RunResult r = run_measure(
      dir, server.name(),
      with({"-o", "loopback:playback_1", "--out=loopback:playback_2", "-i", "loopback:capture_1",
            "--in", "loopback:capture_2", "--repeat", "3", "--tail", "0.05"},
           kNumbers, {"rec.wav"}));
  ASSERT_EQ(r.status, 0) << r.err;
  // A busy machine makes the dummy server late: its xrun notices are the only
  // warnings a clean run may give, and a pipe shows no progress line.
  EXPECT_EQ(without_xrun_notices(r.err), "") << r.err;
  EXPECT_NE(r.out.find("played 3 times; recording 204000 frames"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Input 1 (loopback:capture_1): peak -6.02 dBFS\n"
                       "Input 2 (loopback:capture_2): peak -6.02 dBFS\n"
                       "Recording written: rec.wav\n"),
            std::string::npos)
      << r.out;

  const Sound rec = read_sound(dir.work() / "rec.wav");
  ASSERT_EQ(rec.info.channels, 2);
  EXPECT_EQ(rec.info.samplerate, 48000);
  EXPECT_EQ(rec.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  ASSERT_EQ(rec.info.frames, 3 * kFileLength + 2400);
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE(testing::Message() << "channel " << c + 1);
    std::int64_t wrong = 0;
    std::int64_t first_wrong = -1;
    for (std::int64_t t = 0; t < rec.info.frames; ++t) {
      const std::int64_t i = t - kPeriod;
      const float expected =
          i >= 0 && i < 3 * kFileLength ? sweep[static_cast<std::size_t>(i % kFileLength)] : 0.0f;
      if (std::memcmp(&rec.data[static_cast<std::size_t>(t * 2 + c)], &expected, 4) != 0) {
        if (wrong++ == 0) first_wrong = t;
      }
    }
    EXPECT_EQ(wrong, 0) << "first at frame " << first_wrong;
  }
}

// A short sweep: 0.2 s from 100 Hz to 10 kHz after 0.05 s of silence, 14400 samples.
const std::vector<std::string> kShort = {"48000", "0.5",  "100", "10000",
                                         "0.2",   "0.05", "0.1", "0.1"};

TEST(VelliskMeasure, RecordingFormatsByExtension) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  struct Case {
    std::string name;
    int format;
    float step;  // the resolution the format keeps
  };
  for (const Case& c : {Case{"rec.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT, 0.0f},
                        Case{"rec.FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1.0f / 8388608}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const RunResult r =
        run_measure(dir, server.name(),
                    with({"-o", "loopback:playback_1", "-i", "loopback:capture_1", "--tail", "0"},
                         kShort, {c.name}));
    ASSERT_EQ(r.status, 0) << r.err;
    const Sound rec = read_sound(dir.work() / c.name);
    EXPECT_EQ(rec.info.format, c.format);
    ASSERT_EQ(rec.info.frames, 14400);
    TempDir other;
    const RunResult v = run_vellisk(other, with({}, kShort, {"../sweep.pcm", "../inverse.pcm"}),
                                    other.root() / "out");
    ASSERT_EQ(v.status, 0);
    const std::vector<float> sweep = read_samples(other.root() / "sweep.pcm");
    float worst = 0;
    for (std::size_t t = 0; t < 14400; ++t) {
      const float expected = t >= kPeriod ? sweep[t - kPeriod] : 0.0f;
      worst = std::max(worst, std::abs(rec.data[t] - expected));
    }
    EXPECT_LE(worst, c.step / 2);
  }
}

// A device with a gain of 2.5 drives the input past full scale, and a silent
// input records nothing: warnings say so, as vellisk-ir words them.
TEST(VelliskMeasure, InputBeyondFullScaleIsWarned) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TestDevice device(server.name(), {2.5f});
  ASSERT_TRUE(device.ready());
  TempDir dir;
  const RunResult r = run_measure(
      dir, server.name(),
      with({"-o", "dut:in", "-i", "dut:out", "-i", "loopback:capture_1"}, kShort, {"rec.wav"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Input 1 (dut:out): peak 1.94 dBFS\n"
                       "Input 2 (loopback:capture_1): silent, every sample is 0\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("Warning: channel 1: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" samples of the recording are at full scale: it probably clipped"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Warning: channel 2: the recording is silent"), std::string::npos) << r.err;
}

// A device under test (a gain and a short FIR, 3 samples late) measured with
// an irfile beside a loopback: the loopback's response arrives one period
// after the zero instant, and the device's matches the FIR's frequency
// response, one period late, in level and phase (above 1 kHz, where cutting
// the response 0.5 s before the zero instant costs nothing measurable), in
// the response file and in vellisk-ir's text file. Uncompensated, the files
// are the convolution with the inverse filter, exact to -100 dB.
TEST(VelliskMeasure, DeviceUnderTestIsMeasuredByItsFir) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  const std::vector<float> fir = {0, 0, 0, 0.8f, -0.4f, 0.2f};
  TestDevice device(server.name(), fir);
  ASSERT_TRUE(device.ready());
  TempDir dir;
  const RunResult r =
      run_measure(dir, server.name(),
                  with({"-o", "dut:in", "-o", "loopback:playback_1", "-i", "dut:out", "-i",
                        "loopback:capture_1", "-p", "0.5", "-l", "0.25", "--tail", "0", "--frd",
                        "dut.frd", "--json", "r.json", "--uncompensated"},
                       kNumbers, {"rec.wav", "ir.wav"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Recording written: rec.wav\n"), std::string::npos) << r.out;
  EXPECT_NE(read_file(dir.work() / "r.json").find("\"arrival_samples\": 256.0,"),
            std::string::npos);
  EXPECT_NE(r.out.find("Channel 2: arrival 256.0 samples (5.333 ms)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Response written: ir.wav\n"), std::string::npos) << r.out;
  // The tail was stretched to hold the window: --length and the latency.
  const Sound rec = read_sound(dir.work() / "rec.wav");
  EXPECT_GE(rec.info.frames, kFileLength + 12000 + kPeriod);
  EXPECT_EQ(r.err.find("Warning: recording"), std::string::npos) << r.err;

  const Sound ir = read_sound(dir.work() / "ir.wav");
  ASSERT_EQ(ir.info.frames, 24000 + 12000);
  ASSERT_EQ(ir.info.channels, 2);
  // H(f) of the response, its zero instant at sample 24000 and the chain's
  // period removed, against the FIR's, from 1 kHz to 10 kHz.
  double worst = 0;
  for (double hz = 1000; hz <= 10000; hz *= 1.05) {
    const double w = 2 * std::numbers::pi * hz / 48000;
    std::complex<double> measured = 0, expected = 0;
    for (std::size_t n = 0; n < static_cast<std::size_t>(ir.info.frames); ++n) {
      const double t = static_cast<double>(n) - 24000 - kPeriod;
      measured += static_cast<double>(ir.data[2 * n]) * std::polar(1.0, -w * t);
    }
    for (std::size_t k = 0; k < fir.size(); ++k) {
      expected += static_cast<double>(fir[k]) * std::polar(1.0, -w * static_cast<double>(k));
    }
    worst = std::max(worst, std::abs(measured - expected) / std::abs(expected));
  }
  EXPECT_LT(20 * std::log10(worst), -100);
  // vellisk-ir's text file of the device: the FIR's level, row by row.
  std::istringstream frd(read_file(dir.work() / "dut-c1.frd"));
  int rows = 0;
  for (std::string line; std::getline(frd, line);) {
    double hz = 0, db = 0;
    if (line[0] == '*' || std::sscanf(line.c_str(), "%lf %lf", &hz, &db) != 2) continue;
    if (hz < 1000 || hz > 10000) continue;
    std::complex<double> expected = 0;
    for (std::size_t k = 0; k < fir.size(); ++k) {
      expected += static_cast<double>(fir[k]) *
                  std::polar(1.0, -2 * std::numbers::pi * hz / 48000 * static_cast<double>(k));
    }
    EXPECT_NEAR(db, 20 * std::log10(std::abs(expected)), 0.006) << hz;
    ++rows;
  }
  EXPECT_EQ(rows, 319);

  // With the loopback as timing reference, over two repeats, the chain's
  // period is the zero instant and the device's arrival is its own delay (the
  // band-limited peak of 0.8, -0.4, 0.2 from sample 3 lies a little before it).
  const RunResult timed = run_measure(dir, server.name(),
                                      with({"-o", "dut:in", "-o", "loopback:playback_1", "-i",
                                            "dut:out", "-i", "loopback:capture_1", "-l", "0.25",
                                            "--repeat", "2", "--reference", "2", "--drift", "auto"},
                                           kNumbers, {"rec2.wav", "ir2.wav"}));
  ASSERT_EQ(timed.status, 0) << timed.err;
  EXPECT_NE(timed.out.find("latency of the playback and recording chain 256.00 samples"),
            std::string::npos)
      << timed.out;
  EXPECT_NE(timed.out.find("Channel 1: arrival 2.8 samples"), std::string::npos) << timed.out;
  EXPECT_NE(timed.out.find("Drift corrected: 0.00 ppm"), std::string::npos) << timed.out;
}

// On a terminal (a pseudo-terminal that script(1) gives it), standard error
// carries a progress line, rewritten in place, with each input's peak; on a
// pipe it carries none (see the loopback test).
TEST(VelliskMeasure, ProgressLineOnATerminal) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TempDir dir;
  RunSetup setup;
  setup.program = "/usr/bin/script";
  setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1);
  std::string command = VELLISK_MEASURE_BINARY;
  for (const std::string& a :
       with({"-o", "loopback:playback_1", "-i", "loopback:capture_1"}, kNumbers, {"rec.wav"})) {
    command += " " + a;
  }
  const RunResult r = run_program(dir, {"-qec", command, "/dev/null"}, setup);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(" s of 2.4 s  in 1   -6.0 dBFS\033[K\r"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\r\033[KCallback: "), std::string::npos) << r.out;
}

TEST(VelliskMeasure, ListsTheServersPorts) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TempDir dir;
  const RunResult r = run_measure(dir, server.name(), {"--list"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"loopback:capture_1                       output physical capture",
                           "loopback:playback_2                      input  physical playback"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  }
  EXPECT_TRUE(list_files(dir.work()).empty());
}

TEST(VelliskMeasure, RefusalsComeBeforeAnythingPlaysAndLeaveNoFile) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  const std::string none = "vellisk-test-absent-" + std::to_string(getpid());
  struct Case {
    std::vector<std::string> args;
    std::string error;
    std::string server;  // the server asked for; "" is the test's
    std::string link = "";  // a link to rec.wav made before the run, when given
  };
  const auto numbers = [](int i, const std::string& value) {
    std::vector<std::string> n = kNumbers;
    n[static_cast<std::size_t>(i)] = value;
    return n;
  };
  // count names for option, each the same port.
  const auto ports = [](const std::string& option, int count) {
    std::vector<std::string> given;
    for (int i = 0; i < count; ++i) given.insert(given.end(), {option, "loopback:playback_1"});
    return given;
  };
  const std::vector<Case> cases = {
      {with({}, numbers(0, "44100"), {"rec.wav"}),
       "rate (44100) must be the JACK server's sample rate (48000)\n", ""},
      // The ports' count is judged before the server is asked for: at most 64 of each.
      {with(ports("-o", 65), kNumbers, {"rec.wav"}), "--out may be given at most 64 times\n", none},
      {with(ports("--in", 65), kNumbers, {"rec.wav"}), "--in may be given at most 64 times\n", none},
      {with(ports("--out", 64), kNumbers, {"rec.wav"}), "No JACK server named '" + none + "'", none},
      {with({}, numbers(1, "1.5"), {"rec.wav"}),
       "amplitude (1.5) must be at most 1 in magnitude: 1 is the output's full scale\n", ""},
      {with({}, numbers(1, "-1.01"), {"rec.wav"}),
       "amplitude (-1.01) must be at most 1 in magnitude: 1 is the output's full scale\n", ""},
      {with({"--out", "nobody:playback"}, kNumbers, {"rec.wav"}),
       "--out (nobody:playback) is not a port of the JACK server; vellisk-measure --list shows "
       "the ports\n",
       ""},
      {with({"-o", "loopback:capture_1"}, kNumbers, {"rec.wav"}),
       "--out (loopback:capture_1) is an output (capture) port; --out takes an input (playback) "
       "port\n",
       ""},
      {with({"-i", "loopback:capture_1", "-i", "loopback:playback_1"}, kNumbers, {"rec.wav"}),
       "--in (loopback:playback_1) is an input (playback) port; --in takes an output (capture) "
       "port\n",
       ""},
      {with({}, kNumbers, {"rec.txt"}), "recording (rec.txt) must end in .wav, .w64 or .flac\n",
       ""},
      {with({"--repeat", "0"}, kNumbers, {"rec.wav"}),
       "--repeat (0) must be a whole number from 1 to 1000\n", ""},
      {with({"--tail", "1e4"}, kNumbers, {"rec.wav"}),
       "--tail (1e4) must be a number of seconds from 0 to 3600\n", ""},
      {with({}, numbers(3, "30000"), {"rec.wav"}), "hzend", ""},
      {with({"-l", "0"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--length (0) must be a number of seconds greater than 0\n", ""},
      {with({"-H", "3"}, kNumbers, {"rec.wav"}),
       "option --harmonics is for the response; give an irfile after the recording\n", ""},
      {with({}, kNumbers, {"rec.wav", "rec.wav"}), "must not name the same file", ""},
      {with({}, kNumbers, {"rec.wav"}),
       "No JACK server named '" + none + "' is running (vellisk-measure never starts one)", none},
      {{"--list"}, "No JACK server named '" + none + "' is running", none},
      // Every name, the text files' too, against the others before anything plays.
      {with({"--frd", "o.txt", "--json", "o.txt"}, kNumbers, {"rec.wav", "ir.wav"}),
       "outputs (o.txt, o.txt) must not name the same file: one would overwrite the other\n", ""},
      {with({"--frd", "o.frd"}, kNumbers, {"rec.wav", "ir.wav"}),
       "recording and output (rec.wav, o.frd) must not name the same file", "", "o.frd"},
      {with({"-i", "loopback:capture_1", "-i", "loopback:capture_2", "--frd",
             std::string(250, 'f') + ".frd"},
            kNumbers, {"rec.wav", "ir.wav"}),
       "Unable to write " + std::string(250, 'f') + "-c1.frd: File name too long\n", ""},
      // The library's checks of the recording to be made and of the calibration files.
      {with({"--reference", "3"}, kNumbers, {"rec.wav", "ir.wav"}),
       "--reference (3) names a channel the recording does not have", ""},
      {with({"--mic-cal", "mic.txt"}, kNumbers, {"rec.wav", "ir.wav"}),
       "Unable to read --mic-cal (mic.txt): No such file or directory\n", ""},
      {with({"--spl-cal", "cal.wav", "94"}, kNumbers, {"rec.wav", "ir.wav"}),
       "Unable to open --spl-cal (cal.wav): No such file or directory\n", ""},
      // Played twice, a port would sum the sweep with itself.
      {with({"-o", "loopback:playback_1", "--out", "loopback:playback_1"}, kNumbers, {"rec.wav"}),
       "--out (loopback:playback_1) is given twice: the sweep would reach it twice, at twice the "
       "level; name each port once\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    TempDir dir;
    if (!c.link.empty()) std::filesystem::create_symlink("rec.wav", dir.work() / c.link);
    const std::vector<std::string> before = list_files(dir.work());
    const RunResult r = run_measure(dir, c.server.empty() ? server.name() : c.server, c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(list_files(dir.work()), before);
  }
}

// A signal mid-sweep fades the sweep out (no click into a loudspeaker), and
// the run ends by it with no file left.
TEST(VelliskMeasure, SignalsMidSweepFadeOutAndLeaveNoFile) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(s));
    TestDevice listener(server.name(), {1.0f}, 48000 * 60, "loopback:capture_1");
    ASSERT_TRUE(listener.ready());
    TempDir dir;
    RunSetup setup;
    setup.signal = s;
    setup.ready = written(dir, 100000);  // half a second of the sweep
    std::vector<std::string> numbers = kNumbers;
    numbers[4] = "5";
    const RunResult r = run_measure(
        dir, server.name(),
        with({"-o", "loopback:playback_1", "-i", "loopback:capture_1"}, numbers, {"rec.wav"}),
        setup);
    EXPECT_EQ(r.signal, s) << r.err;
    EXPECT_EQ(r.status, -1);
    EXPECT_TRUE(list_files(dir.work()).empty());

    // The sweep stopped early, and its last 20 ms before silence fell smoothly.
    const std::vector<float> heard = listener.heard();
    std::size_t end = heard.size();
    while (end > 0 && heard[end - 1] == 0) --end;
    ASSERT_GT(end, 2000u);
    ASSERT_LT(end, heard.size() - 1) << "the sweep was heard to the end of the listening";
    float before = 0;
    for (std::size_t i = end - 2000; i < end - 1000; ++i)
      before = std::max(before, std::abs(heard[i]));
    float last = 0;
    for (std::size_t i = end - 48; i < end; ++i) last = std::max(last, std::abs(heard[i]));
    EXPECT_GT(before, 0.2f) << "the sweep played at its level until the signal";
    EXPECT_LT(last, 0.01f) << "the last millisecond is at most -40 dB: no click";
  }
}

// A signal at any moment, from the run's first calls to the server on (put
// at the n-th call of a kind by strace, or sent n ms after the start), ends
// the run by it: never a JACK error, never a signal lost. The recording is
// left whole, or not at all.
TEST(VelliskMeasure, SignalsFromTheFirstInstantEndTheRun) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1);
  std::vector<std::pair<std::string, int>> cases = {
      {"connect", 1}, {"connect", 2}, {"clock_nanosleep", 20}, {"", 15}, {"", 30}, {"", 60}};
  for (int n = 1; n <= 50; n += 3) cases.emplace_back("write", n);
  for (const auto& [call, n] : cases) {
    SCOPED_TRACE(call + " " + std::to_string(n));
    TempDir dir;
    RunSetup setup;
    std::vector<std::string> args = {"-qq", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                                     "inject=" + call + ":signal=SIGTERM:when=" + std::to_string(n),
                                     VELLISK_MEASURE_BINARY};
    setup.program = VELLISK_STRACE;
    if (call.empty()) {
      args.clear();
      setup.program = VELLISK_MEASURE_BINARY;
      setup.signal = SIGTERM;
      setup.ready = [&dir, start = std::chrono::steady_clock::now(), n] {
        return std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(n) &&
               std::filesystem::exists(dir.root() / "stderr");  // the run's streams are open
      };
    }
    args.insert(args.end(), {"-o", "loopback:playback_1", "--tail", "0"});
    const RunResult r = run_program(dir, with(args, kShort, {"rec.wav"}), setup);
    EXPECT_EQ(r.signal, SIGTERM) << r.err;
    EXPECT_EQ(without_xrun_notices(r.err), "");
    if (!list_files(dir.work()).empty()) {
      EXPECT_EQ(read_sound(dir.work() / "rec.wav").info.frames, 14400);
    }
  }
}

// A second vellisk-measure playing to the same port would add its sweep to
// this one's recording (3 dB of false gain): refused before it plays. Another
// instance recording the same input, or another client feeding the port, is
// a warning.
TEST(VelliskMeasure, OtherClientsOnThePortsAreRefusedOrWarned) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1);  // once, before two threads run
  const auto measure = [](const TempDir& dir, const std::string& out) {
    RunSetup setup;
    setup.program = VELLISK_MEASURE_BINARY;
    return run_program(dir, with({"-o", out, "--tail", "0"}, kShort, {"rec.wav"}), setup);
  };
  TempDir first;
  RunResult a;
  std::vector<std::string> numbers = kNumbers;
  numbers[4] = "4";  // long enough for the others to run meanwhile
  std::thread running([&] {
    RunSetup setup;
    setup.program = VELLISK_MEASURE_BINARY;
    a = run_program(first, with({"-o", "loopback:playback_1"}, numbers, {"a.wav"}), setup);
  });
  const auto playing = written(first, 100000);
  for (int ms = 0; ms < 20000 && !playing(); ++ms) usleep(1000);
  TempDir second;
  const RunResult b = measure(second, "loopback:playback_1");
  EXPECT_EQ(b.status, 1);
  EXPECT_EQ(b.out, "");
  EXPECT_EQ(b.err.rfind("--out (loopback:playback_1) is played to by another vellisk-measure (", 0),
            0u)
      << b.err;
  EXPECT_TRUE(list_files(second.work()).empty());
  const RunResult c = measure(second, "loopback:playback_2");
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_NE(c.err.find("Warning: --in (system:capture_1) is recorded by another vellisk-measure ("),
            std::string::npos)
      << c.err;
  running.join();
  EXPECT_EQ(a.status, 0) << a.err;

  TestDevice device(server.name(), {1.0f});
  ASSERT_TRUE(device.ready());
  ASSERT_TRUE(connect_ports(server.name(), "dut:out", "loopback:playback_1"));
  const RunResult d = measure(second, "loopback:playback_1");
  EXPECT_EQ(d.status, 0) << d.err;
  EXPECT_NE(d.err.find("Warning: --out (loopback:playback_1) also plays what dut:out sends, "
                       "which adds to the sweep; disconnect it and measure again\n"),
            std::string::npos)
      << d.err;
}

// A recording that cannot be written whole (a file-size limit here, a full
// disk elsewhere) ends the run with the reason, and no file is left.
TEST(VelliskMeasure, AFailedWriteLeavesNoFile) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TempDir dir;
  RunSetup setup;
  setup.file_size_limit = 100000;
  const RunResult r = run_measure(dir, server.name(),
                                  with({"-i", "loopback:capture_1"}, kNumbers, {"rec.wav"}), setup);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(without_xrun_notices(r.err),
            "Unable to write rec.wav: File too large; no recording was kept\n");
  EXPECT_TRUE(list_files(dir.work()).empty());
}

// A client that stalls for half a second mid-sweep: an asynchronous server
// goes on without it, so whole cycles are missed, a dropout, and no recording
// is kept; a synchronous one waits, so nothing is lost and its xrun notices
// are only a warning, with the recording still the sweep file bit for bit.
TEST(VelliskMeasure, AStalledClientIsADropoutOnlyWhenCyclesAreMissed) {
  for (const bool synchronous : {false, true}) {
    SCOPED_TRACE(synchronous ? "synchronous" : "asynchronous");
    JackServer server(synchronous);
    ASSERT_TRUE(server.ready());
    TempDir dir;
    RunSetup setup;
    setup.signal = SIGSTOP;
    setup.continue_after_ms = 500;
    setup.ready = written(dir, 100000);
    const RunResult r =
        run_measure(dir, server.name(),
                    with({"-o", "loopback:playback_1", "-i", "loopback:capture_1", "--tail", "0"},
                         kNumbers, {"rec.wav"}),
                    setup);
    if (!synchronous) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err.rfind("Dropout at ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find("; no recording was kept\n"), std::string::npos) << r.err;
      EXPECT_TRUE(list_files(dir.work()).empty());
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.rfind("Warning: the JACK server reported ", 0), 0u) << r.err;
    const Sound rec = read_sound(dir.work() / "rec.wav");
    const std::vector<float> sweep = sweep_file(dir);
    ASSERT_EQ(rec.info.frames, kFileLength);
    for (std::size_t t = kPeriod; t < sweep.size(); ++t) ASSERT_EQ(rec.data[t], sweep[t - kPeriod]);
  }
}

}  // namespace

// --level on a device whose gain falls with frequency (a short FIR, 0.75 at low frequencies),
// beside a loopback and an input nothing reaches: each input's peak, and an amplitude that,
// measured with, gives the device's input a peak of -12 dBFS within 1 dB. No file is written.
TEST(VelliskMeasure, LevelSuggestsTheAmplitudeForAPeakOfMinus12Dbfs) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TestDevice device(server.name(), {0.3f, 0.25f, 0.2f});
  ASSERT_TRUE(device.ready());
  TempDir dir;
  // 4 s from 20 Hz to 20 kHz: the burst is 3 s of it.
  std::vector<std::string> numbers = {"48000", "0.5", "20", "20000", "4", "0.5", "0.05", "0.005"};
  const RunResult r = run_measure(
      dir, server.name(),
      with({"--level", "-o", "dut:in", "-o", "loopback:playback_1", "-i", "dut:out", "-i",
            "loopback:capture_1", "-i", "loopback:capture_2"},
           numbers, {}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(list_files(dir.work()).empty());
  EXPECT_NE(r.out.find("Level: a burst of 3 s from 20 Hz to 20000 Hz at amplitude 0.5, 5.0 s"),
            std::string::npos)
      << r.out;
  // The loopback: the sweep's own peak, 0.5.
  EXPECT_NE(r.out.find("Input 2 (loopback:capture_1): peak -6.02 dBFS, no noise around the "
                       "burst (a digital path); amplitude 0.251 gives a peak of about -12 dBFS\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Input 3 (loopback:capture_2): silent, every sample is 0\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(without_xrun_notices(r.err).find("Warning: input 3 (loopback:capture_2) recorded "
                                             "nothing of the burst"),
            std::string::npos)
      << r.err;
  const std::string head = "Input 1 (dut:out): peak ";
  const std::size_t at = r.out.find(head);
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::size_t said = r.out.find("; amplitude ", at);
  ASSERT_NE(said, std::string::npos) << r.out;
  const std::string suggested = r.out.substr(said + 12, r.out.find(' ', said + 12) - said - 12);

  numbers[1] = suggested;
  const RunResult m = run_measure(
      dir, server.name(), with({"-o", "dut:in", "-i", "dut:out", "--tail", "0.1"}, numbers,
                               {"rec.wav"}));
  ASSERT_EQ(m.status, 0) << m.err;
  const Sound rec = read_sound(dir.work() / "rec.wav");
  float peak = 0;
  for (const float x : rec.data) peak = std::max(peak, std::abs(x));
  EXPECT_NEAR(20 * std::log10(peak), -12, 1) << "amplitude " << suggested;
}

// --sweep drives a run as the eight numbers do, to the recording's and the response's last
// byte; beside the numbers it is refused. --level on a device that drives its input past full
// scale warns instead of suggesting.
TEST(VelliskMeasure, SweepFileDrivesTheRunAndLevelWarnsOfClipping) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TestDevice device(server.name(), {2.5f});
  ASSERT_TRUE(device.ready());
  TempDir dir;
  ASSERT_EQ(run_vellisk(dir, with({"--wav"}, kShort, {"sweep.wav", "inverse.wav"})).status, 0);
  const std::vector<std::string> ports = {"-o", "loopback:playback_1", "-i", "loopback:capture_1",
                                          "--tail", "0.1"};
  const RunResult numbers =
      run_measure(dir, server.name(), with(ports, kShort, {"a.wav", "a-ir.wav"}));
  ASSERT_EQ(numbers.status, 0) << numbers.err;
  const RunResult file =
      run_measure(dir, server.name(), with(ports, {"--sweep", "sweep.wav"}, {"b.wav", "b-ir.wav"}));
  ASSERT_EQ(file.status, 0) << file.err;
  EXPECT_TRUE(read_file(dir.work() / "a.wav") == read_file(dir.work() / "b.wav"));
  EXPECT_TRUE(read_file(dir.work() / "a-ir.wav") == read_file(dir.work() / "b-ir.wav"));

  const RunResult both = run_measure(
      dir, server.name(), with({"--sweep", "sweep.wav"}, kShort, {"c.wav"}));
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(both.err.rfind("--sweep (sweep.wav) and the eight numbers must not both be given", 0),
            0u)
      << both.err;

  const RunResult level = run_measure(
      dir, server.name(), {"--level", "-o", "dut:in", "-i", "dut:out", "--sweep", "sweep.wav"});
  ASSERT_EQ(level.status, 0) << level.err;
  EXPECT_NE(level.out.find("Level: a burst of 0.2 s from 100 Hz to 10000 Hz at amplitude 0.5"),
            std::string::npos)
      << level.out;
  EXPECT_NE(level.out.find("Input 1 (dut:out): peak 1.94 dBFS, "), std::string::npos) << level.out;
  EXPECT_EQ(level.out.find("gives a peak of"), std::string::npos) << level.out;
  EXPECT_NE(without_xrun_notices(level.err)
                .find("Warning: input 1 (dut:out) clips at amplitude 0.5: lower the gain"),
            std::string::npos)
      << level.err;
  EXPECT_FALSE(std::filesystem::exists(dir.work() / "c.wav"));
}

// Neither the recording nor an output of the response may fall on the sweep file or a
// calibration file: refused before anything plays, every file left as it was.
TEST(VelliskMeasure, NoRecordingOrOutputOverwritesAnInput) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TempDir dir;
  ASSERT_EQ(run_vellisk(dir, with({"--wav"}, kShort, {"sweep.wav", "inverse.wav"})).status, 0);
  std::filesystem::copy_file(dir.work() / "sweep.wav", dir.work() / "cal.wav");
  const std::vector<std::string> ports = {"-o", "loopback:playback_1", "-i", "loopback:capture_1",
                                          "--sweep", "sweep.wav"};
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"sweep.wav"}, "--sweep and recording (sweep.wav, sweep.wav) must not name the same file: "
                      "the recording would overwrite the sweep file\n"},
      {{"rec.wav", "sweep.wav"}, "--sweep and irfile (sweep.wav, sweep.wav) must not name the "
                                 "same file: the response would overwrite the sweep file\n"},
      {{"--spl-cal", "cal.wav", "94", "cal.wav", "ir.wav"},
       "--spl-cal and recording (cal.wav, cal.wav) must not name the same file: the recording "
       "would overwrite the calibrator's recording\n"},
  };
  const std::vector<std::string> before = list_files(dir.work());
  const std::string sweep = read_file(dir.work() / "sweep.wav");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    const RunResult r = run_measure(dir, server.name(), with(ports, c.args, {}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.error);
    EXPECT_EQ(list_files(dir.work()), before);
    EXPECT_TRUE(read_file(dir.work() / "sweep.wav") == sweep && read_file(dir.work() / "cal.wav") == sweep);
  }
}

// The response's views and calibration through vellisk-measure: the very files vellisk-ir writes
// from the recording, and a wire read in dB SPL as the calibrator's formula gives it.
TEST(VelliskMeasure, ViewsAndCalibrationAreVelliskIrsFromTheRecording) {
  JackServer server;
  ASSERT_TRUE(server.ready());
  TempDir measured, analysed;
  for (const TempDir* d : {&measured, &analysed}) {
    // A microphone 3 dB hot above 5 kHz, and a calibrator's 1 kHz tone of 0.1 rms for 94 dB SPL.
    std::ofstream(d->work() / "mic.txt") << "* test microphone\n10 0\n5000 0\n5001 3\n24000 3\n";
    SF_INFO info{};
    info.samplerate = 48000, info.channels = 1, info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* cal = sf_open((d->work() / "cal.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(cal, nullptr);
    std::vector<float> tone(48000);
    for (std::size_t t = 0; t < tone.size(); ++t) {
      tone[t] = static_cast<float>(0.1 * std::numbers::sqrt2 *
                                   std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(t) / 48000));
    }
    sf_writef_float(cal, tone.data(), 48000);
    sf_close(cal);
  }
  const std::vector<std::string> options = {
      "--curves", "c.csv", "--step", "s.wav", "--waterfall", "w.csv", "--waterfall-range", "10",
      "--mic-cal", "mic.txt", "--spl-cal", "cal.wav", "94", "--frd", "f.frd", "--plot", "f.svg",
      "--views", "level,phase,group-delay,step,waterfall,spectrogram,envelope"};
  std::vector<std::string> ports = {"-o", "loopback:playback_1", "-o", "loopback:playback_2",
                                    "-i", "loopback:capture_1",  "-i", "loopback:capture_2"};
  ports.insert(ports.end(), options.begin(), options.end());
  const RunResult r = run_measure(measured, server.name(), with(ports, kShort, {"rec.wav", "ir.wav"}));
  ASSERT_EQ(r.status, 0) << r.err;
  // 94 dB SPL + 20 lg(0.5 / sqrt 2) - 20 lg(0.1): a wire's in-band gain.
  EXPECT_NE(r.out.find("Levels: dB SPL, the microphone's response (mic.txt) taken out, 104.97 dB "
                       "added by the SPL calibration\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("in-band gain 104.97 dB"), std::string::npos) << r.out;

  std::filesystem::copy_file(measured.work() / "rec.wav", analysed.work() / "rec.wav");
  RunSetup ir;
  ir.program = VELLISK_IR_BINARY;
  const RunResult a = run_program(analysed, with(options, kShort, {"rec.wav", "ir.wav"}), ir);
  ASSERT_EQ(a.status, 0) << a.err;
  for (const char* name : {"ir.wav", "s.wav", "f.svg", "f-c1.frd", "f-c2.frd", "c-c1.csv",
                           "c-c2.csv", "w-c1.csv", "w-c2.csv"}) {
    SCOPED_TRACE(name);
    const std::string file = read_file(measured.work() / name);
    EXPECT_FALSE(file.empty());
    EXPECT_TRUE(file == read_file(analysed.work() / name));
  }
  // The microphone's +3 dB comes off the wire's level above 5 kHz.
  std::istringstream curves(read_file(measured.work() / "c-c1.csv"));
  int rows = 0;
  for (std::string line; std::getline(curves, line);) {
    double hz = 0, db = 0;
    if (std::sscanf(line.c_str(), "%lf,%lf", &hz, &db) != 2 || hz < 5100 || hz > 8000) continue;
    EXPECT_NEAR(db, 104.97 - 3, 0.02) << hz;
    ++rows;
  }
  EXPECT_GT(rows, 50);
}

// Every long option vellisk-ir's manual page describes is in its --help, and each of those but
// --channels (for headerless recordings) in vellisk-measure's --help: no server needed.
TEST(VelliskMeasure, HelpNamesEveryResponseOption) {
  TempDir dir;
  RunSetup ir;
  ir.program = VELLISK_IR_BINARY;
  const RunResult ir_help = run_program(dir, {"--help"}, ir);
  const RunResult measure_help = run_measure(dir, "none", {"--help"});
  ASSERT_EQ(ir_help.status, 0);
  ASSERT_EQ(measure_help.status, 0);
  std::istringstream page(read_file(std::filesystem::path(VELLISK_TEST_DATA) /
                                    "../../doc/vellisk-ir.1"));
  int options = 0;
  bool in_options = false;
  std::string before;
  for (std::string line; std::getline(page, line); before = line) {
    if (line.rfind(".SH", 0) == 0) in_options = line == ".SH OPTIONS";
    if (!in_options || before != ".TP") continue;
    // The option's heading: its long name, without the page's escapes.
    const std::size_t at = line.find("\\-\\-");
    ASSERT_NE(at, std::string::npos) << line;
    std::string name = "--";
    for (std::size_t i = at + 4; i < line.size() && line[i] != ' ' && line[i] != '"'; ++i) {
      if (line[i] != '\\') name += line[i];
    }
    // A short form, "-l", the heading gives first.
    const std::size_t dash = line.find("\\-");
    const std::string short_form = dash < at ? "-" + line.substr(dash + 2, 1) + "," : "";
    SCOPED_TRACE(name);
    ++options;
    EXPECT_NE(ir_help.out.find(name), std::string::npos);
    if (name == "--channels" || name == "--help" || name == "--version") continue;
    EXPECT_TRUE(measure_help.out.find(name) != std::string::npos ||
                (!short_form.empty() && measure_help.out.find(short_form) != std::string::npos));
  }
  EXPECT_EQ(options, 24);
}

// jconvolver on the server as the client "conv", reading config; stopped by its process id
// when the object goes. Its output goes to log.
class Jconvolver {
 public:
  Jconvolver(const std::string& server, const std::filesystem::path& config,
             const std::filesystem::path& log) {
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      execlp("jconvolver", "jconvolver", "-N", "conv", "-s", server.c_str(), config.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Jconvolver() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Jconvolver(const Jconvolver&) = delete;
  Jconvolver& operator=(const Jconvolver&) = delete;
  // Whether it still runs (127 when it could not be started: is jconvolver installed?).
  bool running(int& status) {
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) return pid_ > 0;
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return false;
  }

 private:
  pid_t pid_ = -1;
};

// The rows of a text response file: frequency (Hz) and level (dB).
std::vector<std::pair<double, double>> frd_rows(const std::filesystem::path& path) {
  std::istringstream text(read_file(path));
  std::vector<std::pair<double, double>> rows;
  for (std::string line; std::getline(text, line);) {
    double hz = 0, db = 0;
    if (line[0] != '*' && std::sscanf(line.c_str(), "%lf %lf", &hz, &db) == 2)
      rows.emplace_back(hz, db);
  }
  return rows;
}

TEST(VelliskMeasure, JconvolverRunsTheCorrectionFirAsPredicted) {
  // A device of a real response (a cabinet's first 512 samples, taken as 48 kHz) measured,
  // corrected by vellisk-eq's FIR, and measured again through jconvolver running that FIR ahead
  // of it: the corrected response is the one --predicted gives.
  JackServer server;
  ASSERT_TRUE(server.ready());
  const Sound cabinet = read_sound("/usr/share/gx_head/sounds/amps/Marshall MG 15.wav");
  ASSERT_GE(cabinet.info.frames, 512);
  std::vector<float> fir(512);
  for (std::size_t n = 0; n < fir.size(); ++n) {
    fir[n] = cabinet.data[n * static_cast<std::size_t>(cabinet.info.channels)];
  }
  const float peak = std::abs(*std::max_element(
      fir.begin(), fir.end(), [](float a, float b) { return std::abs(a) < std::abs(b); }));
  for (float& x : fir) x *= 0.5f / peak;
  TestDevice device(server.name(), fir);
  ASSERT_TRUE(device.ready());
  TempDir dir;
  const RunResult plain = run_measure(
      dir, server.name(),
      with({"-o", "dut:in", "-i", "dut:out", "--frd", "dut.frd"}, kNumbers, {"rec.wav", "ir.wav"}));
  ASSERT_EQ(plain.status, 0) << plain.err;
  RunSetup eq;
  eq.program = VELLISK_EQ_BINARY;
  const RunResult made =
      run_program(dir,
                  {"--range", "150-12000", "--max-boost", "6", "--fir", "fir.wav", "--fir-length",
                   "8192", "--predicted", "p.frd", "dut.frd"},
                  eq);
  ASSERT_EQ(made.status, 0) << made.err;
  std::ofstream(dir.work() / "conv.conf") << "/cd " << dir.work().string() << "\n"
                                          << "/convolver/new 1 1 256 8192\n"
                                          << "/input/name 1 in\n/output/name 1 out\n"
                                          << "/impulse/read 1 1 1 0 0 0 1 fir.wav\n";
  Jconvolver conv(server.name(), dir.work() / "conv.conf", dir.root() / "conv.log");
  bool patched = false;
  for (int ms = 0; ms < 60000 && !patched; ms += 50) {
    int status = 0;
    ASSERT_TRUE(conv.running(status))
        << "jconvolver ended with status " << status << ": " << read_file(dir.root() / "conv.log");
    patched = connect_ports(server.name(), "conv:out", "dut:in");
    if (!patched) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(patched) << read_file(dir.root() / "conv.log");
  const RunResult corrected =
      run_measure(dir, server.name(),
                  with({"-o", "conv:in", "-i", "dut:out", "--frd", "again.frd"}, kNumbers,
                       {"rec2.wav", "ir2.wav"}));
  ASSERT_EQ(corrected.status, 0) << corrected.err;
  const auto predicted = frd_rows(dir.work() / "p.frd");
  const auto again = frd_rows(dir.work() / "again.frd");
  ASSERT_EQ(predicted.size(), again.size());
  double worst = 0, raw = 0;
  const auto before = frd_rows(dir.work() / "dut.frd");
  for (std::size_t i = 0; i < again.size(); ++i) {
    const double hz = again[i].first;
    ASSERT_NEAR(predicted[i].first, hz, 1e-3 * hz);
    if (hz < 150 || hz > 12000) continue;
    worst = std::max(worst, std::abs(again[i].second - predicted[i].second));
    raw = std::max(raw, std::abs(again[i].second - before[i].second));
  }
  EXPECT_LE(worst, 0.2);
  EXPECT_GT(raw, 3);  // the correction changed the response: the comparison is not of two alike
}
