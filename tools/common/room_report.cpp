// The report's three forms, from one list of the parameters.
#include "common/room_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "common/arguments.h"
#include "common/console.h"

namespace vellisk {

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

// The single-number values: the JSON key, the value (which names it in the table) and its
// unit, the decimals in the table and in the files, the band value each averages,
// whose column holds it in the CSV's "mid" row, and its average over positions.
struct Single {
  const char* key;
  AveragedQuantity quantity;
  const char* unit;
  std::optional<double> SingleNumbers::*value;
  int table_decimals, decimals;
  Value band;
  AveragedValue AverageSingle::*average;
};
const Single kSingles[] = {
    {"t30_mid_s", AveragedQuantity::t30_mid, " s", &SingleNumbers::t30_mid, 2, 3, &BandParameters::t30,
     &AverageSingle::t30_mid},
    {"edt_mid_s", AveragedQuantity::edt_mid, " s", &SingleNumbers::edt_mid, 2, 3, &BandParameters::edt,
     &AverageSingle::edt_mid},
    {"c80_mid_db", AveragedQuantity::c80_mid, " dB", &SingleNumbers::c80_mid, 1, 2, &BandParameters::c80,
     &AverageSingle::c80_mid},
    {"d50_mid", AveragedQuantity::d50_mid, "", &SingleNumbers::d50_mid, 2, 3, &BandParameters::d50,
     &AverageSingle::d50_mid},
    {"ts_mid_ms", AveragedQuantity::ts_mid, " ms", &SingleNumbers::ts_mid, 0, 1, &BandParameters::ts,
     &AverageSingle::ts_mid},
    {"bass_ratio", AveragedQuantity::bass_ratio, "", &SingleNumbers::bass_ratio, 2, 3, nullptr,
     &AverageSingle::bass_ratio},
};
const Single& kBassRatio = kSingles[5];

// The averaged parameters: the key, the table's row name, the decimals, and whether
// ISO 3382-2 gives their uncertainty (T20 and T30).
struct AverageField {
  const char* key;
  const char* row;
  AveragedValue AverageBand::*value;
  int decimals;
  bool uncertainty;
  bool t30;
};
const AverageField kAverageFields[] = {
    {"edt_s", "EDT s", &AverageBand::edt, kTimeDecimals, false, false},
    {"t20_s", "T20 s", &AverageBand::t20, kTimeDecimals, true, false},
    {"t30_s", "T30 s", &AverageBand::t30, kTimeDecimals, true, true},
    {"c80_db", "C80 dB", &AverageBand::c80, kClarityDecimals, false, false},
    {"d50", "D50", &AverageBand::d50, kDefinitionDecimals, false, false},
    {"ts_ms", "Ts ms", &AverageBand::ts, kCentreTimeDecimals, false, false},
};

Json number(const std::optional<double>& v, int decimals) {
  return v ? Json(rounded(*v, decimals)) : Json(nullptr);
}

std::string fixed(double x, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, rounded(x, decimals));
  return buffer;
}

std::string cell(const std::optional<double>& v, int decimals) {
  return v ? fixed(*v, decimals) : "-";
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

std::string joined(const std::vector<std::string>& parts, const char* between = "; ") {
  std::string all;
  for (const std::string& n : parts) all += (all.empty() ? "" : between) + n;
  return all;
}

// Table rows under a header row: the first column 8 wide, each other as wide as its widest
// cell and a space, and at least 7 (10 for the last, the broadband).
std::vector<std::string> table_lines(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::string> lines;
  for (const std::vector<std::string>& row : rows) {
    std::string line = "  " + row[0] + std::string(8 - row[0].size(), ' ');
    for (std::size_t c = 1; c < row.size(); ++c) {
      std::size_t width = c + 1 == row.size() ? 10 : 7;
      for (const std::vector<std::string>& other : rows) width = std::max(width, other[c].size() + 1);
      line += std::string(width - row[c].size(), ' ') + row[c];
    }
    lines.push_back(line);
  }
  return lines;
}

// The band's label as the notes give it: "125 Hz", "1 kHz", "broadband".
std::string band_name(const std::string& label, double centre) {
  return centre > 0 ? vellisk::band_name(label) : label;
}

// The standard uncertainty of a band's mean T20 or T30, when it has one.
std::optional<double> uncertainty(const AverageBand& b, const AverageField& f, bool third) {
  const Spread& s = (b.*f.value).spread;
  if (!f.uncertainty || s.count == 0 || !(b.centre > 0)) return {};
  return decay_time_uncertainty(s.mean, b.centre, third, s.count, f.t30);
}

// The JSON object of counted-out positions: each value's key and the positions without it.
Json counted_out_json(const std::vector<std::pair<std::string, const AveragedValue*>>& values) {
  Json out = Json::object();
  for (const auto& [key, v] : values) {
    if (!v->missing.empty()) out[key] = v->missing;
  }
  return out;
}

}  // namespace

