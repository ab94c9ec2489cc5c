// Tests of the sample file writer and the sweep signal.
#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "run_vellisk.h"
#include "sweep/sample_file.h"
#include "sweep/sweep_gen.h"
#include "vellisk/sweep.h"

using namespace vellisk;

namespace {

std::vector<double> sweep_of(const SweepParams& p) {
  std::vector<double> samples;
  emit_sweep(compute_design(p), [&samples](double v) { samples.push_back(v); });
  return samples;
}

// The taper weight of sweep sample n: its value over the untapered sweep.
double weight(const SweepDesign& d, const std::vector<double>& samples, std::int64_t n) {
  const double plain = sweep_phase_sample(d, n) * d.amplitude;
  EXPECT_GT(std::abs(plain), 0.05) << "index " << n << " is too close to a zero of the sweep";
  return samples[static_cast<std::size_t>(d.silencelen + n)] / plain;
}

TEST(SampleFile, WritesLittleEndianFloatsAcrossBlocks) {
  TempDir dir;
  const auto path = dir.work() / "samples.pcm";
  std::vector<double> values;
  for (int i = 0; i < 40000; ++i) values.push_back(std::sin(i * 0.001) * 1e3 + 0.1);
  values.push_back(-0.0);
  values.push_back(1e300);
  SampleFile file;
  ASSERT_EQ(file.open(path.c_str()), 0);
  for (double v : values) file.write(v);
  ASSERT_EQ(file.close(), 0);

  EXPECT_EQ(std::filesystem::file_size(path), 4 * values.size());
  const std::vector<float> back = read_samples(path);
  ASSERT_EQ(back.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(std::bit_cast<std::uint32_t>(back[i]),
              std::bit_cast<std::uint32_t>(static_cast<float>(values[i])))
        << "sample " << i;
  }
  EXPECT_EQ(read_file(path).substr(4 * 40000, 4), std::string("\0\0\0\x80", 4));
}

TEST(SampleFile, ReportsFailedOpenAndFailedWrite) {
  SampleFile missing;
  EXPECT_EQ(missing.open("/no-such-folder/x.pcm"), ENOENT);
  SampleFile full;
  ASSERT_EQ(full.open("/dev/full"), 0);
  full.write(1.0);
  EXPECT_EQ(full.close(), ENOSPC);
}

TEST(Sweep, SilenceAndFirstSampleSigns) {
  const SweepParams tapered = {8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02};
  SweepParams untapered = tapered;
  untapered.leadin = 0;
  untapered.leadout = 0;
  for (const SweepParams& p : {tapered, untapered}) {
    SCOPED_TRACE(testing::Message() << "leadin " << p.leadin);
    const SweepDesign d = compute_design(p);
    const std::vector<double> s = sweep_of(p);
    ASSERT_EQ(s.size(), static_cast<std::size_t>(d.sweeplen + 2 * d.silencelen));
    for (std::int32_t i = 0; i < d.silencelen; ++i) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(s[static_cast<std::size_t>(i)]), 0u);
      ASSERT_EQ(std::bit_cast<std::uint64_t>(s[s.size() - 1 - static_cast<std::size_t>(i)]), 0u);
    }
    const float first = static_cast<float>(s[static_cast<std::size_t>(d.silencelen)]);
    EXPECT_EQ(first, 0.0f);
    EXPECT_EQ(std::signbit(first), p.leadin > 0);
  }
}

TEST(Sweep, NoSampleExceedsTheAmplitude) {
  for (double amplitude : {0.5, -0.8, 1.0}) {
    SCOPED_TRACE(testing::Message() << "amplitude " << amplitude);
    for (double v : sweep_of({16000, amplitude, 20, 7000, 1.5, 0.1, 0.2, 0.1})) {
      ASSERT_LE(std::abs(v), std::abs(amplitude));
    }
  }
}

