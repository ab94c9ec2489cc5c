// What vellisk-room reports of each file: the table on standard output, CSV rows and JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "room/average.h"
#include "room/room.h"

namespace vellisk {

struct FileResult {
  std::string file;
  double rate = 0;
  std::vector<ChannelAnalysis> channels;
};

// The lines of a channel's table: a column per band, a row per parameter,
// "-" where a value is not given; then the bands' notes, the single-number values and the STI.
std::vector<std::string> channel_table(const ChannelAnalysis& channel, int number);

// The line that says how the STI is computed: with the levels of the file named, or without.
std::string sti_method_line(const std::string& levels_file);

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
nlohmann::ordered_json file_json(const FileResult& result);
// The average's object, and the levels' (null without levels).
nlohmann::ordered_json average_json(const SpatialAverage& average);
nlohmann::ordered_json levels_json(const std::optional<SpeechLevels>& levels);

}  // namespace vellisk
