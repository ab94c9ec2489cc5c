// The library's own parts of a plan and a result, for the programs built with it.
#pragma once

#include <string>

#include "io/response_file.h"
#include "response/calibration_load.h"
#include "response/layout.h"
#include "response/measurement.h"
#include "response/store.h"
#include "response/timing.h"
#include "vellisk/response.h"

namespace vellisk {

class ResponsePlan::State {
 public:
  MeasurementSetup setup;
  TimingSetup timing;
  Measurement planned;
  LoadedCalibration calibration;  // setup.calibration points into it
};

class ResponseResult::Rows {
 public:
  RowStore store;
  Layout layout;
  int channels = 0;
};

// Writes order k's windows of every channel, interleaved, to file. Returns "" or why not.
std::string write_order(const ResponseResult& result, int order, ResponseFile& file);

}  // namespace vellisk
