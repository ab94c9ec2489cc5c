// The fixed texts of vellisk-eq: its version and help.
#pragma once

#include "vellisk/version.h"

namespace vellisk {

inline constexpr const char* kEqVersion = "vellisk-eq " VELLISK_VERSION;

inline constexpr const char* kEqHelp[] = {
    "Usage: vellisk-eq [options] response...",
    "",
    "Fits correction filters to measured responses: RBJ cookbook peaking (and",
    "with --shelves, shelving) biquads that bring the responses' average to a",
    "target over a match range, and writes them for equalisers. A response is a",
    ".frd or .txt file of any program (rows of frequency, level in dB and",
    "optionally phase) or a response WAV file vellisk-ir wrote; several are",
    "averaged first, as positions of one listening area.",
    "",
    "Target and range:",
    "      --target flat|FILE  flat (the default), or rows of frequency and dB;",
    "                        aligned to the response by the mean of the 1/6-octave",
    "                        levels over the range",
    "      --house LF_DB,HF_DB  a house curve: LF_DB more below 200 Hz (full at",
    "                        50 Hz), HF_DB less from 1 kHz to 20 kHz",
    "      --range LO-HI     the match range, Hz (default: the band every input",
    "                        covers)",
    "      --mode power|db|vector  how several inputs are averaged (default power)",
    "Filters:",
    "      --filters N       at most N filters, 1 to 64 (default 10)",
    "      --max-boost DB    the most the filters may raise the response (default",
    "                        0: cut only)",
    "      --max-cut DB      the most a filter may cut (default 20)",
    "      --q-range LO-HI   the filters' Q (default 0.5-10)",
    "      --gain-step DB    gains in steps of DB (default 0.01)",
    "      --frequency-step HZ  frequencies in steps of HZ (default 0.01)",
    "      --shelves         a low and a high shelf may be used",
    "      --rate LIST       the sample rates of the filters, Hz, separated by",
    "                        commas (default 48000)",
    "FIR:",
    "      --fir FILE.wav    write a correction FIR (32-bit float, mono) at each",
    "                        rate; with several, named FILE-RATE.wav",
    "      --fir-raw FILE.f32  the same as headerless float32",
    "      --fir-length N    its taps (default 65536; at least 8 periods of the",
    "                        range's lowest frequency)",
    "      --phase minimum|linear|mixed  minimum (the default): no latency;",
    "                        linear: symmetric, latency (N - 1) / 2 samples;",
    "                        mixed: linear above --mixed-above, minimum below",
    "      --mixed-above HZ  where mixed phase turns linear (default 300)",
    "Outputs:",
    "      --apo FILE.txt    the filters as EqualizerAPO's and REW's text",
    "      --camilladsp FILE.yml  a CamillaDSP filters and pipeline fragment",
    "      --biquads FILE.txt  each filter's coefficients (b0 b1 b2 a1 a2, a0 = 1)",
    "                        at each rate",
    "      --predicted FILE.frd  the response through the filters and the preamp",
    "                        (with --fir: through the FIR) at each rate",
    "      --json FILE       the filters, the preamp and the error, as JSON",
    "      --plot FILE.svg   draw the measured response, the target, the",
    "                        prediction and the correction's gain",
    "  -h, --help            show this help",
    "  -V, --version         show the version",
    "",
    "Example: vellisk-eq --range 20-300 --apo room.txt seat1.frd seat2.frd",
};

}  // namespace vellisk
