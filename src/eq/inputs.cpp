// The inputs of a correction read and averaged: frequency-response text files, and vellisk-ir's
// response WAV files taken to levels over their band; and the target file.
#include <algorithm>
#include <cmath>
#include <utility>

#include "eq/eq_internal.h"
#include "io/recording.h"
#include "response/bands.h"
#include "response/compensation.h"
#include "response/frd_text.h"
#include "response/frequency_response.h"
#include "vellisk/response.h"
#include "vellisk/sweep.h"

namespace vellisk {

namespace {

[[noreturn]] void refuse_input(const FrdError& e, const std::string& name) {
  throw Error(Problem(e.code == FrdError::Code::unreadable ? ProblemCode::unreadable
                                                            : ProblemCode::invalid_recording,
                      frd_error_text(e, name)));
}

[[noreturn]] void refuse_wav(const std::string& name, const std::string& why) {
  throw Error(Problem(ProblemCode::invalid_recording, "input (" + name + ") " + why));
}

// Whether a name ends in .wav, any letter case.
bool is_wav_name(const std::string& name) {
  if (name.size() < 5) return false;
  std::string end = name.substr(name.size() - 4);
  std::transform(end.begin(), end.end(), end.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return end == ".wav";
}

// A response WAV file opened and its text read, checked against what the file holds.
struct ResponseWav {
  Recording file;
  MeasuredResponse m;

  explicit ResponseWav(const std::string& name) {
    if (std::string e = file.open(name.c_str(), false, 1, "input"); !e.empty()) {
      throw Error(Problem(ProblemCode::unreadable, e));
    }
    if (std::optional<Problem> e = parse_response_text(file.comment(), m)) {
      refuse_wav(name, "is not a response vellisk-ir wrote: its text " + e->message);
    }
    if (m.sweep.rate != file.info().rate) {
      refuse_wav(name, "says a rate of " + std::to_string(static_cast<long>(m.sweep.rate)) +
                           " Hz in its text and holds " + std::to_string(file.info().rate) + " Hz");
    }
    if (static_cast<int>(m.channels.size()) != file.info().channels) {
      refuse_wav(name, "says " + std::to_string(m.channels.size()) +
                           " channels in its text and holds " +
                           std::to_string(file.info().channels));
    }
  }
};

// One channel of a response WAV file, handed to row as its level and phase over the band the
// file's text gives, on the text files' grid, as vellisk-ir's .frd rows are; with rows false,
// only what that grid covers.
Expected<FrdExtent, FrdError> scan_channel(const std::string& name, int channel, bool rows,
                                           const FrdRow& row) {
  ResponseWav w(name);
  if (channel >= w.file.info().channels) refuse_wav(name, "changed while it was read");
  const auto& latency = w.m.channels[static_cast<std::size_t>(channel)].latency_samples;
  if (!latency) refuse_wav(name, "channel " + std::to_string(channel + 1) + " is silent");
  const Compensation c(compute_design(w.m.sweep));
  const std::vector<double> grid =
      within_band(octave_grid(w.m.sweep.hzstart, w.m.sweep.hzend, kPointsPerOctave), c);
  if (!rows) {
    FrdData d;
    d.frequencies = grid;
    d.level.assign(grid.size(), 0.0);
    d.phase.assign(grid.size(), 0.0);
    return scan_frd_data(d, [](double, double, double) {});
  }
  const std::int64_t n = w.file.info().frames;
  std::vector<float> x(static_cast<std::size_t>(n));
  float* out[1] = {x.data()};
  if (std::optional<Problem> p = w.file.read(0, n, channel, 1, out)) refuse_wav(name, p->message);
  Spectrum s = spectrum_of(x.data(), n, w.m.sweep.rate, 2 * n);
  remove_top(s, c);  // the file holds the band limit's low-pass, which rows divide out
  const double delay = static_cast<double>(w.m.zero_sample) + *latency;
  const FrequencyResponse r = sample_response(s, grid, 1, delay, 0, c);
  FrdData d;
  d.frequencies = r.frequencies;
  d.level = r.level;
  d.phase = r.phase;
  return scan_frd_data(d, row);
}

AverageMode average_mode(EqAverage mode) {
  return mode == EqAverage::power ? AverageMode::power
         : mode == EqAverage::db  ? AverageMode::db
                                  : AverageMode::vector;
}

}  // namespace

EqCurve read_average(const std::vector<std::string>& names, EqAverage mode, int& responses) {
  if (names.empty()) {
    throw Error(Problem(ProblemCode::invalid_request, "a correction needs at least one input"));
  }
  // The positions: a text file, or a channel of a response WAV file (channel -1: a text file).
  // Each is read twice, once for the common range and once onto its grid, none of them held.
  struct Position {
    std::size_t name;
    int channel;
  };
  std::vector<Position> at;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!is_wav_name(names[i])) {
      at.push_back({i, -1});
      continue;
    }
    const int channels = ResponseWav(names[i]).file.info().channels;
    for (int ch = 0; ch < channels; ++ch) at.push_back({i, ch});
  }
  responses = static_cast<int>(at.size());
  const auto scan = [&](std::size_t i, bool rows, const FrdRow& row) {
    const Position& p = at[i];
    if (p.channel >= 0) return scan_channel(names[p.name], p.channel, rows, row);
    return scan_frd(names[p.name], row);
  };
  auto average = average_frd_scans(at.size(), scan, average_mode(mode));
  if (!average) {
    const FrdError& e = average.error();
    refuse_input(e, e.input > 0 ? names[at[static_cast<std::size_t>(e.input - 1)].name] : "");
  }
  return {std::move(average->frequencies), std::move(average->level)};
}

EqCurve read_target(const std::string& name) {
  auto read = read_frd(name);
  if (!read) {
    std::string line = frd_error_text(read.error(), name);
    const std::string as_input = "input (" + name + ")";
    if (const std::size_t at = line.find(as_input); at != std::string::npos) {
      line.replace(at, as_input.size(), "target (" + name + ")");
    }
    throw Error(Problem(read.error().code == FrdError::Code::unreadable ? ProblemCode::unreadable
                                                                         : ProblemCode::invalid_request,
                        line));
  }
  return {std::move(read->frequencies), std::move(read->level)};
}

}  // namespace vellisk
