/// @file
/// The sweep and its inverse filter: the eight numbers, the quantities derived from them, the
/// rules they must meet, and the samples, bit for bit those of the files vellisk writes.
///
/// Threads: every function depends on its arguments alone and may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vellisk/export.h"
#include "vellisk/problem.h"

namespace VELLISK_API vellisk {

/// The eight numbers of a sweep, as given to vellisk (and, for the sweep played, to
/// vellisk-ir): any values; check_design says whether they make a sweep.
struct SweepParams {
  double rate = 0;       ///< samples per second
  double amplitude = 0;  ///< linear peak value of the sweep samples
  double hzstart = 0;    ///< Hz
  double hzend = 0;      ///< Hz
  double duration = 0;   ///< seconds
  double silence = 0;    ///< seconds, before and after the sweep
  double leadin = 0;     ///< fade-in length as a fraction of the sweep length
  double leadout = 0;    ///< fade-out length as a fraction of the sweep length
};

/// Everything the sweep and the inverse filter are computed from, sample by sample.
/// Short names used in comments: N sweeplen, S silencelen, Nin leadinlen,
/// Nout leadoutlen, W1 startomega, L logratio, K phasescale, R expstep, D octavelen.
struct SweepDesign {
  double rate = 0;       ///< samples per second, as given
  double amplitude = 0;  ///< as given
  double hzstart = 0;    ///< Hz, as given
  double hzend = 0;      ///< Hz, as given
  std::int32_t sweeplen = 0;    ///< N = trunc(rate * duration), samples
  std::int32_t silencelen = 0;  ///< S = trunc(rate * silence), samples
  double startomega = 0;        ///< W1 = 2 pi hzstart, rad/s
  double logratio = 0;          ///< L = ln(2 pi hzend / W1)
  double phasescale = 0;        ///< K = W1 duration / L, radians
  double expstep = 0;           ///< R = L / N, growth of the phase exponent per sample
  double octavelen = 0;         ///< D = N ln 2 / L, samples per octave of the sweep
  std::int32_t leadinlen = 0;   ///< Nin = trunc(leadin * N)
  double leadinstep = 0;        ///< pi / (Nin - 1)
  double leadinstep2 = 0;       ///< 2 pi / (Nin - 1)
  std::int32_t leadoutlen = 0;  ///< Nout = trunc(leadout * N)
  double leadoutstep = 0;       ///< pi / (Nout - 1)
  double leadoutstep2 = 0;      ///< 2 pi / (Nout - 1)
};

/// The design of the eight numbers. Defined for every input: a length product outside the
/// 32-bit range saturates, and not-a-number gives 0; check_design first.
SweepDesign compute_design(const SweepParams& params);

/// The design of the same sweep as recorded by a clock that runs (1 + drift) times as fast as
/// the player's (drift 1e-6 is 1 ppm): rate, and with it every length, grows by (1 + drift),
/// and the phase law stays the same in time, so its growth per sample is divided by
/// (1 + drift) exactly, not through the truncated length.
SweepDesign drift_design(const SweepParams& params, double drift);

/// The rules of a design, each value's range first, then the relations between values, then
/// that every derived quantity is finite: none, or a problem (ProblemCode::invalid_design)
/// whose message names the parameter, the rule and the value ("hzend (30000) must not exceed
/// half the sample rate (24000)"). Any amplitude within float32's range passes, 0 included.
std::optional<Problem> check_design(const SweepParams& params);

/// F: the factor that scales the inverse filter so that the sweep followed by it has a gain of
/// amplitude across the swept band (the report's "Sweep normalizaton factor").
double normalisation_factor(const SweepDesign& design);

/// The samples of the sweep file: silencelen zeros, the sweeplen samples of the tapered sweep,
/// silencelen zeros; sweep_file_length of them.
std::int64_t sweep_file_length(const SweepDesign& design);

/// Samples [first, first + count) of the sweep file into out, each computed in double
/// precision and rounded once to float32, as the file holds it; samples outside the file are 0.
/// Every sample depends on its index alone, so a long sweep may be had a block at a time.
void sweep_samples(const SweepDesign& design, std::int64_t first, std::int64_t count, float* out);

/// Samples [first, first + count) of the inverse filter file (sweeplen samples: the sweep
/// reversed in time, with an envelope that halves once per octave, scaled by
/// normalisation_factor), likewise.
void inverse_samples(const SweepDesign& design, std::int64_t first, std::int64_t count,
                     float* out);

/// The whole sweep file's and inverse file's samples of a design the rules accept; throws
/// Error (ProblemCode::invalid_design) otherwise.
std::vector<float> sweep_samples(const SweepParams& params);
/// The whole inverse file's samples, likewise.
std::vector<float> inverse_samples(const SweepParams& params);

/// A design read from a WAV file vellisk wrote with --wav: the sweep file or the inverse
/// filter's file, which carry the same eight numbers.
struct SweepFile {
  SweepParams params;    ///< the eight numbers
  bool inverse = false;  ///< the inverse filter's file
  std::string program;   ///< the writer and its version: "vellisk 1.1.0"
};

/// Reads the design a WAV file carries in its INFO comment and checks the file against it:
/// one channel of 32-bit float at the design's rate, as many samples as the design gives, and
/// every sample bit for bit the design's own (sweep_samples or inverse_samples), read and
/// compared a block at a time. Chunks other than fmt, LIST and data are passed over. Throws
/// Error: ProblemCode::unreadable when the file cannot be opened or read, invalid_design when
/// it is not a WAV file, carries no design, breaks the design's rules, or differs from it
/// (the message names the file as "sweep file (NAME)", and the first sample that differs).
SweepFile read_sweep_file(const std::string& path);

/// Which of a run's two files: the sweep file or the inverse filter's.
enum class SweepFileKind { sweep, inverse };

/// The samples of one of a run's files: sweep_file_length for the sweep, sweeplen for the
/// inverse filter.
std::int64_t file_length(const SweepDesign& design, SweepFileKind kind);

/// The rules a WAV file adds to a design that check_design accepts: a whole rate of at most
/// 1073741823 (its byte rate is a 32-bit field), and each file, header included, within the
/// 4 GiB its 32-bit sizes reach. None, or a problem (ProblemCode::invalid_design) worded as
/// check_design's.
std::optional<Problem> check_wav_design(const SweepParams& params);

/// The bytes a run's file begins with: none for headerless float32 samples (wav false), or the
/// header of a one-channel 32-bit float WAV file at the design's rate that carries the design
/// in its INFO comment, which read_sweep_file reads back. For a design that check_design and
/// check_wav_design accept.
std::string sweep_file_header(const SweepParams& params, SweepFileKind kind, bool wav);

/// Writes one of a run's files: a header, then every sample of the file as little-endian
/// float32, bit for bit those of sweep_samples and inverse_samples, a 64 KiB block at a time, so
/// that memory does not grow with the sweep's length. Open, then write; each throws Error
/// (ProblemCode::unwritable) when the file cannot be created or written, with the system's
/// error number (errno) as the problem's value; a file left incomplete is the caller's to
/// remove. One writer is used by one thread at a time; writers of different files are
/// independent.
class SweepFileWriter {
 public:
  SweepFileWriter();
  ~SweepFileWriter();
  SweepFileWriter(const SweepFileWriter&) = delete;
  SweepFileWriter& operator=(const SweepFileWriter&) = delete;

  /// Creates path, or truncates the file it names, and starts it with header
  /// (sweep_file_header). Throws Error when it cannot be opened.
  void open(const char* path, const std::string& header);

  /// Writes every sample of the file of kind for design, then closes it. Throws Error at the
  /// first block, or the close, that fails, after which nothing more reaches the file; and
  /// when no file is open (none was, or it was written already).
  void write(const SweepDesign& design, SweepFileKind kind);

 private:
  struct File;
  std::unique_ptr<File> file_;  ///< the open file and its block
};

}  // namespace vellisk
