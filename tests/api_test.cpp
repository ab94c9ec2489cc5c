// Tests of the library's public API, in process: the sweep's samples, the measurement of an
// in-memory recording against vellisk-ir's files and report, the room's values of exponential
// decays against their closed forms, and problems and warnings as codes and values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/ir_report.h"
#include "common/json_report.h"
#include "run_vellisk.h"
#include "vellisk/vellisk.h"

using namespace vellisk;

namespace {

const SweepParams kSweep = {8000, 0.5, 50, 3000, 2, 0.5, 0.05, 0.01};
const std::vector<std::string> kNumbers = {"8000", "0.5", "50", "3000", "2", "0.5", "0.05", "0.01"};

// Two channels, interleaved: the sweep through 0.4 x(t - 37) + 0.1 x(t - 40)^2 (a second
// harmonic), and a silent one; 3 s of room after the sweep file.
std::vector<float> two_channels() {
  const std::vector<float> s = sweep_samples(kSweep);
  std::vector<float> y(2 * (s.size() + 24000), 0.0f);
  for (std::size_t t = 0; t < s.size(); ++t) {
    y[2 * (t + 37)] += 0.4f * s[t];
    y[2 * (t + 40)] += 0.1f * s[t] * s[t];
  }
  return y;
}

// A request for the sweep, changed by change.
template <class Change>
ResponseRequest request_with(Change change, SweepParams sweep = kSweep) {
  ResponseRequest r;
  r.sweep = sweep;
  change(r);
  return r;
}

const auto kAsGiven = [](ResponseRequest&) {};

// A source as an API user writes one: the sweep through a delay of 25 samples at half the
// level, made for each stretch asked for, with no recording held; from frame fail_at on (when
// not negative), its reads fail.
class DelayedSweep : public SampleSource {
 public:
  explicit DelayedSweep(std::int64_t fail_at = -1)
      : design_(compute_design(kSweep)), fail_at_(fail_at) {
    info_ = {"generated", 1, sweep_file_length(design_) + 24000, 8000};
  }
  const SourceInfo& info() const override { return info_; }
  std::optional<Problem> read(std::int64_t first, std::int64_t count, int, int n,
                              float* const* out, SampleLevels* levels) override {
    if (fail_at_ >= 0 && first + count > fail_at_) {
      return Problem(ProblemCode::unreadable, "the generator stopped");
    }
    for (int c = 0; c < n; ++c) {
      sweep_samples(design_, first - 25, count, out[c]);
      for (std::int64_t t = 0; t < count; ++t) out[c][t] *= 0.5f;
      if (levels == nullptr) continue;
      for (std::int64_t t = 0; t < count; ++t)
        levels[c].peak = std::max(levels[c].peak, std::abs(out[c][t]));
    }
    return std::nullopt;
  }

 private:
  SweepDesign design_;
  std::int64_t fail_at_;
  SourceInfo info_;
};

}  // namespace

// The user's source is measured as a recording is: its response arrives 25 samples after the
// zero instant at -6 dB. A read that fails ends the measurement with the source's line; a
// sample that is not finite is the recording's problem, by its frame and channel.
TEST(Api, ASourceOfTheCallersOwnIsMeasuredAndItsProblemsEndTheRun) {
  DelayedSweep source;
  const ResponseResult result = measure(request_with(kAsGiven), source, "generated");
  ASSERT_EQ(result.report.channels.size(), 1u);
  EXPECT_NEAR(result.report.channels[0].arrival_samples, 25, 0.05);
  EXPECT_NEAR(result.report.channels[0].gain_db, 20 * std::log10(0.5), 0.05);
  std::vector<float> row(static_cast<std::size_t>(result.frames(1)));
  EXPECT_FALSE(result.read(1, 0, 0, result.frames(1), row.data()));

  DelayedSweep failing(1000);
  try {
    measure(request_with(kAsGiven), failing, "generated");
    ADD_FAILURE() << "measured";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("the generator stopped"), std::string::npos) << e.what();
  }

  const std::vector<float> bad = {0, 1, std::numeric_limits<float>::quiet_NaN(), 0};
  MemorySource memory(bad.data(), 2, 2, 8000, 2, 1, "bad.f32");
  std::vector<float> a(2), b(2);
  float* out[] = {a.data(), b.data()};
  const std::optional<Problem> p = memory.read(0, 2, 0, 2, out);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->code, ProblemCode::invalid_recording);
  EXPECT_EQ(p->message.rfind("recording (bad.f32) holds a sample that is not finite", 0), 0u)
      << p->message;
  EXPECT_NE(p->message.find("at frame 1 of channel 1"), std::string::npos) << p->message;
}

