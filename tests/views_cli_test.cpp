// vellisk-ir's views and calibration, and vellisk-average, run as programs on recordings of the
// README's design through measured cabinets (guitarix-common), a wire and a calibrator's tone,
// against the .frd rows they must match and the closed forms of their averages.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run_vellisk.h"
#include "sweep/sweep_gen.h"


using namespace vellisk;

namespace {

const std::vector<std::string> kNumbers = {"48000", "0.5", "20", "20000", "10", "1", "0.05", "0.005"};
const SweepParams kDesign{48000, 0.5, 20, 20000, 10, 1, 0.05, 0.005};

// guitarix-common's measured cabinet, at 48 kHz as it is.
std::vector<float> cabinet() {
  const char* path = "/usr/share/gx_head/sounds/amps/Engl Retro Tube.wav";
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path << " (guitarix-common) cannot be read";
  if (file == nullptr) return {1};
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels)), h;
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  for (std::size_t i = 0; i < frames.size(); i += static_cast<std::size_t>(info.channels)) {
    h.push_back(frames[i]);
  }
  return h;
}

// A headerless recording, rec.f32, of the sweep through each channel's response (taps, each
// applied directly: the responses are short), with half a second after the sweep.
void record(const TempDir& dir, const std::vector<std::vector<float>>& responses) {
  std::vector<double> sweep;
  emit_sweep(compute_design(kDesign), [&sweep](double v) { sweep.push_back(v); });
  const std::size_t n = sweep.size() + 24000, channels = responses.size();
  std::vector<float> y(n * channels);
  for (std::size_t c = 0; c < channels; ++c) {
    const std::vector<float>& h = responses[c];
    for (std::size_t k = 0; k < h.size(); ++k) {
      if (h[k] == 0) continue;
      for (std::size_t t = 0; t + k < n && t < sweep.size(); ++t) {
        y[(t + k) * channels + c] += static_cast<float>(h[k] * sweep[t]);
      }
    }
  }
  std::ofstream(dir.work() / "rec.f32", std::ios::binary)
      .write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(4 * y.size()));
}

// An impulse of `gain` after `delay` samples.
std::vector<float> wire(int delay, float gain = 1) {
  std::vector<float> h(static_cast<std::size_t>(delay + 1));
  h.back() = gain;
  return h;
}

// response, delayed and scaled.
std::vector<float> shifted(const std::vector<float>& h, int delay, float gain) {
  std::vector<float> out(static_cast<std::size_t>(delay), 0.0f);
  for (const float v : h) out.push_back(gain * v);
  return out;
}

RunResult run_ir(const TempDir& dir, int channels, std::vector<std::string> args) {
  args.insert(args.begin(), {"-c", std::to_string(channels)});
  args.insert(args.end(), kNumbers.begin(), kNumbers.end());
  args.insert(args.end(), {"rec.f32", "ir.wav"});
  RunSetup setup;
  setup.program = VELLISK_IR_BINARY;
  return run_program(dir, args, setup);
}

RunResult run_average(const TempDir& dir, const std::vector<std::string>& args) {
  RunSetup setup;
  setup.program = VELLISK_AVERAGE_BINARY;
  return run_program(dir, args, setup);
}

// A text file's header lines (starting with mark) and its rows of numbers.
struct Table {
  std::vector<std::string> header;
  std::vector<std::vector<double>> rows;
};

Table read_table(const std::filesystem::path& path, char mark) {
  Table t;
  std::istringstream in(read_file(path));
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line[0] == mark) {
      t.header.push_back(line.substr(1));
      continue;
    }
    if (!std::isdigit(static_cast<unsigned char>(line[0])) && line[0] != '-') continue;  // names
    std::vector<double>& row = t.rows.emplace_back();
    if (line.find(',') != std::string::npos) {
      // CSV: an empty field (a value not written) reads as NaN.
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, ',');) {
        row.push_back(field.empty() ? NAN : std::stod(field));
      }
      if (line.back() == ',') row.push_back(NAN);
      continue;
    }
    std::istringstream fields(line);
    for (double v; fields >> v;) row.push_back(v);
  }
  return t;
}

// The channels of a float WAV file, one vector each.
std::vector<std::vector<float>> read_wav(const std::filesystem::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return {};
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  std::vector<std::vector<float>> out(static_cast<std::size_t>(info.channels));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    out[i % out.size()].push_back(frames[i]);
  }
  return out;
}

