/// @file
/// Measuring an impulse response: a recording of a played sweep, read from any source of
/// samples, turned into the system's responses, harmonics, timing, figures and warnings.
///
/// A measurement takes three steps, each of which throws Error (with the problem's code and
/// one line naming the value and the rule) when it cannot go on:
///   check_request(request)                   the request alone;
///   plan_response(request, source)           the recording against it, the memory, the plan;
///   measure_response(plan, source)           the measurement.
/// measure(request, source) does all three. Memory does not grow with the recording's length,
/// the number of repeats or channels: the recording is read a stretch at a time, and the
/// responses kept for reading spill from 64 MiB of memory into an unnamed scratch file.
///
/// Threads: measurements of their own requests and sources may run in several threads at
/// once; a source serves one computation at a time; a finished ResponseResult may be read
/// (read, read_step) from several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vellisk/export.h"
#include "vellisk/problem.h"
#include "vellisk/sweep.h"

namespace VELLISK_API vellisk {

// ---------------------------------------------------------------------------------------------
// Sources of samples

/// What a source holds.
struct SourceInfo {
  std::string format;  ///< "WAV (Microsoft) 32 bit float", "headerless float32", "samples in memory"
  int channels = 0;        ///< channels a frame
  std::int64_t frames = 0;  ///< frames the source holds
  int rate = 0;  ///< samples per second; 0 when the source does not say (a headerless file)
};

/// What the samples read of one channel reached: the largest magnitude, and how many samples
/// lie at the format's full scale (for float samples, a magnitude of 1 or more).
struct SampleLevels {
  float peak = 0;            ///< the largest magnitude read
  std::int64_t clipped = 0;  ///< samples read at the format's full scale
};

/// A recording, read a stretch of neighbouring channels at a time.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  /// What the source holds; the same on every call.
  virtual const SourceInfo& info() const = 0;

  /// Reads frames [first, first + count) of channels [channel, channel + n) into out[0] to
  /// out[n - 1]; frames before the start or past the end read as 0. Returns "", or one line
  /// saying why not: a failed read, or a sample that is not finite. When levels is given,
  /// levels[0] to levels[n - 1] take in the samples read.
  virtual std::string read(std::int64_t first, std::int64_t count, int channel, int n,
                           float* const* out, SampleLevels* levels = nullptr) = 0;
};

/// Samples in memory, not copied: sample t of channel c at data[t * frame_stride + c *
/// channel_stride] (interleaved frames: frame_stride = channels, channel_stride = 1; a
/// frames x channels array in C order likewise; one channel after another: frame_stride 1,
/// channel_stride frames). The data must outlive the source. name says it in messages
/// ("recording (NAME) holds a sample that is not finite ...").
class MemorySource : public SampleSource {
 public:
  /// frames frames of channels channels at rate samples a second, laid out by the strides.
  MemorySource(const float* data, std::int64_t frames, int channels, int rate,
               std::int64_t frame_stride, std::int64_t channel_stride,
               std::string name = "samples");
  /// "samples in memory", with the counts and rate given.
  const SourceInfo& info() const override { return info_; }
  std::string read(std::int64_t first, std::int64_t count, int channel, int n, float* const* out,
                   SampleLevels* levels = nullptr) override;

 private:
  const float* data_;
  std::int64_t frame_stride_, channel_stride_;
  std::string name_;
  SourceInfo info_;
};

// ---------------------------------------------------------------------------------------------
// The request

/// The largest values the request's settings take.
inline constexpr int kMaxOrder = 10;
inline constexpr double kMaxDriftPpm = 1000;  ///< the largest drift corrected, ppm either way
inline constexpr int kMaxRepeats = 1000;      ///< the most sweeps played back to back
inline constexpr int kMaxSmooth = 96;  ///< the text files' grid has 96 points an octave
/// The band of a compensated response (ResponseReport::band_low_hz to band_high_hz): where the
/// sweep lies within this many dB of its full level.
inline constexpr double kBandWithinDb = 12;

