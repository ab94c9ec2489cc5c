/// @file
/// Correction filters from measured responses: RBJ cookbook peaking and shelving biquads fitted
/// to bring a response to a target over a match range, and correction FIRs.
///
/// A correction takes two steps, each of which throws Error (with the problem's code and one
/// line naming the value and the rule) when it cannot go on:
///   plan_correction(request, inputs)   the request, the inputs read and averaged, the target;
///   fit_correction(plan)               the fit;
/// and design_fir(plan, fit, fir) the FIRs of the same correction.
/// Problems name the settings by vellisk-eq's options ("--filters", "--max-boost").
///
/// Threads: every function depends on its arguments (and the files they name) alone and may be
/// called from several threads at once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "vellisk/export.h"
#include "vellisk/problem.h"

namespace VELLISK_API vellisk {

/// The kinds of filter a correction uses: the RBJ cookbook's (Audio EQ Cookbook, R.
/// Bristow-Johnson) peaking EQ, low shelf and high shelf, their Q as the cookbook's.
enum class EqFilterType { peaking, low_shelf, high_shelf };

/// One filter: its centre (a shelf's: its midpoint) in Hz, its gain in dB and its Q.
struct EqFilter {
  EqFilterType type = EqFilterType::peaking;  ///< peaking or a shelf
  double frequency_hz = 1000;  ///< centre, or a shelf's midpoint, Hz
  double gain_db = 0;          ///< dB
  double q = 1;                ///< the cookbook's Q
};

/// A biquad's coefficients normalised by a0: H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 +
/// a2 z^-2).
struct Biquad {
  double b0 = 1;  ///< feed-forward, z^0
  double b1 = 0;  ///< feed-forward, z^-1
  double b2 = 0;  ///< feed-forward, z^-2
  double a1 = 0;  ///< feedback, z^-1
  double a2 = 0;  ///< feedback, z^-2
};

/// The cookbook's coefficients of a filter at a sample rate (Hz), the filter's frequency below
/// half the rate.
Biquad biquad_of(const EqFilter& filter, double rate);

/// A biquad's gain at a frequency (Hz), dB.
double biquad_gain_db(const Biquad& biquad, double rate, double frequency_hz);

/// How several inputs are averaged (as vellisk-average does).
enum class EqAverage {
  power,   ///< the mean of the powers
  db,      ///< the mean of the levels in dB
  vector,  ///< the mean of the complex responses (needs phase in each)
};

/// A response as levels: frequencies ascending (Hz) and levels (dB).
struct EqCurve {
  std::vector<double> frequencies;  ///< Hz, ascending
  std::vector<double> level;        ///< dB at each
};

/// The target the response is corrected to, before its level is aligned.
enum class EqTarget {
  flat,   ///< 0 dB
  file,   ///< EqRequest::target_file: rows of frequency (Hz) and dB, interpolated in log frequency
  house,  ///< a bass rise of house_low_db below 200 Hz and a treble fall of house_high_db from
          ///< 1 kHz to 20 kHz, each a raised-cosine ramp in log frequency: the rise grows from 0
          ///< at 200 Hz to its full value at 50 Hz and below, the fall from 0 at 1 kHz to its
          ///< full value at 20 kHz and above
};

/// Everything vellisk-eq's options set, by their names there.
struct EqRequest {
  EqAverage mode = EqAverage::power;  ///< --mode
  EqTarget target = EqTarget::flat;   ///< --target flat|FILE, --house
  std::string target_file;      ///< --target FILE: its path
  double house_low_db = 0;      ///< --house LF_DB (-30 to 30 dB)
  double house_high_db = 0;     ///< --house HF_DB (-30 to 30 dB)
  double range_low_hz = 0;      ///< --range LO; 0 (with HI 0): the band every input covers
  double range_high_hz = 0;     ///< --range HI
  int filters = 10;             ///< --filters, 1 to kMaxEqFilters
  double max_boost_db = 0;      ///< --max-boost, 0 to 24 dB
  double max_cut_db = 20;       ///< --max-cut, 0 to 60 dB
  double q_low = 0.5;           ///< --q-range LO, 0.1 to 100
  double q_high = 10;           ///< --q-range HI, 0.1 to 100
  double gain_step_db = 0;      ///< --gain-step: gains are multiples of it (0: 0.01 dB), 0 to 6 dB
  double frequency_step_hz = 0; ///< --frequency-step: frequencies likewise (0: 0.01 Hz), 0 to 1000
  bool shelves = false;         ///< --shelves: a low and a high shelf may be used
  std::vector<double> rates = {48000};  ///< --rate: the rates the filters are given at (Hz)
};

inline constexpr int kMaxEqFilters = 64;         ///< the most filters a correction takes
inline constexpr double kMinEqRate = 8000;       ///< the lowest rate filters are given at, Hz
inline constexpr double kMaxEqRate = 768000;     ///< the highest

/// The request's own rules, ranges then relations, before any input is read. Throws Error.
void check_eq_request(const EqRequest& request);

/// A request checked, its inputs averaged and its target read.
struct EqPlan {
  EqRequest request;            ///< the request, checked
  EqCurve measured;             ///< the inputs' average, 96 points an octave
  int responses = 1;            ///< how many it averages (a WAV file's channels each count)
  double low_hz = 0;            ///< the match range's low end, Hz
  double high_hz = 0;           ///< its high end
  EqCurve target_rows;          ///< the target file's rows (EqTarget::file)
};

/// Checks the request, reads the inputs (.frd or .txt files of any program, as vellisk-average
/// reads them, or vellisk-ir's response WAV files: each channel's level over the band the
/// file's text gives, a position of its own) and averages them, reads the target file, and
/// checks the range against what every input and the target cover and the rates against the
/// range. Throws Error.
EqPlan plan_correction(const EqRequest& request, const std::vector<std::string>& inputs);

/// The same with the measured response given.
EqPlan plan_correction(const EqRequest& request, const EqCurve& measured);

/// The error of a response to the target over the match range: rms and largest magnitude, dB.
struct EqError {
  double rms_db = 0;  ///< the rms error, dB
  double max_db = 0;  ///< the largest error's magnitude, dB
};

/// A fitted correction.
struct EqCorrection {
  std::vector<EqFilter> filters;  ///< in the order they apply
  double preamp_db = 0;           ///< <= 0: with it, the filters' gain is at most 0 dB anywhere
  double target_offset_db = 0;    ///< what was added to the target to align it
  EqError before;                 ///< on the fit's points: smoothed, log-spaced over the range
  EqError after;                  ///< likewise, through the filters and the preamp
  /// The fit's points (24 an octave over the range): the response smoothed over 1/6 octave,
  /// the aligned target, and the filters' gain (without the preamp), dB.
  EqCurve smoothed;
  EqCurve target;        ///< the aligned target on the fit's points
  EqCurve filters_gain;  ///< the filters' gain on the fit's points
  /// The measured response through the filters and the preamp, on its own grid.
  EqCurve predicted;
};

/// Fits the filters: on points 24 an octave over the match range, the response smoothed over
/// 1/6 octave, the target aligned to it by the mean of the two there. Each filter in turn is
/// placed where the error is largest (a shelf at a range's end, with shelves), its frequency,
/// gain and Q refined within their limits, then every filter refined again; a filter that
/// improves the rms error by less than 0.1 dB is dropped. The fit also weighs, lightly, the
/// level the filters take away on average, so that broad cuts around a dip do not stand in for
/// boosting it. The filters' gain never exceeds
/// max_boost_db. Evaluated at the lowest rate of the request.
EqCorrection fit_correction(const EqPlan& plan);

// ---------------------------------------------------------------------------------------------
// FIR correction

/// The phase an FIR correction takes.
enum class EqPhase {
  minimum,  ///< peaks within its first millisecond, no leading zeros; latency 0
  linear,   ///< symmetric, its latency (length - 1) / 2 samples
  mixed,    ///< linear phase above mixed_above_hz, minimum below (latency as linear)
};

/// What vellisk-eq's --fir options set.
struct FirRequest {
  int length = 65536;           ///< --fir-length, taps (16 to kMaxFirLength)
  EqPhase phase = EqPhase::minimum;  ///< --phase
  double mixed_above_hz = 300;  ///< --mixed-above: where mixed phase turns linear
};

inline constexpr int kMaxFirLength = 1 << 20;  ///< the longest FIR, taps

/// The taps needed at a rate for a range starting at low_hz: 8 periods of low_hz.
int fir_length_needed(double rate, double low_hz);

/// The FIR request's rules against the plan: the length's range, and at each rate at least
/// fir_length_needed (the refusal says the length needed); mixed_above_hz within the range.
/// Throws Error.
void check_fir(const EqPlan& plan, const FirRequest& fir);

/// A correction FIR at one rate.
struct EqFir {
  double rate = 0;          ///< Hz
  std::vector<float> taps;  ///< its impulse response
  double latency_samples = 0;  ///< where its response's delay lies: 0 for minimum phase
  double preamp_db = 0;        ///< the gain taken out so that the FIR's gain is at most 0 dB
  EqError after;               ///< the error through it on the fit's points, as EqCorrection's
};

/// The FIR at each of the plan's rates, toward the aligned target over the range: the 1/6-octave
/// smoothed response's deviation d (the target's level moved, by up to 20 dB, to where the
/// inversion's cost is least by the fit's measure) inverted with Kirkeby-style regularisation
/// toward no correction, C = (d + beta) / (d^2 + beta), beta 0.01 / B^2 over the range (B the
/// gain of max_boost_db, at least 1) and rising smoothly over an octave beyond it to where C is
/// 1; the gain bent below max_boost_db by a soft minimum and never beyond; then the gain that
/// keeps it at most 0 dB everywhere taken out. Throws Error as check_fir does.
std::vector<EqFir> design_fir(const EqPlan& plan, const EqCorrection& fit, const FirRequest& fir);

/// An FIR's gain at each frequency, dB (its exact transform there).
std::vector<double> fir_gain_db(const EqFir& fir, const std::vector<double>& frequencies);

/// The measured response through the FIR, on its grid below half the FIR's rate.
EqCurve fir_predicted(const EqPlan& plan, const EqFir& fir);

/// A file of the FIR: a 32-bit float mono WAV file, or headerless float32 (little-endian).
std::string fir_wav_bytes(const EqFir& fir);
/// The FIR's taps as headerless float32 (little-endian).
std::string fir_raw_bytes(const EqFir& fir);

/// The measured response through the fit's filters and its preamp at a rate, on its grid below
/// half the rate.
EqCurve filters_predicted(const EqPlan& plan, const EqCorrection& fit, double rate);

/// The gain of filters at a rate, dB, at each frequency (without the preamp).
std::vector<double> filters_gain_db(const std::vector<EqFilter>& filters, double rate,
                                    const std::vector<double>& frequencies);

}  // namespace vellisk