// The level of rows (frequency, level, ...) at hz, linearly in log frequency between rows.
double level_at(const Table& t, double hz) {
  for (std::size_t i = 1; i < t.rows.size(); ++i) {
    if (t.rows[i][0] < hz) continue;
    const double a = std::log(t.rows[i - 1][0]), b = std::log(t.rows[i][0]);
    const double w = (std::log(hz) - a) / (b - a);
    return t.rows[i - 1][1] + w * (t.rows[i][1] - t.rows[i - 1][1]);
  }
  return t.rows.back()[1];
}

// The level of the band limit a JSON report names, at hz: its second-order sections at the
// report's rate, evaluated on the unit circle.
double band_limit_db(const nlohmann::json& j, double hz) {
  const nlohmann::json& b = j.at("band_filter");
  const double w = 2 * std::numbers::pi * hz / b.at("rate_hz").get<double>();
  const std::complex<double> z1 = std::polar(1.0, -w);
  std::complex<double> h = 1;
  for (const nlohmann::json& c : b.at("sections")) {
    h *= (c[0].get<double>() + c[1].get<double>() * z1 + c[2].get<double>() * z1 * z1) /
         (c[3].get<double>() + c[4].get<double>() * z1 + c[5].get<double>() * z1 * z1);
  }
  return 20 * std::log10(std::abs(h));
}

}  // namespace