/// Everything vellisk-ir's options set, by their names there. Ranges are checked by
/// check_request.
struct ResponseRequest {
  SweepParams sweep;          ///< the eight numbers of the sweep that was played
  double pre = 0.1;           ///< s kept before the zero instant (>= 0)
  double length = 1;          ///< s kept after it (> 0)
  int harmonics = 1;          ///< harmonic orders 2 to harmonics are measured (1: none; <= 10)
  std::optional<double> drift_ppm;  ///< a clock drift to correct, as given (-1000 to 1000 ppm)
  bool drift_auto = false;    ///< correct the drift measured (needs reference or repeat >= 2)
  int reference = 0;          ///< the loopback channel, from 1 (0: none)
  int repeat = 1;             ///< sweep files played back to back (1 to 1000)
  double gate_ms = 0;         ///< analyse the response to this many ms after its arrival (0: no gate)
  int smooth = 0;             ///< frequency responses smoothed over 1/smooth octave (1 to 96; 0: none)
  bool uncompensated = false; ///< leave the sweep's own response in
  bool align = false;         ///< move the windows onto a response found outside them
  bool frequency_responses = false;  ///< keep each channel's and order's frequency response
  bool figure = false;        ///< keep the curves a figure of the measurement draws
  int threads = 0;            ///< threads at most (0: as many as the machine has cores)

  // The views of a response and its calibration (vellisk-ir's --curves, --waterfall,
  // --waterfall-range, --mic-cal and --spl-cal).
  bool curves = false;        ///< keep each channel's PhaseCurves on the text files' grid
  bool waterfall = false;     ///< keep each channel's waterfall
  double waterfall_range_ms = 20;  ///< its slices: 0 to this many ms, 100 steps (0.1 to 10000)
  std::string mic_calibration;     ///< a microphone's calibration file ("": none): its response
                                   ///< is taken out of every level and phase
  std::string spl_calibration;     ///< a recording of an acoustic calibrator through the same
                                   ///< input chain ("": none): levels then read in dB SPL
  double spl_level_db = 94;        ///< the calibrator's stated level, dB SPL (40 to 160)
  double spl_hz = 1000;            ///< its stated frequency, Hz
  bool spectrogram = false;        ///< keep each channel's spectrogram
  /// Raised while a measurement runs, it ends it (Error, ProblemCode::cancelled) between its
  /// channels' steps; nullptr: never.
  const CancelFlag* cancel = nullptr;
};

/// The request's own rules, before any recording: the design (check_design), a sweep that is
/// not silent, the ranges of the options, a drift given that the sweep can take, a window the
/// transforms can hold, and harmonic orders that have a band and room. Throws Error.
void check_request(const ResponseRequest& request);

/// A value given for one setting, against its range, as a caller that reads the settings one
/// at a time (a program's option, a module's keyword) checks it when it is given: a gate,
/// smoothing or reference channel given is never 0, which in a request says none; a live
/// measurement's repeats and tail (LiveSetup, in seconds), a headerless file's channels
/// (FileOptions) and a directivity set's grid (SpinOptions) are judged here too. None, or the
/// problem (ProblemCode::invalid_request) naming the setting, its value and the range.
std::optional<Problem> check_setting(Setting setting, double value);

/// The rules between settings that need neither the sweep nor a recording (align is for a
/// single sweep without a reference), as a caller that reads the settings one at a time
/// checks them once all are read; check_request checks them too. None, or the problem
/// (ProblemCode::invalid_request) naming the settings.
std::optional<Problem> check_relations(const ResponseRequest& request);

// ---------------------------------------------------------------------------------------------
// The results

