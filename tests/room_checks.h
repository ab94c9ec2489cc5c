// What every CSV vellisk-room writes must hold: numbers finite, times positive, ratios in range.
#pragma once

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// The fields of one CSV line, quotes undone.
inline std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// "" when every value of the CSV is possible, or what is not.
inline std::string csv_faults(const std::string& csv) {
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  const std::vector<std::string> header = csv_fields(line);
  // Each column's range: [low, high], or a positive value for (0, high].
  const std::map<std::string, std::pair<double, double>> ranges = {
      {"onset_s", {0, 1e9}},         {"edt_s", {1e-12, 1e9}},      {"t20_s", {1e-12, 1e9}},
      {"t30_s", {1e-12, 1e9}},       {"edt_r", {-1, 1}},           {"t20_r", {-1, 1}},
      {"t30_r", {-1, 1}},            {"curvature_pct", {-1e9, 1e9}}, {"c50_db", {-1e4, 1e4}},
      {"c80_db", {-1e4, 1e4}},       {"d50", {0, 1}},              {"ts_ms", {0, 1e9}},
      {"inr_db", {0, 1e4}},          {"decay_range_db", {0, 1e4}}, {"bass_ratio", {1e-12, 1e9}},
      {"centre_hz", {1, 1e6}}};
  std::string faults;
  while (std::getline(lines, line)) {
    const std::vector<std::string> fields = csv_fields(line);
    if (fields.size() != header.size()) {
      faults += "a row of " + std::to_string(fields.size()) + " fields: " + line + "\n";
      continue;
    }
    for (std::size_t k = 0; k < header.size(); ++k) {
      const auto range = ranges.find(header[k]);
      if (range == ranges.end() || fields[k].empty()) continue;
      char* end = nullptr;
      const double v = std::strtod(fields[k].c_str(), &end);
      if (*end != '\0' || !std::isfinite(v) || v < range->second.first ||
          v > range->second.second) {
        faults += header[k] + " " + fields[k] + " in " + line + "\n";
      }
    }
  }
  return faults;
}