// A measured cabinet and a wire, in one recording: the curves' level and phase are the .frd
// rows', first row to last, with the same delay named; the wire's group delays read its
// (whole-sample) latency removed, flat; each waterfall's 0 ms slice reads the .frd's level
// within 1 dB from 100 Hz; the step response is the running sum of each channel's response.
TEST(IrViews, CurvesWaterfallAndStepOfACabinetAndAWire) {
  TempDir dir;
  record(dir, {shifted(cabinet(), 100, 0.2f), wire(37)});
  const RunResult r = run_ir(dir, 2, {"--frd", "r.frd", "--curves", "c.csv", "--waterfall", "w.csv",
                                      "--step", "s.wav", "--json", "r.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(read_file(dir.work() / "r.json"));
  EXPECT_EQ(j["level_unit"], "dB re unit gain");
  for (const char* name : {"c-c1.csv", "c-c2.csv", "w-c1.csv", "w-c2.csv", "s.wav"}) {
    EXPECT_NE(std::find(j["outputs"].begin(), j["outputs"].end(), name), j["outputs"].end()) << name;
  }
  for (int c = 1; c <= 2; ++c) {
    SCOPED_TRACE(c);
    const std::string suffix = "-c" + std::to_string(c);
    const Table frd = read_table(dir.work() / ("r" + suffix + ".frd"), '*');
    const Table curves = read_table(dir.work() / ("c" + suffix + ".csv"), '#');
    ASSERT_EQ(curves.rows.size(), frd.rows.size());
    for (std::size_t i = 0; i < frd.rows.size(); ++i) {
      ASSERT_EQ(curves.rows[i].size(), 6u);
      for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(curves.rows[i][k], frd.rows[i][k]) << i;
    }
    // The header names the same delay as the .frd's.
    EXPECT_NE(std::find(curves.header.begin(), curves.header.end(), frd.header[7]),
              curves.header.end())
        << frd.header[7];
    const Table w = read_table(dir.work() / ("w" + suffix + ".csv"), '#');
    std::size_t first_slice = 0;
    for (const std::vector<double>& row : w.rows) {
      if (row[0] != w.rows[0][0]) break;
      ++first_slice;
      // The band limit stays in the waterfall: slice 0 is the .frd's level through the band
      // limit the JSON names.
      if (row[1] >= 100) {
        EXPECT_NEAR(row[2], level_at(frd, row[1]) + band_limit_db(j, row[1]), 1.0) << row[1] << " Hz";
      }
    }
    EXPECT_GT(first_slice, 200u);
    EXPECT_EQ(w.rows.size(), 101 * first_slice);
  }
  const Table wire_curves = read_table(dir.work() / "c-c2.csv", '#');
  for (const std::vector<double>& row : wire_curves.rows) {
    if (row[0] < 100 || row[0] > 10000) continue;
    EXPECT_NEAR(row[3], 0, 0.02) << row[0];
    EXPECT_NEAR(row[5], 0, 0.05) << row[0];
  }
  const auto ir = read_wav(dir.work() / "ir.wav"), step = read_wav(dir.work() / "s.wav");
  ASSERT_EQ(step.size(), 2u);
  for (std::size_t c = 0; c < 2; ++c) {
    ASSERT_EQ(step[c].size(), ir[c].size());
    double sum = 0;
    for (std::size_t t = 0; t < ir[c].size(); ++t) {
      sum += ir[c][t];
      ASSERT_NEAR(step[c][t], sum, 1e-5) << c << " " << t;
    }
  }
  // Asked for alone, without the .frd files, the views are the same files.
  ASSERT_EQ(run_ir(dir, 2, {"--curves", "a.csv", "--waterfall", "b.csv"}).status, 0);
  for (const char* c : {"-c1.csv", "-c2.csv"}) {
    EXPECT_EQ(read_file(dir.work() / (std::string("a") + c)),
              read_file(dir.work() / (std::string("c") + c)));
    EXPECT_EQ(read_file(dir.work() / (std::string("b") + c)),
              read_file(dir.work() / (std::string("w") + c)));
  }
}

// Refused before any work, with no file left.
TEST(IrViews, RefusalsLeaveNoFile) {
  const std::string cal = "hz dB\n20 0\n1000 x\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--curves", "c.txt"}, "--curves (c.txt) must name a file ending in .csv"},
      {{"--waterfall", "w"}, "--waterfall (w) must name a file ending in .csv"},
      {{"--step", "s.flac"}, "--step (s.flac) must name a file ending in .wav"},
      {{"--waterfall", "w.csv", "--waterfall-range", "0"},
       "--waterfall-range (0) must be a number of milliseconds from 0.1 to 10000"},
      {{"--waterfall-range", "50"},
       "--waterfall-range is for --waterfall: give --waterfall FILE.csv too"},
      {{"--waterfall", "w.csv", "--waterfall-range", "2000"},
       "--waterfall-range (2000 ms) must not be longer than --length (1 s)"},
      {{"--curves", "x.csv", "--waterfall", "x.csv"},
       "outputs (x-c1.csv, x-c1.csv) must not name the same file: one would overwrite the other"},
      {{"--curves", "none/c.csv"}, "Unable to write none/c.csv: No such file or directory"},
      {{"--views", "phase"}, "--views is for --plot: give --plot FILE.svg too"},
      {{"--plot", "f.svg", "--views", "level,waterfal"},
       "--views (level,waterfal) must list views from level, phase, group-delay, step, waterfall, "
       "spectrogram and envelope, separated by commas"},
      {{"--plot", "f.svg", "--views", "step,step"}, "--views (step,step) names step twice"},
      {{"--step", "ir.wav"},
       "outputs (ir.wav, ir.wav) must not name the same file: one would overwrite the other"},
      {{"--mic-cal", "missing.txt"}, "Unable to read --mic-cal (missing.txt): No such file or directory"},
      {{"--mic-cal", "bad.txt"},
       "--mic-cal (bad.txt) line 3 is not a point (frequency dB [phase]), a comment ('*', '\"' or "
       "'#') or a Sens Factor line"},
      {{"--mic-cal", "loud.txt"}, "--mic-cal (loud.txt) line 2: its level (400 dB) must be from -100 to 100 dB"},
      {{"--mic-cal", "."}, "Unable to read --mic-cal (.): Is a directory"},
      {{"--mic-cal", "short.txt"},
       "--mic-cal (short.txt) line 3: its points run from 10 to 15000 Hz, and do not reach "
       "19698.85 Hz, an edge of the band measured; use a file that covers the band"},
      {{"--spl-cal", "noise.wav", "200"}, "--spl-cal's level (200) must be a number of dB SPL from 40 to 160"},
      // The level is the next argument, whatever it is.
      {{"--spl-cal", "noise.wav"}, "--spl-cal's level (48000) must be a number of dB SPL from 40 to 160"},
      {{"--spl-cal", "noise.wav", "94"},
       "--spl-cal (noise.wav) is not a steady tone: the rest is 15.5 dB above it (it must be 20 dB "
       "below)\n"},
  };
  for (const auto& [options, message] : cases) {
    SCOPED_TRACE(message);
    TempDir dir;
    record(dir, {wire(10), wire(20)});
    std::ofstream(dir.work() / "bad.txt") << "* microphone\n20 0\n1000 x\n";
    std::ofstream(dir.work() / "short.txt") << "10 0\n\n15000 1\n";
    std::ofstream(dir.work() / "loud.txt") << "10 0\n1000 400\n20000 0\n";
    std::vector<float> noise(48000);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = 0.1f * std::sin(0.7f * static_cast<float>(i * i % 1000));
    SF_INFO info{};
    info.samplerate = 48000, info.channels = 1, info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open((dir.work() / "noise.wav").c_str(), SFM_WRITE, &info);
    sf_writef_float(f, noise.data(), 48000);
    sf_close(f);
    const std::vector<std::string> before = list_files(dir.work());
    const RunResult r = run_ir(dir, 2, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, message.size()), message) << r.err;
    EXPECT_EQ(list_files(dir.work()), before);
  }
  (void)cal;
}

