// The readers of texts and files, in-process, against seeded mutants of good inputs: each
// accepts or refuses, in words, and what it accepts holds no impossible value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "mutation.h"
#include "response/calibration.h"
#include "response/frd_average.h"
#include "run_vellisk.h"
#include "sweep/wav_header.h"
#include "vellisk/response.h"
#include "vellisk/sweep.h"

using namespace vellisk;

namespace {

bool finite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

// Points from above 0 Hz, strictly ascending, with finite values of each column.
bool plausible(const std::vector<double>& hz, const std::vector<double>& db,
               const std::vector<double>& degrees) {
  return !hz.empty() && hz.front() > 0 && finite(hz) && finite(db) && finite(degrees) &&
         std::adjacent_find(hz.begin(), hz.end(), std::greater_equal<>()) == hz.end() &&
         db.size() == hz.size() && (degrees.empty() || degrees.size() == hz.size());
}

// The bytes of file at path, written.
void write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

const SweepParams kSweep = {8000, 0.5, 50, 3000, 0.25, 0.05, 0.05, 0.02};

std::string sweep_wav(DesignFile file) {
  const SweepDesign d = compute_design(kSweep);
  const std::vector<float> samples =
      file == DesignFile::sweep ? sweep_samples(kSweep) : inverse_samples(kSweep);
  std::string bytes = design_wav_header(kSweep, d, file);
  const std::size_t at = bytes.size();
  bytes.resize(at + 4 * samples.size());
  std::memcpy(bytes.data() + at, samples.data(), 4 * samples.size());
  return bytes;
}

}  // namespace

TEST(ParsersFuzz, ResponseTexts) {
  // The text of a measurement of the sweep itself, on two channels, one of them silent.
  const std::vector<float> sweep = sweep_samples(kSweep);
  std::vector<float> frames(2 * sweep.size() + 2000);
  for (std::size_t t = 0; t < sweep.size(); ++t) frames[2 * t] = 0.5f * sweep[t];
  MemorySource source(frames.data(), static_cast<std::int64_t>(frames.size() / 2), 2, 8000, 2, 1);
  ResponseRequest request;
  request.sweep = kSweep;
  request.pre = 0.01, request.length = 0.1;
  const std::string text =
      response_text(measure(request, source, "rec").report, "vellisk-ir 1.1.0");
  MeasuredResponse parsed;
  ASSERT_FALSE(parse_response_text(text, parsed)) << text;
  fuzz_reader({text}, 3601, 3000, false, [](const std::string& mutant) -> std::string {
    MeasuredResponse m;
    if (const std::optional<Problem> error = parse_response_text(mutant, m)) {
      return error->message.find('\n') == std::string::npos ? "refused" : "two lines";
    }
    const SweepParams& p = m.sweep;
    for (double v : {p.rate, p.amplitude, p.hzstart, p.hzend, p.duration, p.silence, p.leadin,
                     p.leadout, m.pre_s, m.length_s}) {
      if (!std::isfinite(v)) return "a number that is not finite";
    }
    if (m.channels.empty() || m.channels.size() > 1024) return "a channel count of 0 or > 1024";
    for (const MeasuredResponse::Channel& c : m.channels) {
      if (!std::isfinite(c.latency_samples.value_or(0)) || !std::isfinite(c.gain_db.value_or(0)))
        return "a channel's value not finite";
      if (c.polarity && *c.polarity != 1 && *c.polarity != -1) return "a polarity not +-1";
    }
    return "";
  });
}

TEST(ParsersFuzz, SweepWavFiles) {
  TempDir dir;
  const std::filesystem::path path = dir.work() / "sweep.wav";
  fuzz_reader({sweep_wav(DesignFile::sweep), sweep_wav(DesignFile::inverse)}, 3602, 600, true,
       [&path](const std::string& mutant) -> std::string {
         write(path, mutant);
         try {
           const SweepFile file = read_sweep_file(path.string());
           // Every sample is checked against the design: only the design written is accepted.
           return std::memcmp(&file.params, &kSweep, sizeof kSweep) == 0 ? "" : "another design";
         } catch (const Error& e) {
           return std::string(e.what()).empty() ? "refused without a word" : "refused";
         }
       });
}

TEST(ParsersFuzz, FrequencyResponseFiles) {
  const std::vector<std::string> seeds = {
      "* from a measurement\nFreq(Hz) SPL(dB) Phase(degrees)\n20 -3.5 170\n100 0.25 90.5\n"
      "1000 0 0\n10000 -1.5 -45\n20000 -6 -120\n",
      "\xef\xbb\xbf" "20;80\r\n200;85.5\r\n2000;86\r\n20000;70\r\n",
      "10, 1\n100, 2\n1000, 3\n"};
  fuzz_reader(seeds, 3603, 3000, false, [](const std::string& mutant) -> std::string {
    const auto frd = parse_frd(mutant);
    if (!frd) return "refused";
    return plausible(frd->frequencies, frd->level, frd->phase) ? "" : "an impossible point";
  });
}

TEST(ParsersFuzz, MicrophoneCalibrationFiles) {
  const std::vector<std::string> seeds = {
      "\"Sens Factor =-1.25dB, SERNO: 1234\"\n* Freq dB deg\n10 -2 5\n100 0 1\n1000 0 0\n"
      "10000 1.5 -10\n20000 -3 -20\n",
      "# two columns\n20 0.5\n2000 0\n20000 -1\n"};
  fuzz_reader(seeds, 3604, 3000, false, [](const std::string& mutant) -> std::string {
    const auto mic = parse_mic_calibration(mutant);
    if (!mic) return "refused";
    if (!std::isfinite(mic->sens_factor_db.value_or(0))) return "a sensitivity not finite";
    return plausible(mic->frequencies(), mic->levels(), mic->phases()) ? "" : "an impossible point";
  });
}
