// End-to-end tests of --sweep (the design read from vellisk's WAV files) and of what a response
// WAV carries of its measurement, read back by libsndfile, the library and vellisk-room.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "run_vellisk.h"
#include "vellisk/response.h"
#include "vellisk/sweep.h"

using namespace vellisk;

namespace {

// 1 s from 50 Hz to 3 kHz at 8 kHz, after 0.25 s of silence.
const std::vector<std::string> kNumbers = {"8000", "0.5",  "50",   "3000",
                                           "1",    "0.25", "0.05", "0.02"};
const SweepParams kSweep = {8000, 0.5, 50, 3000, 1, 0.25, 0.05, 0.02};

RunResult run(const TempDir& dir, const char* program, std::vector<std::string> args,
              int stdin_fd = -1) {
  RunSetup setup;
  setup.program = program;
  setup.stdin_fd = stdin_fd;
  setup.time_limit = 60;
  return run_program(dir, args, setup);
}

// Options, the eight numbers, then files.
std::vector<std::string> args_of(std::vector<std::string> options,
                                 const std::vector<std::string>& files,
                                 const std::vector<std::string>& numbers = kNumbers) {
  options.insert(options.end(), numbers.begin(), numbers.end());
  options.insert(options.end(), files.begin(), files.end());
  return options;
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A recording of `channels` channels: channel c is the sweep file, c * 7 samples late and
// scaled by 1 / (c + 1), its polarity turned on odd channels; channel 2 of 8 is silent.
void write_recording(const std::filesystem::path& path, int channels) {
  const std::vector<float> sweep = sweep_samples(kSweep);
  const auto frames = static_cast<std::int64_t>(sweep.size()) + 1000;
  std::vector<float> data(static_cast<std::size_t>(frames * channels));
  for (int c = 0; c < channels; ++c) {
    if (channels == 8 && c == 2) continue;
    for (std::size_t t = 0; t < sweep.size(); ++t) {
      const float x = sweep[t] / static_cast<float>(c + 1) * (c % 2 == 1 ? -1.0f : 1.0f);
      data[(t + 7 * static_cast<std::size_t>(c)) * static_cast<std::size_t>(channels) +
           static_cast<std::size_t>(c)] = x;
    }
  }
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = 8000;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  sf_writef_float(file, data.data(), frames);
  sf_close(file);
}

std::string comment_of(const std::filesystem::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return "";
  const char* text = sf_get_string(file, SF_STR_COMMENT);
  std::string out = text != nullptr ? text : "";
  sf_close(file);
  return out;
}

}  // namespace

// The sweep file and the inverse file give the response the eight numbers give, byte for
// byte, at 1 and 8 channels, and so does a sweep file with a chunk of another program's
// before its samples.
TEST(SweepWav, GivesTheResponseOfTheEightNumbersBitForBit) {
  TempDir dir;
  ASSERT_EQ(run_vellisk(dir, args_of({"--wav"}, {"sweep.wav", "inverse.wav"})).status, 0);
  // A "junk" chunk before the data, as some editors add.
  std::string bytes = read_file(dir.work() / "sweep.wav");
  const std::size_t data = bytes.rfind("data");
  bytes.insert(data, std::string("junk\x06\0\0\0abcdef", 14));
  const std::uint32_t riff = static_cast<std::uint32_t>(bytes.size() - 8);
  for (int i = 0; i < 4; ++i)
    bytes[4 + static_cast<std::size_t>(i)] = static_cast<char>(riff >> (8 * i));
  write_file(dir.work() / "junk.wav", bytes);
  for (const int channels : {1, 8}) {
    SCOPED_TRACE(testing::Message() << channels << " channels");
    write_recording(dir.work() / "rec.wav", channels);
    const RunResult numbers = run(dir, VELLISK_IR_BINARY, args_of({}, {"rec.wav", "ir.wav"}));
    ASSERT_EQ(numbers.status, 0) << numbers.err;
    const std::string expected = read_file(dir.work() / "ir.wav");
    for (const char* design : {"sweep.wav", "inverse.wav", "junk.wav"}) {
      SCOPED_TRACE(design);
      const RunResult r = run(dir, VELLISK_IR_BINARY, {"--sweep", design, "rec.wav", "ir2.wav"});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, numbers.err);
      EXPECT_TRUE(read_file(dir.work() / "ir2.wav") == expected);
    }
  }
}