std::vector<std::string> channel_table(const ChannelAnalysis& channel, int number) {
  std::vector<std::string> lines;
  if (!channel.onset_found) {
    lines.push_back(formatted("Channel %d: ", number) + describe_no_parameters(channel));
    return lines;
  }
  lines.push_back(formatted("Channel %d: onset %.4f s, peak-to-noise %.1f dB", number,
                            channel.onset, channel.peak_to_noise_db));
  // The cells, a row per parameter under the bands' labels.
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>{"band"});
  for (const BandResult& b : channel.bands) rows[0].push_back(b.label);
  for (const Field& f : kFields) {
    if (f.row == nullptr) continue;
    std::vector<std::string>& row = rows.emplace_back(1, f.row);
    for (const BandResult& b : channel.bands) row.push_back(cell(b.parameters.*f.value, f.decimals));
  }
  for (std::string& l : table_lines(rows)) lines.push_back(std::move(l));
  for (const BandResult& b : channel.bands) {
    for (const RoomNote& note : b.parameters.notes) {
      lines.push_back("  " + band_name(b.label, b.centre) + ": " + describe(note));
    }
  }
  std::string single;
  for (const Single& s : kSingles) {
    const std::optional<double>& v = channel.single.*s.value;
    single += (single.empty() ? "" : ", ") + quantity_name(s.quantity) + " " +
              (v ? fixed(*v, s.table_decimals) + s.unit : "-");
  }
  lines.push_back("  Single-number values: " + single);
  const SpeechTransmission& t = channel.speech;
  if (t.sti) {
    std::string mti;
    for (const auto& m : t.mti) mti += " " + cell(m, kStiDecimals);
    lines.push_back("  STI " + fixed(*t.sti, kStiDecimals) + " (" + t.rating + "); MTI 125 Hz - 8 kHz:" + mti);
  }
  for (const RoomNote& note : t.notes) lines.push_back("  STI: " + describe(note));
  return lines;
}

std::vector<std::string> average_table(const SpatialAverage& average) {
  std::vector<std::string> lines;
  lines.push_back(formatted("Average of %d position%s (ISO 3382-2): means, their sample standard "
                            "deviations (SD) and, for T20 and T30, standard uncertainties (u)",
                            average.positions, average.positions == 1 ? "" : "s"));
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>{"band"});
  for (const AverageBand& b : average.bands) rows[0].push_back(b.label);
  for (const AverageField& f : kAverageFields) {
    std::vector<std::string>& mean = rows.emplace_back(1, f.row);
    for (const AverageBand& b : average.bands) mean.push_back(cell((b.*f.value).spread.average(), f.decimals));
    std::vector<std::string>& sd = rows.emplace_back(1, "  SD");
    for (const AverageBand& b : average.bands) sd.push_back(cell((b.*f.value).spread.deviation(), f.decimals));
    if (!f.uncertainty) continue;
    std::vector<std::string>& u = rows.emplace_back(1, "  u");
    for (const AverageBand& b : average.bands) u.push_back(cell(uncertainty(b, f, average.third), f.decimals));
  }
  for (std::string& l : table_lines(rows)) lines.push_back(std::move(l));
  for (const AverageBand& b : average.bands) {
    for (const AverageNote& note : average_notes(b, average.positions)) {
      lines.push_back("  " + band_name(b.label, b.centre) + ": " + describe(note));
    }
  }
  std::string single;
  for (const Single& s : kSingles) {
    const Spread& v = (average.single.*s.average).spread;
    single += (single.empty() ? "" : ", ") + quantity_name(s.quantity) + " " +
              (v.count > 0 ? fixed(v.mean, s.table_decimals) + s.unit : "-");
    if (v.deviation()) single += " (SD " + fixed(*v.deviation(), s.table_decimals) + ")";
  }
  const Spread& sti = average.single.sti.spread;
  single += ", STI " + cell(sti.average(), kStiDecimals);
  if (sti.count > 0) {
    single += " (" + (sti.deviation() ? "SD " + fixed(*sti.deviation(), kStiDecimals) + ", " : "") +
              sti_rating(rounded(sti.mean, kStiDecimals)) + ")";
  }
  lines.push_back("  Single-number values: " + single);
  for (const AverageNote& note : average_notes(average.single, average.positions)) {
    lines.push_back("  Single-number values: " + describe(note));
  }
  return lines;
}