// A wire measured through a microphone file of +3 dB above 5 kHz reads 3 dB lower there, and
// as it was below, on every row from the band's first to its last; a calibrator's 1 kHz tone
// of 0.1 rms stated at 94 dB SPL adds 94 + 20 lg(0.5 / sqrt 2) - 20 lg 0.1 dB to every level
// and the gain, which every header and the JSON report say are dB SPL.
TEST(IrCalibration, MicrophoneFileAndCalibrator) {
  TempDir dir;
  record(dir, {wire(25)});
  std::ofstream(dir.work() / "mic.txt") << "\"Sens Factor =-1.5dB, SERNO: 7\"\n* Freq dB\n10 0\n"
                                           "4999.999 0\n5000 3\n24000 3\n";
  const std::string cal = (dir.work() / "cal.wav").string();
  ASSERT_EQ(std::system((std::string(VELLISK_SOX) + " -n -r 48000 -b 32 -e floating-point '" + cal +
                         "' synth 2 sine 1000 vol 0.1414213562")
                            .c_str()),
            0);
  ASSERT_EQ(run_ir(dir, 1, {"--frd", "plain.frd", "--json", "plain.json"}).status, 0);
  const RunResult mic = run_ir(dir, 1, {"--frd", "mic.frd", "--mic-cal", "mic.txt"});
  ASSERT_EQ(mic.status, 0) << mic.err;
  const RunResult spl =
      run_ir(dir, 1, {"--frd", "spl.frd", "--json", "spl.json", "--spl-cal", "cal.wav", "94"});
  ASSERT_EQ(spl.status, 0) << spl.err;
  const Table plain = read_table(dir.work() / "plain.frd", '*');
  const Table m = read_table(dir.work() / "mic.frd", '*');
  const Table s = read_table(dir.work() / "spl.frd", '*');
  const double offset = 94 + 20 * std::log10(0.5 / std::sqrt(2.0)) - 20 * std::log10(0.1);
  ASSERT_EQ(m.rows.size(), plain.rows.size());
  ASSERT_EQ(s.rows.size(), plain.rows.size());
  for (std::size_t i = 0; i < plain.rows.size(); ++i) {
    const double hz = plain.rows[i][0];
    EXPECT_NEAR(m.rows[i][1] - plain.rows[i][1], hz >= 5000 ? -3 : 0, 0.0101) << hz;
    EXPECT_NEAR(s.rows[i][1] - plain.rows[i][1], offset, 0.02) << hz;
  }
  EXPECT_NE(s.header[3].find("level in dB SPL"), std::string::npos) << s.header[3];
  const nlohmann::json a = nlohmann::json::parse(read_file(dir.work() / "plain.json"));
  const nlohmann::json b = nlohmann::json::parse(read_file(dir.work() / "spl.json"));
  EXPECT_EQ(b["level_unit"], "dB SPL");
  EXPECT_NEAR(b["calibration"]["spl_offset_db"].get<double>(), offset, 0.01);
  EXPECT_NEAR(b["channels"][0]["gain_db"].get<double>() - a["channels"][0]["gain_db"].get<double>(),
              offset, 0.02);
  // The report names each level's unit: the gain's is SPL, the impulse peak's is not.
  EXPECT_NE(spl.out.find(" dB SPL, impulse peak "), std::string::npos) << spl.out;
  EXPECT_NE(spl.out.find(" dB re unit gain, peak-to-noise "), std::string::npos) << spl.out;
}

