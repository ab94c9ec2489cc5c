// A picture of a correction: the measured response, the target, the prediction and the
// filters' gain, as SVG drawn by PLplot.
#include "plot/eq_figure.h"

#include <plplot.h>

#include <algorithm>
#include <cmath>

#include "plot/figure.h"
#include "plot/svg_page.h"

namespace vellisk {

namespace {

constexpr int kText = 1, kGrid = 2, kFirst = 3;
constexpr int kHues[][3] = {{0, 114, 178}, {30, 30, 30}, {213, 94, 0}, {0, 158, 115}, {204, 121, 167}};

void colours() {
  plscmap0n(kFirst + 5);
  plscol0(0, 255, 255, 255);
  plscol0(kText, 30, 30, 30);
  plscol0(kGrid, 222, 222, 222);
  for (int c = 0; c < 5; ++c) plscol0(kFirst + c, kHues[c][0], kHues[c][1], kHues[c][2]);
}

std::vector<double> logs(const std::vector<double>& hz) {
  std::vector<double> x;
  for (const double f : hz) x.push_back(std::log10(f));
  return x;
}

// One panel of curves against log frequency, its level axis fitted to them, a legend on the
// right, the match range shaded by two lines.
void panel(const EqFigure& f, const std::vector<EqFigureCurve>& curves, double y0, double y1,
           const char* name, int first_colour, bool frequency_name) {
  double lo = 1e300, hi = -1e300;
  for (const EqFigureCurve& c : curves) {
    for (std::size_t i = 0; i < c.hz.size(); ++i) {
      if (c.hz[i] >= f.low_hz && c.hz[i] <= f.high_hz) lo = std::min(lo, c.db[i]), hi = std::max(hi, c.db[i]);
    }
  }
  if (lo > hi) lo = -1, hi = 1;
  const LevelAxis axis = level_axis(lo, hi);
  const double x0 = std::log10(f.low_hz), x1 = std::log10(f.high_hz);
  plvpor(0.1, 0.8, y0, y1);
  plwind(x0, x1, axis.bottom, axis.top);
  plcol0(kGrid);
  for (const auto& [hz, label] : frequency_ticks(f.low_hz, f.high_hz)) {
    plot_segment(std::log10(hz), axis.bottom, std::log10(hz), axis.top);
  }
  for (double y = axis.bottom; y <= axis.top + 1e-9; y += axis.step) plot_segment(x0, y, x1, y);
  plcol0(kText);
  for (const double r : {f.range_low_hz, f.range_high_hz}) {
    if (r > f.low_hz && r < f.high_hz) {
      pllsty(2);
      plot_segment(std::log10(r), axis.bottom, std::log10(r), axis.top);
      pllsty(1);
    }
  }
  plbox("bc", 0, 0, "bcntv", axis.step, 0);
  for (const auto& [hz, label] : frequency_ticks(f.low_hz, f.high_hz)) {
    plmtex("b", 1.5, (std::log10(hz) - x0) / (x1 - x0), 0.5, label.c_str());
  }
  if (frequency_name) plmtex("b", 3.0, 0.5, 0.5, "Frequency (Hz)");
  plmtex("l", 3.5, 0.5, 0.5, name);
  for (std::size_t k = 0; k < curves.size(); ++k) {
    plcol0(kFirst + (first_colour + static_cast<int>(k)) % 5);
    plwidth(2);
    plot_line(logs(curves[k].hz), curves[k].db);
    plwidth(1);
    const double y = axis.top - (axis.top - axis.bottom) * (0.06 + 0.09 * static_cast<double>(k));
    plvpor(0.82, 0.99, y0, y1);
    plwind(0, 1, axis.bottom, axis.top);
    plot_segment(0, y, 0.18, y);
    plcol0(kText);
    plptex(0.22, y, 1, 0, 0, curves[k].label.c_str());
    plvpor(0.1, 0.8, y0, y1);
    plwind(x0, x1, axis.bottom, axis.top);
  }
}

}  // namespace

std::string draw_eq_figure(const EqFigure& f, std::string& svg) {
  return draw_svg_page(800, 600, colours, [&f] {
    pladv(0);
    plschr(0, 0.62);
    plvpor(0, 1, 0, 1);
    plwind(0, 1, 0, 1);
    plcol0(kText);
    plmtex("t", -1.6, 0.5, 0.5, f.title.c_str());
    plmtex("t", -3.0, 0.5, 0.5, f.facts.c_str());
    panel(f, f.levels, 0.42, 0.88, "Level (dB)", 0, false);
    panel(f, f.gains, 0.08, 0.34, "Correction (dB)", 3, true);
  }, svg);
}

}  // namespace vellisk