/// A channel's figures, as the report gives them.
struct ChannelFigures {
  bool silent = false;         ///< every sample is 0: nothing else is measured
  double arrival_samples = 0;  ///< after the zero instant
  double arrival_ms = 0;       ///< the same, in ms
  double gain_db = 0;                      ///< in-band gain: the band's median magnitude
  double impulse_peak_db = 0;              ///< the response's peak re unit gain
  std::optional<double> peak_to_noise_db;  ///< none when the noise is 0
  int polarity = 1;                        ///< -1: inverted
  std::vector<double> harmonic_level_db;   ///< [k - 2]: order k re the linear response
  std::vector<double> harmonic_noise_db;   ///< [k - 2]: the noise in order k's window, likewise
  std::vector<bool> below_noise;           ///< [k - 2]: left out of the THD
  double thd_percent = 0;  ///< total harmonic distortion of the orders above their noise, %
  double thd_db = 0;       ///< the same, in dB
  double recorded_peak_dbfs = 0;  ///< of the recording's samples read for the channel
  std::int64_t clipped_samples = 0;  ///< the recording's samples at full scale in the channel
};

/// The timing's figures: the reference's latency, the repeats and the clock drift.
struct TimingFigures {
  int reference = 0;  ///< the loopback channel, from 1; 0: none
  double latency_samples = 0;  ///< the reference's arrival after the zero instant
  double latency_ms = 0;       ///< the same, in ms
  /// One sweep of several played back to back.
  struct Repeat {
    double offset_samples = 0;           ///< from its place
    std::optional<double> noise_db;      ///< re the kept repeats' median; none when that is 0
    std::optional<double> deviation_db;  ///< from the others, re the median noise; none when 0
    double deviation = 0;                ///< the same, re unit gain
    bool kept = true;  ///< averaged; false: left out as noisier than the others
    double raised_db = 0;  ///< left out: how much it would have raised the average's noise
  };
  std::vector<Repeat> repeats;  ///< none for one sweep
  int averaged = 1;  ///< the repeats averaged
  std::optional<double> median_deviation_db;  ///< the repeats' median deviation_db
  std::optional<double> noise_down_db;  ///< the kept repeats' median noise over the average's
  double applied_ppm = 0;               ///< the drift the measurement was made with
  std::optional<double> drift_ppm;      ///< measured
  std::string drift_source;             ///< "reference" or "repeats"
  bool drift_corrected = false;  ///< the measured drift was corrected
  double drift_spread_samples = 0;  ///< of the arrival across the band, by the drift left
};

/// Every figure of a measurement, from which vellisk-ir's printed report and JSON report are
/// both written.
struct ResponseReport {
  SweepParams params;          ///< the sweep's eight numbers
  std::int32_t sweeplen = 0;   ///< the sweep's samples, without its silences
  std::int32_t silencelen = 0;  ///< the samples of each of its silences
  SourceInfo info;  ///< the recording's
  double pre_s = 0;     ///< the window's s before the zero instant
  double length_s = 0;  ///< the window's s after it
  std::int64_t window_samples = 0;  ///< of the linear response
  std::int64_t zero_sample = 0;     ///< the zero instant's sample in it
  std::size_t transform_samples = 0;  ///< the deconvolution's transform length
  double noise_first_s = 0;  ///< the noise stretch, s from the zero instant
  double noise_last_s = 0;   ///< its end, likewise
  bool compensated = true;   ///< the sweep's own response taken out
  double band_low_hz = 0;    ///< the rows' band: where the sweep is within 12 dB of full level
  double band_high_hz = 0;   ///< (uncompensated: hzstart to hzend)
  double gate_ms = 0;        ///< 0: no gate
  std::int64_t aligned_samples = 0;  ///< align: how far the windows were moved
  int smooth = 0;            ///< the frequency responses' 1/N octave; 0: none
  int figure_smooth = 6;     ///< the figure's level curves'
  std::optional<double> drift_given_ppm;  ///< the drift the request gave
  /// What every level is in: "dB re unit gain", or with an SPL calibration "dB SPL" (the level
  /// a steady sine of the sweep's amplitude would produce at the microphone).
  std::string level_unit = "dB re unit gain";
  std::string mic_calibration;            ///< the microphone's calibration file; "": none
  std::optional<double> spl_offset_db;    ///< what the SPL calibration adds to each level
  TimingFigures timing;                  ///< the reference, the repeats and the drift
  std::vector<ChannelFigures> channels;  ///< each channel's, from the first
};

