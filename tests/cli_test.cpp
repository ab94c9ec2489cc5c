// End-to-end tests of the vellisk binary: console output, status and files.
#include <gtest/gtest.h>

#include <string>
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

// --help and --version are options; the help points to the other programs.
TEST(Cli, HelpAndVersion) {
  for (const char* option : {"--help", "-h", "--version", "-V"}) {
    SCOPED_TRACE(option);
    TempDir dir;
    const RunResult r = run_vellisk(dir, {option, "--wav"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    if (option[1] == 'V' || option[2] == 'v') {
      EXPECT_EQ(r.out, "vellisk 1.1.0\n");
      continue;
    }
    ASSERT_EQ(r.out.rfind(banner_text() + "\nUsage: vellisk [options] rate", 0), 0u) << r.out;
    for (const char* text :
         {"  --wav ", "  vellisk-ir ", "  vellisk-measure ", "  vellisk-room "}) {
      EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
    for (std::size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
      EXPECT_LE(end - at, 80u) << r.out.substr(at, end - at);
    }
  }
}

// After an option come the ten arguments, and no option vellisk does not know.
TEST(Cli, CommandLinesWithOptionsAreCheckedBeforeTheRun) {
  std::vector<std::string> golden = golden_args();
  golden.insert(golden.begin(), "--wav");
  std::vector<std::string> eleven = golden, unknown = golden, fraction = golden;
  eleven.push_back("extra");
  unknown.insert(unknown.begin() + 1, "--wave");
  fraction[1] = "8000.5";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--wav", "8000", "0.5"}, "vellisk takes 10 arguments after its options, not 2"},
      {eleven, "vellisk takes 10 arguments after its options, not 11"},
      {unknown, "unknown option --wave; vellisk --help lists the options"},
      {fraction, "rate (8000.5) must be a whole number in a WAV file"},
  };
  for (const auto& [args, err] : cases) {
    SCOPED_TRACE(err);
    TempDir dir;
    const RunResult r = run_vellisk(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, err.size()), err);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not one line: " << r.err;
    EXPECT_TRUE(list_files(dir.work()).empty());
  }
}

// A warning goes to standard error alone: the files, the status and standard output stay.
TEST(Cli, WarningsLeaveTheRunAsItWas) {
  const std::string raw =
      " is written as headerless float32 samples, which players will not "
      "read as ";
  const std::string to_wav = "; give --wav before the eight numbers to write WAV files\n";
  const std::string wav =
      " is written as a WAV file, which programs that go by its name will "
      "misread as ";
  const struct {
    bool wav;
    std::string amplitude, sweepfile, inversefile, extra, err;
  } cases[] = {
      {false, "0.5", "s.WAV", "i.aif", "",
       "Warning: sweepfile (s.WAV)" + raw + "WAV" + to_wav + "Warning: inversefile (i.aif)" + raw +
           "AIFF" + to_wav},
      {true, "0.5", "s.raw", "i.Flac", "",
       "Warning: sweepfile (s.raw)" + wav + "headerless samples; name it .wav\n" +
           "Warning: inversefile (i.Flac)" + wav + "FLAC; name it .wav\n"},
      {false, "0", "sweep.pcm", "inverse.pcm", "",
       "Warning: amplitude 0 makes the sweep silent: it will measure nothing; give the level to "
       "play it at, such as 0.5\n"},
      {true, "-1.5", "s.wav", "i.wav", "",
       "Warning: amplitude (-1.5) exceeds 1 in magnitude, the full scale of a WAV file: a player "
       "or converter will clip the sweep; give at most 1\n"},
      {true, "1", "s.wav", "i.wav", "", ""},
      {false, "0.5", "sweep.pcm", "inverse.pcm", "--wav",
       "Warning: --wav after the ten arguments is ignored: options go before the eight numbers\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args = golden_args();
    args[1] = c.amplitude;
    args[8] = c.sweepfile;
    args[9] = c.inversefile;
    if (c.wav) args.insert(args.begin(), "--wav");
    if (!c.extra.empty()) args.push_back(c.extra);
    TempDir dir;
    const RunResult r = run_vellisk(dir, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.err);
    EXPECT_NE(r.out.find("Inverse file generated.\n"), std::string::npos);
    if (!c.extra.empty()) {
      EXPECT_EQ(r.out, banner_text() + read_file(kTestData / "stdout-after-banner.txt"));
    }
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