TEST(Sweep, TaperWeightsAtTheEnds) {
  // rate 100 and duration 1 give N = 100; leadin and leadout pick the taper lengths.
  struct Case {
    double leadin, leadout;
    std::vector<double> first, last;  // weights of the first and last sweep samples
  };
  const Case cases[] = {
      {0.02, 0.02, {0, 1}, {0, 1}},
      {0.03, 0.03, {0, 0.34, 1}, {0.34, 1, 0.34}},
      {0, 0, {1, 1}, {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "leadin " << c.leadin << " leadout " << c.leadout);
    const SweepParams p = {100, 0.7, 10, 40, 1, 0.1, c.leadin, c.leadout};
    const SweepDesign d = compute_design(p);
    const std::vector<double> s = sweep_of(p);
    for (std::size_t i = 1; i < c.first.size(); ++i) {
      EXPECT_NEAR(weight(d, s, static_cast<std::int64_t>(i)), c.first[i], 1e-12) << "first " << i;
    }
    for (std::size_t i = 0; i < c.last.size(); ++i) {
      const auto n = static_cast<std::int64_t>(d.sweeplen - c.last.size() + i);
      EXPECT_NEAR(weight(d, s, n), c.last[i], 1e-12) << "sample " << n;
    }
  }
  EXPECT_EQ(half_blackman(kPi, kTwoPi, 0), -0x1p-56);
}

TEST(Sweep, LastSampleIsWeightedByTheTaperNextToItsEnd) {
  const SweepParams p = {8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02};
  const SweepDesign d = compute_design(p);
  const std::vector<double> s = sweep_of(p);
  const std::size_t last = static_cast<std::size_t>(d.silencelen + d.sweeplen - 1);
  EXPECT_NE(s[last], 0.0);
  EXPECT_EQ(s[last], half_blackman(d.leadoutstep, d.leadoutstep2, 1) *
                         sweep_phase_sample(d, d.sweeplen - 1) * d.amplitude);
}

TEST(SweepFile, MatchesReferenceBytesAndReportedSize) {
  TempDir dir;
  const RunResult r = run_vellisk(dir, golden_args());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string sweep = read_file(dir.work() / "sweep.pcm");
  EXPECT_TRUE(sweep == read_file(kTestData / "sweep.pcm"))
      << "sweep.pcm differs from the reference";
  EXPECT_NE(r.out.find("Total sweep file size: " + std::to_string(sweep.size()) + " bytes\n"),
            std::string::npos);
}


// The library's writer, as an API user writes a run's files: the header, then the samples the
// library gives, bit for bit; a WAV file reads back as its design.
TEST(SweepFileWriter, FilesAreTheirHeaderAndTheLibrarysSamples) {
  TempDir dir;
  const SweepParams p = {8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02};
  const SweepDesign d = compute_design(p);
  for (const bool wav : {false, true}) {
    for (const SweepFileKind kind : {SweepFileKind::sweep, SweepFileKind::inverse}) {
      const bool sweep = kind == SweepFileKind::sweep;
      SCOPED_TRACE(testing::Message() << (wav ? "wav " : "raw ") << (sweep ? "sweep" : "inverse"));
      const auto path = dir.work() / (sweep ? "s" : "i");
      const std::string header = sweep_file_header(p, kind, wav);
      EXPECT_EQ(header.empty(), !wav);
      SweepFileWriter writer;
      writer.open(path.c_str(), header);
      writer.write(d, kind);
      const std::vector<float> expected = sweep ? sweep_samples(p) : inverse_samples(p);
      ASSERT_EQ(file_length(d, kind), static_cast<std::int64_t>(expected.size()));
      const std::string bytes = read_file(path);
      ASSERT_EQ(bytes.size(), header.size() + 4 * expected.size());
      EXPECT_EQ(bytes.substr(0, header.size()), header);
      EXPECT_EQ(std::memcmp(bytes.data() + header.size(), expected.data(), 4 * expected.size()), 0);
      if (wav) {
        const SweepFile back = read_sweep_file(path.string());
        EXPECT_EQ(back.inverse, !sweep);
        EXPECT_EQ(back.params.hzend, p.hzend);
      }
    }
  }
}

// A file that cannot be opened or written is unwritable, with the system's reason as its value.
TEST(SweepFileWriter, FailuresCarryTheSystemsErrorNumber) {
  const SweepDesign d = compute_design({8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02});
  const auto error_of = [&d](const char* path, bool at_open) {
    SweepFileWriter writer;
    try {
      writer.open(path, "");
      if (at_open) return -1;
      writer.write(d, SweepFileKind::inverse);
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ProblemCode::unwritable);
      EXPECT_NE(e.problem().message.find(path), std::string::npos) << e.what();
      return static_cast<int>(e.problem().value);
    }
    return 0;
  };
  EXPECT_EQ(error_of("/no-such-folder/x.pcm", true), ENOENT);
  EXPECT_EQ(error_of("/dev/full", false), ENOSPC);
  SweepFileWriter unopened;  // nothing to write to: refused, not a write to no file
  EXPECT_THROW(unopened.write(d, SweepFileKind::sweep), Error);
}

// A WAV file's own rules come after the design's, which check_design keeps.
TEST(SweepFileWriter, WavRulesAddToTheDesigns) {
  const SweepParams p = {8000.5, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02};
  EXPECT_FALSE(check_design(p));
  const std::optional<Problem> wav = check_wav_design(p);
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav->code, ProblemCode::invalid_design);
  EXPECT_EQ(wav->message, "rate (8000.5) must be a whole number in a WAV file");
  EXPECT_FALSE(check_wav_design({8000, 0.5, 50, 3000, 0.5, 0.05, 0.1, 0.02}));
}

}  // namespace
