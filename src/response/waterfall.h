// Views of a response over time and frequency: the cumulative spectral decay (waterfall) and
// the spectrogram.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "response/calibration.h"

namespace vellisk {

// The slices of a waterfall, each a windowed spectrum of the response as it
// stands (the response file's samples, under the gate when one is given):
// the band limit the file holds stays in, so that a wire's waterfall is the
// band limit's own decay. Slice k starts t_k = start_ms + k step_ms after the
// response's onset (see response_onset), for t_k up to end_ms; its weight is
// 0 up to t_k - rise_ms, rises as a half Hann, sin^2(pi u / 2) for u from 0
// to 1, to 1 at t_k, and stays 1 to the window's end, and its level at f is
// 20 lg |sum_t w_k(t) x(t) e^(-i 2 pi f t / rate)| in dB re unit gain, with
// the calibration applied. The slice at 0 ms (start_ms 0) weighs the whole
// window 1, what lies before the onset too, so that it is the .frd's spectrum
// before the band limit is divided out. Times count from the onset, not from
// the peak, so that the slice at 0 ms holds the whole of the response's rise
// (a cabinet's peak lies a tenth of a millisecond after its onset, a woofer's
// more). An ungated window ends where the response has decayed into the noise
// (vellisk-ir warns when not).
struct WaterfallSetup {
  double rate = 0;     // samples per second
  double arrival = 0;  // samples from the window's first sample to the arrival (the .frd's delay)
  double start_ms = 0;
  double end_ms = 20;
  double step_ms = 0.2;
  double rise_ms = 0.2;
  double low_hz = 0;    // the band the rows cover (as the .frd's)
  double high_hz = 0;
  int points_per_octave = 24;  // the frequency grid (see waterfall)
  LevelCalibration calibration;
};

// The setup for a range of range_ms from the arrival: slices every range_ms
// / 100, each with a rise as long; 20 ms (0.2 ms steps and rise) suits a
// loudspeaker, a few hundred ms a room's modes.
WaterfallSetup waterfall_over(double range_ms);

// Why a waterfall's setup was refused.
struct WaterfallError {
  enum class Code {
    bad_range,        // value: end_ms, not above start_ms (which must be at least 0) or beyond
                      // kMaxWaterfallMs
    bad_step,         // value: step_ms, not above 0
    bad_rise,         // value: rise_ms, below 0 or beyond the range
    too_many_slices,  // value: the slices the range and step give, beyond kMaxWaterfallSlices
    bad_grid,         // value: points_per_octave, not 1 to 96
  };
  Code code = Code::bad_range;
  double value = 0;
};

inline constexpr double kMaxWaterfallMs = 10000;
inline constexpr int kMaxWaterfallSlices = 2000;

// Refuses a setup outside those ranges (the band and rate are the measurement's own).
std::optional<WaterfallError> check_waterfall(const WaterfallSetup& setup);

// The onset of a response x[0..n) whose peak lies at sample `arrival`: the
// first sample within kOnsetMs before it whose magnitude reaches kOnsetLevel
// of the peak's, the rule response_polarity sums the step response from.
std::int64_t response_onset(const float* x, std::int64_t n, double arrival, double rate);

// The waterfall of the window x[0..n) (gated as the .frd's is, when it is):
// each slice's level at each frequency (see WaterfallSetup). The frequencies
// are the bins of a transform of the .frd's size (twice the window) nearest
// to a grid of points_per_octave points an octave from low_hz to high_hz,
// each once and none outside that band; each slice is exact at them: the transform
// of the response from the first slice's rise on, less, for each later
// slice, what lies before it (summed directly at those bins in double
// precision), so that a slice costs its rise's samples and not a transform.
// A slice that starts beyond the window reads -300 dB.
TimeFrequencyLevels waterfall(const float* x, std::int64_t n, const WaterfallSetup& setup);

// Short-time spectra over a window: frames under a Hann window whose peak is
// 1, centred exactly hop_ms apart from the arrival on both sides, from first_ms
// to last_ms after it (each centre within the window; samples beyond it read
// 0), so that every channel's frames lie at the same times from its arrival.
// A row's frame holds kSpectrogramCycles periods of its frequency: frame_ms,
// doubled as often as that needs, up to kSpectrogramDoublings times (see
// spectrogram_frame); a shorter one would spread what lies below the row into
// it, a band edge's ringing into stripes an octave and more above it. A
// frame's level at a frequency is its mean power over the 1/points_per_octave
// octave around it (interpolated between bins when that holds none), in dB re
// unit gain for an impulse at the frame's centre (so that noise reads 3 dB
// higher for each doubling of the frame); the calibration applies, the band
// edge is not divided out.
struct SpectrogramSetup {
  double rate = 0;
  double arrival = 0;  // samples from the window's first sample
  double frame_ms = 10;
  double hop_ms = 2.5;
  double first_ms = -1e300;  // the whole window by default
  double last_ms = 1e300;
  double low_hz = 0;
  double high_hz = 0;
  int points_per_octave = 12;
  LevelCalibration calibration;
};

inline constexpr double kSpectrogramCycles = 4;
inline constexpr int kSpectrogramDoublings = 3;

// The frame, in samples, of the spectrogram's row at hz.
std::int64_t spectrogram_frame(const SpectrogramSetup& setup, double hz);

// The spectrogram of x[0..n); no frames when the window is shorter than frame_ms.
TimeFrequencyLevels spectrogram(const float* x, std::int64_t n, const SpectrogramSetup& setup);

}  // namespace vellisk
