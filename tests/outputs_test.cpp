// End-to-end tests of what the programs that write several files share: the
// commit of their outputs, the names they take, the recordings they read.
#include <gtest/gtest.h>
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

// A sweep of 0.5 s at 8 kHz after 0.05 s of silence; its sweep file (4800
// samples) recorded through a wire is the recording.
const std::vector<std::string> kNumbers = {"8000", "0.5", "50", "3000", "0.5", "0.05", "0.1", "0.02"};

std::vector<std::string> with(std::vector<std::string> options,
                              const std::vector<std::string>& files) {
  options.insert(options.end(), kNumbers.begin(), kNumbers.end());
  options.insert(options.end(), files.begin(), files.end());
  return options;
}

RunResult run(const TempDir& dir, const std::string& program, std::vector<std::string> args,
              RunSetup setup = {}) {
  setup.program = program;
  setup.time_limit = 60;
  return run_program(dir, args, setup);
}

// The recording rec.pcm in dir's work folder, and with response, its impulse
// response made.wav.
void record(const TempDir& dir, bool response = false) {
  std::vector<std::string> args = kNumbers;
  args.insert(args.end(), {"rec.pcm", "../inverse.pcm"});
  ASSERT_EQ(run_vellisk(dir, args, dir.root() / "out").status, 0);
  if (response) {
    ASSERT_EQ(run(dir, VELLISK_IR_BINARY, with({}, {"rec.pcm", "made.wav"})).status, 0);
  }
}

// A signal during the renames that put a run's outputs in place waits until
// all are in place: the run ends by it with every file new, none as it was.
TEST(Outputs, ASignalDuringTheRenamesLeavesEveryFileNew) {
  struct Case {
    std::string program;
    std::vector<std::string> args;
    std::vector<std::string> outputs;
  };
  std::vector<Case> cases = {
      {VELLISK_IR_BINARY,
       with({"-H", "2", "-p", "0.01", "--plot", "f.svg", "--frd", "r.frd", "--json", "r.json"},
            {"rec.pcm", "ir.wav"}),
       {"ir.wav", "ir-h2.wav", "f.svg", "r.frd", "r-h2.frd", "r.json"}},
  };
#ifdef VELLISK_ROOM_BINARY
  cases.push_back({VELLISK_ROOM_BINARY,
                   {"--csv", "r.csv", "--json", "r.json", "--plot", "r.svg", "made.wav"},
                   {"r.csv", "r.json", "r.svg"}});
#endif
  for (const Case& c : cases) {
    for (std::size_t when = 1; when <= c.outputs.size(); ++when) {
      SCOPED_TRACE(c.program + ", signal at rename " + std::to_string(when));
      TempDir dir;
      record(dir, true);
      for (const std::string& name : c.outputs) std::ofstream(dir.work() / name) << "old";
      std::vector<std::string> args = {"-qq", "-o", "/dev/null", "-e", "trace=rename", "-e",
                                       "inject=rename:signal=SIGTERM:when=" + std::to_string(when),
                                       c.program};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const RunResult r = run(dir, VELLISK_STRACE, args);
      EXPECT_EQ(r.signal, SIGTERM) << r.err;
      for (const std::string& name : c.outputs) {
        EXPECT_GT(fs::file_size(dir.work() / name), 3u) << name << " is as it was";
      }
      for (const std::string& name : list_files(dir.work())) {
        EXPECT_NE(name[0], '.') << "a temporary was left";
      }
    }
  }
}

// Names up to the longest a folder allows are written (their temporaries are
// cut short to fit); a longer one, or a folder, is refused before any work,
// the text files' names too, which follow the channel count.
TEST(Outputs, NamesOfEveryLegalLengthAndNoOther) {
  const std::string longest(251, 'a');  // with ".wav", 255 bytes
  TempDir dir;
  record(dir);
  const RunResult written =
      run(dir, VELLISK_IR_BINARY,
          with({"-H", "2", "-p", "0.01", "--frd", std::string(248, 'f') + ".frd"},
               {"rec.pcm", std::string(248, 'i') + ".wav"}));
  ASSERT_EQ(written.status, 0) << written.err;
  for (const std::string& name : {std::string(248, 'i') + ".wav", std::string(248, 'i') + "-h2.wav",
                                  std::string(248, 'f') + ".frd", std::string(248, 'f') + "-h2.frd"}) {
    EXPECT_TRUE(fs::exists(dir.work() / name)) << name.size() << " bytes";
  }
  EXPECT_EQ(run(dir, VELLISK_IR_BINARY, with({}, {"rec.pcm", longest + ".wav"})).status, 0);

  fs::create_directory(dir.work() / "folder.json");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } refused[] = {
      {with({}, {"rec.pcm", longest + "a.wav"}),
       "Unable to write " + longest + "a.wav: File name too long\n"},
      {with({"-H", "2", "-p", "0.01", "--frd", std::string(249, 'f') + ".frd"},
            {"rec.pcm", "ir.wav"}),
       "Unable to write " + std::string(249, 'f') + "-h2.frd: File name too long\n"},
      {with({"--json", "folder.json"}, {"rec.pcm", "ir.wav"}),
       "Unable to write folder.json: Is a directory\n"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.err);
    const std::vector<std::string> before = list_files(dir.work());
    const RunResult r = run(dir, VELLISK_IR_BINARY, c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "") << "refused before any work";
    EXPECT_EQ(list_files(dir.work()), before);
  }
}

