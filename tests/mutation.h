// Seeded mutants of files' bytes and texts, shared by the fuzz tests.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vellisk {

// One of five mutations of a file's bytes: bits flipped in its first 128 bytes (the header),
// bytes set anywhere, a 32-bit header word set to an extreme value, the file cut short, or
// garbage appended.
std::string mutate(std::string bytes, std::mt19937& random);

// One of those, or a mutation of a text's words and lines: a word replaced by, or a place given,
// a hostile one (nan, inf, 1e999, a subnormal, a NUL, a byte-order mark, a heading), a line
// repeated, dropped or swapped with another, line ends turned into CR or CRLF, or a line of
// 100000 digits.
std::string mutate_text(std::string text, std::mt19937& random);

// Gives read count mutants of the seeds in turn (mutate_text's, or mutate's with bytes); read
// returns "" for one it accepted with plausible values, "refused" for one it refused, and what
// is wrong otherwise, which fails the test naming the mutant. Both outcomes must be common.
template <class Read>
void fuzz_reader(const std::vector<std::string>& seeds, unsigned seed, int count, bool bytes,
                 Read read) {
  std::mt19937 random(seed);
  int accepted = 0, refused = 0;
  for (int i = 0; i < count; ++i) {
    const std::string& original = seeds[static_cast<std::size_t>(i) % seeds.size()];
    const std::string mutant = bytes ? mutate(original, random) : mutate_text(original, random);
    const std::string fault = read(mutant);
    if (fault == "refused") {
      ++refused;
    } else {
      EXPECT_EQ(fault, "") << "mutant " << i << ":\n" << mutant.substr(0, 400);
      accepted += fault.empty();
    }
  }
  EXPECT_GT(accepted, count / 20);
  EXPECT_GT(refused, count / 20);
}

}  // namespace vellisk
