// The sweep's design: the quantities derived once from the eight numeric arguments.
#pragma once

#include <cstdint>

namespace vellisk {

// The eight numbers of the command line, as parsed.
struct SweepParams {
  double rate = 0;       // samples per second
  double amplitude = 0;  // linear peak value of the sweep samples
  double hzstart = 0;    // Hz
  double hzend = 0;      // Hz
  double duration = 0;   // seconds
  double silence = 0;    // seconds, before and after the sweep
  double leadin = 0;     // fade-in length as a fraction of the sweep length
  double leadout = 0;    // fade-out length as a fraction of the sweep length
};

// Everything the sweep and the inverse filter are computed from, sample by sample.
// Short names used in comments: N sweeplen, S silencelen, Nin leadinlen,
// Nout leadoutlen, W1 startomega, L logratio, K phasescale, R expstep, D octavelen.
struct SweepDesign {
  double rate = 0;
  double amplitude = 0;
  double hzstart = 0;
  double hzend = 0;
  std::int32_t sweeplen = 0;    // N = trunc(rate * duration), samples
  std::int32_t silencelen = 0;  // S = trunc(rate * silence), samples
  double startomega = 0;        // W1 = 2 pi hzstart, rad/s
  double logratio = 0;          // L = ln(2 pi hzend / W1)
  double phasescale = 0;        // K = W1 duration / L, radians
  double expstep = 0;           // R = L / N, growth of the phase exponent per sample
  double octavelen = 0;         // D = N ln 2 / L, samples per octave of the sweep
  std::int32_t leadinlen = 0;   // Nin = trunc(leadin * N)
  double leadinstep = 0;        // pi / (Nin - 1)
  double leadinstep2 = 0;       // 2 pi / (Nin - 1)
  std::int32_t leadoutlen = 0;  // Nout = trunc(leadout * N)
  double leadoutstep = 0;       // pi / (Nout - 1)
  double leadoutstep2 = 0;      // 2 pi / (Nout - 1)
};

inline constexpr double kTwoPi = 6.283185307179586;
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kLn2 = 0.6931471805599453;

// Bytes per sample in the output files.
inline constexpr std::int64_t kSampleBytes = 4;

// Fills the design from the parsed numbers. Defined for every input: a length
// product outside the 32-bit range saturates, and not-a-number gives 0.
SweepDesign compute_design(const SweepParams& params);

// The design of the same sweep as recorded by a clock that runs (1 + drift)
// times as fast as the player's: rate, and with it every length, grows by
// (1 + drift), and the phase law stays the same in time, so its growth per
// sample is divided by (1 + drift) exactly, not through the truncated length.
SweepDesign drift_design(const SweepParams& params, double drift);

// Trunc toward zero of a length product, saturated to the 32-bit range.
std::int32_t to_length(double product);

}  // namespace vellisk