// A sweep file refused: changed in one sample, cut short, another program's, a silent sweep,
// beside the eight numbers; each in one line, and no response written.
TEST(SweepWav, FilesThatDoNotCarryTheirDesignAreRefused) {
  TempDir dir;
  const auto vellisk = [&dir](std::vector<std::string> args) {
    ASSERT_EQ(run_vellisk(dir, args).status, 0);
  };
  vellisk(args_of({"--wav"}, {"sweep.wav", "inverse.wav"}));
  std::vector<std::string> silent = kNumbers;
  silent[1] = "0";
  vellisk(args_of({"--wav"}, {"silent.wav", "silent-inverse.wav"}, silent));
  write_recording(dir.work() / "rec.wav", 1);
  std::string bytes = read_file(dir.work() / "sweep.wav");
  std::string tampered = bytes;
  tampered[tampered.size() - 4 * 3000] ^= 1;  // the lowest bit of sample 12000 - 3000
  write_file(dir.work() / "tampered.wav", tampered);
  write_file(dir.work() / "short.wav", bytes.substr(0, bytes.size() - 4));
  const std::string sox =
      std::string(VELLISK_SOX) + " -n -r 8000 -e float -b 32 foreign.wav synth 1.5 sine 440";
  ASSERT_EQ(std::system(("cd " + dir.work().string() + " && " + sox).c_str()), 0);

  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--sweep", "tampered.wav", "rec.wav", "ir.wav"},
       "sweep file (tampered.wav) does not match the design it carries: sample 9000 is "},
      {{"--sweep", "short.wav", "rec.wav", "ir.wav"},
       "sweep file (short.wav) ends after 11999 of its 12000 samples: it was cut short\n"},
      {{"--sweep", "foreign.wav", "rec.wav", "ir.wav"},
       "sweep file (foreign.wav) carries no design: "},
      {{"--sweep", "rec.wav", "rec.wav", "ir.wav"}, "sweep file (rec.wav) carries no design: "},
      {{"--sweep", "silent.wav", "rec.wav", "ir.wav"},
       "amplitude (0) must not be 0 for a measurement: a silent sweep measures nothing, and the "
       "response cannot be scaled by it\n"},
      {args_of({"--sweep", "sweep.wav"}, {"rec.wav", "ir.wav"}),
       "--sweep (sweep.wav) and the eight numbers must not both be given: "},
      {{"--sweep", "sweep.wav", "rec.wav"},
       "vellisk-ir --sweep takes 2 arguments after its options, not 1; "},
      // A FIFO no one writes to, and a pipe that holds the file's start, at once.
      {{"--sweep", "fifo", "rec.wav", "ir.wav"},
       "sweep file (fifo) is a pipe or FIFO: it is read twice, for its design and then its "
       "samples; save it to a file first\n"},
      {{"--sweep", "/dev/stdin", "rec.wav", "ir.wav"}, "sweep file (/dev/stdin) is a pipe or FIFO"},
  };
  ASSERT_EQ(mkfifo((dir.work() / "fifo").c_str(), 0600), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], bytes.data(), 512), 512);
    close(ends[1]);
    const RunResult r = run(dir, VELLISK_IR_BINARY, c.args, ends[0]);
    close(ends[0]);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.work() / "ir.wav"));
  }
}

