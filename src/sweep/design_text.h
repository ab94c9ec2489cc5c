// The design a sweep or inverse file carries: its text, its RIFF INFO list, and reading both back.
#pragma once

#include <string>
#include <string_view>

#include "sweep/sweep_design.h"
#include "vellisk/version.h"

namespace vellisk {

// The program and version that write the files.
inline constexpr const char* kProgramVersion = "vellisk " VELLISK_VERSION;

// Which of the two files of a run a design describes.
enum class DesignFile { sweep, inverse };

// A piece of a text as a message shows it: at most 24 characters, each printable ('?' for any
// other byte, a NUL among them), then "..." when there were more.
std::string shown(std::string_view text);

// The design as one line of text, for instance
//   vellisk 1.1.0 sweep: rate=48000 amplitude=0.5 hzstart=20 hzend=20000 duration=10 silence=1
//   leadin=0.05 leadout=0.005
// The program and version, the file ("sweep" or "inverse"), then the eight
// numbers in command-line order, each as the shortest text that reads back as
// the same double, so that reading the text gives the very numbers written.
std::string design_text(const SweepParams& params, DesignFile file);

// The eight numbers as design_text writes them: " rate=48000 amplitude=0.5 ... leadout=0.005".
std::string design_fields(const SweepParams& params);

// Sets the number named key ("rate" to "leadout") of params; false when key names none.
bool set_design_field(std::string_view key, double value, SweepParams& params);

// A design read back from a file.
struct CarriedDesign {
  SweepParams params;
  DesignFile file = DesignFile::sweep;
  std::string program;  // the writer and its version: "vellisk 1.1.0"
};

// Reads a text written by design_text. Returns "" and fills design, or the
// reason the text is not such a design, in a few words for a message. Refused:
// another program's text, a file other than sweep or inverse, a number that is
// missing, out of order, repeated, not wholly a finite number, and anything
// after the eighth.
std::string parse_design_text(std::string_view text, CarriedDesign& design);

// The payload of a RIFF chunk "LIST" of the kind INFO: "INFO", then the
// subchunks ISFT (software) and, when not empty, ICMT (comment), each holding
// its text and a NUL, with a pad byte after an odd size.
std::string info_list(const std::string& software, const std::string& comment = {});

// The payload of the RIFF chunk "LIST" that carries the design in a WAV file:
// "INFO", then the subchunks ISFT (the program and version) and ICMT (the
// design text), each holding its text and a NUL, with a pad byte after an odd
// size. libsndfile gives the two as its software and comment strings.
std::string design_info_list(const SweepParams& params, DesignFile file);

// Reads the design from a LIST chunk's payload, the bytes after its size: the
// ICMT subchunk's text up to its NUL, through parse_design_text. Returns "" or
// the reason, as parse_design_text does; a payload that is not an INFO list or
// whose subchunks overrun it is refused too.
std::string parse_design_info_list(std::string_view payload, CarriedDesign& design);

}  // namespace vellisk
