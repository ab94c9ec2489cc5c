// Reading and checking the --levels file, line by line.
#include "levels.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

#include "common/arguments.h"
#include "response/text_table.h"
#include "sweep/design_text.h"

namespace vellisk {

namespace {

constexpr std::size_t kMaxBytes = 65536;  // far beyond any levels file

// The words of a line, up to any '#'.
std::vector<std::string> words(std::string_view line) {
  std::istringstream in(std::string(line.substr(0, line.find('#'))));
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

}  // namespace

std::string read_levels(const std::string& name, SpeechLevels& levels) {
  const std::string what = quoted("--levels", name.c_str());
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) return "Unable to read " + what + ": " + std::strerror(errno);
  std::string text(kMaxBytes + 1, '\0');
  const std::size_t got = std::fread(text.data(), 1, text.size(), f);
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  std::fclose(f);
  if (failed) return "Unable to read " + what + ": " + std::strerror(error);
  if (got > kMaxBytes) return what + " is longer than 65536 bytes: it is no levels file";
  text.resize(got);

  bool seen[2] = {false, false};  // speech, noise
  // Lines as the other text files have them: a UTF-8 byte order mark at the start is no word.
  int number = 0;
  for (const std::string_view line : table_lines(text)) {
    ++number;
    const std::vector<std::string> w = words(line);
    if (w.empty()) continue;
    const std::string at = what + " line " + std::to_string(number) + ": ";
    if (w[0] == "band") {
      const std::vector<std::string> bands(kStiBandLabels, kStiBandLabels + kStiBands);
      if (std::vector<std::string>(w.begin() + 1, w.end()) != bands) {
        return at + "the bands must be 125 250 500 1k 2k 4k 8k";
      }
      continue;
    }
    const int kind = w[0] == "speech" ? 0 : w[0] == "noise" ? 1 : -1;
    if (kind < 0) {
      return at + "\"" + shown(w[0]) + "\" begins no line of a levels file (speech, noise, band or #)";
    }
    if (seen[kind]) return at + w[0] + " is given twice";
    seen[kind] = true;
    if (w.size() != kStiBands + 1) {
      return at + w[0] + " needs 7 levels, 125 Hz to 8 kHz; " + std::to_string(w.size() - 1) +
             " given";
    }
    for (int k = 0; k < kStiBands; ++k) {
      const std::string& given = w[static_cast<std::size_t>(k) + 1];
      double v = 0;
      // A NUL would end the text whole_number reads: "60<NUL>x" is no level.
      if (given.find('\0') != std::string::npos || !whole_number(given.c_str(), v) ||
          v < kMinLevelDb || v > kMaxLevelDb) {
        return at + w[0] + " level \"" + shown(given) + "\" at " + kStiBandLabels[k] +
               " must be a number of dB SPL from -50 to 150";
      }
      (kind == 0 ? levels.speech : levels.noise)[static_cast<std::size_t>(k)] = v;
    }
  }
  if (!seen[0] || !seen[1]) return what + " needs a speech line and a noise line";
  return "";
}

}  // namespace vellisk
