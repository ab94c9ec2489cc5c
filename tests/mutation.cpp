// Seeded mutants of files' bytes and texts, shared by the fuzz tests.
#include "mutation.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace vellisk {

namespace {

std::size_t below(std::size_t n, std::mt19937& random) {
  return std::uniform_int_distribution<std::size_t>(0, std::max<std::size_t>(n, 1) - 1)(random);
}

constexpr std::array<std::string_view, 24> kWords = {
    "nan",  "-nan", "inf",    "-inf",  "1e999", "-1e999", "1e308", "-1e308",
    "1e-320", "0",  "-0",     "1e-400", "0x1p4", "99999999999999999999999", "1,5", "+",
    std::string_view("\0", 1), "\xef\xbb\xbf", "\xff\xfe", "Freq(Hz) SPL(dB)", "#", "*",
    "speech", "=",
};

// [begin, end) of the word (a run of neither space nor line end) at a random place.
std::pair<std::size_t, std::size_t> word_at(const std::string& text, std::mt19937& random) {
  std::size_t at = below(text.size(), random), end = at;
  const auto gap = [&text](std::size_t i) { return std::strchr(" \t\r\n,;=", text[i]) != nullptr; };
  while (at > 0 && !gap(at - 1)) --at;
  while (end < text.size() && !gap(end)) ++end;
  return {at, end};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1) {
    lines.push_back(text.substr(from, at - from));
  }
  lines.push_back(text.substr(from));
  return lines;
}

std::string joined(const std::vector<std::string>& lines, std::string_view end) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += end;
    out += lines[i];
  }
  return out;
}

std::string mutate_lines(std::string text, std::mt19937& random) {
  std::vector<std::string> lines = lines_of(text);
  const std::size_t i = below(lines.size(), random), j = below(lines.size(), random);
  switch (below(5, random)) {
    case 0:
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), lines[j]);
      break;
    case 1:
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    case 2:
      std::swap(lines[i], lines[j]);
      break;
    case 3:
      return joined(lines, below(2, random) == 0 ? "\r" : "\r\n");
    default:
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), std::string(100000, '7'));
  }
  return joined(lines, "\n");
}

}  // namespace

std::string mutate(std::string bytes, std::mt19937& random) {
  const std::size_t header = std::min<std::size_t>(bytes.size(), 128);
  switch (below(5, random)) {
    case 0:
      for (std::size_t i = 0, n = 1 + below(8, random); i < n && header > 0; ++i)
        bytes[below(header, random)] ^= static_cast<char>(1 << below(8, random));
      break;
    case 1:
      for (std::size_t i = 0, n = 1 + below(64, random); i < n && !bytes.empty(); ++i)
        bytes[below(bytes.size(), random)] = static_cast<char>(below(256, random));
      break;
    case 2: {
      const std::uint32_t extremes[] = {0, 1, 8, 0x7fffffff, 0x80000000, 0xffffffff};
      const std::uint32_t v = extremes[below(6, random)];
      const std::size_t at = below(header / 4, random) * 4;
      if (at + 4 <= bytes.size()) std::memcpy(bytes.data() + at, &v, 4);
      break;
    }
    case 3:
      bytes.resize(below(bytes.size(), random));
      break;
    default:
      for (std::size_t i = 0, n = below(4096, random); i < n; ++i)
        bytes.push_back(static_cast<char>(below(256, random)));
  }
  return bytes;
}

std::string mutate_text(std::string text, std::mt19937& random) {
  const std::string_view word = kWords[below(kWords.size(), random)];
  switch (below(4, random)) {
    case 0:
      return mutate(std::move(text), random);
    case 1: {
      const auto [at, end] = word_at(text, random);
      return text.replace(at, end - at, word);
    }
    case 2:
      return text.insert(below(text.size() + 1, random), word);
    default:
      return mutate_lines(std::move(text), random);
  }
}

}  // namespace vellisk
