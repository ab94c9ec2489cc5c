// Tests of the design a WAV file carries, of a WAV file's limits and of samples after a header.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "run_vellisk.h"
#include "sweep/sample_file.h"
#include "sweep/validation.h"
#include "sweep/wav_header.h"

namespace {

constexpr SweepParams kUsual = {48000, 0.5, 20, 20000, 10, 1, 0.05, 0.005};
double SweepParams::*const kFields[] = {
    &SweepParams::rate,     &SweepParams::amplitude, &SweepParams::hzstart, &SweepParams::hzend,
    &SweepParams::duration, &SweepParams::silence,   &SweepParams::leadin,  &SweepParams::leadout};

// Any finite double, negative zero and subnormals included, reads back to the bit.
TEST(DesignText, EveryNumberReadsBackToTheBit) {
  EXPECT_EQ(design_text(kUsual, DesignFile::sweep),
            "vellisk 1.1.0 sweep: rate=48000 amplitude=0.5 hzstart=20 hzend=20000 duration=10 "
            "silence=1 leadin=0.05 leadout=0.005");
  std::mt19937_64 random(28);
  for (int round = 0; round < 3000; ++round) {
    SweepParams p;
    for (auto field : kFields) {
      const double x = std::bit_cast<double>(random());
      p.*field = round == 0 ? -0.0 : std::isfinite(x) ? x : 5e-324;
    }
    for (const DesignFile file : {DesignFile::sweep, DesignFile::inverse}) {
      CarriedDesign back;
      ASSERT_EQ(parse_design_info_list(design_info_list(p, file), back), "");
      ASSERT_EQ(back.file, file);
      ASSERT_EQ(back.program, "vellisk 1.1.0");
      for (auto field : kFields) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back.params.*field),
                  std::bit_cast<std::uint64_t>(p.*field))
            << design_text(p, file);
      }
    }
  }
}

TEST(DesignText, RefusesTextVelliskDidNotWrite) {
  const std::string good = design_text(kUsual, DesignFile::inverse);
  const auto changed = [&good](const std::string& from, const std::string& to) {
    std::string text = good;
    return text.replace(text.find(from), from.size(), to);
  };
  const std::pair<std::string, std::string> cases[] = {
      {"", "it is not a design vellisk wrote"},
      {"Recorded with another program", "it is not a design vellisk wrote"},
      {changed(" 1.1.0", ""), "it has no version of vellisk"},
      {changed("inverse:", "sweeps:"), "its file 'sweeps' is neither sweep nor inverse"},
      {changed(" hzend=20000", ""), "its hzend is missing"},
      {changed("hzstart=20 hzend=20000", "hzend=20000 hzstart=20"), "its hzstart is missing"},
      {changed("rate=48000", "rate=48000 rate=48000"), "its amplitude is missing"},
      {changed("rate=", "rate ="), "its rate is missing"},
      {good + " leadout=0.005", "it has more after its eight numbers: ' leadout=0.005'"},
      {good + " ", "it has more after its eight numbers: ' '"},
      {changed("=0.5", "=nan"), "its amplitude (nan) is not a finite number"},
      {changed("=0.5", "=-inf"), "its amplitude (-inf) is not a finite number"},
      {changed("=0.5", "=1e999"), "its amplitude (1e999) is not a finite number"},
      {changed("=0.5", "=+0.5"), "its amplitude (+0.5) is not a finite number"},
      {changed("=0.5", "=0,5"), "its amplitude (0,5) is not a finite number"},
      {changed("=0.5", "=0.5\n"), "its amplitude (0.5?) is not a finite number"},
      {changed("=0.5", "="), "its amplitude () is not a finite number"},
  };
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    CarriedDesign d;
    EXPECT_EQ(parse_design_text(text, d), reason);
    EXPECT_EQ(d.params.rate, 0) << "a refused text changed the design";
  }
}

// The INFO list's subchunks are walked by their sizes, pad bytes included.
TEST(DesignText, InfoListIsWalkedByItsSizes) {
  const std::string list = design_info_list(kUsual, DesignFile::sweep);
  const std::string title = std::string("INAM\x03\0\0\0ab\0\0", 12);  // odd size, then a pad byte
  const std::pair<std::string, std::string> cases[] = {
      {"INFO" + title + list.substr(4), ""},
      {list.substr(0, list.size() - 2), "its INFO list ends inside a subchunk"},
      {list.substr(0, 30), "its INFO list ends inside a subchunk"},
      {"INFO" + title, "it has no comment"},
      {"adtl" + list.substr(4), "it is not an INFO list"},
  };
  for (const auto& [payload, reason] : cases) {
    SCOPED_TRACE(reason);
    CarriedDesign d;
    EXPECT_EQ(parse_design_info_list(payload, d), reason);
  }
}

// A WAV file's RIFF size is 32-bit: the longest file accepted still fits, one sample more does not.
TEST(Validation, WavFileLimits) {
  const auto error = [](const SweepParams& p) { return wav_error(p, compute_design(p)); };
  EXPECT_EQ(error(kUsual), "");
  EXPECT_EQ(error({44100.5, 0.5, 20, 20000, 10, 1, 0, 0}),
            "rate (44100.5) must be a whole number in a WAV file");
  EXPECT_EQ(error({1073741823, 0.5, 20, 20000, 1e-6, 0, 0, 0}), "");
  EXPECT_NE(error({1073741824, 0.5, 20, 20000, 1e-6, 0, 0, 0}).find("must not exceed 1073741823"),
            std::string::npos);
  for (const DesignFile file : {DesignFile::sweep, DesignFile::inverse}) {
    SCOPED_TRACE(file == DesignFile::sweep ? "sweep" : "inverse");
    // rate 1 makes sweeplen the duration; silence fills the sweep file up to its limit.
    SweepParams p = {1, 0.5, 0.1, 0.4, 1073741000, 0, 0, 0};
    const auto fits = [&] {
      const std::string h = design_wav_header(p, compute_design(p), file);
      const auto riff =
          static_cast<std::int64_t>(h.size()) - 8 + 4 * file_samples(compute_design(p), file);
      return riff <= 0xffffffff;
    };
    while (fits()) (file == DesignFile::sweep ? p.silence : p.duration) += 1;
    EXPECT_NE(error(p).find("samples in a WAV file, whose 32-bit sizes end at 4 GiB"),
              std::string::npos);
    (file == DesignFile::sweep ? p.silence : p.duration) -= 1;
    EXPECT_EQ(error(p), "");
  }
}

// A header of 6 bytes puts every sample off the 4-byte grid, across 64 KiB blocks.
TEST(SampleFile, SamplesAfterAHeaderOffTheGrid) {
  TempDir dir;
  const auto path = dir.work() / "x.wav";
  SampleFile file;
  ASSERT_EQ(file.open(path.c_str(), "header"), 0);
  std::string expected = "header";
  for (int i = 0; i < 40000; ++i) {
    file.write(i * 0.25 - 3);
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(i * 0.25 - 3));
    for (int shift = 0; shift < 32; shift += 8)
      expected.push_back(static_cast<char>(bits >> shift));
  }
  ASSERT_EQ(file.close(), 0);
  EXPECT_TRUE(read_file(path) == expected);
}

}  // namespace
