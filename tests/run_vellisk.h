// Test helpers: run the real vellisk binary in a folder of its own and read what it wrote.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// A fresh temporary folder, removed with everything in it at the end of the test.
// work() is where a run's files go; the run's standard output and error are kept beside it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& work() const { return work_; }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
  std::filesystem::path work_;
};

struct RunResult {
  int status = -1;       // exit status, or -1 when the process did not exit normally
  int signal = 0;        // the signal that ended the process, if one did
  std::string out;       // standard output
  std::string err;       // standard error
  long max_rss_kib = 0;  // peak resident memory of the run
};

// How a run is started, beyond its arguments.
struct RunSetup {
  std::filesystem::path stdout_path;  // standard output into this file, not kept in the result
  int stdout_fd = -1;                 // or onto this descriptor (a pipe, say); -2 closes it
  long file_size_limit = -1;          // RLIMIT_FSIZE in bytes, when not negative
  long open_files_limit = -1;         // RLIMIT_NOFILE, when not negative, with only 0 to 2 open
  int stdin_fd = -1;                  // standard input from this descriptor, when not -1
  unsigned time_limit = 0;            // seconds before SIGALRM ends the run, when not 0
  bool ignore_sigint = false;         // start with SIGINT ignored, as a background job does
  int signal = 0;                     // sent once wait_for holds a byte, or ready() holds
  std::filesystem::path wait_for;
  std::function<bool()> ready;
  int continue_after_ms = 0;             // a SIGSTOP is followed by SIGCONT this much later
  std::string program = VELLISK_BINARY;  // the program run
};

// Runs the program with args, in dir.work() as its working folder.
RunResult run_program(const TempDir& dir, const std::vector<std::string>& args,
                      const RunSetup& setup);

// Runs vellisk with args, in dir.work() as its working folder. Standard output goes
// to stdout_path when one is given (and is then not kept in the result).
RunResult run_vellisk(const TempDir& dir, const std::vector<std::string>& args,
                      const std::filesystem::path& stdout_path = {});

// The whole content of a file; fails the calling test when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// The file as little-endian float32 samples.
std::vector<float> read_samples(const std::filesystem::path& path);

// The names of the files in a folder.
std::vector<std::string> list_files(const std::filesystem::path& dir);

// The ten arguments of the reference run kept in the test data.
std::vector<std::string> golden_args();

// Everything the program prints before the output of a run: the banner.
std::string banner_text();

inline const std::filesystem::path kTestData = VELLISK_TEST_DATA;
