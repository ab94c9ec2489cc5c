// The run of vellisk-ir: its checks, the measurement, the report and the files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options.h"
#include "io/response_file.h"
#include "sweep/sweep_design.h"

namespace vellisk {

// A run that passed every check that needs no recording.
struct IrJob {
  IrOptions options;
  SweepParams params;
  SweepDesign design;
  std::string recording;
  std::string irfile;
  ResponseFormat format = ResponseFormat::kWav;
  std::int64_t pre = 0;     // samples kept before the zero instant
  std::int64_t length = 0;  // samples kept after it
  int orders = 1;
  std::vector<std::string> outputs;  // irfile, the harmonic files, the figure, the JSON report
  bool banner = true;                // print vellisk-ir's banner before the report
};

// Checks the options, the eight numbers (numbers[0] to numbers[7]) and the
// names, everything that can be refused before the recording is read. Returns
// "" and fills job, or one line naming the value and the rule.
std::string prepare_ir_job(const IrOptions& options, const char* const* numbers,
                           const std::string& recording, const std::string& irfile, IrJob& job);

// Every output's name for a recording of `channels` channels: job.outputs,
// then the text files' (frd_name), each checked against the recording and
// the others, and the text files' against their folders. Returns "" and the
// names in outputs, or one line naming the file and the rule.
std::string output_names_error(const IrJob& job, int channels, std::vector<std::string>& outputs);

// Reads the recording, measures, reports on standard output and writes the
// files. Returns the exit status, after one line on standard error on failure.
int run_ir_job(const IrJob& job);

// Runs the program; returns the process exit status.
int run_ir(int argc, char** argv);

}  // namespace vellisk
