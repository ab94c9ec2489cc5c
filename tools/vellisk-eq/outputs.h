// The texts vellisk-eq writes: the equalisers' files, the predicted response, the JSON report
// and the printed report's lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "options.h"
#include "vellisk/eq.h"

namespace vellisk {

// Which of the rates is the lowest: the rate the fit, the figure, CamillaDSP's FIR and the
// report's FIR error take.
std::size_t lowest_rate(const std::vector<double>& rates);

// "PK", "LSC" or "HSC": EqualizerAPO's names of the filter types.
const char* apo_type(EqFilterType type);

// EqualizerAPO's text (which REW's Generic equaliser reads): the preamp, then one line a filter.
std::string apo_text(const EqCorrection& c);

// A CamillaDSP configuration fragment: the preamp and the filters, and a pipeline step of them.
// With fir (the FIR's WAV file), its Conv filter too, which the pipeline then applies alone.
std::string camilladsp_text(const EqCorrection& c, const std::string& fir = {});

// Each filter's normalised coefficients at each rate.
std::string biquads_text(const EqCorrection& c, const std::vector<double>& rates);

// The predicted response as .frd rows; through says through what.
std::string predicted_text(const EqCurve& predicted, const std::string& through);

// The JSON report: the inputs, the range, the target, the filters, the preamp, the latency and
// the errors.
std::string eq_json(const EqOptions& o, const EqPlan& plan, const EqCorrection& c,
                    const std::vector<EqFir>& firs);

// The printed report's lines.
std::vector<std::string> report_lines(const EqOptions& o, const EqPlan& plan, const EqCorrection& c,
                                      const std::vector<EqFir>& firs);

}  // namespace vellisk
