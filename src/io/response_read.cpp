// Reading back a response file's frequency responses, as the measurement's text files take them.
#include <cstring>
#include <vector>

#include "io/recording.h"
#include "response/bands.h"
#include "response/compensation.h"
#include "response/frequency_response.h"
#include "sweep/validation.h"
#include "sweep/sweep_design.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

[[noreturn]] void refuse(ProblemCode code, const std::string& line) { throw Error({code, line}); }

// The file's comment read as a measurement's text, checked against the file it is in.
MeasuredResponse measured_of(const Recording& file, const std::string& what) {
  MeasuredResponse m;
  if (std::optional<Problem> why = parse_response_text(file.comment(), m)) {
    refuse(ProblemCode::invalid_recording,
           what + " does not say how it was measured (its comment: " + why->message +
               "): read the response file vellisk-ir wrote of the linear response");
  }
  const SourceInfo& info = file.info();
  if (static_cast<int>(m.channels.size()) != info.channels) {
    refuse(ProblemCode::invalid_recording,
           what + " holds " + std::to_string(info.channels) + " channels where its comment names " +
               std::to_string(m.channels.size()));
  }
  if (static_cast<double>(info.rate) != m.sweep.rate) {
    refuse(ProblemCode::invalid_recording,
           what + " has a sample rate of " + std::to_string(info.rate) + " Hz where its comment says " +
               number_text(m.sweep.rate));
  }
  if (!(m.zero_sample >= 0 && m.zero_sample < info.frames)) {
    refuse(ProblemCode::invalid_recording,
           what + " holds " + std::to_string(info.frames) + " frames: its zero instant (sample " +
               std::to_string(m.zero_sample) + ") lies outside them");
  }
  return m;
}

}  // namespace

std::vector<FrequencyResponse> read_response_file(const std::string& path, double gate_ms,
                                                  int smooth) {
  Recording file;
  if (std::string e = file.open(path.c_str(), false, 1, "response"); !e.empty()) {
    refuse(ProblemCode::unreadable, e);
  }
  const std::string what = "response (" + path + ")";
  const MeasuredResponse m = measured_of(file, what);
  ResponseRequest request;
  request.sweep = m.sweep;
  request.pre = m.pre_s;
  request.length = m.length_s;
  request.gate_ms = gate_ms;
  request.smooth = smooth;
  check_request(request);

  const SourceInfo& info = file.info();
  const auto n = static_cast<std::size_t>(info.frames);
  std::vector<std::vector<float>> rows(static_cast<std::size_t>(info.channels), std::vector<float>(n));
  std::vector<float*> out;
  for (std::vector<float>& row : rows) out.push_back(row.data());
  if (std::optional<Problem> p = file.read(0, info.frames, 0, info.channels, out.data())) {
    refuse(ProblemCode::unreadable, p->message);
  }
  // As the measurement takes its text files' rows: the same gate, spectrum and grid.
  const SweepDesign d = compute_design(m.sweep);
  const Compensation c = m.compensated ? Compensation(d) : Compensation();
  const double gate = gate_ms * m.sweep.rate / 1000;
  std::vector<FrequencyResponse> responses(rows.size());
  std::vector<float> buffer;
  for (std::size_t ch = 0; ch < rows.size(); ++ch) {
    const std::optional<double> arrival = m.channels[ch].latency_samples;
    if (!arrival) continue;
    const auto frames = static_cast<std::int64_t>(n);
    const Spectrum s =
        gated_spectrum(gate, m.zero_sample, *arrival, rows[ch], 2 * frames, c, d.rate, true);
    responses[ch] = text_rows(s, d, c, 1, static_cast<double>(m.zero_sample) + *arrival, smooth);
  }
  return responses;
}

}  // namespace vellisk