namespace {

// The columns after the band parameters and the bass ratio: the STI's, then the average's.
const char* const kStiColumns[] = {"sti",     "sti_rating", "mti_125", "mti_250", "mti_500",
                                   "mti_1k",  "mti_2k",     "mti_4k",  "mti_8k"};
const char* const kAverageColumns[] = {"positions", "edt_s_std", "t20_s_std", "t30_s_std",
                                       "c80_db_std", "d50_std", "ts_ms_std", "t20_s_uncertainty",
                                       "t30_s_uncertainty", "sti_std"};
constexpr std::size_t kAverageFieldCount = std::size(kAverageColumns);

// A CSV row: the file, channel, band, centre and onset, then a field per parameter, the bass
// ratio, the STI's fields and the average's (given as text), and the notes.
std::string csv_row(const std::string& file, const std::string& channel, const std::string& band,
                    const std::string& centre, const std::string& onset, const BandParameters& values,
                    const std::optional<double>& bass_ratio, const std::vector<std::string>& sti,
                    const std::vector<std::string>& average, const std::string& notes) {
  std::string row = csv_field(file) + "," + channel + "," + band + "," + centre + "," + onset;
  for (const Field& f : kFields) {
    const std::optional<double>& v = values.*f.value;
    // Appended piecewise: "," + a temporary string trips a false -Wrestrict of GCC 12.
    row += ',';
    if (v) row += fixed(*v, f.decimals);
  }
  row += ',';
  if (bass_ratio) row += fixed(*bass_ratio, kBassRatio.decimals);
  for (std::size_t k = 0; k < std::size(kStiColumns); ++k) {
    row += ',';
    if (k < sti.size()) row += sti[k];
  }
  for (std::size_t k = 0; k < kAverageFieldCount; ++k) {
    row += ',';
    if (k < average.size()) row += average[k];
  }
  row += ',';
  row += csv_field(notes);
  row += '\n';
  return row;
}

std::string text(const std::optional<double>& v, int decimals) { return v ? fixed(*v, decimals) : ""; }

std::string mid_notes(bool third) {
  return std::string("single-number values: means over ") +
         (third ? "400 Hz - 1.25 kHz" : "500 Hz and 1 kHz") + "; bass ratio (Beranek): T30 over " +
         (third ? "100 Hz - 315 Hz" : "125 Hz and 250 Hz") + " / T30 mid";
}

}  // namespace

std::string csv_header() {
  std::string line = "file,channel,band,centre_hz,onset_s";
  for (const Field& f : kFields) line += std::string(",") + f.key;
  line += std::string(",") + kBassRatio.key;
  for (const char* c : kStiColumns) line += std::string(",") + c;
  for (const char* c : kAverageColumns) line += std::string(",") + c;
  return line + ",notes\n";
}

std::string csv_rows(const FileResult& result, bool third) {
  std::string rows;
  for (std::size_t c = 0; c < result.channels.size(); ++c) {
    const ChannelAnalysis& channel = result.channels[c];
    const std::string number = std::to_string(c + 1);
    const std::string onset = channel.onset_found ? fixed(channel.onset, 6) : "";
    for (const BandResult& b : channel.bands) {
      rows += csv_row(result.file, number, b.label, b.centre > 0 ? fixed(b.centre, 2) : "", onset,
                      b.parameters, {}, {}, {}, joined(describe(b.parameters.notes)));
    }
    // The single-number values, in the columns of the values they average, and the STI.
    BandParameters mid;
    for (const Single& s : kSingles) {
      if (s.band != nullptr) mid.*s.band = channel.single.*s.value;
    }
    const SpeechTransmission& t = channel.speech;
    std::vector<std::string> sti = {text(t.sti, kStiDecimals), t.rating};
    for (const auto& m : t.mti) sti.push_back(text(t.sti ? m : std::nullopt, kStiDecimals));
    std::vector<std::string> notes = {mid_notes(third)};
    for (const RoomNote& n : t.notes) notes.push_back("STI: " + describe(n));
    rows += csv_row(result.file, number, "mid", "", onset, mid, channel.single.bass_ratio, sti, {},
                    joined(notes));
  }
  return rows;
}

