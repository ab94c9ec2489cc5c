// The report's lines on timing: the reference's latency, the repeats and the clock drift.
#pragma once

#include "response/timing.h"
#include "sweep/sweep_design.h"

// Prints them, and warns on standard error of a drift measured and left uncorrected that
// spreads the response's arrival over more than half a sample.
void report_timing(const TimingSetup& timing, const TimingResult& result, const SweepDesign& d);
