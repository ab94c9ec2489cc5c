// The options of vellisk-spin, read with getopt_long.
#pragma once

#include <string>
#include <vector>

#include "vellisk/spin.h"

namespace vellisk {

struct SpinProgramOptions {
  std::string angles;  // --angles FILE
  SpinOptions set;     // --allow-missing, --points N
  double gate = 0;     // --gate MS for response WAV files; 0: not gated
  std::string cta;     // --cta FILE.csv
  std::string json;    // --json FILE.json
  std::string plot;    // --plot FILE.svg
  std::vector<std::string> views;  // --views spin,polar-h,...; empty: spin
  bool help = false;
  bool version = false;
  std::vector<std::string> inputs;
};

// Reads the options and keeps the inputs. Returns "", or one line naming the option, the rule
// and the value given.
std::string parse_spin_options(int argc, char** argv, SpinProgramOptions& options);

}  // namespace vellisk
