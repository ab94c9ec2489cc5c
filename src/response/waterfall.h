// Views of a response over time and frequency: the cumulative spectral decay (waterfall) and
// the spectrogram.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "response/calibration.h"
#include "response/compensation.h"

namespace vellisk {

// The slices of a waterfall. Slice k starts t_k = start_ms + k step_ms after
// the response's onset (see response_onset), for t_k up to end_ms; it is the
// spectrum of the response from t_k to the window's end, with a rise of
// rise_ms before t_k: the weight is 0 up to t_k - rise_ms, rises as a half
// Hann (sin^2) to 1 at t_k, and stays 1 to the window's end. The window's
// end is the slices' common end: a gated window's end taper (see Gate)
// applies to every slice; an ungated one ends where the response has decayed
// into the noise (vellisk-ir warns when not). Times count from the onset, not
// from the peak, so that the slice at 0 ms holds the whole of the response's
// rise (a cabinet's peak lies a tenth of a millisecond after its onset, a
// woofer's more). A slice at 0 ms keeps what lies before the onset too, the
// whole window as the .frd's: a compensated response's band edges ring ahead
// of the onset (the top edge's for milliseconds, below the 0.1 onset level),
// which a rise of 0.2 ms would cut, 1 to 2 dB within a third of an octave of
// the band's top; the later slices leave that ringing out.
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
  Compensation edge;           // its band edge is divided out (off: none)
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
// each slice's level at each frequency, in dB re unit gain as the .frd's
// levels are (the band edge divided out, the calibration applied). The
// frequencies are the bins of a transform of the .frd's size (twice the
// window) nearest to a grid of points_per_octave points an octave from
// low_hz to high_hz, each once; each slice is exact at them: the transform
// of the response from the first slice's rise on, less, for each later
// slice, what lies before it (summed directly at those bins in double
// precision), so that a slice costs its rise's samples and not a transform.
// A slice that starts beyond the window reads -300 dB.
TimeFrequencyLevels waterfall(const float* x, std::int64_t n, const WaterfallSetup& setup);

// Short-time spectra over a window: frames of frame_ms under a Hann window
// whose peak is 1, their centres hop_ms apart from the arrival on both
// sides, from first_ms to last_ms after it (each frame wholly within the
// window). A frame's level at a frequency is its mean power over the
// 1/points_per_octave octave around it (interpolated between bins when that
// holds none), in dB re unit gain for an impulse at the frame's centre; the
// calibration applies, the band edge is not divided out (a frame is too
// short to hold what it shapes).
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

// The spectrogram of x[0..n); no frames when the window is shorter than one.
TimeFrequencyLevels spectrogram(const float* x, std::int64_t n, const SpectrogramSetup& setup);

}  // namespace vellisk
