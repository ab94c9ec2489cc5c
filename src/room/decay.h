// A band's decay: onset, Lundeby's noise compensation, the Schroeder curve and the ISO 3382-1
// parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The start of a response (ISO 3382-1, A.3.4): the first sample whose square
// reaches a hundredth of the largest (20 dB below it). The noise is the mean
// square of the last tenth of the response.
struct Onset {
  std::int64_t sample = 0;
  double peak_to_noise_db = 0;  // the largest square against the noise; 300 when there is none
};
Onset find_onset(const double* x, std::int64_t n);

// The least peak-to-noise ratio, dB, at which an onset can be told from the noise.
inline constexpr double kMinPeakToNoiseDb = 20;

// Lundeby et al. (1995), "Uncertainties of measurements in room acoustics",
// Acustica 81: the noise level, the point where the decay meets it, and the
// energy the decay would have had beyond that point.
struct NoiseFit {
  bool decay = false;           // false: no decay stands 10 dB above the noise
  double noise = 0;             // mean square of the noise
  std::int64_t cross = 0;       // the truncation point, a sample index
  double compensation = 0;      // the late decay's energy beyond cross, in sums of squares
  double decay_per_sample = 0;  // the late decay's energy rate k: e^(-k) a sample
  double inr_db = 0;            // the decay's range above the noise
};

// sq holds the squared band response; onset is its start; interval the first
// smoothing interval, s.
NoiseFit lundeby(const double* sq, std::int64_t n, std::int64_t onset, double rate,
                 double interval);

// One straight line fitted to a stretch of the decay curve.
struct DecayFit {
  double seconds = 0;             // -60 dB over the slope
  double r = 0;                   // correlation coefficient
  double t0 = 0, t1 = 0;          // the fitted stretch, s from the onset
  double level0 = 0, level1 = 0;  // the line's level there, dB
};

// The parameters of a band; a value that cannot be given is empty, and a note says why.
struct BandParameters {
  std::optional<double> edt, t20, t30;        // s
  std::optional<double> edt_r, t20_r, t30_r;  // correlation coefficients
  std::optional<double> curvature;            // 100 (T30 / T20 - 1), %
  std::optional<double> c50, c80;             // dB
  std::optional<double> d50;                  // 0 - 1
  std::optional<double> ts;                   // ms
  std::optional<double> inr;                  // dB
  std::vector<std::string> notes;
  // The decay curve from the onset, dB against s, thinned for a figure, and the T30 line.
  std::vector<double> curve_t, curve_db;
  std::optional<DecayFit> t30_fit;
};

// The parameters from the squared band response sq[0..n): decay times on the
// Schroeder curve from the onset; energy ratios and centre time on the
// energy from `early` samples before the onset (the time-reversed filter's
// ringing, which carries the direct sound ahead of the onset), both with
// Lundeby's compensation, their times counted from `delay` samples before the
// onset (the filter's group delay, by which time reversal moves the band's energy
// ahead). curve_points > 0 keeps that many points of the curve.
BandParameters band_parameters(const double* sq, std::int64_t n, std::int64_t onset,
                               std::int64_t early, double delay, double rate, double interval,
                               int curve_points);
