/// @file
/// Room-acoustic parameters of impulse responses (ISO 3382-1): each octave or third-octave band's
/// decay times, clarity, definition and centre time with Lundeby's noise compensation, the
/// single-number values, and the speech transmission index (IEC 60268-16:2020), as vellisk-room
/// reports them, with the notes (codes and values, worded by describe) that say why a value is
/// left out or distrusted; their averages over the positions of a room (ISO 3382-2), the speech and noise
/// levels a levels file gives, and the memory an analysis needs.
///
/// Threads: analyses may run in several threads at once, each with a source (and a
/// RoomAnalyser, a SpatialAverage) of its own; the other functions depend on their arguments
/// alone.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vellisk/export.h"
#include "vellisk/problem.h"

namespace VELLISK_API vellisk {

class SampleSource;

/// The seven octave bands, 125 Hz - 8 kHz, and the fourteen modulation frequencies,
/// 0.63 Hz - 12.5 Hz in third-octave steps.
inline constexpr int kStiBands = 7;
inline constexpr int kModulations = 14;  ///< the modulation frequencies
/// The modulation frequencies, Hz.
inline constexpr std::array<double, kModulations> kModulationHz = {
    0.63, 0.8, 1, 1.25, 1.6, 2, 2.5, 3.15, 4, 5, 6.3, 8, 10, 12.5};
/// The bands' labels, as reports give them.
inline constexpr const char* kStiBandLabels[kStiBands] = {"125", "250", "500", "1k",
                                                          "2k",  "4k",  "8k"};

/// The decimals the index and the band indices are reported with, as the standard does.
inline constexpr int kStiDecimals = 2;

/// Schroeder's modulation transfer, unnormalised: S(F) = sum of h^2(t) e^(-2 pi i F t), at F = 0
/// and at each modulation frequency, t counted from the onset. The sums of bands add up to the
/// sum of the band they make up (three third-octaves make an octave).
using ModulationSums = std::array<std::complex<double>, kModulations + 1>;

/// The speech and background-noise levels at the listener, dB SPL, in the seven bands.
struct SpeechLevels {
  std::array<double, kStiBands> speech{};  ///< the speech's level in each band
  std::array<double, kStiBands> noise{};   ///< the background noise's
};

/// The kinds of note an analysis gives where it leaves a value out or there is reason to
/// distrust one. Each names the values it rests on in RoomNote's fields; describe words it.
enum class RoomNoteCode {
  // Of one of a band's decay times (RoomNote::time names it):
  range_too_short,    ///< the decay range, value dB, is less than the second dB the time needs
  inr_too_short,      ///< the INR (the response ends on a noise floor), value dB, is less than
                      ///< the second dB the time needs
  decay_not_reached,  ///< the decay curve does not fall to value dB below its onset's level
  no_decay_to_fit,    ///< no falling line fits the time's stretch of the curve
  not_a_line,         ///< not given: the line fitted from value to second dB falls only third dB
  weak_correlation,   ///< given, but its correlation coefficient value is weaker than -0.95
  // Of a band:
  high_curvature,         ///< the curvature, value %, is above 10 %
  no_clarity_energy,      ///< no energy before or after value ms (50: no C50 or D50; 80: no C80)
  no_inr,                 ///< the response ends above any noise floor, value dB into its decay
  too_short,              ///< the response ends above any noise floor, value dB into its decay,
                          ///< too short for T30; second: the s after the onset T30 would need
                          ///< at its mean rate of decay (0: unknown)
  unreliable_compensation,  ///< the late decay, value dB/s, is nearly flat against the second
                            ///< dB/s before it: the noise compensation is unreliable
  tail_too_large,   ///< the late decay line would add value % of the band's energy past the
                    ///< response: no tail is added, the values count only what it holds
  tail_past_end,    ///< the late decay line would add value % of the band's energy and put the
                    ///< centre time past the response's end: no tail is added
  no_decay,               ///< no decay stands 10 dB above the noise; the INR is value dB
  no_energy_after_onset,  ///< nothing after the onset to measure
  // Of every band of a channel:
  ends_in_silence,  ///< the response ends value ms after its peak, in digital silence
  no_onset,         ///< the peak stands only value dB (a tenth below the ratio) above the noise
  // Of the STI (SpeechTransmission::notes):
  band_below_noise,  ///< the band RoomNote::band stands less than 20 dB above its noise
  octave_left_out,   ///< the octave RoomNote::band (kStiBandLabels) is left out at this rate
  no_sti_onset,      ///< the channel has no onset
};

/// The decay times a RoomNote may concern.
enum class DecayTime { edt, t20, t30 };

/// A note: its code and the values its code names.
struct RoomNote {
  RoomNoteCode code = RoomNoteCode::no_decay;  ///< what is left out or distrusted, and why
  DecayTime time = DecayTime::edt;  ///< the decay time a decay time's note concerns
  double value = 0;                 ///< the first value its code names (see RoomNoteCode)
  double second = 0;                ///< the second value its code names
  double third = 0;                 ///< the third value its code names
  std::string band;                 ///< the band an STI note names ("4k")

