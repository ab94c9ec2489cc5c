// The report's three forms, from one list of the parameters.
#include "room_app/report.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "cli/console.h"

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
    {"edt_s", "EDT s", &BandParameters::edt, kTimeDecimals},
    {"edt_r", nullptr, &BandParameters::edt_r, kCorrelationDecimals},
    {"t20_s", "T20 s", &BandParameters::t20, kTimeDecimals},
    {"t20_r", nullptr, &BandParameters::t20_r, kCorrelationDecimals},
    {"t30_s", "T30 s", &BandParameters::t30, kTimeDecimals},
    {"t30_r", nullptr, &BandParameters::t30_r, kCorrelationDecimals},
    {"curvature_pct", "Curv %", &BandParameters::curvature, kPercentDecimals},
    {"c50_db", "C50 dB", &BandParameters::c50, kClarityDecimals},
    {"c80_db", "C80 dB", &BandParameters::c80, kClarityDecimals},
    {"d50", "D50", &BandParameters::d50, kDefinitionDecimals},
    {"ts_ms", "Ts ms", &BandParameters::ts, kCentreTimeDecimals},
    {"inr_db", "INR dB", &BandParameters::inr, kLevelDecimals},
    {"decay_range_db", "Range dB", &BandParameters::range, kLevelDecimals},
};

// The single-number values: the JSON key, the table's name and unit, the
// decimals in the table and in the files, and the band value each averages,
// whose column holds it in the CSV's "mid" row.
struct Single {
  const char* key;
  const char* name;
  const char* unit;
  std::optional<double> SingleNumbers::*value;
  int table_decimals, decimals;
  Value band;
};
const Single kSingles[] = {
    {"t30_mid_s", "T30 mid", " s", &SingleNumbers::t30_mid, 2, 3, &BandParameters::t30},
    {"edt_mid_s", "EDT mid", " s", &SingleNumbers::edt_mid, 2, 3, &BandParameters::edt},
    {"c80_mid_db", "C80 mid", " dB", &SingleNumbers::c80_mid, 1, 2, &BandParameters::c80},
    {"d50_mid", "D50 mid", "", &SingleNumbers::d50_mid, 2, 3, &BandParameters::d50},
    {"ts_mid_ms", "Ts mid", " ms", &SingleNumbers::ts_mid, 0, 1, &BandParameters::ts},
    {"bass_ratio", "bass ratio (Beranek)", "", &SingleNumbers::bass_ratio, 2, 3, nullptr},
};
const Single& kBassRatio = kSingles[5];

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
  if (channel.ends_ms) {
    lines.push_back(formatted("Channel %d: the response ends %.1f ms after its peak, in digital "
                              "silence: no decay to measure, no parameters",
                              number, *channel.ends_ms));
    return lines;
  }
  if (!channel.onset_found) {
    lines.push_back(formatted(
        "Channel %d: peak only %.1f dB above the noise, %.0f dB needed: no onset, no parameters",
        number, std::floor(channel.peak_to_noise_db * 10) / 10, kMinPeakToNoiseDb));
    return lines;
  }
  lines.push_back(formatted("Channel %d: onset %.4f s, peak-to-noise %.1f dB", number,
                            channel.onset, channel.peak_to_noise_db));
  // The cells, a row per parameter under the bands' labels; each column as
  // wide as its widest cell and a space, and at least 7 (10 for the broadband).
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>{"band"});
  for (const BandResult& b : channel.bands) rows[0].push_back(b.label);
  for (const Field& f : kFields) {
    if (f.row == nullptr) continue;
    std::vector<std::string>& row = rows.emplace_back(1, f.row);
    for (const BandResult& b : channel.bands) {
      const std::optional<double>& v = b.parameters.*f.value;
      row.push_back(v ? fixed(*v, f.decimals) : "-");
    }
  }
  for (const std::vector<std::string>& row : rows) {
    std::string line = "  " + row[0] + std::string(8 - row[0].size(), ' ');
    for (std::size_t c = 1; c < row.size(); ++c) {
      std::size_t width = c + 1 == row.size() ? 10 : 7;
      for (const std::vector<std::string>& other : rows) width = std::max(width, other[c].size() + 1);
      line += std::string(width - row[c].size(), ' ') + row[c];
    }
    lines.push_back(line);
  }
  for (const BandResult& b : channel.bands) {
    for (const std::string& note : b.parameters.notes) {
      lines.push_back("  " + (b.centre > 0 ? band_name(b.label) : b.label) + ": " + note);
    }
  }
  std::string single;
  for (const Single& s : kSingles) {
    const std::optional<double>& v = channel.single.*s.value;
    single += std::string(single.empty() ? "" : ", ") + s.name + " " +
              (v ? fixed(*v, s.table_decimals) + s.unit : "-");
  }
  lines.push_back("  Single-number values: " + single);
  return lines;
}

std::string csv_header() {
  std::string line = "file,channel,band,centre_hz,onset_s";
  for (const Field& f : kFields) line += std::string(",") + f.key;
  return line + "," + kBassRatio.key + ",notes\n";
}

namespace {

// A CSV row: the file, channel, band, centre and onset, then a field per parameter, the bass
// ratio and the notes.
std::string csv_row(const FileResult& result, std::size_t channel, const std::string& band,
                    const std::string& centre, const BandParameters& values,
                    const std::optional<double>& bass_ratio, const std::string& notes) {
  const ChannelAnalysis& a = result.channels[channel];
  std::string row = csv_field(result.file) + "," + std::to_string(channel + 1) + "," + band + "," +
                    centre + "," + (a.onset_found ? fixed(a.onset, 6) : "");
  for (const Field& f : kFields) {
    const std::optional<double>& v = values.*f.value;
    // Appended piecewise: "," + a temporary string trips a false -Wrestrict of GCC 12.
    row += ',';
    if (v) row += fixed(*v, f.decimals);
  }
  row += ',';
  if (bass_ratio) row += fixed(*bass_ratio, kBassRatio.decimals);
  row += ',';
  row += csv_field(notes);
  row += '\n';
  return row;
}

}  // namespace

std::string csv_rows(const FileResult& result, bool third) {
  std::string rows;
  for (std::size_t c = 0; c < result.channels.size(); ++c) {
    const ChannelAnalysis& channel = result.channels[c];
    for (const BandResult& b : channel.bands) {
      rows += csv_row(result, c, b.label, b.centre > 0 ? fixed(b.centre, 2) : "", b.parameters, {},
                      joined(b.parameters.notes));
    }
    // The single-number values, in the columns of the values they average.
    BandParameters mid;
    for (const Single& s : kSingles) {
      if (s.band != nullptr) mid.*s.band = channel.single.*s.value;
    }
    rows += csv_row(result, c, "mid", "", mid, channel.single.bass_ratio,
                    std::string("single-number values: means over ") +
                        (third ? "400 Hz - 1.25 kHz" : "500 Hz and 1 kHz") +
                        "; bass ratio (Beranek): T30 over " +
                        (third ? "100 Hz - 315 Hz" : "125 Hz and 250 Hz") + " / T30 mid");
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
    Json single = Json::object();
    for (const Single& s : kSingles) single[s.key] = number(channel.single.*s.value, s.decimals);
    ch["single"] = std::move(single);
    file["channels"].push_back(std::move(ch));
  }
  return file;
}
