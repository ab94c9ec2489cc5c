// The fixed texts of vellisk-ir: its help (its version is in common/versions.h, its banner
// with the response's report).
#pragma once

#include "common/versions.h"
#include "vellisk/version.h"

namespace vellisk {

inline constexpr const char* kIrHelp[] = {
    "Usage: vellisk-ir [options] rate amplitude hzstart hzend duration silence",
    "                  leadin leadout recording irfile",
    "",
    "Turns a recording of a sweep written by vellisk into the impulse response of",
    "the system it was played through. The eight numbers are those given to",
    "vellisk for the sweep that was played.",
    "",
    "  recording  any file libsndfile reads (WAV, W64, RF64, AIFF, FLAC, ...), or",
    "             headerless little-endian float32 when it ends in .pcm, .raw, .f32",
    "  irfile     the response, one channel per recorded channel: .wav or .w64",
    "             (32-bit float), .flac (24-bit), .pcm, .raw or .f32 (float32)",
    "",
    "Options:",
    "  -l, --length SECONDS  response kept after the zero instant (default 1)",
    "  -p, --pre SECONDS     response kept before it (default 0.1)",
    "  -c, --channels N      channels of a headerless recording (default 1)",
    "  -H, --harmonics K     also write orders 2 to K (at most 10) of the harmonic",
    "                        distortion, to irfile's name with -h2 ... -hK",
    "      --drift auto|PPM  correct the clock drift between player and recorder:",
    "                        as measured (needs --reference or --repeat), or as",
    "                        given in parts per million",
    "      --reference C     channel C is a loopback of the played signal: its",
    "                        arrival is every channel's zero instant, and the",
    "                        clock drift is measured on it",
    "      --repeat N        the recording holds the sweep file played N times back",
    "                        to back: the repeats are aligned and averaged, and",
    "                        the clock drift is measured from their spacing",
    "      --plot FILE.svg   draw the measurement",
    "      --frd FILE.frd    write each channel's frequency response (and each",
    "                        order's, with -H) as text, 96 points an octave",
    "      --smooth N        smooth the text files and the figure over 1/N octave",
    "                        (default: the text files none, the figure 1/6)",
    "      --gate MS         analyse the response from --pre before its arrival",
    "                        to MS milliseconds after it (the files stay whole)",
    "      --json FILE       write the report's figures as JSON",
    "      --curves FILE.csv write each channel's level, phase, group delay,",
    "                        minimum phase and excess group delay on the text",
    "                        files' grid, as CSV (named as the --frd files)",
    "      --step FILE.wav   write each channel's step response",
    "      --waterfall FILE.csv  write each channel's cumulative spectral decay",
    "                        (time_ms,frequency_hz,level_db) as CSV",
    "      --waterfall-range MS  its slices: 0 to MS ms after the response's",
    "                        onset, 100 steps (default 20; a room: a few hundred)",
    "      --mic-cal FILE    take a measurement microphone's response, from its",
    "                        calibration file, out of every level and phase",
    "      --spl-cal FILE.wav LEVEL  a recording of an acoustic calibrator of",
    "                        LEVEL dB SPL at 1 kHz through the same input chain:",
    "                        levels read in dB SPL",
    "      --views LIST      the figure's panels, top to bottom, from level,",
    "                        phase, group-delay, step, waterfall, spectrogram and",
    "                        envelope, separated by commas (default level,envelope)",
    "  -h, --help            show this help",
    "  -V, --version         show the version",
    "",
    "Example: vellisk-ir 44100 0.5 10 21000 45 2 0.05 0.005 recording.wav ir.wav",
};

}  // namespace vellisk