/// A frequency response: rows of frequency, level and phase.
struct FrequencyResponse {
  std::vector<double> frequencies;  ///< Hz (for a harmonic order: the excitation frequency)
  std::vector<double> level;        ///< dB re unit gain, at least -300
  std::vector<double> phase;        ///< degrees, in (-180, 180]
};

/// What a figure draws of one channel.
struct ResponseCurves {
  std::vector<double> frequencies;             ///< Hz, 1/24 octave apart
  std::vector<double> level;                   ///< the linear response, dB, smoothed
  std::vector<std::vector<double>> harmonics;  ///< [k - 2]: order k at excitation frequency, dB
  std::vector<double> times;                   ///< ms from the zero instant
  std::vector<double> envelope;                ///< dB, the peak of each stretch of samples
  std::vector<double> noise_level;  ///< dB at frequencies: the noise a window like the level's holds
  double noise_envelope = 0;  ///< dB, the median of the same peaks over the noise stretch
};

/// The curves loudspeaker people read beside a level, on the text files' grid (96 points an
/// octave over the band), from the linear window as the text files take it: the same gate,
/// smoothing, delay removed and calibration.
///  - phase: the delay (the channel's arrival) removed;
///  - group delay: -d(phase)/d(omega) of the delay-free response, ms; NaN at the rows
///    near the band's edges where the window cuts off enough of the band limit's ringing
///    to move the band limit's own group delay by over 0.05 ms (elsewhere it holds within
///    0.1 ms);
///  - minimum phase: that of the minimum-phase response of the level's magnitude (by the
///    cepstrum), the magnitude continued beyond the band as its edges imply (a fall below
///    the band only where the edge falls at 3 dB an octave or more);
///  - excess group delay: the group delay less the minimum phase's, ms (NaN with it); flat
///    for a minimum-phase system, at the residual of the delay removed.
struct PhaseCurves {
  std::vector<double> frequencies;         ///< Hz
  std::vector<double> level;               ///< dB (ResponseReport::level_unit), at least -300
  std::vector<double> phase;               ///< degrees in (-180, 180]
  std::vector<double> group_delay;         ///< ms, NaN where it cannot hold
  std::vector<double> min_phase;           ///< degrees in (-180, 180]
  std::vector<double> excess_group_delay;  ///< ms, NaN where the group delay is
};

/// A grid of levels over time and frequency: a waterfall (cumulative spectral decay) or a
/// spectrogram.
struct TimeFrequencyLevels {
  double origin_ms = 0;             ///< where time 0 lies, ms after the arrival: the waterfall's
                                    ///< onset (0 or less), the spectrogram's arrival (0)
  std::vector<double> times_ms;     ///< from the origin
  std::vector<double> frequencies;  ///< Hz, ascending
  std::vector<double> levels;       ///< dB, at least -300: [slice * frequencies.size() + i]

  /// The level of slice at frequencies[i], dB.
  double level(std::size_t slice, std::size_t i) const {
    return levels[slice * frequencies.size() + i];
  }
};

/// A response that does not lie in the window, found by a search of the whole recording.
struct FoundResponse {
  double at = 0;    ///< samples after the zero instant
  double peak = 0;  ///< its magnitude
};

/// What a measurement computed of a channel beside its responses' samples.
struct ChannelResponse {
  bool finite = true;  ///< whether every sample of its responses is finite
  float low = 0;       ///< its responses' lowest sample, over every order
  float high = 0;      ///< their highest
  ResponseCurves curves;    ///< with request.figure
  std::vector<FrequencyResponse> responses;  ///< with request.frequency_responses: [k - 1] order
                                             ///< k on a grid of 96 points an octave
  PhaseCurves phase_curves;                  ///< with request.curves
  /// With request.waterfall: slice k starts times_ms[k] after the response's onset (the first
  /// sample within 10 ms before the peak to reach a tenth of it), the spectrum from there to
  /// the window's end (a gated window's end taper applies) under a half-Hann rise of one step
  /// before it (the slice at 0 ms: the whole window, as the text files'); levels in dB of the
  /// response as the response file holds it, band limit and all (calibrated), at 24 points an
  /// octave within the band.
  TimeFrequencyLevels waterfall;
  /// With request.spectrogram: frames under a Hann window centred every 2.5 ms from 20 ms
  /// before the arrival to the window's end, times from the arrival (the same for every
  /// channel); each row's frame the shortest of 10, 20, 40 and 80 ms to hold four periods
  /// of its frequency; each frame's mean power over 1/12 octave around each of 12 points an
  /// octave over the band, dB re unit gain for an impulse at the frame's centre (calibrated;
  /// the band edge is not divided out).
  TimeFrequencyLevels spectrogram;
};

