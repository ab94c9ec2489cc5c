// What vellisk-room reports of each file: the table on standard output, CSV rows and JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "room/room.h"

struct FileResult {
  std::string file;
  double rate = 0;
  std::vector<ChannelAnalysis> channels;
};

// The lines of a channel's table: a column per band, a row per parameter,
// "-" where a value is not given; then the bands' notes and the single-number values.
std::vector<std::string> channel_table(const ChannelAnalysis& channel, int number);

// The CSV's header line, and a row per channel and band of a file, then a
// "mid" row per channel with its single-number values; each line ends in a newline.
std::string csv_header();
std::string csv_rows(const FileResult& result, bool third);

// A file's object in the JSON report: numbers as numbers, a missing value as null.
nlohmann::ordered_json file_json(const FileResult& result);
