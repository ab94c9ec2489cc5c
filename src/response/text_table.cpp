// Reading numeric table lines and the sensitivity line of microphone calibration files.
#include "response/text_table.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vellisk {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

// A number at the start of s, from_chars's (locale-free) form with an optional '+'; advances s.
std::optional<double> take_number(std::string_view& s) {
  std::string_view t = s;
  bool plus = false;
  if (!t.empty() && t.front() == '+') t.remove_prefix(1), plus = true;
  if (plus && !t.empty() && t.front() == '-') return std::nullopt;
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || !std::isfinite(v)) return std::nullopt;
  s.remove_prefix(static_cast<std::size_t>(end - s.data()));
  return v;
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Whether s starts with word, in any letter case; advances s past it.
bool take_word(std::string_view& s, std::string_view word) {
  if (s.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (lower(s[i]) != word[i]) return false;
  }
  s.remove_prefix(word.size());
  return true;
}

void skip_spaces(std::string_view& s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
}

}  // namespace

bool reads_as_row(std::string_view line) {
  std::string_view s = trimmed(line);
  if (s.empty()) return false;
  while (!s.empty()) {
    std::size_t end = 0;
    while (end < s.size() && !is_space(s[end]) && s[end] != ',' && s[end] != ';') ++end;
    std::string_view field = s.substr(0, end);
    const bool numeric = !field.empty() && (std::isdigit(static_cast<unsigned char>(field[0])) ||
                                            field[0] == '.' || field[0] == '+' || field[0] == '-');
    if (!field.empty() && (field[0] == '+' || field[0] == '-')) field.remove_prefix(1);
    std::string_view word = field;
    const bool special = take_word(word, "nan") || take_word(word, "inf");
    if (!numeric && !(special && (word.empty() || take_word(word, "inity")) && word.empty())) {
      return false;
    }
    s.remove_prefix(end);
    while (!s.empty() && (is_space(s.front()) || s.front() == ',' || s.front() == ';')) s.remove_prefix(1);
  }
  return true;
}

double unwrapped_degrees(double before, double degrees) {
  return before + std::remainder(std::remainder(degrees, 360.0) - std::remainder(before, 360.0), 360.0);
}

int read_text(const std::string& path, std::string& text) {
  if (std::error_code ec; std::filesystem::is_directory(path, ec)) return EISDIR;
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  if (in) out << in.rdbuf();
  if (!in || in.bad()) return errno != 0 ? errno : EIO;
  text = out.str();
  return 0;
}

int for_each_line(const std::string& path, std::size_t max_line,
                  const std::function<bool(std::string_view line, bool cut)>& line) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  std::string held;  // the line so far, at most max_line bytes
  bool cut = false, first = true;
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    std::string_view b(block, static_cast<std::size_t>(got));
    for (;;) {
      const std::size_t end = b.find('\n');
      const std::string_view part = b.substr(0, end);
      const std::size_t room = max_line - held.size();
      held.append(part.substr(0, room));
      cut = cut || part.size() > room;
      if (first && held.size() >= 3) {
        if (held.starts_with("\xEF\xBB\xBF")) held.erase(0, 3);
        first = false;
      }
      if (end == std::string_view::npos) break;
      if (!line(held, cut)) return 0;
      held.clear(), cut = false, first = false;
      b.remove_prefix(end + 1);
    }
  }
  if (!held.empty() || cut) line(held, cut);
  return 0;
}

std::vector<std::string_view> table_lines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

TableLine read_table_line(std::string_view line, const std::vector<std::string_view>& marks) {
  TableLine out;
  std::string_view s = trimmed(line);
  if (s.empty()) return out;
  for (const std::string_view mark : marks) {
    if (s.starts_with(mark)) {
      out.kind = TableLineKind::comment;
      return out;
    }
  }
  out.kind = TableLineKind::numbers;
  while (!s.empty()) {
    const std::optional<double> v = take_number(s);
    if (!v) {
      out.kind = TableLineKind::text;
      out.numbers.clear();
      return out;
    }
    out.numbers.push_back(*v);
    // A separator: white space, one comma or semicolon, or both; nothing at the end.
    const std::size_t before = s.size();
    skip_spaces(s);
    if (!s.empty() && (s.front() == ',' || s.front() == ';')) {
      s.remove_prefix(1);
      skip_spaces(s);
      if (s.empty()) {  // a trailing separator: a field is missing
        out.kind = TableLineKind::text;
        out.numbers.clear();
        return out;
      }
    }
    if (!s.empty() && s.size() == before) {  // a number run into text: "12dB"
      out.kind = TableLineKind::text;
      out.numbers.clear();
      return out;
    }
  }
  return out;
}

std::optional<double> sens_factor_db(std::string_view line) {
  // Find "sens" anywhere (after a quote or a comment mark, say), then the rest in order.
  for (std::size_t at = 0; at + 4 <= line.size(); ++at) {
    std::string_view s = line.substr(at);
    if (!take_word(s, "sens")) continue;
    if (take_word(s, "itivity")) skip_spaces(s);
    if (!s.empty() && (s.front() == '.' || s.front() == '_' || s.front() == '-')) s.remove_prefix(1);
    skip_spaces(s);
    if (!take_word(s, "factor")) continue;
    skip_spaces(s);
    if (s.empty() || (s.front() != '=' && s.front() != ':')) continue;
    s.remove_prefix(1);
    skip_spaces(s);
    const std::optional<double> v = take_number(s);
    if (!v) continue;
    skip_spaces(s);
    // "dB" or nothing may follow, then the end or a separator.
    take_word(s, "db");
    if (!s.empty() && std::isalnum(static_cast<unsigned char>(s.front()))) continue;
    return v;
  }
  return std::nullopt;
}

}  // namespace vellisk
