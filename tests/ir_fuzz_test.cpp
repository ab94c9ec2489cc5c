// vellisk-ir against mutated recordings: every run ends cleanly, in time, and a failed one leaves
// no file.
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

#include "mutation.h"
#include "run_vellisk.h"
#include "sweep/sweep_gen.h"

using namespace vellisk;

namespace {

namespace fs = std::filesystem;

// A short sweep, so that a few hundred runs take seconds even under the sanitizers.
const std::vector<std::string> kNumbers = {"8000", "0.5",  "50",   "3000",
                                           "0.25", "0.05", "0.05", "0.02"};

// The sweep file through a gain of 0.7 on channel 1 and a 3-sample delay on
// channel 2, with a tenth of a second to spare.
std::vector<float> two_channel_recording() {
  SweepDesign d = compute_design({8000, 0.5, 50, 3000, 0.25, 0.05, 0.05, 0.02});
  std::vector<double> sweep;
  emit_sweep(d, [&sweep](double v) { sweep.push_back(v); });
  sweep.resize(sweep.size() + 800, 0.0);
  std::vector<float> frames(2 * sweep.size());
  for (std::size_t t = 0; t < sweep.size(); ++t) {
    frames[2 * t] = static_cast<float>(0.7 * sweep[t]);
    frames[2 * t + 1] = t >= 3 ? static_cast<float>(sweep[t - 3]) : 0.0f;
  }
  return frames;
}

// The recording in one of libsndfile's formats, as the bytes of its file.
std::string sound_bytes(const fs::path& scratch, int format, const std::vector<float>& frames) {
  SF_INFO info{};
  info.channels = 2;
  info.samplerate = 8000;
  info.format = format;
  SNDFILE* file = sf_open(scratch.c_str(), SFM_WRITE, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  if (file == nullptr) return {};
  sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
  sf_close(file);
  return read_file(scratch);
}

struct Seed {
  std::string name;  // the recording's name, whose extension says its format
  std::string bytes;
};

std::vector<Seed> seeds(const fs::path& scratch) {
  const std::vector<float> frames = two_channel_recording();
  const struct {
    const char* name;
    int format;
  } formats[] = {
      {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
      {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
      {"rec.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"rec.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
      {"rec.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT},
      {"rec.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
      {"rec.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_32},
      {"rec.au", SF_FORMAT_AU | SF_FORMAT_DOUBLE},
      {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW},
  };
  std::vector<Seed> out;
  for (const auto& f : formats)
    out.push_back({f.name, sound_bytes(scratch / f.name, f.format, frames)});
  std::string raw(frames.size() * sizeof(float), '\0');
  std::memcpy(raw.data(), frames.data(), raw.size());
  out.push_back({"rec.pcm", raw});
  return out;
}

struct Case {
  std::string recording;
  std::string bytes;
  std::vector<std::string> args;
};

TEST(VelliskIrFuzz, MutatedRecordingsEndCleanly) {
  TempDir scratch;
  const std::vector<Seed> originals = seeds(scratch.work());
  const std::vector<std::vector<std::string>> option_sets = {
      {},
      {"-H", "3"},
      {"--plot", "fig.svg"},
      {"--drift", "auto"},
      {"-l", "0.05", "-p", "0"},
      {"-c", "2"},
      {"-H", "2", "--plot", "fig.svg", "--drift", "12.5"}};
  const std::vector<std::string> irfiles = {"ir.wav", "ir.flac", "ir.pcm"};
  std::mt19937 random(20261208);
  std::vector<Case> cases;
  for (int i = 0; i < 220; ++i) {
    const Seed& seed = originals[static_cast<std::size_t>(i) % originals.size()];
    Case c{seed.name, mutate(seed.bytes, random), option_sets[random() % option_sets.size()]};
    c.args.insert(c.args.end(), kNumbers.begin(), kNumbers.end());
    c.args.push_back(seed.name);
    c.args.push_back(irfiles[random() % irfiles.size()]);
    cases.push_back(std::move(c));
  }

  // The smallest designs, where windows, margins and drifted lengths come
  // within a few samples of each other.
  for (const std::vector<std::string>& design :
       {std::vector<std::string>{"2", "1", "0.1", "1", "0.5", "0", "0", "0"},
        {"4", "1", "0.5", "2", "1", "0", "0", "0"},
        {"10", "1", "1", "5", "1", "0.1", "0.2", "0.2"}}) {
    double n[8];
    for (int i = 0; i < 8; ++i) n[i] = std::stod(design[static_cast<std::size_t>(i)]);
    std::string sweep;
    emit_sweep(compute_design({n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]}),
               [&sweep](double v) {
                 const auto f = static_cast<float>(v);
                 sweep.append(reinterpret_cast<const char*>(&f), sizeof f);
               });
    for (std::vector<std::string> options : {std::vector<std::string>{"-H", "2"},
                                             {"-H", "10", "-p", "0"},
                                             {"--drift", "1000", "-H", "3"},
                                             {"--drift", "-1000"},
                                             {"--plot", "fig.svg", "-l", "5"}}) {
      options.insert(options.end(), design.begin(), design.end());
      options.insert(options.end(), {"sweep.pcm", "ir.wav"});
      cases.push_back({"sweep.pcm", sweep, options});
    }
  }

  // Two runs at a time; each checks what it can alone.
  std::vector<std::string> faults(cases.size());
  std::vector<int> statuses(cases.size());
  const auto run = [&](std::size_t first) {
    for (std::size_t i = first; i < cases.size(); i += 2) {
      const Case& c = cases[i];
      TempDir dir;
      std::ofstream(dir.work() / c.recording, std::ios::binary) << c.bytes;
      RunSetup setup;
      setup.program = VELLISK_IR_BINARY;
      setup.time_limit = 30;
      const RunResult r = run_program(dir, c.args, setup);
      statuses[i] = r.status;
      std::string& fault = faults[i];
      if (r.signal != 0) fault = "ended by signal " + std::to_string(r.signal);
      if (r.status != 0 && r.status != 1) fault += " status " + std::to_string(r.status);
      if (r.err.find("Sanitizer") != std::string::npos ||
          r.err.find("runtime error") != std::string::npos) {
        fault += " sanitizer report";
      }
      const std::size_t files = list_files(dir.work()).size();
      if (r.status == 1 && files != 1) fault += " a file left after the failure";
      if (r.status == 0 && !fs::exists(dir.work() / c.args.back())) fault += " no response";
      if (!fault.empty()) fault += "; stderr: " + r.err;
    }
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(faults[i], "") << "case " << i << ", " << cases[i].recording;
  }
  // Mutations that still read, and ones refused: both paths were taken.
  EXPECT_GT(std::count(statuses.begin(), statuses.end(), 0), 20);
  EXPECT_GT(std::count(statuses.begin(), statuses.end(), 1), 20);
}

}  // namespace
