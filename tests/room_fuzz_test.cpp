// vellisk-room against mutated responses: every run ends with status 0 or 1, with no sanitizer
// report and no impossible value in its CSV, and a failed one leaves no file; and its --levels
// reader against mutated files.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "room_checks.h"
#include "mutation.h"
#include "run_vellisk.h"
#include "vellisk/room.h"

namespace {

namespace fs = std::filesystem;
using vellisk::mutate;


// Two channels at 24 kHz, 0.6 s: a click and a decay, and a decaying tone.
std::vector<float> two_channel_response() {
  const std::size_t n = 14400;
  std::vector<float> frames(2 * n);
  unsigned s = 31;
  for (std::size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / 24000;
    const double noise = ((s >> 8) / 16777216.0 - 0.5) * 1e-4;
    frames[2 * i] = static_cast<float>((i == 240) + 0.3 * std::exp(-20 * t) * std::sin(1e4 * t * t) + noise);
    frames[2 * i + 1] = static_cast<float>(0.5 * std::exp(-10 * t) * std::sin(6283 * t) + noise);
  }
  return frames;
}

std::string sound_bytes(const fs::path& scratch, int format, const std::vector<float>& frames) {
  SF_INFO info{};
  info.channels = 2;
  info.samplerate = 24000;
  info.format = format;
  SNDFILE* file = sf_open(scratch.c_str(), SFM_WRITE, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  if (file == nullptr) return {};
  sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
  sf_close(file);
  return read_file(scratch);
}

struct Case {
  std::string name;
  std::string bytes;
  std::vector<std::string> args;
};

}  // namespace

TEST(VelliskRoomFuzz, MutatedResponsesEndCleanly) {
  TempDir scratch;
  const std::vector<float> frames = two_channel_response();
  const struct {
    const char* name;
    int format;
  } formats[] = {
      {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},   {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
      {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},  {"ir.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"ir24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24}, {"ir.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
      {"float.aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
  };
  std::vector<std::pair<std::string, std::string>> seeds;
  for (const auto& f : formats) {
    seeds.emplace_back(f.name, sound_bytes(scratch.work() / f.name, f.format, frames));
  }
  const std::vector<std::vector<std::string>> option_sets = {
      {"--csv", "out.csv"},
      {"--csv", "out.csv", "-b", "third"},
      {"--csv", "out.csv", "--json", "out.json"},
      {"--csv", "out.csv", "--plot", "out.svg"}};
  std::mt19937 random(26031);
  std::vector<Case> cases;
  for (int i = 0; i < 300; ++i) {
    const auto& seed = seeds[static_cast<std::size_t>(i) % seeds.size()];
    Case c{seed.first, mutate(seed.second, random), option_sets[random() % option_sets.size()]};
    c.args.push_back(c.name);
    cases.push_back(std::move(c));
  }

  // Two runs at a time; each checks what it can alone.
  std::vector<std::string> faults(cases.size());
  std::vector<int> statuses(cases.size());
  const auto run = [&](std::size_t first) {
    for (std::size_t i = first; i < cases.size(); i += 2) {
      const Case& c = cases[i];
      TempDir dir;
      std::ofstream(dir.work() / c.name, std::ios::binary) << c.bytes;
      RunSetup setup;
      setup.program = VELLISK_ROOM_BINARY;
      setup.time_limit = 60;
      const RunResult r = run_program(dir, c.args, setup);
      statuses[i] = r.status;
      std::string& fault = faults[i];
      if (r.signal != 0) fault = "ended by signal " + std::to_string(r.signal);
      if (r.status != 0 && r.status != 1) fault += " status " + std::to_string(r.status);
      if (r.err.find("Sanitizer") != std::string::npos ||
          r.err.find("runtime error") != std::string::npos) {
        fault += " sanitizer report";
      }
      if (r.status == 1 && list_files(dir.work()).size() != 1) fault += " a file left after the failure";
      if (r.status == 1 && !r.out.empty()) fault += " a report before the refusal";
      if (r.status == 0) {
        if (!fs::exists(dir.work() / "out.csv")) {
          fault += " no CSV";
        } else {
          fault += csv_faults(read_file(dir.work() / "out.csv"));
        }
      }
      if (!fault.empty()) fault += "; stderr: " + r.err;
    }
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(faults[i], "") << "case " << i << ", " << cases[i].name;
  }
  // Mutations that still read, and ones refused: both paths were taken.
  EXPECT_GT(std::count(statuses.begin(), statuses.end(), 0), 30);
  EXPECT_GT(std::count(statuses.begin(), statuses.end(), 1), 30);
}

// vellisk-room's --levels reader, in-process, against mutants of a good file: it accepts or
// refuses in one line, and levels it accepts lie in the range it allows.
TEST(VelliskRoomFuzz, MutatedLevelsFilesAreReadOrRefused) {
  TempDir dir;
  const fs::path path = dir.work() / "levels.txt";
  const std::vector<std::string> seeds = {
      "# at the listener\nband 125 250 500 1k 2k 4k 8k\nspeech 62 60 58 55 52 48 44\n"
      "noise 45 42 40 38 35 30 25\n",
      "noise 30 30 30 30 30 30 30 # quiet\n\nspeech 60.5 60 60 60 60 60 60\n"};
  vellisk::fuzz_reader(seeds, 3605, 2000, false, [&path](const std::string& mutant) {
    std::ofstream(path, std::ios::binary) << mutant;
    vellisk::SpeechLevels levels;
    try {
      levels = vellisk::read_speech_levels(path.string(), "--levels");
    } catch (const vellisk::Error& e) {
      const std::string error = e.what();
      return std::string(error.find('\n') == std::string::npos ? "refused" : "two lines");
    }
    for (const auto* band : {&levels.speech, &levels.noise}) {
      for (double db : *band) {
        if (!(db >= vellisk::kMinLevelDb && db <= vellisk::kMaxLevelDb)) {
          return "a level of " + std::to_string(db) + " dB";
        }
      }
    }
    return std::string();
  });
}
