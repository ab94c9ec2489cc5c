// The parts of a correction its steps share: the inputs read, curves interpolated, the target.
#pragma once

#include <string>
#include <vector>

#include "vellisk/eq.h"

namespace vellisk {

// The inputs read (see plan_correction) and averaged; responses takes how many responses they
// held. Throws Error naming the input and line.
EqCurve read_average(const std::vector<std::string>& names, EqAverage mode, int& responses);

// The target file's rows. Throws Error naming the file and line.
EqCurve read_target(const std::string& name);

// The curve's level at f, linear in log frequency between its rows, its end rows' beyond them.
double level_at(const EqCurve& curve, double f);

// The request's target at f before its alignment: flat, the file's rows, or the house curve.
double target_at(const EqRequest& request, const EqCurve& file, double f);

// On the fit's points, base the smoothed response less the aligned target (dB) and total a
// correction's gain: the corrected response less the target aligned to it by the mean.
std::vector<double> aligned_deviation(const std::vector<double>& base,
                                      const std::vector<double>& total);

// What a fit minimises: the rms of aligned_deviation, and, weighted, the boost beyond
// max_boost_db and the level the correction takes away on average (so that cuts all around a
// dip do not stand in for a boost of it).
double correction_cost(const std::vector<double>& base, const std::vector<double>& total,
                       double max_boost_db);

// The rms and largest magnitude of aligned_deviation, dB.
EqError error_to_target(const std::vector<double>& base, const std::vector<double>& total);

// The curve's mean power over the 1/6 octave centred at f (its level there when no row lies
// within it), dB.
double sixth_octave_level(const EqCurve& curve, double f);

}  // namespace vellisk
