// Frequency-response text files (.frd): their names and their text.
#pragma once

#include <string>

#include "common/ir_report.h"
#include "vellisk/response.h"

namespace vellisk {

// Whether a name ends in .frd or .txt, in any letter case.
bool is_frd_name(const std::string& name);

// The file of channel c (from 1) and order k (1: the linear response): base
// itself for one channel's linear response; -c<c> before the extension when
// the recording has several channels, then -h<k> for a harmonic order.
std::string frd_name(const std::string& base, int channel, int channels, int order);

// The text of a file: '*' header lines saying what it holds, then a row of
// frequency (Hz), level (dB re unit gain) and phase (degrees, in (-180, 180],
// with the delay given removed) per point, tab-separated.
std::string frd_text(const RunFigures& f, int channel, int order, double delay_samples,
                     const FrequencyResponse& r);

// The header lines of a file of channel c's response of order k, each starting with mark
// ('*' for .frd files, '#' for CSV): the program, the sweep, the recording, the level's unit,
// the smoothing (none when not smoothed, whatever --smooth says), band, gate, calibration and
// the delay removed.
std::string response_header(const RunFigures& f, int channel, int order, double delay_samples,
                            char mark, bool smoothed = true);

// A CSV file of channel c's phase curves: the header, then a row per frequency of
// frequency_hz,level_db,phase_deg,group_delay_ms,min_phase_deg,excess_group_delay_ms.
std::string curves_text(const RunFigures& f, int channel, const PhaseCurves& c);

// A CSV file of channel c's waterfall: the header and the slices' window, then rows of
// time_ms,frequency_hz,level_db, slice after slice.
std::string waterfall_text(const RunFigures& f, int channel, double range_ms,
                           const TimeFrequencyLevels& w);

}  // namespace vellisk
