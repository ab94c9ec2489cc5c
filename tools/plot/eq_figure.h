// A picture of a correction: the measured response, the target, the prediction and the
// filters' gain, as SVG drawn by PLplot.
#pragma once

#include <string>
#include <vector>

namespace vellisk {

struct EqFigureCurve {
  std::string label;
  std::vector<double> hz, db;
};

struct EqFigure {
  std::string title, facts;
  double low_hz = 20, high_hz = 20000;  // the frequency axis
  double range_low_hz = 0, range_high_hz = 0;  // the match range, marked
  std::vector<EqFigureCurve> levels;  // the upper panel: measured, target, predicted
  std::vector<EqFigureCurve> gains;   // the lower panel: the filters' (and the FIR's) gain
};

// Draws the figure; returns "" and the document in svg, or why it could not be drawn.
std::string draw_eq_figure(const EqFigure& figure, std::string& svg);

}  // namespace vellisk
