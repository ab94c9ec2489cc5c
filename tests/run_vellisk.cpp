// Test helpers for running vellisk and reading its files.
#include "run_vellisk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "vellisk-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    std::abort();
  }
  root_ = pattern;
  work_ = root_ / "work";
  fs::create_directory(work_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

RunResult run_program(const TempDir& dir, const std::vector<std::string>& args,
                      const RunSetup& setup) {
  const fs::path out_path = setup.stdout_path.empty() ? dir.root() / "stdout" : setup.stdout_path;
  const fs::path err_path = dir.root() / "stderr";
  std::vector<char*> argv;
  std::string program = setup.program;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int out = setup.stdout_fd == -1
                        ? ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                        : setup.stdout_fd;
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if ((out < 0 && setup.stdout_fd != -2) || err < 0 || dup2(err, 2) < 0 ||
        (out >= 0 ? dup2(out, 1) < 0 : close(1) != 0) || chdir(dir.work().c_str()) != 0) {
      _exit(127);
    }
    if (setup.stdin_fd >= 0 && dup2(setup.stdin_fd, 0) < 0) _exit(127);
    if (setup.open_files_limit >= 0) {
      close_range(3, ~0U, 0);  // the limit counts from the standard three
      const rlimit limit{static_cast<rlim_t>(setup.open_files_limit),
                         static_cast<rlim_t>(setup.open_files_limit)};
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(127);
    }
    if (setup.file_size_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(setup.file_size_limit),
                         static_cast<rlim_t>(setup.file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    signal(SIGINT, setup.ignore_sigint ? SIG_IGN : SIG_DFL);
    if (setup.time_limit != 0) alarm(setup.time_limit);  // kept across exec
    execv(argv[0], argv.data());
    _exit(127);
  }
  RunResult result;
  if (pid > 0 && setup.signal != 0) {
    std::error_code missing;
    const auto running = [pid] {  // without reaping it
      siginfo_t info{};
      return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
             info.si_pid == 0;
    };
    for (int ms = 0; ms < 20000 && running(); ++ms) {
      if (setup.ready ? setup.ready() : fs::file_size(setup.wait_for, missing) > 0 && !missing) {
        kill(pid, setup.signal);
        if (setup.signal == SIGSTOP) {
          usleep(static_cast<useconds_t>(setup.continue_after_ms) * 1000);
          kill(pid, SIGCONT);
        }
        break;
      }
      usleep(1000);
    }
  }
  int wstatus = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &wstatus, 0, &usage) != pid) {
    ADD_FAILURE() << "could not run " << program;
    return result;
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  if (setup.stdout_path.empty() && setup.stdout_fd == -1) result.out = read_file(out_path);
  result.err = read_file(err_path);
  result.max_rss_kib = usage.ru_maxrss;
  return result;
}

RunResult run_vellisk(const TempDir& dir, const std::vector<std::string>& args,
                      const fs::path& stdout_path) {
  RunSetup setup;
  setup.stdout_path = stdout_path;
  return run_program(dir, args, setup);
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<float> read_samples(const fs::path& path) {
  const std::string bytes = read_file(path);
  EXPECT_EQ(bytes.size() % 4, 0u) << path;
  std::vector<float> samples(bytes.size() / 4);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    std::uint32_t bits = 0;
    for (int b = 3; b >= 0; --b) {
      bits = (bits << 8) | static_cast<unsigned char>(bytes[4 * i + static_cast<std::size_t>(b)]);
    }
    samples[i] = std::bit_cast<float>(bits);
  }
  return samples;
}

std::vector<std::string> list_files(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> golden_args() {
  std::istringstream in(read_file(kTestData / "args.txt"));
  std::vector<std::string> args{std::istream_iterator<std::string>(in), {}};
  EXPECT_EQ(args.size(), 10u) << "args.txt holds the ten arguments of a run";
  return args;
}

std::string banner_text() {
  return "\nVellisk 1.1.0: log sweep and inverse filter generation.\n"
         "Copyright (C) 2026 the Vellisk developers.\n"
         "\nCompiled with double precision arithmetic.\n"
         "\nVellisk is free software, distributed under the MIT License.\n"
         "It comes with no warranty, to the extent permitted by law.\n"
         "The file LICENSE, distributed with the program, has the terms.\n";
}