std::string csv_average_rows(const SpatialAverage& average) {
  std::string rows;
  const std::string positions = std::to_string(average.positions);
  for (const AverageBand& b : average.bands) {
    BandParameters means;
    std::vector<std::string> spread = {positions};
    std::vector<std::string> u;
    // The average's columns in their order: SDs, then the uncertainties.
    const Value columns[] = {&BandParameters::edt, &BandParameters::t20, &BandParameters::t30,
                             &BandParameters::c80, &BandParameters::d50, &BandParameters::ts};
    for (std::size_t k = 0; k < std::size(kAverageFields); ++k) {
      const AverageField& f = kAverageFields[k];
      means.*columns[k] = (b.*f.value).spread.average();
      spread.push_back(text((b.*f.value).spread.deviation(), f.decimals));
      if (f.uncertainty) u.push_back(text(uncertainty(b, f, average.third), f.decimals));
    }
    spread.insert(spread.end(), u.begin(), u.end());
    rows += csv_row("average", "", b.label, b.centre > 0 ? fixed(b.centre, 2) : "", "", means, {},
                    {}, spread, joined(describe(average_notes(b, average.positions))));
  }
  BandParameters mid;
  std::vector<std::string> spread = {positions, "", "", "", "", "", "", "", ""};
  // The SD of each single-number value in the column of the one it averages.
  const std::size_t sd_column[] = {3, 1, 4, 5, 6};  // T30, EDT, C80, D50, Ts
  for (std::size_t k = 0; k < 5; ++k) {
    const Single& s = kSingles[k];
    const Spread& v = (average.single.*s.average).spread;
    mid.*s.band = v.average();
    spread[sd_column[k]] = text(v.deviation(), s.decimals);
  }
  const Spread& sti = average.single.sti.spread;
  spread.push_back(text(sti.deviation(), kStiDecimals));
  const std::vector<std::string> sti_fields = {
      text(sti.average(), kStiDecimals), sti.count > 0 ? sti_rating(rounded(sti.mean, kStiDecimals)) : ""};
  std::vector<std::string> notes = {mid_notes(average.third)};
  for (std::string& n : describe(average_notes(average.single, average.positions))) {
    notes.push_back(std::move(n));
  }
  rows += csv_row("average", "", "mid", "", "", mid, average.single.bass_ratio.spread.average(),
                  sti_fields, spread, joined(notes));
  return rows;
}

namespace {

// Channel c (from 0) of a file's JSON: its bands, single-number values and STI.
Json channel_json(const ChannelAnalysis& channel, std::size_t c) {
  Json ch;
  ch["channel"] = c + 1;
  ch["onset_s"] = channel.onset_found ? Json(rounded(channel.onset, 6)) : Json(nullptr);
  ch["bands"] = Json::array();
  for (const BandResult& b : channel.bands) {
    Json band;
    band["band"] = b.label;
    band["centre_hz"] = b.centre > 0 ? Json(rounded(b.centre, 2)) : Json(nullptr);
    for (const Field& f : kFields) band[f.key] = number(b.parameters.*f.value, f.decimals);
    band["notes"] = describe(b.parameters.notes);
    ch["bands"].push_back(std::move(band));
  }
  Json single = Json::object();
  for (const Single& s : kSingles) single[s.key] = number(channel.single.*s.value, s.decimals);
  ch["single"] = std::move(single);
  const SpeechTransmission& t = channel.speech;
  ch["sti"] = number(t.sti, kStiDecimals);
  ch["sti_bands"] = Json::array();
  for (const auto& m : t.mti) ch["sti_bands"].push_back(number(t.sti ? m : std::nullopt, kStiDecimals));
  ch["sti_rating"] = t.sti ? Json(t.rating) : Json(nullptr);
  ch["sti_notes"] = describe(t.notes);
  return ch;
}

// A file's JSON "measurement": the measurement its response file carries.
Json measurement_json(const MeasuredResponse& m) {
  const SweepParams& p = m.sweep;
  Json channels = Json::array();
  for (std::size_t c = 0; c < m.channels.size(); ++c) {
    const MeasuredResponse::Channel& ch = m.channels[c];
    const auto ms = [&p](const std::optional<double>& samples) {
      return samples ? Json(1000 * *samples / p.rate) : Json(nullptr);
    };
    channels.push_back({{"channel", c + 1},
                        {"latency_ms", ms(ch.latency_samples)},
                        {"gain_db", ch.gain_db ? Json(*ch.gain_db) : Json(nullptr)},
                        {"polarity", ch.polarity ? Json(*ch.polarity) : Json(nullptr)}});
  }
  return {{"program", m.program},
          {"sweep", {{"rate_hz", p.rate}, {"amplitude", p.amplitude}, {"hzstart_hz", p.hzstart},
                     {"hzend_hz", p.hzend}, {"duration_s", p.duration}, {"silence_s", p.silence},
                     {"leadin", p.leadin}, {"leadout", p.leadout}}},
          {"zero_instant_s", static_cast<double>(m.zero_sample) / p.rate},
          {"pre_s", m.pre_s},
          {"length_s", m.length_s},
          {"channels", channels}};
}

}  // namespace

