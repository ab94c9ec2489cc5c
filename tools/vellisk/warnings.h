// The warnings of a run that is written all the same: what probably went wrong, and what to do.
#pragma once

#include "vellisk/sweep.h"

namespace vellisk {

// Warns on standard error, one line each, of
// - a file written in one format under a name that promises another: raw
//   samples under .wav, .wave, .flac, .aif, .aiff or .aifc; a WAV file under
//   .pcm, .raw, .f32, .flac, .aif, .aiff or .aifc (any letter case);
// - an amplitude of 0, whose sweep is silent;
// - an amplitude beyond 1 in magnitude in a WAV file, whose players clip it.
void warn_of_run(const SweepParams& params, bool wav, const char* sweepfile,
                 const char* inversefile);

// Warns of an option among the arguments after the tenth, which are ignored.
void warn_of_ignored_options(int argc, const char* const* argv, int first_ignored);

}  // namespace vellisk
