// Problems: the names their lines give a request's settings, and the lines in a caller's names.
#include "sweep/settings.h"

namespace vellisk {

namespace {

constexpr char kMark = '\x1f';
constexpr int kSettings = static_cast<int>(Setting::capture) + 1;  // the last setting

// The marks, one a setting: kMark and 'a' + the setting's index.
struct Marks {
  char text[kSettings][3];
  constexpr Marks() : text{} {
    for (int i = 0; i < kSettings; ++i) {
      text[i][0] = kMark;
      text[i][1] = static_cast<char>('a' + i);
      text[i][2] = '\0';
    }
  }
};
constexpr Marks kMarks;

bool has_marks(const std::string& line) { return line.find(kMark) != std::string::npos; }

// line with each mark replaced by names' name of its setting.
std::string named_line(const std::string& line, SettingNames given) {
  const SettingNames name = given != nullptr ? given : field_name;
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const int setting = i + 1 < line.size() ? line[i + 1] - 'a' : -1;
    if (line[i] == kMark && setting >= 0 && setting < kSettings) {
      out += name(static_cast<Setting>(setting));
      ++i;
    } else {
      out += line[i];
    }
  }
  return out;
}

}  // namespace

const char* field_name(Setting setting) {
  switch (setting) {
    case Setting::pre: return "pre";
    case Setting::length: return "length";
    case Setting::harmonics: return "harmonics";
    case Setting::drift: return "drift";
    case Setting::reference: return "reference";
    case Setting::repeat: return "repeat";
    case Setting::smooth: return "smooth";
    case Setting::gate: return "gate";
    case Setting::align: return "align";
    case Setting::waterfall_range: return "waterfall_range_ms";
    case Setting::mic_calibration: return "mic_calibration";
    case Setting::spl_calibration: return "spl_calibration";
    case Setting::spl_level: return "spl_level_db";
    case Setting::tail: return "tail_s";
    case Setting::channels: return "channels";
    case Setting::points: return "points_per_octave";
    case Setting::playback: return "playback";
    case Setting::capture: return "capture";
  }
  return "setting";
}

const char* marked(Setting setting) { return kMarks.text[static_cast<int>(setting)]; }

Problem::Problem(ProblemCode c, std::string line, std::optional<Setting> s, double v)
    : code(c), setting(s), value(v) {
  if (has_marks(line)) {
    message = named_line(line, field_name);
    wording = std::move(line);
  } else {
    message = std::move(line);
  }
}

std::string describe(const Problem& problem, SettingNames names_given) {
  if (problem.wording.empty()) return problem.message;
  return named_line(problem.wording, names_given);
}

}  // namespace vellisk
