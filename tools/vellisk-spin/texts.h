// The fixed texts of vellisk-spin: its version and help.
#pragma once

#include "vellisk/version.h"

namespace vellisk {

inline constexpr const char* kSpinVersion = "vellisk-spin " VELLISK_VERSION;

inline constexpr const char* kSpinHelp[] = {
    "Usage: vellisk-spin [options] response...",
    "",
    "A loudspeaker's directivity from its responses every 10 degrees of the",
    "horizontal and vertical orbits: the curves of ANSI/CTA-2034-A, the -6 dB",
    "beamwidths per 1/3 octave and Olive's preference rating.",
    "",
    "Each response is a .frd or .txt file of any program (frequency, level in dB",
    "[, phase]) whose name ends in its angle (\"name_H 30.frd\", \"name_H-30.txt\",",
    "\"name_V 10.frd\", \"name_hor_30deg.frd\"), or a table of one orbit's angles",
    "as measurement services publish them (\"SPL Horizontal.txt\",",
    "\"SPL Vertical.txt\": a heading On-Axis, 10°, -10°, ... and a frequency and",
    "level column for each angle), or a response WAV file of one channel that",
    "vellisk-ir wrote, its angle in its name likewise (\"name_H 30.wav\").",
    "",
    "Options:",
    "      --angles FILE     the angles of the files: lines \"H|V degrees name\"",
    "      --allow-missing   fill in missing angles from their neighbours",
    "      --gate MS         read the response WAV files gated as vellisk-ir",
    "                        gates: from their --pre before the arrival to MS",
    "                        after it",
    "      --points N        points an octave of the curves' grid (20; 0: the",
    "                        inputs' own frequencies, the same in every input)",
    "      --cta FILE.csv    write the curves: frequency and one column each",
    "      --json FILE.json  write the preference rating, its parts and the",
    "                        beamwidths",
    "      --plot FILE.svg   draw the figure",
    "      --views LIST      its views, top to bottom, of spin (the curves and",
    "                        indices, the default), polar-h and polar-v (level",
    "                        over angle and frequency) and polar-normalised",
    "                        (both orbits re on-axis), separated by commas",
    "  -h, --help            show this help",
    "  -V, --version         show the version",
    "",
    "Example: vellisk-spin --cta spin.csv --json spin.json \\",
    "             'SPL Horizontal.txt' 'SPL Vertical.txt'",
};

}  // namespace vellisk
