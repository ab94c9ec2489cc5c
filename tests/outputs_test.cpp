// End-to-end tests of what the programs that write several files share: the
// commit of their outputs, their names, the recordings they read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "run_vellisk.h"

namespace {

namespace fs = std::filesystem;

// 0.5 s at 8 kHz after 0.05 s of silence: its sweep file, 4800 samples, is the recording.
const std::vector<std::string> kNumbers = {"8000", "0.5", "50", "3000", "0.5", "0.05", "0.1", "0.02"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& files) {
  args.insert(args.end(), kNumbers.begin(), kNumbers.end());
  args.insert(args.end(), files.begin(), files.end());
  return args;
}

RunResult run(const TempDir& dir, const std::string& program, const std::vector<std::string>& args,
              RunSetup setup = {}) {
  setup.program = program;
  setup.time_limit = 60;
  return run_program(dir, args, setup);
}

// rec.pcm in dir's work folder, and its response made.wav.
void record(const TempDir& dir) {
  ASSERT_EQ(run_vellisk(dir, with({}, {"rec.pcm", "../inverse.pcm"}), dir.root() / "out").status, 0);
  ASSERT_EQ(run(dir, VELLISK_IR_BINARY, with({}, {"rec.pcm", "made.wav"})).status, 0);
}

// A signal at any rename of the commit (put there by strace) waits until
// every output is in place: the run ends by it with all files new. Names of
// 255 bytes, the longest allowed, get temporaries too.
TEST(Outputs, ASignalDuringTheRenamesLeavesEveryFileNew) {
  const std::string ir(248, 'i');
  std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {VELLISK_IR_BINARY,
       with({"-H", "2", "-p", "0.01", "--plot", "f.svg", "--frd", "r.frd", "--json", "r.json"},
            {"rec.pcm", ir + ".wav"})}};
  std::vector<std::vector<std::string>> outputs = {
      {ir + ".wav", ir + "-h2.wav", "f.svg", "r.frd", "r-h2.frd", "r.json"}};
#ifdef VELLISK_ROOM_BINARY
  runs.push_back({VELLISK_ROOM_BINARY, {"--csv", "r.csv", "--json", "r.json", "made.wav"}});
  outputs.push_back({"r.csv", "r.json"});
#endif
  for (std::size_t i = 0; i < runs.size(); ++i) {
    for (std::size_t when = 1; when <= outputs[i].size(); ++when) {
      SCOPED_TRACE(runs[i].first + ", rename " + std::to_string(when));
      TempDir dir;
      record(dir);
      for (const std::string& name : outputs[i]) std::ofstream(dir.work() / name) << "old";
      std::vector<std::string> args = {"-qq", "-o", "/dev/null", "-e", "trace=rename", "-e",
                                       "inject=rename:signal=SIGTERM:when=" + std::to_string(when),
                                       runs[i].first};
      args.insert(args.end(), runs[i].second.begin(), runs[i].second.end());
      EXPECT_EQ(run(dir, VELLISK_STRACE, args).signal, SIGTERM);
      for (const std::string& name : outputs[i]) {
        EXPECT_NE(read_file(dir.work() / name), "old") << name.size() << " bytes";
      }
      for (const std::string& name : list_files(dir.work())) EXPECT_NE(name[0], '.');
    }
  }
}

// A FLAC written to a pipe does not say how long it is (libsndfile gives
// 2^63 - 1 frames): its frames are counted for the report and the JSON. A
// recording is read in stretches, out of order: one on a pipe or FIFO is
// refused at once, a FIFO with no writer too.
TEST(Outputs, RecordingsThatDoNotSayTheirLength) {
  TempDir dir;
  record(dir);
  ASSERT_EQ(std::system(("cd " + dir.work().string() + " && cat rec.pcm | " + VELLISK_SOX +
                         " -t raw -r 8000 -e floating-point -b 32 -c 1 -L - -t flac - | cat > "
                         "rec.flac")
                            .c_str()),
            0);
  const RunResult r = run(dir, VELLISK_IR_BINARY, with({"--json", "r.json"}, {"rec.flac", "ir.wav"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(", 1 channel, 4800 frames at 8000 Hz\n"), std::string::npos) << r.out;
  EXPECT_NE(read_file(dir.work() / "r.json").find("\"frames\": 4800,"), std::string::npos);

  fs::create_symlink("/dev/stdin", dir.work() / "stream.pcm");
  fs::create_symlink("/dev/stdin", dir.work() / "stream.wav");
  ASSERT_EQ(mkfifo((dir.work() / "fifo.wav").c_str(), 0600), 0);
  const std::string bytes(4096, '\0');
  for (const char* name : {"stream.pcm", "stream.wav", "fifo.wav"}) {
    SCOPED_TRACE(name);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), 4096);
    close(ends[1]);
    RunSetup setup;
    setup.stdin_fd = ends[0];
    setup.time_limit = 60;
    const RunResult s = run(dir, VELLISK_IR_BINARY, with({}, {name, "ir.wav"}), setup);
    close(ends[0]);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err, "recording (" + std::string(name) +
                         ") is a pipe or FIFO: it is read in stretches, out of order; save it to "
                         "a file first\n");
  }
}

// PLplot asks for a device on standard input (a pipe kept open here: a read
// would wait for the time limit) when it cannot list the one asked for: with
// too few descriptors free, or a drivers' folder without it. One line instead.
TEST(Outputs, NoLibraryReadsStandardInput) {
  TempDir dir;
  record(dir);
  fs::create_directory(dir.root() / "ps-only");
  fs::copy_file(fs::path(PLPLOT_DRIVERS) / "ps.driver_info", dir.root() / "ps-only/ps.driver_info");
  for (const bool few_descriptors : {true, false}) {
    SCOPED_TRACE(few_descriptors);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    RunSetup setup;
    setup.stdin_fd = ends[0];
    setup.open_files_limit = few_descriptors ? 6 : -1;
    if (!few_descriptors) setenv("PLPLOT_DRV_DIR", (dir.root() / "ps-only").c_str(), 1);
    const RunResult r = run(dir, VELLISK_IR_BINARY,
                            with({"-l", "0.04", "--plot", "f.svg"}, {"rec.pcm", "ir.wav"}), setup);
    unsetenv("PLPLOT_DRV_DIR");
    close(ends[0]);
    close(ends[1]);
    // The short window draws a warning first; the failure is the last line.
    const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
    EXPECT_EQ(last, few_descriptors ? "Unable to draw the figure: PLplot needs 3 free file "
                                      "descriptors to load its driver: Too many open files\n"
                                    : "Unable to draw the figure: PLplot's svg driver cannot be "
                                      "loaded\n");
    EXPECT_EQ(r.out.find("Plotting Options"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.work() / "ir.wav"));
  }
}

}  // namespace
