// The options of vellisk-ir, read with getopt_long, and their ranges.
#pragma once

#include <string>
#include <vector>

struct option;

namespace vellisk {

struct IrOptions {
  double length = 1;         // seconds kept after the zero instant
  double pre = 0.1;          // seconds kept before it
  long channels = 0;         // channels of a headerless recording; 0 when not given
  long harmonics = 1;        // highest harmonic order written; 1 when not given
  bool drift_auto = false;   // --drift auto
  bool drift_given = false;  // --drift PPM
  double drift_ppm = 0;
  long reference = 0;  // --reference C: the loopback channel, 1-based; 0 when not given
  long repeat = 1;     // --repeat N: sweep files played back to back
  std::string plot;    // --plot FILE.svg; empty when not given
  std::string frd;     // --frd FILE.frd; empty when not given
  long smooth = 0;     // --smooth N: 1/N octave; 0 when not given
  double gate = 0;     // --gate MS, in milliseconds; 0 when not given
  std::string json;    // --json FILE; empty when not given
  bool uncompensated = false;  // --uncompensated: keep the sweep's own response in
  bool align = false;          // --align: cut the windows at the response found
  bool help = false;
  bool version = false;
  std::vector<const char*> arguments;  // the positional arguments
};

// The most harmonic orders and the largest drift that may be asked for.
inline constexpr long kMaxOrder = 10;
inline constexpr double kMaxDriftPpm = 1000;
inline constexpr long kMaxRepeats = 1000;
// The finest smoothing: the text files' grid has 96 points an octave.
inline constexpr long kMaxSmooth = 96;

// The long options parse_options reads, ending in an all-zero entry; a
// short one's val is its letter. Programs that pass vellisk-ir's options on
// to parse_options recognise them by this table.
const option* ir_long_options();

// Reads the options and keeps the positional arguments. Returns "", or one
// line naming the option, the rule and the value given.
std::string parse_options(int argc, char** argv, IrOptions& options);

}  // namespace vellisk