// A calibrator's recording is judged at full scale as the recording is, in its own format: an
// A-law or mu-law one at its largest code is refused; one well below is applied. What is not a tone says by how much, rounded, above or below it.
TEST(IrCalibration, CalibratorsAreJudgedInTheirFormat) {
  TempDir dir;
  record(dir, {wire(10)});
  const auto sox = [&dir](const std::string& name, const std::string& format, const std::string& effects) {
    const std::string command = "cd '" + dir.work().string() + "' && " + VELLISK_SOX + " -R -n -r 48000 " +
                                format + " " + name + " " + effects + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  };
  sox("a-law.wav", "-e a-law -b 8", "synth 2 sine 1000 gain 2");
  sox("mu-law.wav", "-e mu-law -b 8", "synth 2 sine 1000 gain 2");
  sox("quiet.wav", "-e a-law -b 8", "synth 2 sine 1000 gain -6");
  sox("noise.wav", "-b 16", "synth 2 whitenoise vol 0.3");
  sox("cut.wav", "-e floating-point -b 32", "synth 1 sine 1000 vol 0.3 pad 0 1");
  const std::string clipped = " reaches full scale: the level read would be too low; ";
  const struct {
    std::string file, err;
  } cases[] = {
      {"a-law.wav", "--spl-cal (a-law.wav)" + clipped},
      {"mu-law.wav", "--spl-cal (mu-law.wav)" + clipped},
      {"noise.wav", "--spl-cal (noise.wav) is not a steady tone: the rest is "},
      {"cut.wav", "--spl-cal (cut.wav) is not a steady tone: the rest is only 11.9 dB below it (20 "
                  "dB needed)\n"},
      {"quiet.wav", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const RunResult r = run_ir(dir, 1, {"--spl-cal", c.file, "94"});
    if (c.err.empty()) {
      ASSERT_EQ(r.status, 0) << r.err;
      // A sine of amplitude 10^(-6 / 20): 94 + 20 lg(0.5 / sqrt 2) - 20 lg(its rms) dB added.
      const double added = 94 + 20 * std::log10(0.5 / std::sqrt(2.0)) -
                           20 * std::log10(std::pow(10.0, -6 / 20.0) / std::sqrt(2.0));
      const std::size_t at = r.out.find("Levels: dB SPL, ");
      ASSERT_NE(at, std::string::npos) << r.out;
      EXPECT_NEAR(std::stod(r.out.substr(at + 16)), added, 0.05) << r.out;
      continue;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    if (c.file == "noise.wav") {
      // White noise: far more power off the tone's lobe than in it.
      const std::string rest = r.err.substr(c.err.size());
      EXPECT_TRUE(std::regex_match(rest, std::regex(R"(3\d\.\d dB above it \(it must be 20 dB below\)\n)")))
          << r.err;
    }
  }
}

// Three channels of a measured cabinet at gains 1, 1/2 and 1/4, 0, 13 and 29 samples late,
// written as .frd files by vellisk-ir and averaged in each mode: every row against the closed
// form (the first input's level plus the mode's average of the gains), the spread likewise.
TEST(Average, ThreeMeasuredResponsesInEachMode) {
  TempDir dir;
  const std::vector<float> h = cabinet();
  record(dir, {shifted(h, 40, 0.2f), shifted(h, 53, 0.1f), shifted(h, 69, 0.05f)});
  ASSERT_EQ(run_ir(dir, 3, {"--frd", "p.frd"}).status, 0);
  const Table first = read_table(dir.work() / "p-c1.frd", '*');
  const double g[] = {1, 0.5, 0.25};
  const std::map<std::string, double> modes = {
      {"power", 10 * std::log10((g[0] * g[0] + g[1] * g[1] + g[2] * g[2]) / 3)},
      {"db", 20 * (std::log10(g[1]) + std::log10(g[2])) / 3},
      {"vector", 20 * std::log10((g[0] + g[1] + g[2]) / 3)}};
  for (const auto& [mode, shift] : modes) {
    SCOPED_TRACE(mode);
    const RunResult r = run_average(dir, {"--mode", mode, "--csv", "spread.csv", "avg.frd",
                                          "p-c1.frd", "p-c2.frd", "p-c3.frd"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Table avg = read_table(dir.work() / "avg.frd", '*');
    ASSERT_EQ(avg.rows.size(), first.rows.size());
    for (std::size_t i = 0; i < avg.rows.size(); ++i) {
      EXPECT_NEAR(avg.rows[i][0] / first.rows[i][0], 1, 1e-4);  // from the first row, rounded
      EXPECT_NEAR(avg.rows[i][1], level_at(first, avg.rows[i][0]) + shift, 0.02) << avg.rows[i][0];
      if (mode == "vector") {
        EXPECT_NEAR(avg.rows[i][2], first.rows[i][2], 0.05) << avg.rows[i][0];
      }
    }
    EXPECT_EQ(avg.rows[0].size(), mode == "vector" ? 3u : 2u);
    EXPECT_NE(std::find(avg.header.begin(), avg.header.end(), " Input 3: p-c3.frd"), avg.header.end());
    const Table spread = read_table(dir.work() / "spread.csv", '#');
    for (std::size_t i = 0; i < spread.rows.size(); ++i) {
      EXPECT_NEAR(spread.rows[i][1], first.rows[i][1] + 20 * std::log10(0.25), 0.02);
      EXPECT_NEAR(spread.rows[i][2], first.rows[i][1], 0.02);
      EXPECT_NEAR(spread.rows[i][3], 20 * std::log10(2.0), 0.01);
    }
  }
}

// Refused before any output, naming the input and its line.
TEST(Average, Refusals) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"out.frd"}, "vellisk-average takes an output and at least one input, not 1 argument"},
      {{"--mode", "mean", "out.frd", "a.frd"}, "--mode (mean) must be power, db or vector"},
      {{"--csv", "s.txt", "out.frd", "a.frd"}, "--csv (s.txt) must name a file ending in .csv"},
      {{"out.csv", "a.frd"}, "output (out.csv) must name a file ending in .frd or .txt"},
      {{"a.frd", "a.frd", "b.frd"},
       "input and output (a.frd, a.frd) must not name the same file: the average would overwrite"},
      {{"out.frd", "a.frd", "text.frd"}, "input (text.frd) line 4 is neither a row of finite numbers"},
      {{"out.frd", "a.frd", "missing.frd"}, "Unable to read input (missing.frd): No such file"},
      {{"--mode", "vector", "out.frd", "a.frd", "b.frd"},
       "input (b.frd) has no phase, which --mode vector needs"},
      {{"out.frd", "a.frd", "high.frd"}, "input (high.frd) does not overlap the inputs before it"},
      {{"out.frd", "dir"}, "Unable to read input (dir): Is a directory"},
      {{"out.frd", "a.frd", "fifo"}, "input (fifo) is a pipe or a device, not a file"},
      {{"out.frd", "tiny.frd"}, "input (tiny.frd) line 1: its frequency (1e-323) must be from 0.001 to 10000000 Hz"},
      {{"out.frd", "far.frd"}, "input (far.frd) line 1: its frequency (2e+300) must be from 0.001 to 10000000 Hz"},
      {{"out.frd", "loud.frd"}, "input (loud.frd) line 2: its level (5000 dB) must be from -500 to 500 dB"},
      {{"out.frd", "nan.frd"}, "input (nan.frd) line 2 is neither a row of finite numbers"},
      {{"out.frd", "a.frd", "cut.frd"}, "input (cut.frd) line 2 is neither a row of finite numbers"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(message);
    TempDir dir;
    std::ofstream(dir.work() / "a.frd") << "* a\n20 0 0\n20000 1 10\n";
    std::ofstream(dir.work() / "b.frd") << "Freq SPL\n20 0\n20000 1\n";
    std::ofstream(dir.work() / "text.frd") << "20 0\n40 1\n\n60 1 db\n";
    std::ofstream(dir.work() / "high.frd") << "30000 0\n40000 1\n";
    std::ofstream(dir.work() / "tiny.frd") << "1e-323 0\n1000 0\n";
    std::ofstream(dir.work() / "far.frd") << "2e300 0\n3e300 0\n";
    std::ofstream(dir.work() / "loud.frd") << "Freq SPL\n100 5000\n1000 0\n";
    std::ofstream(dir.work() / "nan.frd") << "Freq SPL\n100 nan\n1000 0\n";
    std::ofstream(dir.work() / "cut.frd") << "20 0\n" << std::string(70000, '1') << " 0\n20000 0\n";
    std::filesystem::create_directory(dir.work() / "dir");
    ASSERT_EQ(mkfifo((dir.work() / "fifo").c_str(), 0600), 0);
    const std::vector<std::string> before = list_files(dir.work());
    const RunResult r = run_average(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, message.size()), message) << r.err;
    EXPECT_EQ(list_files(dir.work()), before);
  }
}

