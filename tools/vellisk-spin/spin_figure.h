// The directivity's figure: the CTA-2034-A curves with their indices, and colour maps of level
// over angle and frequency for each orbit, as SVG drawn by PLplot.
#pragma once

#include <string>
#include <vector>

#include "vellisk/spin.h"

namespace vellisk {

// The views a figure may show, in the order --views names them.
inline constexpr const char* kSpinViews[] = {"spin", "polar-h", "polar-v", "polar-normalised"};

struct SpinFigure {
  std::string title;
  const SpinSet* set = nullptr;
  const SpinCurves* curves = nullptr;
  std::vector<std::string> views;  // of kSpinViews, top to bottom; none: spin
};

// Draws the figure into an SVG document. Returns "" and the document in svg, or the reason
// it could not be drawn.
std::string draw_spin_figure(const SpinFigure& figure, std::string& svg);

}  // namespace vellisk
