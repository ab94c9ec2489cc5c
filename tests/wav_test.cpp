// Tests of the design a WAV file carries, and of samples after a header.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "run_vellisk.h"
#include "sweep/design_text.h"
#include "sweep/sample_file.h"

using namespace vellisk;

namespace {

constexpr SweepParams kUsual = {48000, 0.5, 20, 20000, 10, 1, 0.05, 0.005};

// Any finite double, negative zero and subnormals included, reads back to the bit.
TEST(DesignText, EveryNumberReadsBackToTheBit) {
  std::mt19937_64 random(28);
  for (int round = 0; round < 3000; ++round) {
    double numbers[8];
    for (double& x : numbers) {
      x = round == 0 ? -0.0 : std::bit_cast<double>(random());
      if (!std::isfinite(x)) x = 5e-324;
    }
    const SweepParams p = {numbers[0], numbers[1], numbers[2], numbers[3],
                           numbers[4], numbers[5], numbers[6], numbers[7]};
    const DesignFile file = round % 2 == 0 ? DesignFile::sweep : DesignFile::inverse;
    CarriedDesign back;
    ASSERT_EQ(parse_design_info_list(design_info_list(p, file), back), "");
    ASSERT_EQ(back.file, file);
    ASSERT_EQ(back.program, "vellisk 1.1.0");
    ASSERT_EQ(std::memcmp(&back.params, &p, sizeof p), 0) << design_text(p, file);
  }
}

TEST(DesignText, RefusesWhatVelliskDidNotWrite) {
  const std::string good = design_text(kUsual, DesignFile::inverse);
  const auto changed = [&good](const std::string& from, const std::string& to) {
    std::string text = good;
    return text.replace(text.find(from), from.size(), to);
  };
  const std::string list = design_info_list(kUsual, DesignFile::sweep);
  const std::string title = std::string("INAM\x03\0\0\0ab\0\0", 12);  // odd size, then a pad byte
  const std::pair<std::string, std::string> cases[] = {
      {"Recorded with another program", "it is not a design vellisk wrote"},
      {changed(" 1.1.0", ""), "it has no version of vellisk"},
      {changed("inverse:", "sweeps:"), "its file 'sweeps' is neither sweep nor inverse"},
      {changed("hzstart=20 hzend=20000", "hzend=20000 hzstart=20"), "its hzstart is missing"},
      {good + " leadout=0.005", "it has more after its eight numbers: ' leadout=0.005'"},
      {changed("=0.5", "=nan"), "its amplitude (nan) is not a finite number"},
      {changed("=0.5", "=0,5\n"), "its amplitude (0,5?) is not a finite number"},
      // INFO lists: subchunks walked by their sizes, pad bytes included
      {"INFO" + title + list.substr(4), ""},
      {list.substr(0, list.size() - 2), "its INFO list ends inside a subchunk"},
      {"INFO" + title, "it has no comment"},
  };
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    CarriedDesign d;
    const bool info = text.starts_with("INFO");
    EXPECT_EQ(info ? parse_design_info_list(text, d) : parse_design_text(text, d), reason);
    EXPECT_EQ(d.params.rate, reason.empty() ? 48000 : 0) << "a refused text changed the design";
  }
}

// A header of 6 bytes puts every sample off the 4-byte grid, across 64 KiB blocks.
TEST(SampleFile, SamplesAfterAHeaderOffTheGrid) {
  TempDir dir;
  SampleFile file;
  ASSERT_EQ(file.open((dir.work() / "x").c_str(), "header"), 0);
  std::string expected = "header";
  for (int i = 0; i < 40000; ++i) {
    file.write(i * 0.25 - 3);
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(i * 0.25 - 3));
    for (int shift = 0; shift < 32; shift += 8)
      expected.push_back(static_cast<char>(bits >> shift));
  }
  ASSERT_EQ(file.close(), 0);
  EXPECT_TRUE(read_file(dir.work() / "x") == expected);
}

}  // namespace
