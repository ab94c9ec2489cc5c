// End-to-end tests of vellisk with its streams and files pointed at awkward places.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "run_vellisk.h"

namespace {

const std::string kGoldenSweep = read_file(kTestData / "sweep.pcm");
const std::string kGoldenInverse = read_file(kTestData / "inverse.pcm");

// Standard output that cannot be written, into a pipe without a reader or
// closed, ends a complete run with status 1.
TEST(Streams, LostStandardOutputStillWritesBothFiles) {
  const struct {
    const char* label;
    bool pipe;
    std::string err;
  } cases[] = {
      {"pipe closed by its reader", true, "Unable to write standard output: Broken pipe\n"},
      {"closed", false, "Unable to write standard output: Bad file descriptor\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    RunSetup setup;
    int ends[2] = {-1, -1};
    if (c.pipe) {
      ASSERT_EQ(pipe(ends), 0);
      close(ends[0]);
      setup.stdout_fd = ends[1];
    } else {
      setup.stdout_fd = -2;
    }
    const RunResult r = run_program(dir, golden_args(), setup);
    if (c.pipe) close(ends[1]);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(read_file(dir.work() / "sweep.pcm") == kGoldenSweep);
    EXPECT_TRUE(read_file(dir.work() / "inverse.pcm") == kGoldenInverse);
  }
}

// An output file that is the program's own standard output or error is refused
// before anything is written into it.
TEST(Streams, NoOutputFileIsAStandardStream) {
  const struct {
    std::size_t arg;
    const char* name;
    bool pipe;
    const char* stream;
  } cases[] = {
      {8, "/dev/stdout", false, "standard output"},
      {9, "/dev/stdout", true, "standard output"},
      {8, "../out.txt", false, "standard output"},
      {9, "/dev/stderr", false, "standard error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "argument " << c.arg + 1 << ": " << c.name << (c.pipe ? " into a pipe" : ""));
    TempDir dir;
    RunSetup setup;
    int ends[2] = {-1, -1};
    if (c.pipe) {
      ASSERT_EQ(pipe(ends), 0);
      setup.stdout_fd = ends[1];
    } else {
      setup.stdout_path = dir.root() / "out.txt";
    }
    std::vector<std::string> args = golden_args();
    args[c.arg] = c.name;
    const RunResult r = run_program(dir, args, setup);
    std::string out;
    if (c.pipe) {
      close(ends[1]);
      char buffer[4096];
      for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
      close(ends[0]);
    } else {
      out = read_file(setup.stdout_path);
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(c.arg == 8 ? "sweepfile (" : "inversefile (") + c.name +
                         ") must not name the program's " + c.stream +
                         (c.stream[9] == 'o' ? ": its progress lines" : ": its messages") +
                         " would be written into the samples\n");
    EXPECT_EQ(out, banner_text() + "\nCommand line parsing.\nSweep generation setup.\n");
    EXPECT_TRUE(list_files(dir.work()).empty());
  }
}

TEST(Streams, AmplitudeUpToTheLargestFloat32) {
  const double largest = std::numeric_limits<float>::max();
  for (const double amplitude : {-largest, std::nextafter(largest, 1e300)}) {
    SCOPED_TRACE(amplitude);
    std::vector<std::string> args = golden_args();
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", amplitude);
    args[1] = text;
    TempDir dir;
    const RunResult r = run_vellisk(dir, args);
    if (amplitude < 0) {
      EXPECT_EQ(r.status, 0) << r.err;
      float peak = 0;
      for (const float v : read_samples(dir.work() / "sweep.pcm")) {
        ASSERT_TRUE(std::isfinite(v));
        peak = std::max(peak, std::abs(v));
      }
      EXPECT_GT(peak, 0.99 * largest);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err,
                "amplitude (3.402823466385289e+38) must not exceed the largest float32 in "
                "magnitude (3.4028234663852886e+38)\n");
      EXPECT_TRUE(list_files(dir.work()).empty());
    }
  }
}

// A file that could not be written whole, whether the write failed or a signal
// ended the run, is not left under its name; a signal that was ignored at start
// does not end the run.
TEST(Streams, IncompleteFilesAreRemoved) {
  const std::vector<std::string> long_run = {"96000", "0.5",  "20",    "20000",     "10",
                                             "1",     "0.05", "0.005", "sweep.pcm", "inverse.pcm"};
  const struct {
    const char* label;
    long file_size_limit;
    int signal;
    bool ignore_sigint;
  } cases[] = {
      {"file size limit", 10000, 0, false},
      {"SIGINT", -1, SIGINT, false},
      {"SIGTERM", -1, SIGTERM, false},
      {"SIGHUP", -1, SIGHUP, false},
      {"SIGINT ignored at start", -1, SIGINT, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    RunSetup setup;
    setup.file_size_limit = c.file_size_limit;
    setup.signal = c.signal;
    setup.ignore_sigint = c.ignore_sigint;
    setup.wait_for = dir.work() / "sweep.pcm";
    const RunResult r = run_program(dir, long_run, setup);
    if (c.ignore_sigint) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(list_files(dir.work()), (std::vector<std::string>{"inverse.pcm", "sweep.pcm"}));
      continue;
    }
    if (c.signal != 0) {
      EXPECT_EQ(r.signal, c.signal) << "status " << r.status;
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "Unable to write sweep file: File too large\n");
    }
    EXPECT_TRUE(list_files(dir.work()).empty());
  }
}

}  // namespace
