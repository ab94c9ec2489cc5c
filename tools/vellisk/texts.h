// The program's fixed texts: banner, usage screen, help and progress lines.
#pragma once

#include "vellisk/version.h"

namespace vellisk {

// --version: the program and its version, as its files name their writer.
inline constexpr const char* kVersionLine = "vellisk " VELLISK_VERSION;

inline constexpr const char* kBanner[] = {
    "\nVellisk " VELLISK_VERSION ": log sweep and inverse filter generation.",
    "Copyright (C) 2026 the Vellisk developers.",
    "\nCompiled with double precision arithmetic.",
    "\nVellisk is free software, distributed under the MIT License.",
    "It comes with no warranty, to the extent permitted by law.",
    "The file LICENSE, distributed with the program, has the terms.",
};

inline constexpr const char* kUsage[] = {
    "\nUsage: vellisk rate amplitude hzstart hzend duration silence",
    "        leadin leadout sweepfile inversefile",
    "\nParameters:\n",
    "  rate: reference sample rate",
    "  amplitude: sweep amplitude",
    "  hzstart: sweep start frequency",
    "  hzend: sweep end frequency",
    "  duration: sweep duration in seconds",
    "  silence: leading and trailing silence duration in seconds",
    "  leadin: leading window length as a fraction of duration",
    "  leadout: trailing window length as a fraction of duration",
    "  sweepfile: sweep file name",
    "  inversefile: inverse sweep file name",
    "\nExample: vellisk 44100 0.5 10 21000 45 2 0.05 0.005 sweep.pcm inverse.pcm\n",
};

// --help: this usage line, the usage screen's lines after its first but for
// its example, then kHelpOptions.
inline constexpr const char* kHelpUsage =
    "\nUsage: vellisk [options] rate amplitude hzstart hzend duration silence";

inline constexpr const char* kHelpOptions[] = {
    "\nOptions:\n",
    "  --wav          write both files as 32-bit float WAV, each carrying its",
    "                 design in a comment, instead of headerless float32 samples",
    "  -h, --help     show this help",
    "  -V, --version  show the version",
    "\nExamples:\n",
    "  vellisk 44100 0.5 10 21000 45 2 0.05 0.005 sweep.pcm inverse.pcm",
    "  vellisk --wav 44100 0.5 10 21000 45 2 0.05 0.005 sweep.wav inverse.wav",
    "\nThe measurement goes on with the other programs of Vellisk:\n",
    "  vellisk-ir       turns a recording of the played sweep into the impulse",
    "                   response, with its harmonics, timing and noise",
    "  vellisk-measure  plays the sweep and records it through JACK, then does",
    "                   the same",
    "  vellisk-room     computes room-acoustic parameters (ISO 3382-1) from an",
    "                   impulse response",
    "  vellisk-average  averages the frequency responses of several positions",
    "  vellisk-eq       fits correction filters (parametric EQ, FIR) to responses",
    "  vellisk-spin     computes a loudspeaker's directivity (ANSI/CTA-2034-A) from",
    "                   its responses at angles",
    "\nEach has its --help and manual page, as has vellisk (man vellisk).\n",
};

inline constexpr const char* kParsing = "\nCommand line parsing.";
inline constexpr const char* kSetup = "Sweep generation setup.";

}  // namespace vellisk
