// Seeded mutants of files' bytes and texts, shared by the fuzz tests.
#pragma once

#include <random>
#include <string>

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

}  // namespace vellisk
