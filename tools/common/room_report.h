// What vellisk-room reports of each file: the table on standard output, CSV rows and JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "vellisk/response.h"
#include "vellisk/room.h"

namespace vellisk {

struct FileResult {
  std::string file;
  double rate = 0;
  std::vector<ChannelAnalysis> channels;
};

// The line that says how a file was measured: "Measured by vellisk-ir 1.1.0: a sweep from
// 20 Hz to 20000 Hz; the zero instant at 0.1 s".
std::string measured_line(const MeasuredResponse& m);

// The lines of a channel's table: a column per band, a row per parameter,
// "-" where a value is not given; then the bands' notes, the single-number values and the STI.
std::vector<std::string> channel_table(const ChannelAnalysis& channel, int number);

// The lines of the average's table: a column per band, the mean of each parameter with its
// standard deviation (and uncertainty for T20 and T30) below it; then the positions counted
// out, and the single-number values.
std::vector<std::string> average_table(const SpatialAverage& average);

// The CSV's header line, and a row per channel and band of a file, then a
// "mid" row per channel with its single-number values and STI; each line ends in a newline.
std::string csv_header();
std::string csv_rows(const FileResult& result, bool third);
// The average's rows: file "average", no channel, a row per band and a "mid" row.
std::string csv_average_rows(const SpatialAverage& average);

// A file's object in the JSON report: numbers as numbers, a missing value as null.
// Its "measurement": what the file carries of how it was measured (measured), or null.
nlohmann::ordered_json file_json(const FileResult& result,
                                 const MeasuredResponse* measured = nullptr);
// The average's object, and the levels' (null without levels).
nlohmann::ordered_json average_json(const SpatialAverage& average);
nlohmann::ordered_json levels_json(const std::optional<SpeechLevels>& levels);

// The JSON report in pieces, written as a run goes: its opening, each file's object (first set
// for the first), and its end with the levels and, when averaging, the average (or null). In
// order they make one object, indented one space a level, a name's stray bytes as U+FFFD.
std::string json_opening();
std::string json_file_text(const FileResult& result, const MeasuredResponse* measured, bool first);
std::string json_closing(const std::optional<SpeechLevels>& levels, const SpatialAverage* average,
                         bool any_file);

// The bands a --bands value names, "octave" or "third" (the Python module's bands= too):
// "" with third set, or one line naming the value and the rule.
std::string read_room_bands(const char* value, bool& third);

}  // namespace vellisk
