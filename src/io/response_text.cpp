// The text a response file carries of its measurement, written and read back.
#include <charconv>
#include <cmath>
#include <map>
#include <string>

#include "sweep/design_text.h"
#include "sweep/validation.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

constexpr std::string_view kResponse = " response:";
constexpr long kMaxChannels = 1024;

std::string field(const std::string& key, double value) {
  return " " + key + "=" + number_text(value);
}

std::string none_or(const std::string& key, bool none, double value) {
  return none ? " " + key + "=none" : field(key, value);
}

// Reads a whole finite number; false for anything else.
bool read_number(std::string_view text, double& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size() &&
         std::isfinite(value);
}

using Fields = std::map<std::string, std::string_view, std::less<>>;

// The KEY=VALUE tokens of the text, separated by spaces, by key: the first of a key given twice.
Fields text_fields(std::string_view text) {
  Fields fields;
  for (std::string_view rest = text; !rest.empty();) {
    const std::size_t end = rest.find(' ');
    const std::string_view token = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    const std::size_t eq = token.find('=');
    if (eq != std::string_view::npos) fields.emplace(token.substr(0, eq), token.substr(eq + 1));
  }
  return fields;
}

// The fields' numbers, read until one is refused: why says why.
struct FieldReader {
  const Fields& fields;
  std::string why;
  // A field's number, or "none" where allowed.
  void number(const std::string& key, bool may_be_none, std::optional<double>& value) {
    const auto at = fields.find(key);
    if (!why.empty()) return;
    if (at == fields.end()) {
      why = "its " + key + " is missing";
    } else if (double v = 0; read_number(at->second, v)) {
      value = v;
    } else if (!(may_be_none && at->second == "none")) {
      why = "its " + key + " is not a finite number";
    }
  }
};

}  // namespace

std::string response_text(const ResponseReport& report, const std::string& program) {
  std::string text = program + std::string(kResponse) + design_fields(report.params);
  text += field("zero", static_cast<double>(report.zero_sample));
  text += field("pre", report.pre_s) + field("length", report.length_s);
  text += field("channels", static_cast<double>(report.channels.size()));
  for (std::size_t c = 0; c < report.channels.size(); ++c) {
    const ChannelFigures& f = report.channels[c];
    const std::string n = std::to_string(c + 1);
    text += none_or("latency" + n, f.silent, f.arrival_samples);
    text += none_or("gain" + n, f.silent, f.gain_db);
    text += none_or("polarity" + n, f.silent, f.polarity);
  }
  if (!report.compensated) text += " uncompensated=1";
  return text;
}

namespace {

// parse_response_text's reading: "" and out filled, or the reason.
std::string read_response_text(std::string_view text, MeasuredResponse& out) {
  const std::size_t head = text.find(kResponse);
  const std::size_t space = text.find(' ');
  if (head == std::string_view::npos || space == head) {
    return "it is not a response's text: PROGRAM VERSION response: ...";
  }
  MeasuredResponse read;
  read.program = std::string(text.substr(0, head));
  const Fields fields = text_fields(text.substr(head + kResponse.size()));
  FieldReader reader{fields, {}};
  for (const char* key :
       {"rate", "amplitude", "hzstart", "hzend", "duration", "silence", "leadin", "leadout"}) {
    std::optional<double> v;
    reader.number(key, false, v);
    if (v) set_design_field(key, *v, read.sweep);
  }
  std::optional<double> zero, pre, length, channels;
  reader.number("zero", false, zero);
  reader.number("pre", false, pre);
  reader.number("length", false, length);
  reader.number("channels", false, channels);
  if (!reader.why.empty()) return reader.why;
  if (*channels != std::floor(*channels) || *channels < 1 || *channels > kMaxChannels) {
    return "its channels (" + number_text(*channels) + ") is not a count from 1 to 1024";
  }
  read.zero_sample = static_cast<std::int64_t>(*zero);
  read.pre_s = *pre;
  read.length_s = *length;
  for (long c = 1; c <= static_cast<long>(*channels); ++c) {
    const std::string n = std::to_string(c);
    MeasuredResponse::Channel& ch = read.channels.emplace_back();
    std::optional<double> polarity;
    reader.number("latency" + n, true, ch.latency_samples);
    reader.number("gain" + n, true, ch.gain_db);
    reader.number("polarity" + n, true, polarity);
    if (polarity) ch.polarity = *polarity < 0 ? -1 : 1;
  }
  if (!reader.why.empty()) return reader.why;
  if (const auto u = fields.find("uncompensated"); u != fields.end()) read.compensated = u->second != "1";
  out = std::move(read);
  return "";
}

}  // namespace

std::optional<Problem> parse_response_text(std::string_view text, MeasuredResponse& out) {
  std::string why = read_response_text(text, out);
  if (why.empty()) return std::nullopt;
  return Problem(ProblemCode::invalid_input, std::move(why));
}

}  // namespace vellisk