// Every view drawn, in the order asked, at 1 and 8 channels (the PNGs of these were looked at).
TEST(IrViews, FigureDrawsEveryViewInTheOrderAsked) {
  const std::vector<std::string> labels = {"Step response", "Waterfall, dB re its peak",
                                           "Phase (degrees)", "Spectrogram, dB re its peak",
                                           "Group delay (ms)", "Envelope (dB)", "Level (dB)"};
  for (const int channels : {1, 8}) {
    SCOPED_TRACE(channels);
    TempDir dir;
    std::vector<std::vector<float>> responses;
    for (int c = 0; c < channels; ++c) {
      responses.push_back(wire(10 + 7 * c, 1.0f / static_cast<float>(c + 1)));
    }
    record(dir, responses);
    const RunResult r = run_ir(dir, channels, {"--plot", "f.svg", "--views",
                                               "step,waterfall,phase,spectrogram,group-delay,"
                                               "envelope,level"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The page's texts, written as character references (&#x53;) between the markup.
    std::string svg;
    const std::string page = read_file(dir.work() / "f.svg");
    for (std::size_t i = page.find("&#x"); i != std::string::npos; i = page.find("&#x", i + 1)) {
      svg += static_cast<char>(std::stoi(page.substr(i + 3, page.find(';', i) - i - 3), nullptr, 16));
    }
    std::size_t at = 0;
    for (const std::string& label : labels) {
      const std::size_t found = svg.find(label, at);
      EXPECT_NE(found, std::string::npos) << label;
      if (found != std::string::npos) at = found;
    }
  }
}

// A silent channel is drawn as "no response" in every view, at 1, 2 and 8 channels, the
// default figure too: never a PLplot failure, an axis about its -300 dB floor or an infinite
// peak-to-noise.
TEST(IrViews, SilentChannelsSayNoResponseInEveryView) {
  const std::string every = "level,phase,group-delay,step,waterfall,spectrogram,envelope";
  const struct {
    int channels;
    int silent;  // 1-based
    std::string views;
    std::size_t notes;  // the silent channel's "Ch N: no response", each view's
  } cases[] = {{1, 1, every, 7}, {2, 2, every, 7}, {8, 3, every, 7}, {1, 1, "", 2},
               {2, 2, "step", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " channels, views " << c.views);
    TempDir dir;
    std::vector<std::vector<float>> responses;
    for (int ch = 1; ch <= c.channels; ++ch) responses.push_back(wire(10, ch == c.silent ? 0 : 1));
    record(dir, responses);
    std::vector<std::string> args = {"--plot", "f.svg"};
    if (!c.views.empty()) args.insert(args.end(), {"--views", c.views});
    const RunResult r = run_ir(dir, c.channels, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("PLPLOT"), std::string::npos) << r.err;
    std::string svg;
    const std::string page = read_file(dir.work() / "f.svg");
    for (std::size_t i = page.find("&#x"); i != std::string::npos; i = page.find("&#x", i + 1)) {
      svg += static_cast<char>(std::stoi(page.substr(i + 3, page.find(';', i) - i - 3), nullptr, 16));
    }
    const std::string note = "Ch " + std::to_string(c.silent) + ": no response";
    std::size_t notes = 0;
    for (std::size_t i = svg.find(note); i != std::string::npos; i = svg.find(note, i + 1)) ++notes;
    EXPECT_EQ(notes, c.notes) << svg;
    for (const char* impossible : {"-300", "inf", "nan"}) {
      EXPECT_EQ(svg.find(impossible), std::string::npos) << impossible << " in " << svg;
    }
    if (c.channels > 1 && c.views == every) {
      EXPECT_NE(svg.find("Ch 1: peak "), std::string::npos) << svg;
    }
  }
}

// One input averages to itself, in every mode: its level interpolated in log frequency.
TEST(Average, OneInputIsItself) {
  TempDir dir;
  std::ofstream(dir.work() / "one.frd") << "100 0 0\n1000 -6 0\n";
  for (const char* mode : {"power", "db", "vector"}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(run_average(dir, {"--mode", mode, "avg.frd", "one.frd"}).status, 0);
    const Table avg = read_table(dir.work() / "avg.frd", '*');
    ASSERT_EQ(avg.rows.size(), 319u);  // 96 an octave from 100 Hz below 1000 Hz
    for (const std::vector<double>& row : avg.rows) {
      EXPECT_NEAR(row[1], -6 * std::log10(row[0] / 100), 0.005) << row[0];
    }
    ASSERT_GE(avg.header.size(), 2u);
    EXPECT_NE(avg.header[1].find(" of 1 input, 96 points an octave from 100.000 Hz"),
              std::string::npos)
        << avg.header[1];
  }
}

// Inputs at the edges of what is taken (0.001 Hz to 10 MHz, levels of +-500 dB, phases of
// +-1e308 degrees) give every mode's closed form, and only whole rows of finite numbers that
// read back.
TEST(Average, ExtremeInputsGiveFiniteWholeRows) {
  TempDir dir;
  std::ofstream(dir.work() / "hi.frd") << "0.001 500 1e308\n10000000 500 -1e308\n";
  std::ofstream(dir.work() / "lo.frd") << "0.001 -500 0\n10000000 -500 0\n";
  const std::map<std::string, double> modes = {
      {"power", 500 - 10 * std::log10(2.0)}, {"db", 0}, {"vector", 500 - 20 * std::log10(2.0)}};
  for (const auto& [mode, level] : modes) {
    SCOPED_TRACE(mode);
    const RunResult r =
        run_average(dir, {"--mode", mode, "--csv", "s.csv", "avg.frd", "hi.frd", "lo.frd"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"avg.frd", "s.csv"}) {
      const std::string text = read_file(dir.work() / name);
      ASSERT_FALSE(text.empty());
      EXPECT_EQ(text.back(), '\n') << name;
      EXPECT_EQ(text.find("nan"), std::string::npos) << name;
      EXPECT_EQ(text.find("inf"), std::string::npos) << name;
    }
    const Table avg = read_table(dir.work() / "avg.frd", '*');
    ASSERT_EQ(avg.rows.size(), 3190u);  // 96 an octave over 33.2 octaves
    double before = 0;
    for (const std::vector<double>& row : avg.rows) {
      ASSERT_EQ(row.size(), mode == "vector" ? 3u : 2u);
      ASSERT_GT(row[0], before);  // rows that read back: frequencies ascending
      before = row[0];
      EXPECT_NEAR(row[1], level, 0.005);
    }
    for (const std::vector<double>& row : read_table(dir.work() / "s.csv", '#').rows) {
      ASSERT_EQ(row.size(), 4u);
      EXPECT_EQ(row[1], -500);
      EXPECT_EQ(row[2], 500);
      EXPECT_NEAR(row[3], 500 * std::sqrt(2.0), 0.001);
    }
  }
}

// A file read in blocks: a byte order mark, a comment of 200 kB, CRLF and 30000 rows across
// many blocks average (one input) to the level its rows give.
TEST(Average, LongFileReadInBlocks) {
  TempDir dir;
  {
    std::ofstream f(dir.work() / "long.frd", std::ios::binary);
    f.precision(12);
    f << "\xEF\xBB\xBF* " << std::string(200000, 'x') << "\r\nFreq SPL\r\n";
    for (int i = 0; i < 30000; ++i) {
      const double hz = 10 * std::pow(2000.0, i / 29999.0);
      f << hz << '\t' << -6 * std::log10(hz / 10) << "\r\n";
    }
  }
  const RunResult r = run_average(dir, {"avg.frd", "long.frd"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Table avg = read_table(dir.work() / "avg.frd", '*');
  ASSERT_EQ(avg.rows.size(), 1053u);  // 96 an octave from 10 Hz to 20 kHz
  for (const std::vector<double>& row : avg.rows) {
    EXPECT_NEAR(row[1], -6 * std::log10(row[0] / 10), 0.0075) << row[0];  // the frequency written to 0.001 Hz, the level to 0.01 dB
  }
}

// The curves alone (no --frd) and smoothed: a minimum-phase high-pass (the cookbook's biquad at
// 1 kHz) reads its own group delay, its excess group delay the removed delay's residual.
TEST(IrViews, SmoothedCurvesWithoutFrdGiveTheGroupDelay) {
  const double w0 = 2 * std::numbers::pi * 1000 / 48000, alpha = std::sin(w0) / std::sqrt(2.0);
  const double b[] = {(1 + std::cos(w0)) / 2, -(1 + std::cos(w0)), (1 + std::cos(w0)) / 2};
  const double a[] = {1 + alpha, -2 * std::cos(w0), 1 - alpha};
  std::vector<float> h(1000);
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (std::size_t n = 0; n < h.size(); ++n) {
    const double x = n == 0 ? 1 : 0;
    const double y = (b[0] * x + b[1] * x1 + b[2] * x2 - a[1] * y1 - a[2] * y2) / a[0];
    x2 = x1, x1 = x, y2 = y1, y1 = y;
    h[n] = static_cast<float>(y);
  }
  // The biquad's group delay in ms, by a central difference of its phase.
  const auto delay_ms = [&](double hz) {
    const auto phase = [&](double w) {
      const std::complex<double> z = std::polar(1.0, -w);
      return std::arg((b[0] + b[1] * z + b[2] * z * z) / (a[0] + a[1] * z + a[2] * z * z));
    };
    const double w = 2 * std::numbers::pi * hz / 48000, dw = 1e-6;
    return -std::remainder(phase(w + dw) - phase(w - dw), 2 * std::numbers::pi) / (2 * dw) / 48;
  };
  TempDir dir;
  record(dir, {h});
  const RunResult r = run_ir(dir, 1, {"--curves", "c.csv", "--smooth", "6"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Table curves = read_table(dir.work() / "c.csv", '#');
  double removed = NAN;
  for (const std::string& line : curves.header) {
    std::sscanf(line.c_str(), " Delay removed from the phase: %lf ms", &removed);
  }
  ASSERT_TRUE(std::isfinite(removed));
  int rows = 0;
  for (const std::vector<double>& row : curves.rows) {
    if (row[0] < 300 || row[0] > 10000) continue;
    EXPECT_NEAR(row[3] + removed, delay_ms(row[0]), 0.01) << row[0];
    EXPECT_NEAR(row[5] + removed, 0, 0.01) << row[0];
    ++rows;
  }
  EXPECT_GT(rows, 400);
}
