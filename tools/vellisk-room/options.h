// The options of vellisk-room, read with getopt_long; the library judges their values.
#pragma once

#include <string>
#include <vector>

#include "vellisk/room.h"

namespace vellisk {


struct RoomOptions {
  bool third = false;  // --bands third
  double rate = 0;     // --rate, for headerless files; 0 when not given
  long channels = 0;   // --channels, for headerless files; 0 when not given
  std::string csv;     // --csv FILE; empty when not given
  std::string json;    // --json FILE
  std::string plot;    // --plot FILE.svg
  std::string levels;  // --levels FILE: speech and noise levels for the STI; empty when not given
  bool average = false;  // --average: every channel of every irfile a position of one room
  bool help = false;
  bool version = false;
  std::vector<const char*> files;  // the positional arguments
};

// Reads the options and keeps the positional arguments. Returns "", or one
// line naming the option, the rule and the value given.
std::string parse_room_options(int argc, char** argv, RoomOptions& options);

}  // namespace vellisk
