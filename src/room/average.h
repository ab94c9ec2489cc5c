// Averages over the positions of a room (ISO 3382-2:2008, clause 8: the arithmetic mean of the
// positions' values), their spread, the uncertainty of T20 and T30, and the positions counted
// out. Positions are added one at a time: memory does not grow with their number.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "room/room.h"

namespace vellisk {

// A running mean and sum of squared deviations (Welford's update, exact to rounding whatever
// the mean's size).
struct Spread {
  int count = 0;
  double mean = 0, squares = 0;
  void add(double v);
  std::optional<double> average() const;    // with one value or more
  std::optional<double> deviation() const;  // the sample standard deviation, with two or more
};

// One averaged value, and the positions that had none.
struct AveragedValue {
  Spread spread;
  std::vector<std::string> missing;
};

struct AverageBand {
  std::string label;  // "1k", or "broadband"
  double centre = 0;  // Hz; 0 for the broadband
  AveragedValue edt, t20, t30, c80, d50, ts;
};

struct AverageSingle {
  AveragedValue t30_mid, edt_mid, c80_mid, d50_mid, ts_mid, bass_ratio, sti;
};

struct SpatialAverage {
  bool third = false;
  int positions = 0;
  std::vector<AverageBand> bands;  // every band of the analysis, then the broadband
  AverageSingle single;
};

// An average of no positions yet, over the bands of an octave or third-octave analysis.
SpatialAverage start_average(bool third);

// Adds a position, named for the notes (as "hall.wav, channel 2"). A band it lacks (left out
// at its rate) or a value it does not give counts it out of that value.
void add_position(SpatialAverage& average, const std::string& name, const ChannelAnalysis& channel);

// The standard uncertainty, s, of a mean decay time t over `positions` positions of the
// integrated impulse response method (ISO 3382-2:2008, 7.1 and 7.2): 0.88 t sqrt((1 + 1.90 / n)
// / (N B t)) for T20 and 0.55 t sqrt((1 + 1.52 / n) / (N B t)) for T30, the method counted as
// n = 10 decays at each position, B 0.71 (octaves) or 0.23 (third-octaves) times the centre.
double decay_time_uncertainty(double t, double centre, bool third, int positions, bool t30);

}  // namespace vellisk
