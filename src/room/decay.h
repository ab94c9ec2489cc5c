// A band's decay: onset, Lundeby's noise compensation, the Schroeder curve and the ISO 3382-1
// parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "room/samples.h"
#include "room/sti.h"
#include "vellisk/room.h"

namespace vellisk {

// The start of a response (ISO 3382-1, A.3.4): the first sample whose square
// reaches a hundredth of the largest (20 dB below it). The noise is the mean
// square of the last tenth of the response, from after its peak.
struct Onset {
  std::int64_t sample = 0;
  std::int64_t peak = 0;        // the largest square's sample
  double peak_to_noise_db = 0;  // the largest square against the noise; 300 when there is none
};
Onset find_onset(const double* x, std::int64_t n);

// The least range, dB, at which a band with no decay to fit (a click) has a modulation
// transfer function for the STI: below it, the band is the measurement's noise.
inline constexpr double kMinModulationRangeDb = 20;

// A response that ends in digital silence sooner than this after its peak (a
// perfect impulse, say) holds no decay, and no noise to tell one by.
inline constexpr double kMinDecayMs = 10;


// Lundeby et al. (1995), "Uncertainties of measurements in room acoustics",
// Acustica 81: the noise level, the point where the decay meets it, and the
// energy the decay would have had beyond that point.
struct NoiseFit {
  bool decay = false;           // false: no decay stands 10 dB above the noise
  double noise = 0;             // mean square of the noise, or of the response's end
  std::int64_t noise_from = 0;  // where the stretch it is the mean of starts
  std::int64_t cross = 0;       // the truncation point, a sample index
  double compensation = 0;      // the late decay's energy beyond cross, in sums of squares
  double decay_per_sample = 0;  // the late decay's energy rate k: e^(-k) a sample
  double slope = 0;             // the late decay line, dB a sample
  double first_slope = 0;       // the first line, from the peak down, dB a sample
  double range_db = 0;          // the decay's range: its highest averaged level above the noise
  double rate = 0;              // samples per second
};

// sq holds the squared band response; onset is its start; interval the first
// smoothing interval, s.
NoiseFit lundeby(const double* sq, std::int64_t n, std::int64_t onset, double rate,
                 double interval);

// Whether the response ends on a noise floor: the stretch Lundeby's noise is
// the mean of is level (it does not fall between its halves by more than three
// standard deviations of a band-limited noise, nor 3 dB), and falls plainly
// less than the decay would have over it (by two standard deviations, and
// 3 dB). A response faded or cut while still decaying does neither.
// bandwidth, Hz, gives the noise's independent samples.
bool ends_on_floor(const double* sq, std::int64_t n, const NoiseFit& fit, double bandwidth,
                   double rate);

// A band's squared response summed in blocks of about 1 ms: each block's energy, and its first
// moment about its first sample, in samples. The centre time and the modulation transfer
// function use them in place of the samples, exactly for the one and within 3e-4 of m at
// 12.5 Hz for the other.
struct EnergyBlocks {
  std::int64_t first = 0;  // the first block's first sample
  std::int64_t size = 1;   // samples a block; the last may hold fewer
  std::int64_t last = 0;   // the sample after the last block
  std::vector<double> energy, moment;
};
EnergyBlocks energy_blocks(const double* sq, std::int64_t first, std::int64_t last, double rate);

// What the analysis of a band takes from its filter, in samples of the squared
// band response it is given.
struct BandTiming {
  std::int64_t early = 0;  // the time-reversed filter's ringing: energy sums start this early
  double delay = 0;        // the group delay at the centre: 50 ms and 80 ms count from onset - delay
  double bandwidth = 0;    // Hz, for the statistics of its noise; rate / 2 for the broadband
  double interval = 0.01;  // Lundeby's first smoothing interval, s
  bool modulation = false; // whether the speech transmission index needs the band's modulation
};

// The parameters from the squared band response sq[0..n): decay times on the
// Schroeder curve from the onset; energy ratios and centre time on the energy
// from `early` samples before the onset (the time-reversed filter's ringing,
// which carries the direct sound ahead of the onset), both with Lundeby's
// compensation, their times counted from `delay` samples before the onset
// (the filter's group delay, by which time reversal moves the band's energy
// ahead). sq must hold `early` samples before the onset. curve_points > 0
// keeps that many points of the curve. The Schroeder curve is worked out in sq itself, once
// what else it gives has been taken from it: sq holds the curve afterwards, and must have room
// for n + 1 values (the curve ends on the truncation point, which may be n).
BandParameters band_parameters(double* sq, std::int64_t n, std::int64_t onset,
                               const BandTiming& timing, double rate, int curve_points);

}  // namespace vellisk
