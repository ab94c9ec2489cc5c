// The report's three forms, from one list of the parameters.
#include "room_app/report.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using Json = nlohmann::ordered_json;
using Value = std::optional<double> BandParameters::*;

// The parameters in report order: the JSON and CSV key, the table's row name,
// and the decimals kept.
struct Field {
  const char* key;
  const char* row;  // nullptr: not in the table
  Value value;
  int decimals;
};
const Field kFields[] = {
    {"edt_s", "EDT s", &BandParameters::edt, 3},
    {"edt_r", nullptr, &BandParameters::edt_r, 4},
    {"t20_s", "T20 s", &BandParameters::t20, 3},
    {"t20_r", nullptr, &BandParameters::t20_r, 4},
    {"t30_s", "T30 s", &BandParameters::t30, 3},
    {"t30_r", nullptr, &BandParameters::t30_r, 4},
    {"curvature_pct", "Curv %", &BandParameters::curvature, 1},
    {"c50_db", "C50 dB", &BandParameters::c50, 2},
    {"c80_db", "C80 dB", &BandParameters::c80, 2},
    {"d50", "D50", &BandParameters::d50, 3},
    {"ts_ms", "Ts ms", &BandParameters::ts, 1},
    {"inr_db", "INR dB", &BandParameters::inr, 1},
};

double rounded(double x, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(x * scale) / scale + 0.0;
}

Json number(const std::optional<double>& v, int decimals) {
  return v ? Json(rounded(*v, decimals)) : Json(nullptr);
}

std::string fixed(double x, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, rounded(x, decimals));
  return buffer;
}

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string joined(const std::vector<std::string>& notes) {
  std::string all;
  for (const std::string& n : notes) all += (all.empty() ? "" : "; ") + n;
  return all;
}

}  // namespace

std::vector<std::string> channel_table(const ChannelAnalysis& channel, int number) {
  std::vector<std::string> lines;
  char head[160];
  if (!channel.onset_found) {
    std::snprintf(head, sizeof head,
                  "Channel %d: peak only %.1f dB above the noise, %.0f dB needed: no onset, no "
                  "parameters",
                  number, std::floor(channel.peak_to_noise_db * 10) / 10, kMinPeakToNoiseDb);
    lines.emplace_back(head);
    return lines;
  }
  std::snprintf(head, sizeof head, "Channel %d: onset %.4f s, peak-to-noise %.1f dB", number,
                channel.onset, channel.peak_to_noise_db);
  lines.emplace_back(head);
  const auto cell = [](const std::string& text, int width) {
    return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(text.size()))),
                       ' ') +
           text;
  };
  std::string line = cell("band", 8);
  for (const BandResult& b : channel.bands) line += cell(b.label, b.label == "broadband" ? 10 : 7);
  lines.push_back(line);
  for (const Field& f : kFields) {
    if (f.row == nullptr) continue;
    line = "  " + std::string(f.row) + std::string(6 - std::string(f.row).size(), ' ');
    for (const BandResult& b : channel.bands) {
      const std::optional<double>& v = b.parameters.*f.value;
      line += cell(v ? fixed(*v, f.decimals) : "-", b.label == "broadband" ? 10 : 7);
    }
    lines.push_back(line);
  }
  for (const BandResult& b : channel.bands) {
    for (const std::string& note : b.parameters.notes) {
      lines.push_back("  " + b.label + (b.centre > 0 ? " Hz: " : ": ") + note);
    }
  }
  const SingleNumbers& s = channel.single;
  const auto value = [](const std::optional<double>& v, int decimals, const char* unit) {
    return v ? fixed(*v, decimals) + unit : std::string("-");
  };
  lines.push_back("  Single-number values: T30 mid " + value(s.t30_mid, 2, " s") + ", EDT mid " +
                  value(s.edt_mid, 2, " s") + ", C80 mid " + value(s.c80_mid, 1, " dB") +
                  ", D50 mid " + value(s.d50_mid, 2, "") + ", bass ratio " +
                  value(s.bass_ratio, 2, ""));
  return lines;
}

std::string csv_header() {
  std::string line = "file,channel,band,centre_hz,onset_s";
  for (const Field& f : kFields) line += std::string(",") + f.key;
  return line + ",notes\n";
}

std::string csv_rows(const FileResult& result) {
  std::string rows;
  for (std::size_t c = 0; c < result.channels.size(); ++c) {
    const ChannelAnalysis& channel = result.channels[c];
    for (const BandResult& b : channel.bands) {
      rows += csv_field(result.file) + "," + std::to_string(c + 1) + "," + b.label + "," +
              (b.centre > 0 ? fixed(b.centre, 2) : "") + "," +
              (channel.onset_found ? fixed(channel.onset, 6) : "");
      for (const Field& f : kFields) {
        const std::optional<double>& v = b.parameters.*f.value;
        // Appended piecewise: "," + a temporary string trips a false -Wrestrict of GCC 12.
        rows += ',';
        if (v) rows += fixed(*v, f.decimals);
      }
      rows += ',';
      rows += csv_field(joined(b.parameters.notes));
      rows += '\n';
    }
  }
  return rows;
}

Json file_json(const FileResult& result) {
  Json file;
  file["file"] = result.file;
  // A whole rate as an integer, as files store it.
  if (result.rate == std::floor(result.rate)) {
    file["rate"] = static_cast<std::int64_t>(result.rate);
  } else {
    file["rate"] = result.rate;
  }
  file["channels"] = Json::array();
  for (std::size_t c = 0; c < result.channels.size(); ++c) {
    const ChannelAnalysis& channel = result.channels[c];
    Json ch;
    ch["channel"] = c + 1;
    ch["onset_s"] = channel.onset_found ? Json(rounded(channel.onset, 6)) : Json(nullptr);
    ch["bands"] = Json::array();
    for (const BandResult& b : channel.bands) {
      Json band;
      band["band"] = b.label;
      band["centre_hz"] = b.centre > 0 ? Json(rounded(b.centre, 2)) : Json(nullptr);
      for (const Field& f : kFields) band[f.key] = number(b.parameters.*f.value, f.decimals);
      band["notes"] = b.parameters.notes;
      ch["bands"].push_back(std::move(band));
    }
    const SingleNumbers& s = channel.single;
    ch["single"] = {{"t30_mid_s", number(s.t30_mid, 3)},
                    {"edt_mid_s", number(s.edt_mid, 3)},
                    {"c80_mid_db", number(s.c80_mid, 2)},
                    {"d50_mid", number(s.d50_mid, 3)},
                    {"bass_ratio", number(s.bass_ratio, 3)}};
    file["channels"].push_back(std::move(ch));
  }
  return file;
}