class ResponsePlan;

/// A measurement's results. The responses (each order's window of each channel, the linear
/// one first) are read a stretch at a time: they may lie in a scratch file.
class ResponseResult {
 public:
  ResponseResult();
  ~ResponseResult();
  ResponseResult(ResponseResult&&) noexcept;             ///< moves the rows too
  ResponseResult& operator=(ResponseResult&&) noexcept;  ///< likewise

  ResponseReport report;                  ///< every figure of the measurement
  std::vector<ChannelResponse> channels;  ///< each channel's curves and views
  std::vector<Warning> warnings;  ///< in the order the report gives them
  std::optional<FoundResponse> aligned;  ///< align: the response the windows were moved onto

  int orders() const;                   ///< 1 + the harmonic orders
  std::int64_t frames(int order) const; ///< order k's window, samples (k = 1: the linear one)

  /// Samples [first, first + count) of order k's window of channel c (from 0) into out.
  /// Returns "" or why the scratch file could not be read.
  std::string read(int order, int channel, std::int64_t first, std::int64_t count,
                   float* out) const;

  class Rows;
  std::unique_ptr<Rows> rows;  ///< the library's own
};

/// A plan: the request checked against a recording, its transform planned. Made by
/// plan_response.
class ResponsePlan {
 public:
  ResponsePlan();
  ~ResponsePlan();
  ResponsePlan(ResponsePlan&&) noexcept;             ///< moves the planned state too
  ResponsePlan& operator=(ResponsePlan&&) noexcept;  ///< likewise

  ResponseRequest request;  ///< the request, checked
  ResponseReport setup;  ///< the report's figures known before the measurement
  int threads = 1;       ///< as many as the memory allows
  std::int64_t frames(int order) const;  ///< order k's window, samples

  class State;
  std::unique_ptr<State> state;  ///< the library's own
};

/// The recording against the request: its rate (when it has one), its length, the reference
/// channel, the repeats and the timing options. name says the recording in messages. Throws
/// Error.
void check_recording(const ResponseRequest& request, const SourceInfo& info,
                     const std::string& name);
/// The timing options against the recording: the reference channel, the repeats and a drift
/// to measure. Throws Error.
void check_timing(const ResponseRequest& request, const SourceInfo& info, const std::string& name);

/// Checks the recording (check_recording, check_timing), the memory the measurement needs
/// against what the machine allows (fewer threads when that is enough), and plans it. Throws
/// Error.
ResponsePlan plan_response(const ResponseRequest& request, SampleSource& source,
                           const std::string& name = "recording");

/// Measures: deconvolves every channel, times and averages the repeats, searches a response
/// outside the window (and with align, measures again there), and measures each channel.
/// Throws Error when the recording cannot be read or the timing cannot be measured. A response
/// that is not finite is measured all the same: result_problem says so.
ResponseResult measure_response(const ResponsePlan& plan, SampleSource& source);

/// check_request, plan_response and measure_response in turn, then result_problem.
ResponseResult measure(const ResponseRequest& request, SampleSource& source,
                       const std::string& name = "recording");

/// The step response of channel c's linear window (from 0): the running sum of its samples
/// (double precision). A wire's settles at 1; a compensated response's falls back to 0 over
/// about 1 / (2 pi band_low), as the band edge takes out what lies below the band. Returns ""
/// or why the scratch file could not be read.
std::string read_step(const ResponseResult& result, int channel, std::vector<float>& out);

