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

// One channel of a response WAV file: its level and phase over the band the file's text gives,
// on the text files' grid, as vellisk-ir's .frd rows are.
FrdData channel_rows(Recording& file, const MeasuredResponse& m, int channel, double delay,
                     const std::string& name) {
  const std::int64_t n = file.info().frames;
  std::vector<float> x(static_cast<std::size_t>(n));
  float* out[1] = {x.data()};
  if (std::string e = file.read(0, n, channel, 1, out); !e.empty()) refuse_wav(name, e);
  const Compensation c(compute_design(m.sweep));
  const Spectrum s = spectrum_of(x.data(), n, m.sweep.rate, 2 * n);
  const FrequencyResponse r = sample_response(
      s, within_band(octave_grid(m.sweep.hzstart, m.sweep.hzend, kPointsPerOctave), c), 1,
      delay, 0, c);
  FrdData d;
  d.frequencies = r.frequencies;
  d.level = r.level;
  d.phase = r.phase;
  return d;
}

// The channels of a response WAV file, each a position of its own.
void read_wav(const std::string& name, std::vector<FrdData>& out) {
  Recording file;
  if (std::string e = file.open(name.c_str(), false, 1, "input"); !e.empty()) {
    throw Error(Problem(ProblemCode::unreadable, e));
  }
  MeasuredResponse m;
  if (std::string e = parse_response_text(file.comment(), m); !e.empty()) {
    refuse_wav(name, "is not a response vellisk-ir wrote: its text " + e);
  }
  if (m.sweep.rate != file.info().rate) {
    refuse_wav(name, "says a rate of " + std::to_string(static_cast<long>(m.sweep.rate)) +
                         " Hz in its text and holds " + std::to_string(file.info().rate) + " Hz");
  }
  if (static_cast<int>(m.channels.size()) != file.info().channels) {
    refuse_wav(name, "says " + std::to_string(m.channels.size()) + " channels in its text and holds " +
                         std::to_string(file.info().channels));
  }
  for (int ch = 0; ch < file.info().channels; ++ch) {
    const auto& latency = m.channels[static_cast<std::size_t>(ch)].latency_samples;
    if (!latency) refuse_wav(name, "channel " + std::to_string(ch + 1) + " is silent");
    out.push_back(channel_rows(file, m, ch, static_cast<double>(m.zero_sample) + *latency, name));
  }
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
  std::vector<FrdData> data;
  std::vector<std::size_t> owner;  // the name each row set came from
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (is_wav_name(names[i])) {
      read_wav(names[i], data);
    } else {
      auto read = read_frd(names[i]);
      if (!read) refuse_input(read.error(), names[i]);
      data.push_back(std::move(*read));
    }
    owner.resize(data.size(), i);
  }
  responses = static_cast<int>(data.size());
  auto average = average_frd(data, average_mode(mode));
  if (!average) {
    const FrdError& e = average.error();
    refuse_input(e, e.input > 0 ? names[owner[static_cast<std::size_t>(e.input - 1)]] : "");
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