TEST(Api, SweepSamplesAreTheGoldenFilesAndComeInAnyBlocks) {
  // The golden design of the reference run: vellisk's files, bit for bit.
  const SweepParams golden = {8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02};
  EXPECT_EQ(sweep_samples(golden), read_samples(kTestData / "sweep.pcm"));
  EXPECT_EQ(inverse_samples(golden), read_samples(kTestData / "inverse.pcm"));
  // Blocks from before the start to past the end give the same samples, zeros outside.
  const SweepDesign d = compute_design(golden);
  for (const bool inverse : {false, true}) {
    SCOPED_TRACE(inverse ? "inverse" : "sweep");
    const std::vector<float> whole = inverse ? inverse_samples(golden) : sweep_samples(golden);
    const auto n = static_cast<std::int64_t>(whole.size());
    std::vector<float> blocks;
    for (std::int64_t at = -7; at < n + 7; at += 333) {
      std::vector<float> block(333);
      if (inverse) {
        inverse_samples(d, at, 333, block.data());
      } else {
        sweep_samples(d, at, 333, block.data());
      }
      blocks.insert(blocks.end(), block.begin(), block.end());
    }
    ASSERT_GE(static_cast<std::int64_t>(blocks.size()), n + 14);
    EXPECT_TRUE(std::all_of(blocks.begin(), blocks.begin() + 7, [](float v) { return v == 0; }));
    EXPECT_EQ(std::vector<float>(blocks.begin() + 7, blocks.begin() + 7 + n), whole);
    EXPECT_TRUE(std::all_of(blocks.begin() + 7 + n, blocks.end(), [](float v) { return v == 0; }));
  }
  char factor[32];
  std::snprintf(factor, sizeof factor, "%g", normalisation_factor(d));
  EXPECT_NE(read_file(kTestData / "stdout-after-banner.txt")
                .find(std::string("Sweep normalizaton factor: ") + factor + "\n"),
            std::string::npos);
}

