// What an analysis of files takes besides the responses: the levels file, and the memory it needs.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

#include "io/memory.h"
#include "response/text_table.h"
#include "sweep/design_text.h"
#include "vellisk/problem.h"
#include "vellisk/room.h"

namespace vellisk {

namespace {

constexpr std::size_t kMaxLevelsBytes = 65536;  // far beyond any levels file

// The words of a line, up to any '#'.
std::vector<std::string> words(std::string_view line) {
  std::istringstream in(std::string(line.substr(0, line.find('#'))));
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

[[noreturn]] void refuse(const std::string& line) {
  throw Error(Problem(ProblemCode::invalid_request, line));
}

// The file's text, at most kMaxLevelsBytes of it.
std::string levels_text(const std::string& path, const std::string& what) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  const auto unreadable = [&what](int error) {
    return Error(Problem(ProblemCode::unreadable, "Unable to read " + what + ": " + std::strerror(error)));
  };
  if (f == nullptr) throw unreadable(errno);
  std::string text(kMaxLevelsBytes + 1, '\0');
  const std::size_t got = std::fread(text.data(), 1, text.size(), f);
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  std::fclose(f);
  if (failed) throw unreadable(error);
  if (got > kMaxLevelsBytes) refuse(what + " is longer than 65536 bytes: it is no levels file");
  text.resize(got);
  return text;
}

// A level as written: a finite number read whole by strtod, from kMinLevelDb to kMaxLevelDb.
bool read_level(const std::string& given, double& v) {
  // A NUL would end the text strtod reads: "60<NUL>x" is no level.
  if (given.find('\0') != std::string::npos) return false;
  char* end = nullptr;
  v = std::strtod(given.c_str(), &end);
  return end != given.c_str() && *end == '\0' && std::isfinite(v) && v >= kMinLevelDb &&
         v <= kMaxLevelDb;
}

// A line "speech" or "noise" (kind 0 or 1) with its seven levels, at the line named at.
void read_level_line(const std::vector<std::string>& w, const std::string& at, SpeechLevels& levels,
                     int kind) {
  if (w.size() != kStiBands + 1) {
    refuse(at + w[0] + " needs 7 levels, 125 Hz to 8 kHz; " + std::to_string(w.size() - 1) +
           " given");
  }
  for (int k = 0; k < kStiBands; ++k) {
    const std::string& given = w[static_cast<std::size_t>(k) + 1];
    double v = 0;
    if (!read_level(given, v)) {
      refuse(at + w[0] + " level \"" + shown(given) + "\" at " + kStiBandLabels[k] +
             " must be a number of dB SPL from -50 to 150");
    }
    (kind == 0 ? levels.speech : levels.noise)[static_cast<std::size_t>(k)] = v;
  }
}

}  // namespace

SpeechLevels read_speech_levels(const std::string& path, const std::string& role) {
  const std::string what = role + " (" + path + ")";
  const std::string text = levels_text(path, what);
  SpeechLevels levels;
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
        refuse(at + "the bands must be 125 250 500 1k 2k 4k 8k");
      }
      continue;
    }
    const int kind = w[0] == "speech" ? 0 : w[0] == "noise" ? 1 : -1;
    if (kind < 0) {
      refuse(at + "\"" + shown(w[0]) + "\" begins no line of a levels file (speech, noise, band or #)");
    }
    if (seen[kind]) refuse(at + w[0] + " is given twice");
    seen[kind] = true;
    read_level_line(w, at, levels, kind);
  }
  if (!seen[0] || !seen[1]) refuse(what + " needs a speech line and a noise line");
  return levels;
}

int room_threads_in_memory(int channels, std::int64_t frames, double rate, int threads,
                           const std::string& what) {
  const double usable = 0.9 * usable_memory();
  const double length = static_cast<double>(frames) + 0.4 * rate;  // with the padding before it
  const auto need = [&](int t) { return length * (4.0 * channels + 16 + 32.0 * t); };
  while (threads > 1 && need(threads) > usable) --threads;
  if (need(threads) > usable) {
    char mib[160];
    std::snprintf(mib, sizeof mib,
                  " needs about %.0f MiB of memory to analyse, more than the %.0f MiB this "
                  "machine allows",
                  need(threads) / 1048576, usable / 1048576);
    throw Error(Problem(ProblemCode::out_of_memory, what + mib, std::nullopt,
                        need(threads) / 1048576));
  }
  return threads;
}

}  // namespace vellisk
