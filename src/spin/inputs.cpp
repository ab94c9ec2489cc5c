// Reading a loudspeaker's responses at angles: their angles from names or an angles file, and
// .frd files or tables of angles.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "response/frd_text.h"
#include "response/text_table.h"
#include "spin/spin_internal.h"
#include "sweep/out_of_memory.h"
#include "vellisk/response.h"
#include "vellisk/spin.h"

namespace vellisk {
namespace {

bool is_letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool ends_with_word(std::string_view s, std::string_view word) {
  if (s.size() < word.size()) return false;
  const std::string_view tail = s.substr(s.size() - word.size());
  return std::equal(tail.begin(), tail.end(), word.begin(), [](char a, char b) { return lower(a) == b; });
}

std::string_view without_suffix(std::string_view s, std::string_view suffix) {
  return ends_with_word(s, suffix) ? s.substr(0, s.size() - suffix.size()) : s;
}

std::string_view trimmed(std::string_view s, std::string_view blanks) {
  while (!s.empty() && blanks.find(s.front()) != std::string_view::npos) s.remove_prefix(1);
  while (!s.empty() && blanks.find(s.back()) != std::string_view::npos) s.remove_suffix(1);
  return s;
}

// Reads a signed whole number of degrees ending s (with an optional "deg" or degree sign),
// leaving s before it; nothing without one.
std::optional<int> trailing_degrees(std::string_view& s) {
  s = trimmed(s, " _");
  for (const std::string_view mark : {"deg", "\xC2\xB0", "\xB0"}) s = without_suffix(s, mark);
  s = trimmed(s, " _");
  std::size_t digits = 0;
  while (digits < s.size() && std::isdigit(static_cast<unsigned char>(s[s.size() - 1 - digits]))) ++digits;
  if (digits == 0 || digits > 6) return std::nullopt;
  int value = 0;
  for (std::size_t i = s.size() - digits; i < s.size(); ++i) value = value * 10 + (s[i] - '0');
  s.remove_suffix(digits);
  if (!s.empty() && (s.back() == '-' || s.back() == '+')) {
    if (s.back() == '-') value = -value;
    s.remove_suffix(1);
  }
  return value;
}

}  // namespace

int normalised_degrees(int degrees) {
  int d = ((degrees % 360) + 360) % 360;
  return d > 180 ? d - 360 : d;
}

std::optional<SpinAngle> spin_angle_from_name(std::string_view name) {
  if (const auto slash = name.find_last_of('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (const auto dot = name.find_last_of('.'); dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  const std::optional<int> degrees = trailing_degrees(name);
  if (!degrees) return std::nullopt;
  name = trimmed(name, " _");
  static const std::pair<std::string_view, Orbit> kMarks[] = {
      {"horizontal", Orbit::horizontal}, {"hor", Orbit::horizontal}, {"h", Orbit::horizontal},
      {"vertical", Orbit::vertical},     {"vert", Orbit::vertical},  {"ver", Orbit::vertical},
      {"v", Orbit::vertical}};
  for (const auto& [mark, orbit] : kMarks) {
    if (!ends_with_word(name, mark)) continue;
    const std::string_view before = name.substr(0, name.size() - mark.size());
    if (!before.empty() && is_letter(before.back())) continue;
    return SpinAngle{orbit, normalised_degrees(*degrees)};
  }
  return std::nullopt;
}

std::string spin_angle_text(const SpinAngle& a) {
  return std::string(a.orbit == Orbit::horizontal ? "H " : "V ") + std::to_string(a.degrees);
}

bool is_angle_table(std::string_view text) {
  for (const std::string_view line : table_lines(text)) {
    const TableLine t = read_table_line(line, {"#", "*", "//"});
    if (t.kind == TableLineKind::numbers) return false;
    if (t.kind != TableLineKind::text) continue;
    for (const std::string_view cell : table_cells(line)) {
      if (is_on_axis_cell(cell)) return true;
    }
  }
  return false;
}

std::vector<std::string_view> table_cells(std::string_view line) {
  std::vector<std::string_view> cells;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == '\t' || line[i] == ',' || line[i] == ';') {
      const std::string_view cell = trimmed(line.substr(start, i - start), " \r\"");
      if (!cell.empty()) cells.push_back(cell);
      start = i + 1;
    }
  }
  return cells;
}

bool is_on_axis_cell(std::string_view cell) {
  std::string s;
  for (const char c : cell) {
    if (is_letter(c)) s += lower(c);
  }
  return s == "onaxis";
}

std::optional<int> angle_cell(std::string_view cell) {
  if (is_on_axis_cell(cell)) return 0;
  std::string_view s = cell;
  const std::optional<int> degrees = trailing_degrees(s);
  if (!degrees || !trimmed(s, " ").empty()) return std::nullopt;
  return normalised_degrees(*degrees);
}

namespace {

// The angles an angles file gives, by the names it gives them.
std::map<std::string, SpinAngle> read_angles_file(const std::string& path) {
  std::string text;
  if (const int error = read_text(path, text); error != 0) {
    throw Error({ProblemCode::unreadable, "Unable to read angles file (" + path + "): " + std::strerror(error)});
  }
  std::map<std::string, SpinAngle> angles;
  int number = 0;
  for (std::string_view line : table_lines(text)) {
    ++number;
    line = trimmed(line, " \t\r");
    if (line.empty() || line.front() == '#') continue;
    const std::string where = "angles file (" + path + ") line " + std::to_string(number);
    const std::size_t orbit_end = line.find_first_of(" \t");
    const std::string_view orbit_text = line.substr(0, std::min(orbit_end, line.size()));
    std::string_view rest = orbit_end == std::string_view::npos ? "" : trimmed(line.substr(orbit_end), " \t");
    const std::size_t angle_end = std::min(rest.find_first_of(" \t"), rest.size());
    std::string_view angle_text = rest.substr(0, angle_end);
    const std::string name(trimmed(rest.substr(angle_end), " \t"));
    const std::optional<int> degrees = trailing_degrees(angle_text);
    const bool h = orbit_text == "H" || orbit_text == "h", v = orbit_text == "V" || orbit_text == "v";
    if (!(h || v) || !degrees || !angle_text.empty() || name.empty()) {
      throw Error({ProblemCode::invalid_input,
                   where + " is not \"H|V degrees name\" (such as \"H 30 woofer 30.frd\")"});
    }
    angles[name] = SpinAngle{h ? Orbit::horizontal : Orbit::vertical, normalised_degrees(*degrees)};
  }
  return angles;
}

std::string base_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<Orbit> table_orbit(const std::string& path) {
  const std::string name = base_name(path);
  std::string low;
  for (const char c : name) low += lower(c);
  if (low.find("horizontal") != std::string::npos) return Orbit::horizontal;
  if (low.find("vertical") != std::string::npos) return Orbit::vertical;
  return std::nullopt;
}

// A file's angle, from the angles file or its name.
SpinAngle angle_of(const std::string& path, const std::map<std::string, SpinAngle>& angles) {
  std::optional<SpinAngle> angle;
  if (auto it = angles.find(path); it != angles.end()) angle = it->second;
  else if (auto base = angles.find(base_name(path)); base != angles.end()) angle = base->second;
  else if (angles.empty()) angle = spin_angle_from_name(path);
  if (!angle) {
    throw Error({ProblemCode::invalid_request,
                 "input (" + path + ") has no angle: " +
                     (angles.empty() ? std::string("its name does not end in one (such as \"name_H 30.frd\")")
                                     : std::string("the angles file does not name it"))});
  }
  return *angle;
}

// One .frd file's response.
AngleResponse frd_response(const std::string& path, std::string_view text,
                           const std::map<std::string, SpinAngle>& angles) {
  auto data = parse_frd(text);
  if (!data) throw Error({ProblemCode::invalid_input, frd_error_text(data.error(), path)});
  const SpinAngle angle = angle_of(path, angles);
  return AngleResponse{angle, std::move(data->frequencies), std::move(data->level), path};
}

// One response WAV file's response, gated as vellisk-ir gates.
AngleResponse wav_response(const std::string& path, double gate_ms,
                           const std::map<std::string, SpinAngle>& angles) {
  std::vector<FrequencyResponse> r = read_response_file(path, gate_ms);
  if (r.size() != 1 || r[0].frequencies.empty()) {
    throw Error({ProblemCode::invalid_request,
                 "input (" + path + ") " +
                     (r.size() != 1 ? "holds " + std::to_string(r.size()) + " channels: give one response a file"
                                    : std::string("is silent"))});
  }
  const SpinAngle angle = angle_of(path, angles);
  return AngleResponse{angle, std::move(r[0].frequencies), std::move(r[0].level), path};
}

}  // namespace

std::vector<AngleResponse> read_angle_responses(const std::vector<std::string>& files,
                                                const std::string& angles_file, double gate_ms) {
  return memory_checked([&] {
    const std::map<std::string, SpinAngle> angles =
        angles_file.empty() ? std::map<std::string, SpinAngle>{} : read_angles_file(angles_file);
    std::vector<AngleResponse> responses;
    for (const std::string& path : files) {
      if (ends_with_word(path, ".wav")) {
        responses.push_back(wav_response(path, gate_ms, angles));
        continue;
      }
      std::string text;
      if (const int error = read_text(path, text); error != 0) {
        FrdError e;
        e.code = FrdError::Code::unreadable;
        e.system_error = error;
        throw Error({ProblemCode::unreadable, frd_error_text(e, path)});
      }
      if (!is_angle_table(text)) {
        responses.push_back(frd_response(path, text, angles));
        continue;
      }
      const std::optional<Orbit> orbit = table_orbit(path);
      if (!orbit) {
        throw Error({ProblemCode::invalid_request,
                     "input (" + path + ") is a table of angles whose name says neither Horizontal nor "
                     "Vertical: name it such as \"SPL Horizontal.txt\""});
      }
      for (AngleResponse& r : parse_angle_tables(text, *orbit, path)) responses.push_back(std::move(r));
    }
    return responses;
  });
}

}  // namespace vellisk