TEST(Api, ProblemsCarryTheirCodeAndTheProgramsWords) {
  TempDir dir;
  const RunResult refused = run_vellisk(dir, {"8000", "0.5", "50", "5000", "2", "0.5", "0.05",
                                              "0.01", "s.pcm", "i.pcm"});
  SweepParams alias = kSweep;
  alias.hzend = 5000;
  const std::optional<Problem> p = check_design(alias);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->code, ProblemCode::invalid_design);
  EXPECT_EQ(p->message + "\n", refused.err);
  EXPECT_FALSE(check_design(kSweep));

  const struct {
    const char* what;
    ResponseRequest request;
    ProblemCode code;
    const char* words;
    std::optional<Setting> setting;  // and its value
    double value;
  } cases[] = {
      {"silent sweep", request_with(kAsGiven, {8000, 0, 50, 3000, 2, 0.5, 0.05, 0.01}),
       ProblemCode::invalid_design, "amplitude (0) must not be 0", std::nullopt, 0},
      {"empty order",
       request_with([](ResponseRequest& r) { r.harmonics = 10; },
                    {8000, 0.5, 500, 3000, 2, 0.5, 0.05, 0.01}),
       ProblemCode::invalid_request, "harmonics (10) asks for order 6, whose band is empty",
       Setting::harmonics, 10},
      {"gate", request_with([](ResponseRequest& r) { r.gate_ms = 2000; }),
       ProblemCode::invalid_request, "gate (2000 ms) must not be longer than length (1 s)",
       Setting::gate, 2000},
      {"align", request_with([](ResponseRequest& r) { r.align = true, r.reference = 2; }),
       ProblemCode::invalid_request, "align is for a single sweep without a reference",
       Setting::align, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      check_request(c.request);
      ADD_FAILURE() << "not refused";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), c.code);
      EXPECT_EQ(std::string(e.what()).find(c.words), 0u) << e.what();
      EXPECT_EQ(e.problem().setting, c.setting);
      if (c.setting) {
        EXPECT_EQ(e.problem().value, c.value);
      }
    }
  }
  // A recording shorter than the sweep, and a reference it does not have.
  std::vector<float> short_one(1000, 0.0f);
  MemorySource source(short_one.data(), 1000, 1, 8000, 1, 1, "short");
  const ResponseRequest request = request_with(kAsGiven);
  try {
    plan_response(request, source, "short");
    ADD_FAILURE() << "not refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ProblemCode::invalid_recording);
    EXPECT_STREQ(e.what(), "recording (short) holds 1000 frames, fewer than the end of the sweep "
                           "at silencelen + sweeplen (20000)");
  }
}

// What a file to be written can hold, at the edges: FLAC's 8 channels and 24 bits, a header's
// whole rate of up to 2^31 - 1.
TEST(Api, FilesRefuseWhatTheirFormatCannotHold) {
  const std::string flac = "irfile (ir.flac)";
  EXPECT_FALSE(check_file_channels(ResponseFormat::kFlac, 8, flac));
  const std::optional<Problem> nine = check_file_channels(ResponseFormat::kFlac, 9, flac);
  ASSERT_TRUE(nine);
  EXPECT_EQ(nine->code, ProblemCode::invalid_request);
  EXPECT_EQ(nine->message,
            "irfile (ir.flac) cannot hold 9 channels: a .flac file holds at most 8; write a .wav "
            "or .w64 file");
  EXPECT_FALSE(check_file_channels(ResponseFormat::kWav, 1024, "irfile (ir.wav)"));
  EXPECT_TRUE(check_file_channels(ResponseFormat::kWav, 1025, "irfile (ir.wav)"));

  const struct {
    double rate;
    bool refused;
  } rates[] = {{1, false}, {2147483647, false}, {2147483648.0, true}, {44100.5, true}, {0.5, true}};
  for (const auto& r : rates) {
    SCOPED_TRACE(r.rate);
    EXPECT_EQ(check_file_rate(ResponseFormat::kW64, r.rate, "irfile", true).has_value(), r.refused);
    EXPECT_FALSE(check_file_rate(ResponseFormat::kHeaderless, r.rate, "irfile", true));
  }
  EXPECT_EQ(check_file_rate(ResponseFormat::kWav, 44100.5, "--step's WAV file", false)->message,
            "rate (44100.5) must be a whole number of samples per second for --step's WAV file");

  // 24-bit codes run from -2^23 to 2^23 - 1: 1 - 2^-23 is the last value that is not clipped.
  const float top = 1.0f - std::ldexp(1.0f, -23);
  EXPECT_FALSE(check_file_value(ResponseFormat::kFlac, top, flac));
  EXPECT_FALSE(check_file_value(ResponseFormat::kFlac, -1.0f, flac));
  EXPECT_TRUE(check_file_value(ResponseFormat::kFlac, 1.0f, flac));
  EXPECT_TRUE(check_file_value(ResponseFormat::kFlac, std::nextafter(-1.0f, -2.0f), flac));
  EXPECT_FALSE(check_file_value(ResponseFormat::kWav, 1e6f, "irfile (ir.wav)"));
}