  RoomNote() = default;
  /// A note of code c on the values v, s and t (see RoomNoteCode).
  explicit RoomNote(RoomNoteCode c, double v = 0, double s = 0, double t = 0)
      : code(c), value(v), second(s), third(t) {}
  /// Notes are equal when their codes and values are.
  friend bool operator==(const RoomNote&, const RoomNote&) = default;
};

/// A note's words, as the reports give them: "T20 correlation -0.9412 is weaker than -0.95".
/// Depends on its argument alone.
std::string describe(const RoomNote& note);

/// The words of each note, in their order.
std::vector<std::string> describe(const std::vector<RoomNote>& notes);

/// How the STI is computed, in one sentence: of each response alone, or with the speech and
/// noise levels of levels_name (a levels file's name; "" for none).
std::string describe_sti_method(const std::string& levels_name);

/// The index and its parts, as computed (reported with kStiDecimals); empty where they cannot be
/// given, and a note says why.
struct SpeechTransmission {
  std::optional<double> sti;  ///< the speech transmission index, 0 - 1
  std::array<std::optional<double>, kStiBands> mti;  ///< the modulation transfer indices
  std::string rating;  ///< Annex F's letter, "A+" to "U", of the index as reported
  std::vector<RoomNote> notes;  ///< why a value is not given, or what it rests on
};

// The decimals each value is reported with. Decisions and notes use the values so
// rounded, so that a note never contradicts a printed value.
inline constexpr int kTimeDecimals = 3;         ///< EDT, T20, T30, s
inline constexpr int kCorrelationDecimals = 4;  ///< their correlation coefficients
inline constexpr int kPercentDecimals = 1;      ///< curvature, %
inline constexpr int kClarityDecimals = 2;      ///< C50, C80, dB
inline constexpr int kDefinitionDecimals = 3;   ///< D50
inline constexpr int kCentreTimeDecimals = 1;   ///< Ts, ms
inline constexpr int kLevelDecimals = 1;        ///< INR and decay range, dB
/// x rounded to decimals places as the reports give a value (one of the decimals above),
/// never a negative zero.
double rounded(double x, int decimals);

/// One straight line fitted to a stretch of the decay curve.
struct DecayFit {
  double seconds = 0;             ///< -60 dB over the slope
  double r = 0;                   ///< correlation coefficient
  double t0 = 0;                  ///< the fitted stretch's start, s from the onset
  double t1 = 0;                  ///< its end
  double level0 = 0;              ///< the line's level at t0, dB
  double level1 = 0;              ///< at t1
};

/// The parameters of a band, rounded to their decimals; a value that cannot be
/// given, or that there is reason to distrust, is empty, and a note says why.
struct BandParameters {
  std::optional<double> edt;                  ///< early decay time, s
  std::optional<double> t20;                  ///< reverberation time from a 20 dB decay, s
  std::optional<double> t30;                  ///< from a 30 dB decay, s
  std::optional<double> edt_r;                ///< EDT's correlation coefficient
  std::optional<double> t20_r;                ///< T20's
  std::optional<double> t30_r;                ///< T30's
  std::optional<double> curvature;            ///< 100 (T30 / T20 - 1), %
  std::optional<double> c50;                  ///< clarity for speech, dB
  std::optional<double> c80;                  ///< clarity for music, dB
  std::optional<double> d50;                  ///< 0 - 1
  std::optional<double> ts;                   ///< ms
  std::optional<double> inr;                  ///< dB; only when the response ends on a noise floor
  std::optional<double> range;                ///< dB: the decay range the values rest on
  std::vector<RoomNote> notes;                ///< why a value is empty, or distrusted
  /// The decay curve from the onset, dB against s, thinned for a figure, and the
  /// fitted lines: T30's, or T20's where T30 is not given.
  std::vector<double> curve_t;
  std::vector<double> curve_db;      ///< the decay curve's levels at curve_t
  std::optional<DecayFit> t30_fit;   ///< T30's line
  std::optional<DecayFit> t20_fit;   ///< T20's line, where T30 is not given
  /// Schroeder's modulation sums of the band's energy, with Lundeby's compensation, for the
  /// speech transmission index; only for the bands it uses, and only when the band decays.
  std::optional<ModulationSums> modulation;
};

/// What an analysis takes.
struct RoomSetup {
  bool third = false;    ///< third-octave bands (50 Hz - 10 kHz) instead of octaves (63 Hz - 8 kHz)
  double rate = 0;       ///< samples per second, kMinRoomRate to kMaxRoomRate
  int curve_points = 0;  ///< points of each decay curve kept for a figure; 0 for none
  int threads = 1;       ///< bands analysed at once (0: as many as the machine has cores)
  /// The speech and noise levels at the listener for the speech transmission index; without
  /// them, the index of the response alone.
  std::optional<SpeechLevels> levels;
  /// Raised while an analysis runs, it ends it (Error, ProblemCode::cancelled) between its
  /// bands' steps; nullptr: never.
  const CancelFlag* cancel = nullptr;
};

/// A band's values: its label, centre and parameters.
struct BandResult {
  std::string label;  ///< "125", "1k", or "broadband"
  double centre = 0;  ///< Hz; 0 for the broadband
  BandParameters parameters;  ///< its values
};

/// ISO 3382-1, A.1: averages over the 500 Hz and 1 kHz octaves (the six
/// third-octaves 400 Hz - 1.25 kHz); and Beranek's bass ratio, T30 at 125 Hz and
/// 250 Hz (100 Hz - 315 Hz) over that at the mid frequencies.
struct SingleNumbers {
  std::optional<double> t30_mid;     ///< T30, s
  std::optional<double> edt_mid;     ///< EDT, s
  std::optional<double> c80_mid;     ///< C80, dB
  std::optional<double> d50_mid;     ///< D50
  std::optional<double> ts_mid;      ///< Ts, ms
  std::optional<double> bass_ratio;  ///< Beranek's bass ratio
};

/// The least peak-to-noise ratio, dB, at which an onset can be told from the noise.
inline constexpr double kMinPeakToNoiseDb = 20;

/// A channel's analysis, as a channel of vellisk-room's JSON report gives it.
struct ChannelAnalysis {
  bool onset_found = false;  ///< false: the peak is not 20 dB above the noise, or no decay follows
  std::optional<double> ends_ms;  ///< the response ends in digital silence this soon after its peak
  double onset = 0;          ///< s from the start of the file
  double peak_to_noise_db = 0;  ///< the broadband response's peak over its noise
  std::vector<BandResult> bands;  ///< the bands, then the broadband
  SingleNumbers single;           ///< the single-number values
  SpeechTransmission speech;  ///< the speech transmission index
};

/// Why a channel gives no parameters (ChannelAnalysis::onset_found false), as its report's line
/// says after "Channel 2: ": "the response ends 3.2 ms after its peak, in digital silence: no
/// decay to measure, no parameters", or "peak only 12.3 dB above the noise, 20 dB needed: no
/// onset, no parameters" (the ratio a tenth below, as the bands' notes give it); "" for a
/// channel that gives them. Depends on its argument alone.
std::string describe_no_parameters(const ChannelAnalysis& channel);

/// The sample rates an analysis takes, Hz.
inline constexpr double kMinRoomRate = 1000;
inline constexpr double kMaxRoomRate = 1e7;  ///< the highest

/// The rules of a setup: a rate from kMinRoomRate to kMaxRoomRate. None, or a problem
/// (ProblemCode::invalid_request) whose message names the rate.
std::optional<Problem> check_room(const RoomSetup& setup);

/// The rule of a file's rate, as its header gives it (SourceInfo::rate): kMinRoomRate to
/// kMaxRoomRate. None, or a problem (ProblemCode::invalid_recording) whose line names the file
/// as what does ("irfile (hall.wav)") and its rate: "irfile (hall.wav) has a sample rate of
/// 500 Hz; the rates taken are 1000 to 10000000".
std::optional<Problem> check_room_rate(int rate, const std::string& what);

/// The rule of a response's length: a frame or more. None, or a problem
/// (ProblemCode::invalid_recording) naming the response as what does: "ir holds no samples".
std::optional<Problem> check_room_frames(std::int64_t frames, const std::string& what);

/// Analyses one channel's impulse response x[0..n) at setup.rate: every band of the setup's
/// analysis (a band whose upper edge passes 0.45 x rate is left out), then the broadband, the
/// single-number values and the STI. Values a band cannot give are empty, with a note that says
/// why. Throws Error when check_room refuses the setup.
ChannelAnalysis analyse_room_channel(const RoomSetup& setup, const float* x, std::int64_t n);

/// Analyses every channel of a source, one after another, its rate setup.rate. Throws Error
/// when check_room refuses the setup or the source cannot be read.
std::vector<ChannelAnalysis> analyse_room(const RoomSetup& setup, SampleSource& source);

/// The labels of the bands an analysis at the setup's rate leaves out, their upper edge above
/// 0.45 x rate ("8k").
std::vector<std::string> room_bands_left_out(const RoomSetup& setup);

/// A band's label as a frequency in words: "1k" reads "1 kHz", "63" "63 Hz".
std::string band_name(const std::string& label);

/// Annex F's qualification band of an index as printed, in hundredths: "U" below 0.36, then
/// "J" to "A" in steps of 0.04, "A+" from 0.76.
std::string sti_rating(double sti);

/// The analysis of channel after channel, kept between them: the bands planned for a rate (and
/// planned again only for another rate or kind of band), and the buffers the analysis works
/// in, which a run then allocates once rather than for every channel. One thread at a time.
class RoomAnalyser {
 public:
  RoomAnalyser();
  ~RoomAnalyser();
  RoomAnalyser(const RoomAnalyser&) = delete;
  RoomAnalyser& operator=(const RoomAnalyser&) = delete;