// ---------------------------------------------------------------------------------------------
// What a response file carries of its measurement

/// The text a WAV response carries as its INFO comment (ICMT; libsndfile's SF_STR_COMMENT, sox's
/// comment), one line of key=value fields after the program, its version and "response:":
///   vellisk-ir 1.1.0 response: rate=48000 amplitude=0.5 hzstart=20 hzend=20000 duration=10
///   silence=1 leadin=0.05 leadout=0.005 zero=4800 pre=0.1 length=1 channels=2 latency1=12
///   gain1=-0.02 polarity1=1 latency2=37.5 gain2=-6.1 polarity2=-1
/// The eight numbers of the sweep; zero: the zero instant's sample in the file (the sample
/// where a response that arrives at once lies); pre and length: the window, s before and after
/// it; then each channel's latency (samples after the zero instant that its response arrives),
/// in-band gain (dB) and polarity (1 or -1), each "none" for a silent channel; last, for a
/// measurement that left the sweep's own response in (ResponseRequest::uncompensated),
/// uncompensated=1. Numbers are the shortest texts that read back as the same double.
struct MeasuredResponse {
  std::string program;  ///< "vellisk-ir 1.1.0"
  SweepParams sweep;    ///< the eight numbers of the sweep
  std::int64_t zero_sample = 0;  ///< the zero instant's sample in the file
  double pre_s = 0;     ///< the window's s before the zero instant
  double length_s = 0;  ///< the window's s after it
  /// A channel's fields.
  struct Channel {
    std::optional<double> latency_samples;  ///< none: silent
    std::optional<double> gain_db;          ///< in-band gain; none: silent
    std::optional<int> polarity;            ///< 1 or -1; none: silent
  };
  std::vector<Channel> channels;  ///< each channel's, from the first
  bool compensated = true;  ///< false: uncompensated=1, the sweep's own response left in
};

/// The text of a measurement's report, written by program ("vellisk-ir 1.1.0").
std::string response_text(const ResponseReport& report, const std::string& program);

/// Reads a text response_text wrote. None, and out filled; or the problem
/// (ProblemCode::invalid_input), out left as it was, whose message is the reason it is not such
/// a text in a few words, for the caller to say which file: not "PROGRAM VERSION response:", a
/// field missing or not a number, a channel count of 0 or beyond 1024. Fields it does not know
/// are passed over, so that a later version may add some.
std::optional<Problem> parse_response_text(std::string_view text, MeasuredResponse& out);

/// The frequency responses of a response file vellisk-ir wrote (the linear response's WAV,
/// which carries response_text as its comment), one for each of its channels, as vellisk-ir's
/// text files give them when measured with the same gate and smoothing: with gate_ms > 0 the
/// window gated from pre before the channel's arrival (its latency) to gate_ms after it, as
/// ResponseRequest::gate_ms gates; the arrival taken out of the phase; the band edge that the
/// response keeps (see ResponseReport::band_low_hz) divided out; on the text files' grid (96
/// points an octave over the band), smoothed over 1/smooth octave (0: not). Levels are in dB
/// re unit gain: a calibration the measurement went through is not in the file. A silent
/// channel's response is empty. Throws Error: a file that cannot be read; one whose comment is
/// not a response's text, or does not match its channels, rate or length; a gate or smoothing
/// out of its range (check_request's rules, with the file's window).
std::vector<FrequencyResponse> read_response_file(const std::string& path, double gate_ms = 0,
                                                  int smooth = 0);

/// What a response found outside the window (FoundResponse::at, samples after the zero
/// instant, at rate samples a second) probably means: "3.004 s after the zero instant: the
/// recorder probably started that much before playback, or the latency is that long".
std::string found_response_text(double at, double rate);

/// The problem of a channel's response that is not finite (ProblemCode::not_finite), or none.
std::optional<Problem> result_problem(const ResponseResult& result);

}  // namespace vellisk