// A caller words the library's problems and warnings in its own names for the settings, and
// checks a value given one setting at a time.
TEST(Api, ProblemsAndWarningsAreWordedInTheCallersNames) {
  const SettingNames keys = [](Setting s) {
    return s == Setting::gate ? "G" : s == Setting::length ? "L" : "other";
  };
  try {
    check_request(request_with([](ResponseRequest& r) { r.gate_ms = 2000; }));
    ADD_FAILURE() << "not refused";
  } catch (const Error& e) {
    EXPECT_EQ(describe(e.problem(), keys), "G (2000 ms) must not be longer than L (1 s)");
    EXPECT_EQ(describe(e.problem(), nullptr), e.what());
  }
  const Problem own(ProblemCode::unreadable, "a line of the caller's");
  EXPECT_EQ(describe(own, keys), own.message);

  const struct {
    Setting setting;
    double value;
    const char* line;  // "": in range
  } given[] = {
      {Setting::gate, 0, "gate (0) must be a number of milliseconds greater than 0"},
      {Setting::gate, 0.5, ""},
      {Setting::reference, 0, "reference (0) must be a channel number from 1 to 1024"},
      {Setting::reference, 1024, ""},
      {Setting::smooth, 97, "smooth (97) must be a whole number from 1 to 96"},
      {Setting::spl_level, 39.9, "spl_level_db (39.9) must be a number of dB SPL from 40 to 160"},
      // The settings of a live measurement, a headerless file and a directivity set.
      {Setting::tail, 0, ""},
      {Setting::tail, 3600.5, "tail_s (3600.5) must be a number of seconds from 0 to 3600"},
      {Setting::channels, 1025, "channels (1025) must be a whole number from 1 to 1024"},
      {Setting::points, 0, ""},
      {Setting::points, -1,
       "points_per_octave (-1) must be a whole number from 0 (the inputs' own grid) to 1000"},
      {Setting::waterfall_range, 0.1, ""},
  };
  for (const auto& g : given) {
    SCOPED_TRACE(g.line);
    const std::optional<Problem> p = check_setting(g.setting, g.value);
    ASSERT_EQ(p.has_value(), *g.line != '\0');
    if (!p) continue;
    EXPECT_EQ(p->message, g.line);
    EXPECT_EQ(p->setting, g.setting);
    EXPECT_EQ(p->value, g.value);
  }

  Warning w;
  w.code = WarningCode::window_ends_early;
  w.channel = 2;
  w.value = 31;
  w.second = 1.0;  // the decay reaches the noise 1 s after the zero instant: 1.25 s holds it
  EXPECT_EQ(describe(w, keys),
            "channel 2: the response has not decayed into the noise by the end of its window "
            "(its last tenth is 31 dB above the noise); L 1.3 or more would hold it");
}

