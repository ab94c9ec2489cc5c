// The fixed texts of vellisk-room: help, version and banner.
#pragma once

#include "common/versions.h"
#include "vellisk/version.h"

namespace vellisk {

inline constexpr const char* kRoomBanner =
    "\nVellisk " VELLISK_VERSION ": room-acoustic parameters of impulse responses (ISO 3382-1).\n";

inline constexpr const char* kRoomHelp[] = {
    "Usage: vellisk-room [options] irfile...",
    "",
    "Computes the reverberation times (EDT, T20, T30), clarity (C50, C80),",
    "definition (D50) and centre time (Ts) of each channel of each impulse",
    "response, per octave or third-octave band and broadband, with Lundeby's",
    "noise compensation, the single-number values and the speech transmission",
    "index (STI, IEC 60268-16); and their averages over positions (ISO 3382-2).",
    "",
    "  irfile  any file libsndfile reads (WAV, W64, RF64, AIFF, FLAC, ...), or",
    "          headerless little-endian float32 when it ends in .pcm, .raw, .f32",
    "",
    "Options:",
    "  -b, --bands octave|third  octaves 63 Hz - 8 kHz (default), or",
    "                            third-octaves 50 Hz - 10 kHz",
    "  -r, --rate RATE           sample rate of headerless files",
    "  -c, --channels N          channels of headerless files (default 1)",
    "      --csv FILE            write the values as CSV, a row per band",
    "      --json FILE           write the values as JSON",
    "      --plot FILE.svg       draw the decay curves and reverberation times",
    "      --levels FILE         speech and noise levels at the listener for the",
    "                            STI (dB SPL, 125 Hz - 8 kHz); without, the STI",
    "                            of the response alone",
    "      --average             average every channel of every irfile as one",
    "                            position of the same room",
    "  -h, --help                show this help",
    "  -V, --version             show the version",
    "",
    "Example: vellisk-room --json hall.json hall.wav",
};

}  // namespace vellisk