  /// Analyses x[0..n) as analyse_room_channel does, with the same values. Throws Error when
  /// check_room refuses the setup.
  ChannelAnalysis analyse(const RoomSetup& setup, const float* x, std::int64_t n);

  /// What the analyser keeps.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

/// The most bands an analysis may filter at once, from threads down to 1, for the analysis of a
/// response of channels channels and frames frames at rate (its samples held as float, a
/// channel at a time in double precision, padded, and four bands' buffers, which also hold
/// their decay curves, a band at once) to fit in nine tenths of the memory the process may use: the machine's
/// physical memory, or less under a limit on its address space or data (ulimit -v, -d).
/// Throws Error (ProblemCode::out_of_memory) when one band at a time does not fit, its line
/// naming the response as what ("irfile (hall.wav)") and the MiB needed and allowed, its value
/// the MiB needed.
int room_threads_in_memory(int channels, std::int64_t frames, double rate, int threads,
                           const std::string& what);

// ---------------------------------------------------------------------------------------------
// Averages over positions (ISO 3382-2:2008, clause 8: the arithmetic mean of the positions'
// values), their spread, the uncertainty of T20 and T30, and the positions counted out.
// Positions are added one at a time: memory does not grow with their number.

/// A running mean and sum of squared deviations (Welford's update, exact to rounding whatever
/// the mean's size).
struct Spread {
  int count = 0;       ///< values added
  double mean = 0;     ///< their mean
  double squares = 0;  ///< the sum of their squared deviations from it
  /// Adds a value.
  void add(double v);
  /// The mean, with one value or more.
  std::optional<double> average() const;
  /// The sample standard deviation, with two values or more.
  std::optional<double> deviation() const;
};

/// One averaged value, and the positions that had none.
struct AveragedValue {
  Spread spread;                     ///< the values of the positions that have one
  std::vector<std::string> missing;  ///< the names of those that have none
};

/// A band's averages.
struct AverageBand {
  std::string label;  ///< "1k", or "broadband"
  double centre = 0;  ///< Hz; 0 for the broadband
  AveragedValue edt;  ///< EDT, s
  AveragedValue t20;  ///< T20, s
  AveragedValue t30;  ///< T30, s
  AveragedValue c80;  ///< C80, dB
  AveragedValue d50;  ///< D50
  AveragedValue ts;   ///< Ts, ms
};

/// The single-number values' averages, and the STI's.
struct AverageSingle {
  AveragedValue t30_mid;     ///< T30 mid, s
  AveragedValue edt_mid;     ///< EDT mid, s
  AveragedValue c80_mid;     ///< C80 mid, dB
  AveragedValue d50_mid;     ///< D50 mid
  AveragedValue ts_mid;      ///< Ts mid, ms
  AveragedValue bass_ratio;  ///< Beranek's bass ratio
  AveragedValue sti;         ///< the speech transmission index
};

/// An average over positions.
struct SpatialAverage {
  bool third = false;              ///< over third-octave bands rather than octaves
  int positions = 0;               ///< positions added
  std::vector<AverageBand> bands;  ///< every band of the analysis, then the broadband
  AverageSingle single;            ///< the single-number values
};

/// The values an average over positions holds: a band's (AverageBand), then the single-number
/// values and the STI (AverageSingle), in the reports' order.
enum class AveragedQuantity {
  edt, t20, t30, c80, d50, ts,                         ///< a band's
  t30_mid, edt_mid, c80_mid, d50_mid, ts_mid, bass_ratio,  ///< the single-number values
  sti,                                                 ///< the speech transmission index
};

/// A value's name as the reports give it: "T20", "T30 mid", "bass ratio (Beranek)", "STI".
std::string quantity_name(AveragedQuantity quantity);

/// A note of an average: positions counted out of some of its values, because they give none.
struct AverageNote {
  std::vector<AveragedQuantity> values;  ///< the values they lack, in the reports' order
  std::vector<std::string> missing;      ///< the positions that lack them, in the order added
  int positions = 0;  ///< the positions averaged: each value rests on positions - missing.size()
  /// Notes are equal when their values and positions are.
  friend bool operator==(const AverageNote&, const AverageNote&) = default;
};

/// The notes of a band's averages over positions positions: one for each set of positions
/// counted out of a value, naming every value those same positions lack, in the order of the
/// first value each concerns. None when no position was counted out.
std::vector<AverageNote> average_notes(const AverageBand& band, int positions);

/// The notes of the single-number values' averages and the STI's, as of a band's.
std::vector<AverageNote> average_notes(const AverageSingle& single, int positions);

/// A note's words, as the reports give them: "T20, T30: no value at b.wav, channel 2; from 3
/// of 4 positions". Depends on its argument alone.
std::string describe(const AverageNote& note);

/// The words of each note, in their order.
std::vector<std::string> describe(const std::vector<AverageNote>& notes);

/// An average of no positions yet, over the bands of an octave or third-octave analysis.
SpatialAverage start_average(bool third);

/// Adds a position, named for the averages' missing lists (as "hall.wav, channel 2"). A band
/// it lacks (left out at its rate) or a value it does not give counts it out of that value.
void add_position(SpatialAverage& average, const std::string& name, const ChannelAnalysis& channel);

/// The standard uncertainty, s, of a mean decay time t over `positions` positions of the
/// integrated impulse response method (ISO 3382-2:2008, 7.1 and 7.2): 0.88 t sqrt((1 + 1.90 / n)
/// / (N B t)) for T20 and 0.55 t sqrt((1 + 1.52 / n) / (N B t)) for T30, the method counted as
/// n = 10 decays at each position, B 0.71 (octaves) or 0.23 (third-octaves) times the centre.
double decay_time_uncertainty(double t, double centre, bool third, int positions, bool t30);

// ---------------------------------------------------------------------------------------------
// Levels files: the speech and background-noise levels at the listener, for the STI.

/// The levels each band may be given, dB SPL.
inline constexpr double kMinLevelDb = -50;
inline constexpr double kMaxLevelDb = 150;  ///< the highest

/// Reads a levels file: lines "speech" and "noise", each with seven levels in dB SPL for the
/// octaves 125 Hz to 8 kHz (numbers as strtod reads them, whole), from kMinLevelDb to
/// kMaxLevelDb; an optional line "band 125 250 500 1k 2k 4k 8k"; blank lines and everything
/// from a '#' passed over; at most 65536 bytes. Throws Error: ProblemCode::unreadable for a
/// file that cannot be read, ProblemCode::invalid_request for one that breaks a rule, its line
/// naming the file as role does ("--levels" gives "--levels (NAME) line 3: ..."), the line and
/// the rule.
SpeechLevels read_speech_levels(const std::string& path, const std::string& role = "levels");

}  // namespace vellisk
