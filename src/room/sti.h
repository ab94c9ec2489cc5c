// The speech transmission index of IEC 60268-16:2020 by its indirect method: the modulation
// transfer function from the squared band response, the corrections for speech and noise
// levels, and the index with its rating.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vellisk/room.h"

namespace vellisk {

struct EnergyBlocks;
struct NoiseFit;

// The sums of a band's energy in blocks, and of the late decay the noise fit adds beyond the
// blocks' end, at rate samples per second. Each block counts as its energy at its centre with
// its first moment: what is left is of the second order, below 3e-4 of m at 12.5 Hz.
ModulationSums modulation_sums(const EnergyBlocks& blocks, std::int64_t onset, const NoiseFit& noise,
                               double rate);

// m(F) for each band and modulation frequency.
using ModulationMatrix = std::array<std::array<double, kModulations>, kStiBands>;

// m(F) with the levels: the noise, m / (1 + 10^(-SNR/10)), then the auditory masking of each
// band by the one below it and the absolute reception threshold, m I / (I + I_am + I_rt), the
// intensities those of speech and noise together (IEC 60268-16:2020, A.2).
ModulationMatrix with_levels(const ModulationMatrix& m, const SpeechLevels& levels);

// The masking slope of a band whose level is `level` dB on the band above it, dB (the
// standard's level-dependent auditory masking, Table A.2).
double masking_db(double level);

// The index of a modulation transfer function: effective signal-to-noise ratios clipped to
// +-15 dB, transmission indices (SNR + 15) / 30, their means per band, and the weighted sum
// less the redundancy of neighbouring bands, at most 1.
SpeechTransmission transmission_index(const ModulationMatrix& m);

}  // namespace vellisk
