// End-to-end tests of the vellisk binary: console output, status and files.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "run_vellisk.h"

namespace {

const std::string kUsageText =
    "\nUsage: vellisk rate amplitude hzstart hzend duration silence\n"
    "        leadin leadout sweepfile inversefile\n"
    "\nParameters:\n\n"
    "  rate: reference sample rate\n"
    "  amplitude: sweep amplitude\n"
    "  hzstart: sweep start frequency\n"
    "  hzend: sweep end frequency\n"
    "  duration: sweep duration in seconds\n"
    "  silence: leading and trailing silence duration in seconds\n"
    "  leadin: leading window length as a fraction of duration\n"
    "  leadout: trailing window length as a fraction of duration\n"
    "  sweepfile: sweep file name\n"
    "  inversefile: inverse sweep file name\n"
    "\nExample: vellisk 44100 0.5 10 21000 45 2 0.05 0.005 sweep.pcm inverse.pcm\n\n";

TEST(Cli, TooFewArgumentsShowUsage) {
  const std::vector<std::vector<std::string>> calls = {
      {}, {"-help"}, {"44100", "0.5", "10", "21000", "45", "2", "0.05", "0.005", "sweep.pcm"}};
  for (const auto& args : calls) {
    SCOPED_TRACE(testing::Message() << args.size() << " arguments");
    TempDir dir;
    const RunResult r = run_vellisk(dir, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner_text() + kUsageText);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(list_files(dir.work()).empty());
  }
}

// A file that cannot be opened or written ends the run at once; a failed sweep
// leaves the inverse file alone, a failed inverse leaves the sweep file complete.
TEST(Cli, FileFailuresEndTheRunWithStatusOne) {
  struct Case {
    std::size_t arg;
    std::string name, err;
  };
  const Case cases[] = {
      {8, "/dev/full", "Unable to write sweep file: No space left on device\n"},
      {8, "no-such-folder/sweep.pcm", "Unable to open sweep file: No such file or directory\n"},
      {8, "", "Unable to open sweep file: No such file or directory\n"},
      {9, "/dev/full", "Unable to write inverse file: No space left on device\n"},
      {9, "no-such-folder/inverse.pcm", "Unable to open inverse file: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "argument " << c.arg + 1 << ": " << c.name);
    std::vector<std::string> args = golden_args();
    args[c.arg] = c.name;
    TempDir dir;
    const RunResult r = run_vellisk(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out.find("Inverse file generated."), std::string::npos);
    if (c.arg == 8) {
      EXPECT_EQ(r.out.find("Sweep file generated."), std::string::npos);
      EXPECT_EQ(r.out.find("Opening inverse file"), std::string::npos);
      EXPECT_TRUE(list_files(dir.work()).empty());
    } else {
      EXPECT_NE(r.out.find("Sweep file generated.\nSweep normalizaton factor: "),
                std::string::npos);
      EXPECT_TRUE(read_file(dir.work() / "sweep.pcm") == read_file(kTestData / "sweep.pcm"));
    }
  }
}

TEST(Cli, LostStandardOutputIsAFailure) {
  const std::vector<std::vector<std::string>> calls = {{}, golden_args()};
  for (const auto& args : calls) {
    SCOPED_TRACE(testing::Message() << args.size() << " arguments");
    TempDir dir;
    const RunResult r = run_vellisk(dir, args, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Unable to write standard output: No space left on device\n");
  }
}

TEST(Cli, ExtraArgumentsAndTrailingLettersAreIgnored) {
  std::vector<std::string> args = golden_args();
  args[0] += "Hz";
  args.push_back("extra");
  args.push_back("more");
  TempDir dir;
  const RunResult r = run_vellisk(dir, args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Warning: rate '8000Hz' was read as 8000\n");
  EXPECT_EQ(r.out, banner_text() + read_file(kTestData / "stdout-after-banner.txt"));
  EXPECT_TRUE(read_file(dir.work() / "sweep.pcm") == read_file(kTestData / "sweep.pcm"));
}

// --help and --version answer alone; after an option come the ten arguments and no unknown option.
TEST(Cli, CommandLinesWithOptions) {
  std::vector<std::string> wav = golden_args();
  wav.insert(wav.begin(), "--wav");
  std::vector<std::string> unknown = wav, fraction = wav, first = golden_args(), negative = first;
  unknown.insert(unknown.begin() + 1, "--wave");
  first.insert(first.begin(), "--wave");
  negative[0] = "-48000";
  fraction[1] = "8000.5";
  const std::vector<std::string> huge = {"--wav", "1000000", "0.5", "20",    "20000", "1073.8",
                                         "0",     "0",       "0",   "s.wav", "i.wav"};
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--version", "--wav"}, 0, "vellisk 1.1.0\n"},
      {{"-h"}, 0, "  vellisk-room     computes room-acoustic parameters (ISO 3382-1)"},
      {{"--wav", "8000", "0.5"}, 1, "vellisk takes 10 arguments after its options, not 2"},
      {unknown, 1, "unknown option --wave (perhaps --wav); vellisk --help lists the options\n"},
      {first, 1, "unknown option --wave (perhaps --wav); vellisk --help lists the options\n"},
      {negative, 1, "rate (-48000) must be greater than 0\n"},
      {fraction, 1, "rate (8000.5) must be a whole number in a WAV file\n"},
      {huge, 1, "(1073800000 + 2 * 0 = 1073800000) must not exceed 1073741772 samples in a WAV"},
  };
  for (const auto& [args, status, text] : cases) {
    SCOPED_TRACE(text);
    TempDir dir;
    const RunResult r = run_vellisk(dir, args);
    EXPECT_EQ(r.status, status);
    EXPECT_NE((status == 0 ? r.out : r.err).find(text), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.err.find('\n'), status == 0 ? std::string::npos : r.err.size() - 1) << r.err;
    EXPECT_TRUE(list_files(dir.work()).empty());
  }
}

// A warning goes to standard error alone: the files, the status and standard output stay.
TEST(Cli, WarningsLeaveTheRunAsItWas) {
  const std::string raw =
      " is written as headerless float32 samples, which players will not "
      "read as ";
  const std::string to_wav = "; give --wav before the eight numbers to write WAV files\n";
  const struct {
    bool wav;
    std::string amplitude, sweepfile, inversefile, err;
  } cases[] = {
      {false, "0.5", "s.WAV", "i.aif",
       "Warning: sweepfile (s.WAV)" + raw + "WAV" + to_wav + "Warning: inversefile (i.aif)" + raw +
           "AIFF" + to_wav},
      {true, "0.5", "s.pcm", "i.wav",
       "Warning: sweepfile (s.pcm) is written as a WAV file, which programs that go by its name "
       "will misread as headerless samples; name it .wav\n"},
      {false, "0", "sweep.pcm", "inverse.pcm",
       "Warning: amplitude 0 makes the sweep silent: it will measure nothing; give the level to "
       "play it at, such as 0.5\n"},
      {true, "-1.5", "s.wav", "i.wav",
       "Warning: amplitude (-1.5) exceeds 1 in magnitude, the full scale of a WAV file: a player "
       "or converter will clip the sweep; give at most 1\n"},
      {true, "1", "s.wav", "i.wav", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args = golden_args();
    args[1] = c.amplitude;
    args[8] = c.sweepfile;
    args[9] = c.inversefile;
    if (c.wav) args.insert(args.begin(), "--wav");
    TempDir dir;
    const RunResult r = run_vellisk(dir, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.err);
    EXPECT_NE(r.out.find("Inverse file generated.\n"), std::string::npos);
    if (c.amplitude == "0") {  // the silent sweep, and the inverse filter as always
      for (const float v : read_samples(dir.work() / "sweep.pcm")) ASSERT_EQ(v, 0.0f);
      EXPECT_TRUE(read_file(dir.work() / "inverse.pcm") == read_file(kTestData / "inverse.pcm"));
    }
  }
}

}  // namespace

namespace {

TEST(Cli, MemoryDoesNotGrowWithTheSweep) {
  const auto peak_kib = [](const char* duration) {
    TempDir dir;
    const RunResult r = run_vellisk(dir, {"16000", "0.5", "20", "7000", duration, "1", "0.05",
                                          "0.005", "/dev/null", "/dev/null"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.max_rss_kib;
  };
  const long short_run = peak_kib("3");
  const long long_run = peak_kib("30");
  EXPECT_GT(short_run, 0);
  EXPECT_LT(long_run - short_run, 1024) << "peak memory " << short_run << " KiB, then " << long_run;
}

}  // namespace