// The pipeline on a recording in memory gives vellisk-ir's files and JSON report, byte for
// byte, and its warnings, as codes and as words.
TEST(Api, MeasuringInMemoryGivesTheProgramsFilesAndReport) {
  TempDir dir;
  const std::vector<float> y = two_channels();
  std::ofstream(dir.work() / "rec.f32", std::ios::binary)
      .write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(4 * y.size()));
  std::vector<std::string> args = {"-c", "2", "-H", "2", "--json", "r.json", "--frd", "r.frd"};
  args.insert(args.end(), kNumbers.begin(), kNumbers.end());
  args.insert(args.end(), {"rec.f32", "ir.f32"});
  RunSetup setup;
  setup.program = VELLISK_IR_BINARY;
  const RunResult run = run_program(dir, args, setup);
  ASSERT_EQ(run.status, 0) << run.err;

  const ResponseRequest request = request_with([](ResponseRequest& r) {
    r.harmonics = 2;
    r.frequency_responses = true;
  });
  const std::int64_t frames = static_cast<std::int64_t>(y.size() / 2);
  MemorySource source(y.data(), frames, 2, 8000, 2, 1, "rec.f32");
  const ResponseResult result = measure(request, source, "rec.f32");

  // The responses: each order's file, interleaved.
  for (int k = 1; k <= 2; ++k) {
    SCOPED_TRACE(k);
    const std::vector<float> file =
        read_samples(dir.work() / (k == 1 ? "ir.f32" : "ir-h2.f32"));
    const std::int64_t n = result.frames(k);
    ASSERT_EQ(static_cast<std::int64_t>(file.size()), 2 * n);
    std::vector<float> row(static_cast<std::size_t>(n));
    for (int c = 0; c < 2; ++c) {
      ASSERT_FALSE(result.read(k, c, 0, n, row.data()));
      for (std::int64_t t = 0; t < n; ++t) {
        ASSERT_EQ(row[static_cast<std::size_t>(t)], file[static_cast<std::size_t>(2 * t + c)])
            << "channel " << c + 1 << ", sample " << t;
      }
    }
  }
  // The silent channel's warning, as a code and as the program's words.
  ASSERT_EQ(result.warnings.size(), 1u);
  EXPECT_EQ(result.warnings[0].code, WarningCode::silent_recording);
  EXPECT_EQ(result.warnings[0].channel, 2);
  EXPECT_EQ("Warning: " + warning_text(result.warnings[0]) + "\n", run.err);

  // The JSON report, from the same figures, the file and its format named as the program does.
  RunFigures figures;
  static_cast<ResponseReport&>(figures) = result.report;
  figures.recording = "rec.f32";
  figures.info.format = "headerless float32";
  figures.info.rate = 0;
  for (const Warning& w : result.warnings) figures.warnings.push_back(warning_text(w));
  figures.outputs = {"ir.f32", "ir-h2.f32", "r.json", "r-c1.frd", "r-c2.frd", "r-c1-h2.frd",
                     "r-c2-h2.frd"};
  EXPECT_EQ(json_report(figures), read_file(dir.work() / "r.json"));
  EXPECT_EQ(result.channels[0].responses.size(), 2u);
}

TEST(Api, WarningsCountWhatTheyName) {
  // A recording clipped at full scale: the count is that of the samples at or beyond it.
  std::vector<float> y = sweep_samples(kSweep);
  y.resize(y.size() + 8000, 0.0f);
  std::int64_t at_full_scale = 0;
  for (float& v : y) {
    v *= 2.5f;
    at_full_scale += std::abs(v) >= 1;
  }
  ASSERT_GT(at_full_scale, 0);
  MemorySource source(y.data(), static_cast<std::int64_t>(y.size()), 1, 8000, 1, 1);
  const ResponseResult result = measure(request_with(kAsGiven), source);
  ASSERT_FALSE(result.warnings.empty());
  EXPECT_EQ(result.warnings[0].code, WarningCode::clipped);
  EXPECT_EQ(result.warnings[0].channel, 1);
  EXPECT_EQ(result.warnings[0].count, at_full_scale);
}

namespace {

// Decaying noise of reverberation time t60 from 50 ms on, uniform from a fixed linear
// congruential sequence, in the frame's channel of an interleaved buffer: energy e^(-a t),
// a = 13.8155 / t60, the same in every band.
void add_decay(std::vector<float>& x, int channels, int channel, double t60, int rate) {
  unsigned state = 3382u + static_cast<unsigned>(channel);
  for (std::size_t i = static_cast<std::size_t>(channel); i < x.size(); i += channels) {
    const double t = static_cast<double>(i / channels) / rate - 0.05;
    state = state * 1664525u + 1013904223u;
    const double uniform = std::sqrt(12.0) * ((state >> 8) / 16777216.0 - 0.5);
    x[i] = static_cast<float>(t < 0 ? 0 : std::exp(-13.8155 / t60 * t / 2) * uniform);
  }
}

// The STI of a noise-free exponential decay in every band: m(F) = 1 / sqrt(1 + (2 pi F T /
// 13.8)^2), its transmission index averaged (the bands' weights and redundancies sum to 1).
double decay_sti(double t60) {
  double sum = 0;
  for (const double f : kModulationHz) {
    const double m = 1 / std::sqrt(1 + std::pow(2 * 3.141592653589793 * f * t60 / 13.8, 2));
    sum += (std::clamp(10 * std::log10(m / (1 - m)), -15.0, 15.0) + 15) / 30;
  }
  return sum / kModulations;
}

}  // namespace

