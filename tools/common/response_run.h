// The response's part of a run of vellisk-ir or vellisk-measure: its checks, the measurement
// through the library, the report and the files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/response_options.h"
#include "vellisk/files.h"
#include "vellisk/response.h"

namespace vellisk {

// A run that passed every check that needs no recording.
struct ResponseJob {
  ResponseOptions options;
  long channels = 0;  // channels of a headerless recording (vellisk-ir's --channels); 0: not given
  ResponseRequest request;
  std::string recording;
  std::string irfile;
  ResponseFormat format = ResponseFormat::kWav;
  std::vector<std::string> outputs;  // irfile, the harmonic files, the figure, the JSON report
  bool banner = true;                // print vellisk-ir's banner before the report
};

// Checks the options, the sweep's design and the names (each output against the others and
// against every file the run reads), everything that can be refused before the recording is
// read. Returns "" and fills job, or one line naming the value and the rule.
std::string prepare_response_job(const ResponseOptions& options, long channels,
                                 const SweepParams& params, const std::string& recording,
                                 const std::string& irfile, ResponseJob& job);

// Whether output, the file of `parameter` ("irfile", "recording" or "output"), is one the run
// reads: the recording (none when empty) or the file of --sweep, --mic-cal or --spl-cal.
// Returns "" or the refusal, which names both and the input that would be lost.
std::string overwritten_input_error(const ResponseOptions& options, const std::string& recording,
                                   const char* parameter, const std::string& output);

// Every output's name for a recording of `channels` channels: job.outputs, then the text
// files' (frd_name), each checked against the recording and the others, and the text files'
// against their folders. Returns "" and the names in outputs, or one line naming the file and
// the rule.
std::string response_names_error(const ResponseJob& job, int channels,
                                 std::vector<std::string>& outputs);

// Reads the recording, measures, reports on standard output and writes the files. Returns the
// exit status, after one line on standard error on failure.
int run_response_job(const ResponseJob& job);

}  // namespace vellisk

namespace vellisk {

// The library's checks of a recording not yet made, of `channels` channels and `frames` frames
// at the sweep's rate: the timing options against it, the memory, the calibration files. For
// vellisk-measure, which must refuse them before anything plays. Returns "" or the refusal.
std::string planned_recording_error(const ResponseJob& job, int channels, std::int64_t frames);

}  // namespace vellisk
