// The fixed texts of vellisk-measure: help, version and banner.
#pragma once

#include "common/versions.h"
#include "vellisk/version.h"

namespace vellisk {

inline constexpr const char* kMeasureBanner =
    "\nVellisk " VELLISK_VERSION ": play a log sweep and record it through JACK.\n";

inline constexpr const char* kMeasureHelp[] = {
    "Usage: vellisk-measure [options] rate amplitude hzstart hzend duration silence",
    "                       leadin leadout recording [irfile]",
    "       vellisk-measure [options] --sweep SWEEP.wav recording [irfile]",
    "       vellisk-measure --level [options] (the eight numbers | --sweep SWEEP.wav)",
    "",
    "Plays the sweep file vellisk writes for the eight numbers and records the",
    "inputs in the same JACK cycles, on the server's clock. With an irfile, the",
    "impulse response is then computed from the recording as vellisk-ir does.",
    "",
    "  rate       must be the JACK server's sample rate",
    "  amplitude  at most 1 in magnitude: 1 is the output's full scale",
    "  recording  one channel per input: .wav or .w64 (32-bit float), .flac (24-bit)",
    "  irfile     as for vellisk-ir: .wav, .w64, .flac, .pcm, .raw or .f32",
    "",
    "Options:",
    "  -o, --out PORT        play the sweep to this port, once per port given",
    "                        (default: the first physical playback port)",
    "  -i, --in PORT         record this port, one channel per port given",
    "                        (default: the first physical capture port)",
    "      --list            list the server's ports and exit",
    "      --repeat N        play the sweep file N times back to back (default 1)",
    "      --tail SECONDS    record this long after the last sweep file (default 1;",
    "                        with an irfile, at least the response length)",
    "      --sweep FILE.wav  the sweep's design from a WAV file vellisk --wav wrote,",
    "                        checked sample by sample, in place of the eight numbers",
    "      --level           play a 3 s burst of the sweep (the same band and",
    "                        amplitude) and print each input's peak, its",
    "                        peak-to-noise ratio and the amplitude for a peak of",
    "                        about -12 dBFS; writes no file",
    "  -l, -p, -H, --drift, --plot, --reference, --frd, --smooth, --gate, --json,",
    "  --uncompensated, --align, --curves, --step, --waterfall, --waterfall-range,",
    "  --mic-cal, --spl-cal, --views",
    "                        the response options of vellisk-ir (vellisk-ir --help),",
    "                        refused before anything plays",
    "  -h, --help            show this help",
    "  -V, --version         show the version",
    "",
    "Example: vellisk-measure -o system:playback_1 -i system:capture_1 \\",
    "           48000 0.5 10 21000 10 1 0.05 0.005 recording.wav ir.wav",
};

}  // namespace vellisk