TEST(Api, RoomValuesOfExponentialDecaysAreTheirClosedForms) {
  // Two channels read from memory, of T 0.6 s and 1.5 s. In each octave, T20 and T30 are T
  // within three of ISO 3382-2's standard deviations, 0.88 T sqrt((1 + 1.90 / n) / (B T)) and
  // 0.55 T sqrt((1 + 1.52 / n) / (B T)), n = 10 for an integrated impulse response, B 0.71
  // times the centre. The broadband's T20, T30 and EDT are T, its C80 10 lg(e^(0.08 a) - 1),
  // D50 1 - e^(-0.05 a) and Ts 1 / a; the STI that of the modulation transfer's closed form.
  const int rate = 48000;
  const double times[] = {0.6, 1.5};
  std::vector<float> x(static_cast<std::size_t>(2 * 2.2 * rate));
  for (int c = 0; c < 2; ++c) add_decay(x, 2, c, times[c], rate);
  RoomSetup room;
  room.rate = rate;
  room.threads = 0;
  MemorySource source(x.data(), static_cast<std::int64_t>(x.size() / 2), 2, rate, 2, 1);
  const std::vector<ChannelAnalysis> channels = analyse_room(room, source);
  ASSERT_EQ(channels.size(), 2u);
  for (int c = 0; c < 2; ++c) {
    const double t60 = times[c], a = 13.8155 / t60;
    SCOPED_TRACE("T " + std::to_string(t60) + " s");
    const ChannelAnalysis& channel = channels[static_cast<std::size_t>(c)];
    ASSERT_TRUE(channel.onset_found);
    EXPECT_NEAR(channel.onset, 0.05, 1e-3);
    ASSERT_EQ(channel.bands.size(), 9u);
    for (std::size_t k = 0; k + 1 < channel.bands.size(); ++k) {
      const BandResult& band = channel.bands[k];
      SCOPED_TRACE(band.label);
      const BandParameters& p = band.parameters;
      ASSERT_TRUE(p.t20 && p.t30);
      const double bt = 0.71 * band.centre * t60;
      EXPECT_NEAR(*p.t20, t60, 3 * 0.88 * t60 * std::sqrt(1.19 / bt));
      EXPECT_NEAR(*p.t30, t60, 3 * 0.55 * t60 * std::sqrt(1.152 / bt));
    }
    const BandParameters& p = channel.bands.back().parameters;
    EXPECT_EQ(channel.bands.back().label, "broadband");
    ASSERT_TRUE(p.t20 && p.t30 && p.edt && p.c80 && p.d50 && p.ts && channel.speech.sti);
    for (const auto& time : {p.t20, p.t30, p.edt}) EXPECT_NEAR(*time, t60, 0.02 * t60);
    EXPECT_NEAR(*p.c80, 10 * std::log10(std::exp(0.08 * a) - 1), 0.3);
    EXPECT_NEAR(*p.d50, 1 - std::exp(-0.05 * a), 0.02);
    EXPECT_NEAR(*p.ts, 1000 / a, 2);
    EXPECT_NEAR(*channel.speech.sti, decay_sti(t60), 0.02);
  }

  room.rate = 999;
  EXPECT_EQ(check_room(room)->code, ProblemCode::invalid_request);
  EXPECT_THROW(analyse_room_channel(room, x.data(), 10), Error);
}
