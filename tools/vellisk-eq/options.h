// The options of vellisk-eq, read with getopt_long.
#pragma once

#include <string>
#include <vector>

#include "vellisk/eq.h"

namespace vellisk {

struct EqOptions {
  EqRequest request;
  std::string apo, camilladsp, biquads, json, predicted;  // output names; empty: not written
  std::string plot;          // --plot FILE.svg
  std::string fir, fir_raw;  // --fir FILE.wav, --fir-raw FILE.f32 (with several rates: -RATE added)
  FirRequest fir_request;    // --fir-length, --phase, --mixed-above
  bool help = false;
  bool version = false;
  std::vector<std::string> inputs;
};

// Reads the options and keeps the inputs. Returns "", or one line naming the option, the rule
// and the value given. The values' ranges are the library's to check (check_eq_request).
std::string parse_eq_options(int argc, char** argv, EqOptions& options);

// An FIR file's name at a rate: name itself for one rate, else with -RATE before its extension.
std::string fir_name(const std::string& name, const std::vector<double>& rates, double rate);

// The output names given, in the order the run writes them.
std::vector<std::string> output_names(const EqOptions& options);

}  // namespace vellisk