// A FLAC written to a pipe does not say how long it is (libsndfile reads its
// length as 2^63 - 1): its frames are counted, in the report and the JSON,
// and its response is that of the same samples in a file that says. A
// headerless stream cannot be counted without being read twice: refused.
TEST(Outputs, RecordingsThatDoNotSayTheirLength) {
  TempDir dir;
  record(dir);
  const std::string flac = std::string(VELLISK_SOX) +
                           " -t raw -r 8000 -e floating-point -b 32 -c 1 -L - -t flac -";
  ASSERT_EQ(std::system(("cd " + dir.work().string() + " && " + flac + " < rec.pcm > known.flac && " +
                         "cat rec.pcm | " + flac + " | cat > unknown.flac")
                            .c_str()),
            0);
  for (const char* name : {"known", "unknown"}) {
    SCOPED_TRACE(name);
    const RunResult r =
        run(dir, VELLISK_IR_BINARY,
            with({"--json", std::string(name) + ".json"},
                 {std::string(name) + ".flac", std::string(name) + ".wav"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(", 1 channel, 4800 frames at 8000 Hz\n"), std::string::npos) << r.out;
    EXPECT_NE(read_file(dir.work() / (std::string(name) + ".json")).find("\"frames\": 4800,"),
              std::string::npos);
  }
  // The same samples (the headers differ in their PEAK chunk's time).
  const auto samples = [](const std::string& wav) { return wav.substr(wav.find("data")); };
  EXPECT_EQ(samples(read_file(dir.work() / "unknown.wav")),
            samples(read_file(dir.work() / "known.wav")));

  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  const std::vector<float> block(1024);
  ASSERT_EQ(write(pipe_ends[1], block.data(), 4096), 4096);
  close(pipe_ends[1]);
  fs::create_symlink("/dev/stdin", dir.work() / "stream.pcm");
  RunSetup setup;
  setup.stdin_fd = pipe_ends[0];
  const RunResult r = run(dir, VELLISK_IR_BINARY, with({}, {"stream.pcm", "ir.wav"}), setup);
  close(pipe_ends[0]);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "recording (stream.pcm) does not say how long it is, and cannot be read twice to count "
            "its frames (a pipe?); save it to a file first\n");
}

// PLplot asks for a device on standard input when the one asked for is not
// among the drivers it lists: too few descriptors free to list them, a
// drivers' folder without the svg driver, or none at all. Each ends the run
// with one line; standard input is a pipe kept open here, so a read would
// wait until the time limit.
TEST(Outputs, NoLibraryReadsStandardInput) {
  TempDir dir;
  record(dir);
  const fs::path drivers = PLPLOT_DRIVERS;
  fs::create_directories(dir.root() / "ps-only");
  fs::copy_file(drivers / "ps.driver_info", dir.root() / "ps-only" / "ps.driver_info");
  fs::create_directories(dir.root() / "none");
  const struct {
    long open_files;
    fs::path driver_folder;
    std::string err;
  } cases[] = {
      {6, "", "PLplot needs 3 free file descriptors to load its driver: Too many open files\n"},
      {-1, dir.root() / "ps-only", "PLplot's svg driver cannot be loaded\n"},
      {-1, dir.root() / "none", "No device drivers found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    RunSetup setup;
    setup.stdin_fd = pipe_ends[0];
    setup.open_files_limit = c.open_files;
    if (!c.driver_folder.empty()) setenv("PLPLOT_DRV_DIR", c.driver_folder.c_str(), 1);
    const RunResult r = run(dir, VELLISK_IR_BINARY,
                            with({"-l", "0.04", "--plot", "f.svg"}, {"rec.pcm", "ir.wav"}), setup);
    unsetenv("PLPLOT_DRV_DIR");
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.rfind("Unable to draw the figure: " + c.err, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out.find("Plotting Options"), std::string::npos);
    EXPECT_EQ(list_files(dir.work()), std::vector<std::string>{"rec.pcm"});
  }
}

}  // namespace