// The response WAV's comment, read by libsndfile and the library, is the JSON report's
// figures to the bit; vellisk-room reads it back into its own JSON.
TEST(SweepWav, TheResponseCarriesWhatWasMeasured) {
  TempDir dir;
  write_recording(dir.work() / "rec.wav", 8);
  const RunResult r = run(
      dir, VELLISK_IR_BINARY,
      args_of({"--pre", "0.05", "--length", "0.5", "--json", "ir.json"}, {"rec.wav", "ir.wav"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto json = nlohmann::json::parse(read_file(dir.work() / "ir.json"));
  const std::string comment = comment_of(dir.work() / "ir.wav");
  EXPECT_EQ(comment, json["irfile_comment"]);
  MeasuredResponse m;
  ASSERT_FALSE(parse_response_text(comment, m)) << comment;
  EXPECT_EQ(m.program, json["program"]);
  EXPECT_EQ(m.sweep.rate, json["sweep"]["rate_hz"]);
  EXPECT_EQ(m.sweep.hzend, json["sweep"]["hzend_hz"]);
  EXPECT_EQ(m.sweep.leadout, json["sweep"]["leadout"]);
  EXPECT_EQ(m.zero_sample, json["window"]["zero_instant_sample"]);
  EXPECT_EQ(m.pre_s, json["window"]["pre_s"]);
  EXPECT_EQ(m.length_s, json["window"]["length_s"]);
  ASSERT_EQ(m.channels.size(), 8u);
  for (std::size_t c = 0; c < 8; ++c) {
    SCOPED_TRACE(testing::Message() << "channel " << c + 1);
    const auto& ch = json["channels"][c];
    if (c == 2) {
      EXPECT_TRUE(ch["silent"].get<bool>());
      EXPECT_FALSE(m.channels[c].latency_samples || m.channels[c].gain_db ||
                   m.channels[c].polarity);
      continue;
    }
    EXPECT_EQ(*m.channels[c].latency_samples, ch["arrival_samples"].get<double>());
    EXPECT_EQ(*m.channels[c].gain_db, ch["gain_db"].get<double>());
    EXPECT_EQ(*m.channels[c].polarity, ch["polarity"].get<int>());
    // The system: 7 c samples late, 1 / (c + 1), turned on odd channels.
    EXPECT_NEAR(*m.channels[c].latency_samples, 7 * static_cast<double>(c), 0.05);
    EXPECT_NEAR(*m.channels[c].gain_db, -20 * std::log10(static_cast<double>(c) + 1), 0.05);
    EXPECT_EQ(*m.channels[c].polarity, c % 2 == 1 ? -1 : 1);
  }

  const RunResult room = run(dir, VELLISK_ROOM_BINARY, {"--json", "room.json", "ir.wav"});
  ASSERT_EQ(room.status, 0) << room.err;
  EXPECT_NE(room.out.find("Measured by " + m.program +
                          ": a sweep from 50 Hz to 3000 Hz; the zero instant at 0.05 s\n"),
            std::string::npos)
      << room.out;
  const auto measured =
      nlohmann::json::parse(read_file(dir.work() / "room.json"))["files"][0]["measurement"];
  EXPECT_EQ(measured["zero_instant_s"], 0.05);
  EXPECT_NEAR(measured["channels"][1]["latency_ms"].get<double>(),
              json["channels"][1]["arrival_ms"].get<double>(), 1e-9);
  EXPECT_EQ(measured["channels"][2]["latency_ms"], nullptr);

  // A FLAC irfile carries the same text as its Vorbis comment.
  ASSERT_EQ(run(dir, VELLISK_IR_BINARY,
                args_of({"--pre", "0.05", "--length", "0.5"}, {"rec.wav", "ir.flac"}))
                .status,
            0);
  EXPECT_EQ(comment_of(dir.work() / "ir.flac"), comment);

  // A text that is not a response's, or lacks a channel's figure, is refused.
  EXPECT_TRUE(parse_response_text("vellisk 1.1.0 sweep: rate=8000", m));
  const std::optional<Problem> cut = parse_response_text(comment.substr(0, comment.rfind(" polarity8=")), m);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->code, ProblemCode::invalid_input);
  EXPECT_EQ(cut->message, "its polarity8 is missing");
}

// No output may fall on a file the run reads: the sweep file, the microphone's calibration or
// the calibrator's recording, named as the irfile, the step file, a harmonic's file or a
// channel's text file, directly or through a link. Each is refused in one line before any
// work, and every file is left as it was.
TEST(SweepWav, NoOutputOverwritesAnInput) {
  TempDir dir;
  ASSERT_EQ(run_vellisk(dir, args_of({"--wav"}, {"sweep.wav", "inverse.wav"})).status, 0);
  write_recording(dir.work() / "rec.wav", 1);
  write_recording(dir.work() / "rec2.wav", 2);
  std::filesystem::copy_file(dir.work() / "sweep.wav", dir.work() / "ir-h2.wav");
  std::filesystem::create_symlink("sweep.wav", dir.work() / "link.wav");
  for (const char* mic : {"mic.txt", "f-c2.frd"}) write_file(dir.work() / mic, "20 0\n4000 0\n");
  std::filesystem::copy_file(dir.work() / "rec.wav", dir.work() / "cal.wav");
  const std::string kept = " must not name the same file: ";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--sweep", "sweep.wav", "rec.wav", "sweep.wav"},
       "--sweep and irfile (sweep.wav, sweep.wav)" + kept + "the response would overwrite the sweep file"},
      {{"--sweep", "sweep.wav", "--step", "link.wav", "rec.wav", "ir.wav"},
       "--sweep and output (sweep.wav, link.wav)" + kept + "the output would overwrite the sweep file"},
      {{"--sweep", "ir-h2.wav", "-H", "2", "-p", "0.05", "rec.wav", "ir.wav"},
       "--sweep and output (ir-h2.wav, ir-h2.wav)" + kept},
      {{"--sweep", "sweep.wav", "--mic-cal", "mic.txt", "--frd", "mic.txt", "rec.wav", "ir.wav"},
       "--mic-cal and output (mic.txt, mic.txt)" + kept + "the output would overwrite the "
       "microphone's calibration"},
      {{"--sweep", "sweep.wav", "--mic-cal", "f-c2.frd", "--frd", "f.frd", "rec2.wav", "ir.wav"},
       "--mic-cal and output (f-c2.frd, f-c2.frd)" + kept},
      {{"--sweep", "sweep.wav", "--spl-cal", "cal.wav", "94", "--json", "./cal.wav", "rec.wav", "ir.wav"},
       "--spl-cal and output (cal.wav, ./cal.wav)" + kept + "the output would overwrite the "
       "calibrator's recording"},
  };
  const auto files = [&dir] {
    std::vector<std::pair<std::string, std::string>> all;
    for (const std::string& name : list_files(dir.work())) all.emplace_back(name, read_file(dir.work() / name));
    return all;
  };
  const auto before = files();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const RunResult r = run(dir, VELLISK_IR_BINARY, c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(files() == before);
  }
}
