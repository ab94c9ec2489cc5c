// Writing and reading the design text, and the INFO list that carries it.
#include "sweep/design_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "sweep/validation.h"

namespace vellisk {

namespace {

struct Field {
  const char* name;
  double SweepParams::*value;
};

// Command-line order.
constexpr Field kFields[] = {
    {"rate", &SweepParams::rate},         {"amplitude", &SweepParams::amplitude},
    {"hzstart", &SweepParams::hzstart},   {"hzend", &SweepParams::hzend},
    {"duration", &SweepParams::duration}, {"silence", &SweepParams::silence},
    {"leadin", &SweepParams::leadin},     {"leadout", &SweepParams::leadout},
};

constexpr std::string_view kProgram = "vellisk ";

const char* file_word(DesignFile file) { return file == DesignFile::sweep ? "sweep" : "inverse"; }

// Splits off the text up to the first c (not included); npos takes it all.
std::string_view take_until(std::string_view& text, char c) {
  const std::size_t at = text.find(c);
  const std::string_view part = text.substr(0, at);
  text.remove_prefix(at == std::string_view::npos ? text.size() : at + 1);
  return part;
}

void append_le32(std::string& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xff));
}

std::uint32_t read_le32(std::string_view bytes) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
  return v;
}

// A subchunk of the INFO list: its id, the size of the text and its NUL, the
// text, the NUL, and a pad byte when the size is odd.
void append_info_text(std::string& out, const char* id, const std::string& text) {
  out.append(id, 4);
  append_le32(out, static_cast<std::uint32_t>(text.size() + 1));
  out += text;
  out.push_back('\0');
  if ((text.size() + 1) % 2 != 0) out.push_back('\0');
}

}  // namespace

std::string design_fields(const SweepParams& params) {
  std::string text;
  for (const Field& f : kFields) {
    text += std::string(" ") + f.name + "=" + number_text(params.*f.value);
  }
  return text;
}

bool set_design_field(std::string_view key, double value, SweepParams& params) {
  for (const Field& f : kFields) {
    if (key != f.name) continue;
    params.*f.value = value;
    return true;
  }
  return false;
}

std::string shown(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 24)) {
    out.push_back(std::isprint(static_cast<unsigned char>(c)) != 0 ? c : '?');
  }
  return text.size() > 24 ? out + "..." : out;
}

std::string design_text(const SweepParams& params, DesignFile file) {
  return std::string(kProgramVersion) + " " + file_word(file) + ":" + design_fields(params);
}

std::string parse_design_text(std::string_view text, CarriedDesign& design) {
  if (text.substr(0, kProgram.size()) != kProgram) return "it is not a design vellisk wrote";
  std::string_view rest = text.substr(kProgram.size());
  const std::string_view version = take_until(rest, ' ');
  if (version.empty() || version.find(':') != std::string_view::npos) {
    return "it has no version of vellisk";
  }
  const std::string_view file = take_until(rest, ':');
  CarriedDesign read;
  if (file == "sweep") {
    read.file = DesignFile::sweep;
  } else if (file == "inverse") {
    read.file = DesignFile::inverse;
  } else {
    return "its file '" + shown(file) + "' is neither sweep nor inverse";
  }
  read.program = std::string(kProgram) + std::string(version);
  for (const Field& f : kFields) {
    const std::string key = std::string(" ") + f.name + "=";
    if (rest.substr(0, key.size()) != key) return std::string("its ") + f.name + " is missing";
    rest.remove_prefix(key.size());
    const std::string_view value = rest.substr(0, rest.find(' '));
    rest.remove_prefix(value.size());
    double number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
        !std::isfinite(number)) {
      return std::string("its ") + f.name + " (" + shown(value) + ") is not a finite number";
    }
    read.params.*f.value = number;
  }
  if (!rest.empty()) return "it has more after its eight numbers: '" + shown(rest) + "'";
  design = read;
  return "";
}

std::string info_list(const std::string& software, const std::string& comment) {
  std::string payload = "INFO";
  append_info_text(payload, "ISFT", software);
  if (!comment.empty()) append_info_text(payload, "ICMT", comment);
  return payload;
}

std::string design_info_list(const SweepParams& params, DesignFile file) {
  return info_list(kProgramVersion, design_text(params, file));
}

std::string parse_design_info_list(std::string_view payload, CarriedDesign& design) {
  if (payload.substr(0, 4) != "INFO") return "it is not an INFO list";
  for (std::string_view rest = payload.substr(4); !rest.empty();) {
    if (rest.size() < 8) return "its INFO list ends inside a subchunk";
    const std::string_view id = rest.substr(0, 4);
    const std::uint64_t size = read_le32(rest.substr(4, 4));
    rest.remove_prefix(8);
    if (size > rest.size()) return "its INFO list ends inside a subchunk";
    if (id == "ICMT") {
      const std::string_view text = rest.substr(0, static_cast<std::size_t>(size));
      return parse_design_text(text.substr(0, text.find('\0')), design);
    }
    rest.remove_prefix(
        std::min<std::size_t>(rest.size(), static_cast<std::size_t>(size + size % 2)));
  }
  return "it has no comment";
}

}  // namespace vellisk
