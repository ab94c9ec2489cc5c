// Options whose value is a request's setting, read and judged by the library's rules.
#include "common/setting_options.h"

#include <cmath>
#include <optional>
#include <type_traits>

#include "common/arguments.h"
#include "common/ir_report.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

template <class T>
std::string read_as(Setting setting, const char* text, T& value) {
  const double v = std::is_same_v<T, long> ? integer_of(text) : number_of(text);
  if (std::string e = judged_setting(setting, text, v); !e.empty()) return e;
  value = static_cast<T>(v);
  return "";
}

}  // namespace

double number_of(const char* text) {
  double value = 0;
  return whole_number(text, value) ? value : std::nan("");
}

double integer_of(const char* text) {
  long value = 0;
  return whole_integer(text, value) ? static_cast<double>(value) : std::nan("");
}

std::string judged_setting(Setting setting, const char* text, double value) {
  const std::optional<Problem> p = check_setting(setting, value);
  return p ? option_refusal(option_name(setting), text, *p) : "";
}

std::string option_refusal(const char* option, const char* text, const Problem& problem) {
  // The line opens with the name and the value, "pre (-1)", then gives the rule.
  const std::string line = describe(problem, nullptr);
  const std::size_t shown = line.find(')');
  return quoted(option, text) + line.substr(shown == std::string::npos ? 0 : shown + 1);
}

std::string read_setting(Setting setting, const char* text, double& value) {
  return read_as(setting, text, value);
}

std::string read_setting(Setting setting, const char* text, long& value) {
  return read_as(setting, text, value);
}

}  // namespace vellisk
