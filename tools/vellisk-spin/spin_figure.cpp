// The directivity's figure drawn with PLplot's SVG device into memory: the "spinorama" and the
// orbits' polar maps, one view to a row.
#include "spin_figure.h"

#include <plplot.h>

#include <algorithm>
#include <cmath>

#include "common/console.h"
#include "plot/figure.h"
#include "plot/svg_page.h"

namespace vellisk {
namespace {

// Colours: 0 the background, 1 text and axes, 2 the grid, then the curves'.
constexpr int kText = 1, kGrid = 2, kFirstCurve = 3;
constexpr int kCurveColours[][3] = {{0, 0, 0},     {0, 114, 178}, {0, 158, 115}, {213, 94, 0},
                                    {204, 121, 167}, {86, 180, 233}, {230, 159, 0}};

constexpr int kWidth = 900, kRowHeight = 360, kTitleHeight = 40;
constexpr double kLeft = 0.08, kRight = 0.74, kLegendLeft = 0.83;
constexpr double kStepDb = 3;  // the maps' colour steps

void set_colours() {
  plscmap0n(kFirstCurve + 7);
  plscol0(0, 255, 255, 255);
  plscol0(kText, 30, 30, 30);
  plscol0(kGrid, 222, 222, 222);
  for (int c = 0; c < 7; ++c) plscol0(kFirstCurve + c, kCurveColours[c][0], kCurveColours[c][1], kCurveColours[c][2]);
  // The maps: dark purple through red to pale yellow, rising in lightness with the level.
  const PLFLT at[] = {0, 0.33, 0.66, 1};
  const PLFLT r[] = {0.05, 0.55, 0.93, 0.99}, g[] = {0.03, 0.15, 0.42, 0.98}, b[] = {0.20, 0.42, 0.20, 0.65};
  plscmap1n(256);
  plscmap1l(1, 4, at, r, g, b, nullptr);
}

// The log-frequency axis below the panel drawn last.
void frequency_axis(double lo, double hi, double bottom, double top) {
  plcol0(kText);
  for (const auto& [hz, label] : frequency_ticks(lo, hi)) {
    const double x = std::log10(hz);
    plot_segment(x, bottom, x, bottom + (top - bottom) * 0.015);
    plot_segment(x, top, x, top - (top - bottom) * 0.015);
    plmtex("b", 1.5, (x - std::log10(lo)) / (std::log10(hi) - std::log10(lo)), 0.5, label.c_str());
  }
  plmtex("b", 3.0, 0.5, 0.5, "Frequency (Hz)");
}

void legend_entry(double y, int colour, int style, const char* label) {
  plcol0(colour);
  pllsty(style);
  plwidth(2);
  plot_segment(0, y, 0.18, y);
  plwidth(1);
  pllsty(1);
  plcol0(kText);
  plptex(0.24, y, 1, 0, 0, label);
}

std::vector<double> log_of(const std::vector<double>& f) {
  std::vector<double> x;
  for (const double hz : f) x.push_back(std::log10(hz));
  return x;
}

// The CTA curves on the level axis, the indices on a second axis to the right.
void spin_panel(const SpinCurves& c, double y0, double y1) {
  const std::vector<double> x = log_of(c.frequencies);
  const std::vector<const std::vector<double>*> levels = {&c.on_axis, &c.listening_window, &c.early_reflections,
                                                          &c.sound_power, &c.predicted_in_room};
  double lo = 1e300, hi = -1e300, di_hi = 0;
  for (const auto* v : levels) {
    for (const double d : *v) lo = std::min(lo, std::max(d, -300.0)), hi = std::max(hi, d);
  }
  const LevelAxis axis = level_axis(lo, hi);
  for (const double d : c.spdi) di_hi = std::max(di_hi, d);
  const double span = axis.top - axis.bottom;
  const double di_bottom = -5, di_top = di_bottom + std::max(span, std::ceil((di_hi + 5) / 10) * 10 * 2);
  plvpor(kLeft, kRight, y0, y1);
  plwind(x.front(), x.back(), axis.bottom, axis.top);
  plcol0(kGrid);
  for (double d = axis.bottom; d <= axis.top; d += axis.step) plot_segment(x.front(), d, x.back(), d);
  for (const auto& [hz, label] : frequency_ticks(c.frequencies.front(), c.frequencies.back())) {
    plot_segment(std::log10(hz), axis.bottom, std::log10(hz), axis.top);
  }
  for (std::size_t i = 0; i < levels.size(); ++i) {
    plcol0(kFirstCurve + static_cast<int>(i));
    plwidth(i == 0 ? 2 : 1.5);
    std::vector<double> y = *levels[i];
    for (double& d : y) d = std::clamp(d, axis.bottom, axis.top);
    plot_line(x, y);
  }
  plwidth(1);
  plcol0(kText);
  plbox("bc", 0, 0, "bcntv", axis.step, 0);
  frequency_axis(c.frequencies.front(), c.frequencies.back(), axis.bottom, axis.top);
  plmtex("l", 4.2, 0.5, 0.5, "Level (dB)");
  plwind(x.front(), x.back(), di_bottom, di_top);
  for (std::size_t i = 0; i < 2; ++i) {
    plcol0(kFirstCurve + 5 + static_cast<int>(i));
    pllsty(2);
    std::vector<double> y = i == 0 ? c.erdi : c.spdi;
    for (double& d : y) d = std::clamp(d, di_bottom, di_top);
    plot_line(x, y);
    pllsty(1);
  }
  plcol0(kText);
  plbox("", 0, 0, "cmstv", 5, 0);
  plmtex("r", 4.0, 0.5, 0.5, "Directivity index (dB)");
  plvpor(kLegendLeft, 0.99, y0, y1);
  plwind(0, 1, 0, 1);
  const char* names[] = {"On-axis", "Listening window", "Early reflections", "Sound power",
                         "Predicted in-room", "ERDI", "SPDI"};
  for (int i = 0; i < 7; ++i) legend_entry(0.95 - 0.07 * i, kFirstCurve + i, i < 5 ? 1 : 2, names[i]);
}

// One orbit's map: angles -170 to 180 up, log frequency across, levels in steps of kStepDb
// from the top down to span dB below it; normalised: each angle's level re on-axis.
void polar_map(const SpinSet& s, Orbit orbit, bool normalised, double x0, double x1, double y0, double y1) {
  const auto& o = orbit == Orbit::horizontal ? s.horizontal : s.vertical;
  const std::vector<double> x = log_of(s.frequencies);
  const std::size_t n = x.size();
  const auto level = [&](int k, std::size_t i) {
    return o[static_cast<std::size_t>((k + 36) % 36)][i] - (normalised ? s.horizontal[0][i] : 0.0);
  };
  double top = -1e300;
  for (int k = -17; k <= 18; ++k) {
    for (std::size_t i = 0; i < n; ++i) top = std::max(top, level(k, i));
  }
  top = normalised ? 0 : std::ceil(top / kStepDb) * kStepDb;
  const double span = 36;
  plvpor(x0, x1, y0, y1);
  plwind(x.front(), x.back(), -175, 185);
  std::vector<double> edges(n + 1);
  for (std::size_t i = 1; i < n; ++i) edges[i] = (x[i - 1] + x[i]) / 2;
  edges[0] = x.front(), edges[n] = x.back();
  for (int k = -17; k <= 18; ++k) {
    const auto band = [&](std::size_t i) {
      return std::clamp(std::floor((top - level(k, i)) / kStepDb), 0.0, span / kStepDb - 1);
    };
    std::size_t run = 0;
    for (std::size_t i = 1; i <= n; ++i) {
      if (i < n && band(i) == band(run)) continue;
      plcol1(1 - (band(run) + 0.5) * kStepDb / span);
      const PLFLT cx[] = {edges[run], edges[i], edges[i], edges[run]};
      const PLFLT cy[] = {10.0 * k - 5, 10.0 * k - 5, 10.0 * k + 5, 10.0 * k + 5};
      plfill(4, cx, cy);
      run = i;
    }
  }
  plcol0(kText);
  plbox("bc", 0, 0, "bcntv", 30, 0);
  frequency_axis(s.frequencies.front(), s.frequencies.back(), -175, 185);
  plmtex("l", 4.2, 0.5, 0.5, orbit == Orbit::horizontal ? "Horizontal angle (degrees)" : "Vertical angle (degrees, up)");
  // The colour bar, to the right.
  plvpor(x1 + 0.015, x1 + 0.03, y0, y1);
  plwind(0, 1, top - span, top);
  for (int b = 0; b < static_cast<int>(span / kStepDb); ++b) {
    plcol1(1 - (b + 0.5) * kStepDb / span);
    const PLFLT cx[] = {0, 1, 1, 0};
    const PLFLT cy[] = {top - (b + 1) * kStepDb, top - (b + 1) * kStepDb, top - b * kStepDb, top - b * kStepDb};
    plfill(4, cx, cy);
  }
  plcol0(kText);
  plbox("bc", 0, 0, "bcmstv", 6, 0);
  plmtex("r", 4.0, 0.5, 0.5, normalised ? "dB re on-axis" : "Level (dB)");
}

void view_title(const char* text, double y1) {
  plvpor(kLeft, kRight, y1, y1 + 0.01);
  plwind(0, 1, 0, 1);
  plcol0(kText);
  plmtex("t", 1.0, 0, 0, text);
}

void draw_view(const SpinFigure& f, const std::string& view, double y0, double y1) {
  if (view == "spin") {
    spin_panel(*f.curves, y0, y1);
    view_title("The CTA-2034-A curves, and the directivity indices on the right axis", y1);
  } else if (view == "polar-h" || view == "polar-v") {
    const bool h = view == "polar-h";
    polar_map(*f.set, h ? Orbit::horizontal : Orbit::vertical, false, kLeft, kRight, y0, y1);
    view_title(h ? "Horizontal orbit: level over angle and frequency" : "Vertical orbit: level over angle and frequency", y1);
  } else {
    const double mid = (kLeft + 0.92) / 2;
    polar_map(*f.set, Orbit::horizontal, true, kLeft, mid - 0.1, y0, y1);
    view_title("Horizontal, re on-axis", y1);
    polar_map(*f.set, Orbit::vertical, true, mid + 0.06, 0.88, y0, y1);
    plvpor(mid + 0.06, 0.88, y1, y1 + 0.01);
    plwind(0, 1, 0, 1);
    plcol0(kText);
    plmtex("t", 1.0, 0, 0, "Vertical, re on-axis");
  }
}

}  // namespace

std::string draw_spin_figure(const SpinFigure& figure, std::string& svg) {
  const std::vector<std::string> views = figure.views.empty() ? std::vector<std::string>{"spin"} : figure.views;
  const int height = kTitleHeight + static_cast<int>(views.size()) * kRowHeight;
  return draw_svg_page(
      kWidth, height, [] { set_colours(); },
      [&] {
        pladv(0);
        plschr(10 * 25.4 / 90, 1.0);  // characters 10 units high: millimetres at 90 units an inch
        plvpor(0, 1, 0, 1);
        plwind(0, 1, 0, 1);
        plcol0(kText);
        plmtex("t", -1.6, 0.5, 0.5, figure.title.c_str());
        const double h = static_cast<double>(kRowHeight) / height;
        const double page_top = 1 - static_cast<double>(kTitleHeight) / height;
        for (std::size_t v = 0; v < views.size(); ++v) {
          const double top = page_top - static_cast<double>(v) * h;
          draw_view(figure, views[v], top - h + 0.17 * h, top - 0.1 * h);
        }
      },
      svg);
}

}  // namespace vellisk
