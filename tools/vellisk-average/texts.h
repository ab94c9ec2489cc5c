// The fixed texts of vellisk-average: its help.
#pragma once

namespace vellisk {

inline constexpr const char* kAverageHelp[] = {
    "Usage: vellisk-average [options] out.frd in.frd...",
    "",
    "Averages frequency responses (.frd or .txt files of any program: rows of",
    "frequency, level in dB and optionally phase in degrees), microphone",
    "positions say, on a common grid of 96 points an octave over the range",
    "every input covers.",
    "",
    "Options:",
    "      --mode power|db|vector  power: the mean of the powers (RMS, the",
    "                        default); db: the mean of the levels in dB; vector:",
    "                        the mean of the complex responses (needs phase)",
    "      --csv SPREAD.csv  write the inputs' spread at each frequency:",
    "                        frequency_hz,min_db,max_db,std_db",
    "  -h, --help            show this help",
    "  -V, --version         show the version",
    "",
    "Example: vellisk-average --csv spread.csv room.frd seat1.frd seat2.frd seat3.frd",
};

}  // namespace vellisk