Json file_json(const FileResult& result, const MeasuredResponse* measured) {
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
    file["channels"].push_back(channel_json(result.channels[c], c));
  }
  file["measurement"] = Json(nullptr);
  if (measured != nullptr) file["measurement"] = measurement_json(*measured);
  return file;
}

std::string measured_line(const MeasuredResponse& m) {
  return formatted("Measured by %s: a sweep from %g Hz to %g Hz; the zero instant at %g s",
                   m.program.c_str(), m.sweep.hzstart, m.sweep.hzend,
                   static_cast<double>(m.zero_sample) / m.sweep.rate);
}

Json average_json(const SpatialAverage& average) {
  Json out;
  out["positions"] = average.positions;
  out["bands"] = Json::array();
  for (const AverageBand& b : average.bands) {
    Json band;
    band["band"] = b.label;
    band["centre_hz"] = b.centre > 0 ? Json(rounded(b.centre, 2)) : Json(nullptr);
    std::vector<std::pair<std::string, const AveragedValue*>> values;
    for (const AverageField& f : kAverageFields) {
      const AveragedValue& v = b.*f.value;
      band[f.key] = number(v.spread.average(), f.decimals);
      band[std::string(f.key) + "_std"] = number(v.spread.deviation(), f.decimals);
      values.emplace_back(f.key, &v);
    }
    for (const AverageField& f : kAverageFields) {
      if (f.uncertainty) band[std::string(f.key) + "_uncertainty"] = number(uncertainty(b, f, average.third), f.decimals);
    }
    band["counted_out"] = counted_out_json(values);
    out["bands"].push_back(std::move(band));
  }
  Json single;
  std::vector<std::pair<std::string, const AveragedValue*>> values;
  for (const Single& s : kSingles) {
    const AveragedValue& v = average.single.*s.average;
    single[s.key] = number(v.spread.average(), s.decimals);
    single[std::string(s.key) + "_std"] = number(v.spread.deviation(), s.decimals);
    values.emplace_back(s.key, &v);
  }
  const Spread& sti = average.single.sti.spread;
  single["sti"] = number(sti.average(), kStiDecimals);
  single["sti_std"] = number(sti.deviation(), kStiDecimals);
  single["sti_rating"] = sti.count > 0 ? Json(sti_rating(rounded(sti.mean, kStiDecimals))) : Json(nullptr);
  values.emplace_back("sti", &average.single.sti);
  single["counted_out"] = counted_out_json(values);
  out["single"] = std::move(single);
  return out;
}

Json levels_json(const std::optional<SpeechLevels>& levels) {
  if (!levels) return nullptr;
  return Json{{"speech_db", levels->speech}, {"noise_db", levels->noise}};
}

namespace {

// j as JSON, indented one space a level, each line after the first by `pad` more.
std::string indented(const Json& j, const std::string& pad) {
  const std::string text = j.dump(1, ' ', false, Json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    out += c;
    if (c == '\n') out += pad;  // a string's own line breaks are escaped: only the layout's
  }
  return out;
}

}  // namespace

std::string json_opening() { return "{\n \"files\": ["; }

std::string json_file_text(const FileResult& result, const MeasuredResponse* measured, bool first) {
  return (first ? "\n  " : ",\n  ") + indented(file_json(result, measured), "  ");
}

std::string json_closing(const std::optional<SpeechLevels>& levels, const SpatialAverage* average,
                         bool any_file) {
  std::string out = any_file ? "\n ]" : "]";
  out += ",\n \"sti_levels\": " + indented(levels_json(levels), " ");
  if (average != nullptr) out += ",\n \"average\": " + indented(average_json(*average), " ");
  return out + "\n}\n";
}

std::string read_room_bands(const char* value, bool& third) {
  if (std::strcmp(value, "octave") == 0 || std::strcmp(value, "third") == 0) {
    third = value[0] == 't';
    return "";
  }
  return quoted("--bands", value) + " must be octave or third";
}

}  // namespace vellisk
