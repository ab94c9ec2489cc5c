// Repeated sweeps: each repeat measured on its own stretch, aligned, compared and averaged.
#pragma once

#include <string>

#include "response/measurement.h"
#include "io/recording.h"
#include "response/store.h"
#include "response/timing.h"

namespace vellisk {

// Measures timing.repeats sweep files played back to back, one repeat's
// stretch at a time, each repeat's windows cut at its own zero instant: the
// reference's arrival in it, or else the lag of its whole response against
// the first repeat's. The repeats' rows wait in a store of their own, which
// spills to a scratch file beyond a fixed budget. A repeat whose noise would
// raise the average's is left out (from two repeats on); the others' windows
// are averaged into store (opened here), and the channels measured on the
// average. Returns "", or one line saying what failed.
std::string measure_repeats(const TimingSetup& timing, const MeasurementSetup& setup,
                            SampleSource& recording, RowStore& store, Measurement& m,
                            TimingResult& result);

}  // namespace vellisk
