// The figure, drawn with PLplot's SVG device into memory.
#include "plot/figure.h"

#include <fcntl.h>
#include <plplot.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>

#include "format/formatted.h"
#include "plot/svg_page.h"

namespace vellisk {

namespace {

// Colours: 0 the background, 1 text and axes, 2 the grid, then one per
// channel, from a palette that stays apart for colour-blind readers; a
// channel's harmonics are drawn in its colour, each order in its own dashes.
constexpr int kText = 1;
constexpr int kGrid = 2;
constexpr int kFirstCurve = 3;
constexpr int kHues[][3] = {{0, 114, 178}, {213, 94, 0},   {0, 158, 115}, {204, 121, 167},
                            {230, 159, 0}, {86, 180, 233}, {0, 0, 0},     {150, 130, 0}};
constexpr int kMaxColours = 256;

// The panels' left and right edges on the page; the legends go right of them.
constexpr double kLeft = 0.1;
constexpr double kRight = 0.84;

int curve_colour(int channel) { return kFirstCurve + channel % 8; }

void set_palette() {
  plscmap0n(kFirstCurve + 8);
  plscol0(0, 255, 255, 255);
  plscol0(kText, 30, 30, 30);
  plscol0(kGrid, 222, 222, 222);
  for (int c = 0; c < 8; ++c) plscol0(curve_colour(c), kHues[c][0], kHues[c][1], kHues[c][2]);
}

const auto line = plot_line;
const auto segment = plot_segment;

// The line of order k: solid for the response, and for each harmonic order a
// pattern of dashes (micrometres on the page), long enough that a curve is a
// few dozen strokes; every mark is a dash, longer than the noise line's dots.
void set_order_line(int k) {
  static const PLINT marks[][2] = {{4000, 0}, {2000, 0}, {5000, 2000}, {8000, 0}};
  static const PLINT spaces[][2] = {{2000, 0}, {1500, 0}, {1500, 1500}, {2500, 0}};
  if (k == 1) {
    pllsty(1);
    return;
  }
  const int p = (k - 2) % 4;
  plstyl(marks[p][1] != 0 ? 2 : 1, marks[p], spaces[p]);
}

// The noise lines' dots.
void set_noise_line() {
  static const PLINT mark = 600, space = 1200;
  plstyl(1, &mark, &space);
}

// The legends' rows, a fraction of the page's height apart.
constexpr double kPageRowPitch = 0.022;  // of the 600-pixel page
double kRowPitch = kPageRowPitch;          // of the page drawn

// One legend entry in the right margin, row `row` below `top` (a fraction of
// the page's height).
template <class Line>
void legend_entry(double top, int row, int colour, Line set_line, const std::string& label) {
  plvpor(0.86, 0.99, 0, 1);
  plwind(0, 1, 0, 1);
  const double y = top - 0.02 - kRowPitch * row;
  plcol0(colour);
  set_line();
  plwidth(2);
  segment(0, y, 0.2, y);
  plwidth(1);
  pllsty(1);
  plcol0(kText);
  plptex(0.25, y, 1, 0, 0, label.c_str());
}

// "H" and 2 give "H2". (Appending avoids a false -Wrestrict of GCC 12 on
// operator+ of a literal and a temporary string.)
std::string numbered(const char* text, int n) {
  std::string s = text;
  s += std::to_string(n);
  return s;
}

// The silent channels, above the right of the panel drawn last: "Ch 2, 5: no response", as a
// map of one says it.
void silent_note(const Figure& f) {
  std::string channels;
  for (std::size_t c = 0; c < f.channels.size(); ++c) {
    if (f.channels[c].silent) channels += (channels.empty() ? "" : ", ") + std::to_string(c + 1);
  }
  if (channels.empty()) return;
  plcol0(kText);
  plmtex("t", 1.0, 1, 1, ("Ch " + channels + ": no response").c_str());
}

double finite_max(const std::vector<double>& v) {
  double m = -std::numeric_limits<double>::infinity();
  for (const double x : v) {
    if (std::isfinite(x)) m = std::max(m, x);
  }
  return m;
}

// The smallest level above the floor that stands for no power at all.
double level_min(const std::vector<double>& v) {
  double m = std::numeric_limits<double>::infinity();
  for (const double x : v) {
    if (std::isfinite(x) && x > -299) m = std::min(m, x);
  }
  return m;
}

// The level that all but a twentieth of v's points (above that floor) reach:
// where a noise spectrum lies, without its deepest notches.
double level_floor(const std::vector<double>& v) {
  std::vector<double> levels;
  for (const double x : v) {
    if (std::isfinite(x) && x > -299) levels.push_back(x);
  }
  if (levels.empty()) return std::numeric_limits<double>::infinity();
  const auto at = levels.begin() + static_cast<std::ptrdiff_t>(levels.size() / 20);
  std::nth_element(levels.begin(), at, levels.end());
  return *at;
}

}  // namespace

LevelAxis level_axis(double lowest, double highest) {
  LevelAxis a;
  if (!std::isfinite(highest)) highest = 0;
  if (!(lowest <= highest)) lowest = highest;
  const double top = std::ceil((highest + 3) / 10) * 10;
  const double span = std::clamp(top - std::floor((lowest - 3) / 10) * 10, 40.0, 200.0);
  a.step = span <= 100 ? 10 : 20;
  a.top = std::ceil(top / a.step) * a.step;
  a.bottom = std::floor((top - span) / a.step) * a.step;
  if (a.top - a.bottom > 200) a.bottom += a.step;
  return a;
}

namespace {

// The level axis that holds every channel's response, harmonics and the bulk of its noise.
LevelAxis magnitude_axis(const Figure& f) {
  double highest = -std::numeric_limits<double>::infinity();
  double lowest = std::numeric_limits<double>::infinity();
  for (const FigureChannel& c : f.channels) {
    if (c.silent) continue;
    highest = std::max(highest, finite_max(c.level.y));
    lowest = std::min(lowest, level_min(c.level.y));
    for (const FigureCurve& h : c.harmonics) lowest = std::min(lowest, level_min(h.y));
    lowest = std::min(lowest, level_floor(c.noise.y));
  }
  return level_axis(lowest, highest);
}

// Each channel's orders, its highest first and its response last, then its noise.
void magnitude_curves(const Figure& f, int orders) {
  for (int c = 0; c < static_cast<int>(f.channels.size()); ++c) {
    const FigureChannel& ch = f.channels[static_cast<std::size_t>(c)];
    if (ch.silent) continue;
    for (int k = orders; k >= 1; --k) {
      const FigureCurve& curve = k == 1 ? ch.level : ch.harmonics[static_cast<std::size_t>(k - 2)];
      std::vector<double> x;
      for (const double hz : curve.x) x.push_back(std::log10(hz));
      plcol0(curve_colour(c));
      set_order_line(k);
      plwidth(k == 1 ? 2 : 1.5);
      line(x, curve.y);
    }
    std::vector<double> x;
    for (const double hz : ch.noise.x) x.push_back(std::log10(hz));
    plcol0(curve_colour(c));
    set_noise_line();
    plwidth(1);
    line(x, ch.noise.y);
  }
}

// The level panel's title; with a gate, the gate's in it, and the lowest frequency the gated
// curve resolves marked on the panel (plwind from lo to hi, bottom to top).
std::string magnitude_title(const Figure& f, double lo, double hi, double bottom, double top) {
  std::string title = "Level (" + f.level_unit + numbered("), 1/", f.smoothing) + "-octave smoothing";
  if (f.gate_ms > 0) {
    char gate[64];
    std::snprintf(gate, sizeof gate, ", gated at %g ms", f.gate_ms);
    title += gate;
    // Below 1 / gate the gated curve no longer resolves the response.
    const double resolved = std::log10(1000 / f.gate_ms);
    if (resolved > lo && resolved < hi) {
      plcol0(kText);
      pllsty(2);
      segment(resolved, bottom, resolved, top);
      pllsty(1);
      plptex(resolved, top - (top - bottom) * 0.06, 1, 0, -0.05, "1 / gate");
    }
  }
  return title;
}

// Each channel, then its harmonic orders in its colour; when they would not fit, the orders
// once, in the text's colour; then the noise.
void magnitude_legend(const Figure& f, int orders, double y1) {
  const int channels = static_cast<int>(f.channels.size());
  const bool each = channels * orders <= 12;
  int row = 0;
  for (int c = 0; c < channels; ++c) {
    const FigureChannel& ch = f.channels[static_cast<std::size_t>(c)];
    legend_entry(
        y1, row++, curve_colour(c), [] { set_order_line(1); }, numbered("Channel ", c + 1));
    for (int k = 2; k <= orders && each && !ch.silent; ++k) {
      legend_entry(
          y1, row++, curve_colour(c), [k] { set_order_line(k); },
          channels == 1 ? numbered("H", k) : numbered("", c + 1).append(numbered(": H", k)));
    }
  }
  for (int k = 2; k <= orders && !each; ++k) {
    legend_entry(
        y1, row++, kText, [k] { set_order_line(k); }, numbered("H", k));
  }
  legend_entry(y1, row, kText, set_noise_line, "Noise");
}

void magnitude_panel(const Figure& f, int orders, double y0 = 0.52, double y1 = 0.88) {
  const double lo = std::log10(f.hzstart);
  const double hi = std::log10(f.hzend);
  const LevelAxis axis = magnitude_axis(f);
  const double top = axis.top;
  const double bottom = axis.bottom;
  plvpor(kLeft, kRight, y0, y1);
  plwind(lo, hi, bottom, top);
  plcol0(kGrid);
  const auto ticks = frequency_ticks(f.hzstart, f.hzend);
  for (const auto& [hz, label] : ticks) segment(std::log10(hz), bottom, std::log10(hz), top);
  for (double db = bottom + axis.step; db < top; db += axis.step) segment(lo, db, hi, db);
  magnitude_curves(f, orders);
  plwidth(1);
  pllsty(1);
  plcol0(kText);
  plbox("bc", 0, 0, "bcntv", axis.step, 0);
  silent_note(f);
  for (const auto& [hz, label] : ticks) {
    const double at = (std::log10(hz) - lo) / (hi - lo);
    segment(std::log10(hz), bottom, std::log10(hz), bottom + (top - bottom) * 0.02);
    plmtex("b", 1.5, at, 0.5, label.c_str());
  }
  plmtex("b", 3.0, 0.5, 0.5, "Frequency (Hz)");
  const std::string title = magnitude_title(f, lo, hi, bottom, top);
  if (f.views.empty()) {
    plmtex("l", 4.2, 0.5, 0.5, title.c_str());
  } else {
    plmtex("l", 4.2, 0.5, 0.5, ("Level (" + f.level_unit + ")").c_str());
    plmtex("t", 1.0, 0, 0, title.c_str());
  }
  magnitude_legend(f, orders, y1);
}

// Each channel's envelope and noise line, and with a gate where it ends (plwind from the
// first to the last time, bottom to top).
void envelope_curves(const Figure& f, double bottom, double top) {
  for (int c = 0; c < static_cast<int>(f.channels.size()); ++c) {
    const FigureChannel& ch = f.channels[static_cast<std::size_t>(c)];
    if (ch.silent) continue;
    plcol0(curve_colour(c));
    plwidth(1.5);
    line(ch.envelope.x, ch.envelope.y);
    set_noise_line();
    segment(f.first_ms, ch.noise_db, f.last_ms, ch.noise_db);
    if (f.gate_ms > 0) {
      // Where the gate ends: what lies after it is left out of the level curves.
      const double end = ch.latency_ms + f.gate_ms;
      segment(end, bottom, end, top);
      if (c == 0) plptex(end, top - (top - bottom) * 0.2, 1, 0, -0.05, "gate");
    }
    pllsty(1);
  }
}

// One channel's latency and peak-to-noise are in the title; several channels give theirs
// here, under a heading: the envelope's entry the latency, the noise line's the
// peak-to-noise.
void envelope_legend(const Figure& f, double y0, double y1) {
  const int channels = static_cast<int>(f.channels.size());
  if (channels == 1) {
    if (!f.channels[0].silent) legend_entry(y1, 0, curve_colour(0), set_noise_line, "Noise 1");
    return;
  }
  // Many rows rise above the panel, into the space between the panels.
  int rows = 2;
  for (const FigureChannel& ch : f.channels) rows += ch.silent ? 0 : 2;
  if (rows == 2) return;  // every channel silent
  const double legend = std::max(y1, y0 + 0.02 + kRowPitch * rows);
  plvpor(0.86, 0.99, 0, 1);
  plwind(0, 1, 0, 1);
  plptex(0, legend - 0.02, 1, 0, 0, "Latency,");
  plptex(0, legend - 0.02 - kRowPitch, 1, 0, 0, "peak-to-noise");
  int row = 2;
  for (int c = 0; c < channels; ++c) {
    const FigureChannel& ch = f.channels[static_cast<std::size_t>(c)];
    if (ch.silent) continue;  // the note above the panel names it
    legend_entry(
        legend, row++, curve_colour(c), [] { pllsty(1); },
        formatted("%d: %.2f ms", c + 1, ch.latency_ms));
    legend_entry(legend, row++, curve_colour(c), set_noise_line,
                 formatted("%d: %s", c + 1, ch.peak_to_noise.c_str()));
  }
}

void envelope_panel(const Figure& f, double y0 = 0.08, double y1 = 0.36) {
  double top = -std::numeric_limits<double>::infinity();
  double lowest_noise = 0;
  for (const FigureChannel& c : f.channels) {
    if (c.silent) continue;
    top = std::max(top, finite_max(c.envelope.y));
    lowest_noise = std::min(lowest_noise, c.noise_db);
  }
  if (!std::isfinite(top)) top = 0;  // every channel silent: an axis about full scale
  top = std::ceil(top / 10) * 10 + 10;
  const double bottom = std::max(top - 200, std::floor((lowest_noise - 20) / 20) * 20);
  plvpor(kLeft, kRight, y0, y1);
  plwind(f.first_ms, f.last_ms, bottom, top);
  plcol0(kGrid);
  plbox("g", 0, 0, "g", 20, 0);
  envelope_curves(f, bottom, top);
  plwidth(1);
  plcol0(kText);
  pllsty(2);
  segment(0, bottom, 0, top);
  pllsty(1);
  plptex(0, top - (top - bottom) * 0.06, 1, 0, -0.05, "zero instant");
  plbox("bcnt", 0, 0, "bcntv", 20, 0);
  silent_note(f);
  plmtex("b", 3.0, 0.5, 0.5, "Time from the zero instant (ms)");
  plmtex("l", 4.2, 0.5, 0.5, "Envelope (dB)");
  envelope_legend(f, y0, y1);
}

// The log-frequency axis of the panel drawn last (plwind from log10 lo to log10 hi, bottom
// to top): grid lines, ticks and their labels below, and its name.
void frequency_axis(double lo_hz, double hi_hz, double bottom, double top, bool name,
                    bool narrow = false) {
  const double lo = std::log10(lo_hz), hi = std::log10(hi_hz);
  const auto ticks = frequency_ticks(lo_hz, hi_hz);
  plcol0(kText);
  for (const auto& [hz, label] : ticks) {
    if (narrow && label[0] != '1') continue;  // decades only where the axis is short
    const double at = (std::log10(hz) - lo) / (hi - lo);
    segment(std::log10(hz), bottom, std::log10(hz), bottom + (top - bottom) * 0.03);
    plmtex("b", 1.5, at, 0.5, label.c_str());
  }
  if (name) plmtex("b", 3.0, 0.5, 0.5, "Frequency (Hz)");
}

void frequency_grid(double lo_hz, double hi_hz, double bottom, double top) {
  plcol0(kGrid);
  for (const auto& [hz, label] : frequency_ticks(lo_hz, hi_hz)) {
    segment(std::log10(hz), bottom, std::log10(hz), top);
  }
}

// The values of v between its 2nd and 98th percentiles' range, padded: an axis that a few
// wild bins at the band's edges do not squash.
std::pair<double, double> robust_range(std::vector<double> v, double least_span) {
  std::erase_if(v, [](double x) { return !std::isfinite(x); });
  if (v.empty()) return {-least_span / 2, least_span / 2};
  std::sort(v.begin(), v.end());
  double a = v[v.size() / 50], b = v[v.size() - 1 - v.size() / 50];
  const double pad = std::max((b - a) * 0.1, (least_span - (b - a)) / 2);
  return {a - std::max(pad, 0.0), b + std::max(pad, 0.0)};
}

// A step at least a fifth of span, 1, 2 or 5 times a power of ten.
double nice_step(double span) {
  const double raw = span / 5, decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0}) {
    if (m * decade >= raw) return m * decade;
  }
  return 10 * decade;
}

// One curve per channel against log frequency, and with `dashed` a second in dashes; the
// value axis fixed (fixed_step > 0) or fitted to the curves.
void frequency_curves_panel(const Figure& f, double y0, double y1, const std::string& label,
                            const FigureCurve FigureChannel::*solid,
                            const FigureCurve FigureChannel::*dashed, double fixed_low,
                            double fixed_high, double fixed_step, const char* dashed_name) {
  double bottom = fixed_low, top = fixed_high, step = fixed_step;
  if (!(fixed_step > 0)) {
    std::vector<double> all;
    for (const FigureChannel& c : f.channels) {
      if (c.silent) continue;
      all.insert(all.end(), (c.*solid).y.begin(), (c.*solid).y.end());
      if (dashed != nullptr) all.insert(all.end(), (c.*dashed).y.begin(), (c.*dashed).y.end());
    }
    std::tie(bottom, top) = robust_range(all, 0.2);
    step = nice_step(top - bottom);
    bottom = std::floor(bottom / step) * step;
    top = std::ceil(top / step) * step;
  }
  const double lo = std::log10(f.hzstart), hi = std::log10(f.hzend);
  plvpor(kLeft, kRight, y0, y1);
  plwind(lo, hi, bottom, top);
  frequency_grid(f.hzstart, f.hzend, bottom, top);
  for (double v = bottom + step; v < top - step / 2; v += step) segment(lo, v, hi, v);
  for (int c = 0; c < static_cast<int>(f.channels.size()); ++c) {
    const FigureChannel& ch = f.channels[static_cast<std::size_t>(c)];
    for (const FigureCurve FigureChannel::*which : {solid, dashed}) {
      if (which == nullptr || ch.silent) continue;
      plcol0(curve_colour(c));
      set_order_line(which == solid ? 1 : 2);
      plwidth(which == solid ? 2 : 1.5);
      // A wrapped phase is not joined across its wraps.
      const FigureCurve& curve = ch.*which;
      std::vector<double> x, y;
      for (std::size_t i = 0; i < curve.x.size(); ++i) {
        if (fixed_step > 0 && !y.empty() && std::abs(curve.y[i] - y.back()) > 180) {
          line(x, y);
          x.clear(), y.clear();
        }
        x.push_back(std::log10(curve.x[i]));
        y.push_back(curve.y[i]);
      }
      line(x, y);
    }
  }
  plwidth(1);
  pllsty(1);
  plcol0(kText);
  plbox("bc", 0, 0, "bcntv", step, 0);
  silent_note(f);
  frequency_axis(f.hzstart, f.hzend, bottom, top, true);
  plmtex("l", 4.2, 0.5, 0.5, label.substr(0, label.find(',')).c_str());
  if (label.find(',') != std::string::npos) plmtex("t", 1.0, 0, 0, label.substr(label.find(',') + 2).c_str());
  int row = 0;
  for (int c = 0; c < static_cast<int>(f.channels.size()); ++c) {
    legend_entry(y1, row++, curve_colour(c), [] { set_order_line(1); }, numbered("Ch ", c + 1));
  }
  if (dashed != nullptr) legend_entry(y1, row, kText, [] { set_order_line(2); }, dashed_name);
}

// Each channel's step response from 2 ms before the earliest arrival to 30 ms after the
// latest; silent channels have none, and with none at all the axes are those of a response
// at the zero instant.
void step_panel(const Figure& f, double y0, double y1) {
  double first = INFINITY, last = -INFINITY;
  for (const FigureChannel& c : f.channels) {
    if (c.silent) continue;
    first = std::min(first, c.latency_ms - 2);
    last = std::max(last, c.latency_ms + 30);
  }
  if (!(first <= last)) first = -2, last = 30;
  first = std::max(first, f.first_ms), last = std::min(last, f.last_ms);
  std::vector<double> shown = {0};
  for (const FigureChannel& c : f.channels) {
    for (std::size_t i = 0; i < c.step.x.size() && !c.silent; ++i) {
      if (c.step.x[i] >= first && c.step.x[i] <= last) shown.push_back(c.step.y[i]);
    }
  }
  const double low = *std::min_element(shown.begin(), shown.end());
  const double high = *std::max_element(shown.begin(), shown.end());
  // Nothing but zeros shown: the axis of a unit step.
  const double span = high - low > 1e-6 ? high - low : 1;
  const double step = nice_step(span * 1.2);
  const double bottom = std::floor((low - 0.1 * span) / step) * step;
  const double top = std::ceil((high + 0.1 * span) / step) * step;
  plvpor(kLeft, kRight, y0, y1);
  plwind(first, last, bottom, top);
  plcol0(kGrid);
  plbox("g", nice_step(last - first), 0, "g", step, 0);
  for (int c = 0; c < static_cast<int>(f.channels.size()); ++c) {
    const FigureChannel& ch = f.channels[static_cast<std::size_t>(c)];
    if (ch.silent) continue;
    plcol0(curve_colour(c));
    plwidth(1.5);
    line(ch.step.x, ch.step.y);
  }
  plwidth(1);
  plcol0(kText);
  plbox("bcnt", nice_step(last - first), 0, "bcntv", step, 0);
  silent_note(f);
  plmtex("b", 3.0, 0.5, 0.5, "Time from the zero instant (ms)");
  plmtex("l", 4.2, 0.5, 0.5, "Step response");
  plmtex("t", 1.0, 0, 0, "re unit gain: the running sum of the response");
  for (int c = 0; c < static_cast<int>(f.channels.size()); ++c) {
    legend_entry(y1, c, curve_colour(c), [] { pllsty(1); }, numbered("Ch ", c + 1));
  }
}

// Colour map 1: dark blue through green to yellow, even in lightness, for levels from the
// floor to the peak.
void set_map_colours() {
  const PLFLT at[] = {0, 0.25, 0.5, 0.75, 1};
  const PLFLT r[] = {68 / 255.0, 59 / 255.0, 33 / 255.0, 94 / 255.0, 253 / 255.0};
  const PLFLT g[] = {1 / 255.0, 82 / 255.0, 145 / 255.0, 201 / 255.0, 231 / 255.0};
  const PLFLT b[] = {84 / 255.0, 139 / 255.0, 140 / 255.0, 98 / 255.0, 37 / 255.0};
  plscmap1n(256);
  plscmap1l(1, 5, at, r, g, b, nullptr);
}

// The colour of a level `below` dB under the peak (0 to span), in steps of kMapStepDb.
constexpr double kMapStepDb = 5;
int map_band(double below, double span) {
  return static_cast<int>(std::clamp(std::floor(below / kMapStepDb), 0.0, span / kMapStepDb - 1));
}

void fill_cell(double x0, double x1, double y0, double y1, int band, double span) {
  plcol1(1 - (band + 0.5) * kMapStepDb / span);
  const PLFLT x[] = {x0, x1, x1, x0}, y[] = {y0, y0, y1, y1};
  plfill(4, x, y);
}

// The map of one channel in the viewport set, times from t0 to t1 only: x along the times
// (time_across) or the log frequencies, levels in bands of kMapStepDb down to span dB below
// their peak, each run of cells of one band along x filled at once (a compact SVG). Returns
// false, drawing nothing, when every level is the same.
bool draw_map(const FigureMap& m, bool time_across, double span, double t0, double t1,
              double& peak) {
  const std::size_t nf = m.frequencies.size();
  std::size_t nt = 0;
  // Up to the first time at or past t1, so that the cells reach it.
  while (nt < m.times_ms.size() && (nt == 0 || m.times_ms[nt - 1] < t1)) ++nt;
  peak = -300;
  for (std::size_t i = 0; i < nt * nf; ++i) peak = std::max(peak, m.levels[i]);
  // Cell edges: halfway between neighbours, the outer ones as far out as the inner.
  const auto edges = [](std::vector<double> c) {
    std::vector<double> e(c.size() + 1);
    for (std::size_t i = 1; i < c.size(); ++i) e[i] = (c[i - 1] + c[i]) / 2;
    e[0] = c.size() > 1 ? 2 * c[0] - e[1] : c[0] - 0.5;
    e[c.size()] = c.size() > 1 ? 2 * c.back() - e[c.size() - 1] : c[0] + 0.5;
    return e;
  };
  std::vector<double> logf;
  for (const double hz : m.frequencies) logf.push_back(std::log10(hz));
  // Every level the same (a silent channel's floor, calibrated or not): nothing to colour.
  const auto last = m.levels.begin() + static_cast<std::ptrdiff_t>(nt * nf);
  const bool silent = std::all_of(m.levels.begin(), last, [peak](double v) { return v == peak; });
  const std::vector<double> te = edges(std::vector<double>(m.times_ms.begin(), m.times_ms.begin() + static_cast<std::ptrdiff_t>(nt)));
  const std::vector<double> fe = edges(logf);
  const std::vector<double>& xe = time_across ? te : fe;
  const std::vector<double>& ye = time_across ? fe : te;
  // Time across runs from t0 to t1 whatever this channel's own times (cells beyond are clipped).
  if (time_across) {
    plwind(t0, t1, fe.front(), fe.back());
  } else {
    plwind(fe.front(), fe.back(), te.front(), te.back());
  }
  if (silent) return false;
  const std::size_t nx = xe.size() - 1, ny = ye.size() - 1;
  const auto band_at = [&](std::size_t ix, std::size_t iy) {
    const std::size_t t = time_across ? ix : iy, k = time_across ? iy : ix;
    return map_band(peak - m.levels[t * nf + k], span);
  };
  for (std::size_t iy = 0; iy < ny; ++iy) {
    std::size_t run = 0;
    for (std::size_t ix = 1; ix <= nx; ++ix) {
      if (ix < nx && band_at(ix, iy) == band_at(run, iy)) continue;
      fill_cell(xe[run], xe[ix], ye[iy], ye[iy + 1], band_at(run, iy), span);
      run = ix;
    }
  }
  return true;
}

// The last time of a map whose slice reaches within span dB of its peak, a tenth more, at
// least 20 ms: a spectrogram's frames after the response has decayed show nothing.
double map_end(const FigureMap& m, double span) {
  const std::size_t nf = m.frequencies.size();
  double peak = -300;
  for (const double v : m.levels) peak = std::max(peak, v);
  double last = m.times_ms.front();
  for (std::size_t t = 0; t < m.times_ms.size(); ++t) {
    for (std::size_t k = 0; k < nf; ++k) {
      if (m.levels[t * nf + k] > peak - span) last = m.times_ms[t];
    }
  }
  const double t0 = m.times_ms.front();
  return std::min(m.times_ms.back(), std::max(t0 + 20, last + 0.1 * (last - t0)));
}

// Channel c's map: its waterfall, or its spectrogram.
const FigureMap& channel_map(const Figure& f, int c, bool waterfall) {
  return waterfall ? f.channels[static_cast<std::size_t>(c)].waterfall
                   : f.channels[static_cast<std::size_t>(c)].spectrogram;
}

// Whether a map has cells to draw: two times and two frequencies at least.
bool drawn_map(const FigureMap& m) { return m.times_ms.size() >= 2 && m.frequencies.size() >= 2; }

// One time axis for every channel: from the earliest first time to the latest end.
void map_times(const Figure& f, bool waterfall, double span, double& t0, double& t1) {
  t0 = 1e300, t1 = -1e300;
  for (int c = 0; c < static_cast<int>(f.channels.size()); ++c) {
    const FigureMap& m = channel_map(f, c, waterfall);
    if (!drawn_map(m)) continue;
    t0 = std::min(t0, m.times_ms.front());
    t1 = std::max(t1, waterfall ? m.times_ms.back() : map_end(m, span));
  }
}

// A map's box, its axes, and their names on the bottom row and the first column.
void map_axes(const FigureMap& m, bool waterfall, double t0, double t1, bool bottom_row,
              bool first_column, bool narrow) {
  const double flo = m.frequencies.front(), fhi = m.frequencies.back();
  plcol0(kText);
  const double tstep = nice_step(t1 - t0);
  if (waterfall) {
    plbox("bc", 0, 0, "bcntv", tstep, 0);
    frequency_axis(flo, fhi, t0, t1, bottom_row, narrow);
    if (first_column) plmtex("l", 4.2, 0.5, 0.5, "From the onset (ms)");
    return;
  }
  plbox("bcnt", tstep, 0, "bc", 0, 0);
  const double lo = std::log10(flo), hi = std::log10(fhi);
  for (const auto& [hz, label] : frequency_ticks(flo, fhi)) {
    // Decades and their halves' neighbours only: the map is short.
    if (label[0] == '2') continue;
    const double at = (std::log10(hz) - lo) / (hi - lo);
    segment(t0, std::log10(hz), t0 + (t1 - t0) * 0.02, std::log10(hz));
    plmtex("lv", 0.5, at, 1, label.c_str());
  }
  if (bottom_row) plmtex("b", 3.0, 0.5, 0.5, "Time from the arrival (ms)");
  if (first_column) plmtex("l", 3.6, 0.5, 0.5, "Frequency (Hz)");
}

// The colour bar of the levels below a map's peak, beside the first row (the top row_height
// below y1).
void map_colour_bar(double y1, double row_height, double span, bool waterfall) {
  plvpor(0.87, 0.89, y1 - row_height * 0.8, y1 - row_height * 0.08);
  plwind(0, 1, -span, 0);
  for (int band = 0; band < static_cast<int>(span / kMapStepDb); ++band) {
    fill_cell(0, 1, -(band + 1) * kMapStepDb, -band * kMapStepDb, band, span);
  }
  plcol0(kText);
  plbox("bc", 0, 0, "bcmstv", 10, 0);
  plmtex("r", 4.5, 0.5, 0.5, waterfall ? "Waterfall, dB re its peak" : "Spectrogram, dB re its peak");
}

// Each channel's map (waterfall: time up, frequency across; spectrogram: time across,
// frequency up), two to a row, with a colour bar of the levels below each map's peak.
void map_panel(const Figure& f, double y0, double y1, bool waterfall) {
  const int n = static_cast<int>(f.channels.size());
  const int columns = n == 1 ? 1 : 2, rows = (n + columns - 1) / columns;
  const double span = waterfall ? 50 : 60;
  const double row_height = (y1 - y0) / rows;
  const double gap = 0.07;
  double t0 = 0, t1 = 0;
  map_times(f, waterfall, span, t0, t1);
  for (int c = 0; c < n; ++c) {
    const FigureMap& m = channel_map(f, c, waterfall);
    if (!drawn_map(m)) continue;
    const int row = c / columns, col = c % columns;
    const double top = y1 - row * row_height - row_height * 0.08;
    const double bottom = y1 - (row + 1) * row_height + row_height * 0.2;
    const double width = (kRight - kLeft - (columns - 1) * gap) / columns;
    const double left = kLeft + col * (width + gap);
    plvpor(left, left + width, bottom, top);
    double peak = 0;
    const bool silent = !draw_map(m, !waterfall, span, t0, t1, peak) ||
                        f.channels[static_cast<std::size_t>(c)].silent;
    map_axes(m, waterfall, t0, t1, row == rows - 1, col == 0, columns > 1);
    plcol0(curve_colour(c));
    plmtex("t", 1.0, 0, 0,
           (silent ? formatted("Ch %d: no response", c + 1)
                   : formatted("Ch %d: peak %.1f %s", c + 1, peak, f.level_unit.c_str()))
               .c_str());
  }
  map_colour_bar(y1, row_height, span, waterfall);
}

// How many rows of the page a view takes: a map two channels to a row.
int view_rows(const std::string& view, int channels) {
  if (view == "waterfall" || view == "spectrogram") return std::max(1, (channels + 1) / 2);
  return 1;
}

void draw_view(const Figure& f, const std::string& view, int orders, double y0, double y1) {
  if (view == "level") {
    magnitude_panel(f, orders, y0, y1);
  } else if (view == "phase") {
    frequency_curves_panel(f, y0, y1, "Phase (degrees), the arrival removed", &FigureChannel::phase,
                           nullptr, -180, 180, 90, "");
  } else if (view == "group-delay") {
    frequency_curves_panel(f, y0, y1, "Group delay (ms), the arrival removed",
                           &FigureChannel::group_delay, &FigureChannel::excess_group_delay, 0, 0, 0,
                           "Excess");
  } else if (view == "step") {
    step_panel(f, y0, y1);
  } else if (view == "waterfall" || view == "spectrogram") {
    map_panel(f, y0, y1, view == "waterfall");
  } else if (view == "envelope") {
    envelope_panel(f, y0, y1);
  }
}

// PLplot lists its drivers in a temporary file: a temporary folder that is
// full or cannot be written shows as missing drivers. Returns "" when a
// block can be written there, or what stops it.
std::string temporary_folder_error() {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  std::string name = std::string(folder) + "/vellisk-XXXXXX";
  errno = 0;
  const int fd = mkstemp(name.data());
  int error = errno;
  if (fd >= 0) {
    unlink(name.c_str());
    const char block[4096] = {};
    errno = 0;
    const ssize_t n = write(fd, block, sizeof block);
    error = n == static_cast<ssize_t>(sizeof block) ? 0 : (errno != 0 ? errno : ENOSPC);
    close(fd);
  }
  if (error == 0) return "";
  return std::string("the temporary folder (") + folder +
         ") cannot be written: " + std::strerror(error);
}

// PLplot reports a fatal error by calling this, then ending the process: the
// run ends here with one line, before any output file has been created.
int on_fatal(const char* message) {
  const std::string folder = temporary_folder_error();
  std::fprintf(stderr, "Unable to draw the figure: %s\n",
               folder.empty() ? message : folder.c_str());
  std::exit(EXIT_FAILURE);
}

std::string* abort_message = nullptr;

// Keeps PLplot's first message, on one line.
void on_abort(const char* message) {
  if (abort_message == nullptr || !abort_message->empty()) return;
  *abort_message = message;
  std::replace(abort_message->begin(), abort_message->end(), '\n', ' ');
  while (!abort_message->empty() && abort_message->back() == ' ') abort_message->pop_back();
}

}  // namespace

std::vector<std::pair<double, std::string>> frequency_ticks(double lo, double hi) {
  std::vector<std::pair<double, std::string>> ticks;
  for (double decade = 1; decade <= 1e6; decade *= 10) {
    for (const int step : {1, 2, 5}) {
      const double hz = step * decade;
      if (hz < lo * (1 - 1e-9) || hz > hi * (1 + 1e-9)) continue;
      char label[16];
      if (hz >= 1000) {
        std::snprintf(label, sizeof label, "%gk", hz / 1000);
      } else {
        std::snprintf(label, sizeof label, "%g", hz);
      }
      ticks.emplace_back(hz, label);
    }
  }
  return ticks;
}

void plot_line(const std::vector<double>& x, const std::vector<double>& y) {
  if (x.size() >= 2) plline(static_cast<PLINT>(x.size()), x.data(), y.data());
}

void plot_segment(double x0, double y0, double x1, double y1) {
  const PLFLT x[] = {x0, x1};
  const PLFLT y[] = {y0, y1};
  plline(2, x, y);
}

namespace {

// PLplot lists its drivers with a temporary file, the drivers' folder and one
// of their files open at once: with fewer descriptors free it fails, reads
// memory it has freed, then asks for a device on standard input. Returns ""
// when that many can be opened, or why not.
std::string descriptors_error() {
  constexpr int kNeeded = 3;
  int fds[kNeeded];
  int error = 0;
  int opened = 0;
  for (; opened < kNeeded; ++opened) {
    fds[opened] = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fds[opened] < 0) {
      error = errno;
      break;
    }
  }
  for (int i = 0; i < opened; ++i) close(fds[i]);
  if (error == 0) return "";
  return std::string("PLplot needs 3 free file descriptors to load its driver: ") +
         std::strerror(error);
}

// Whether PLplot's list of its drivers, read once in a process, holds the svg
// device. Without it plinit would ask for a device on standard input.
bool svg_device_listed() {
  constexpr int kMost = 256;
  const char* menus[kMost];
  const char* names[kMost];
  const char** menu_list = menus;
  const char** name_list = names;
  int count = kMost;
  plgDevs(&menu_list, &name_list, &count);
  for (int i = 0; i < count; ++i) {
    if (names[i] != nullptr && std::strcmp(names[i], "svg") == 0) return true;
  }
  return false;
}

}  // namespace

std::string draw_svg_page(int width, int height, const std::function<void()>& colours,
                          const std::function<void()>& draw, std::string& svg) {
  std::string aborted;
  abort_message = &aborted;
  plsexit(on_fatal);
  plsabort(on_abort);
  // PLplot's messages go here, not to standard error: the run's one line says
  // what failed.
  static PLINT error_code = 0;
  static char error_text[4096];
  plsError(&error_code, error_text);
  if (std::string e = descriptors_error(); !e.empty()) {
    abort_message = nullptr;
    return e;
  }
  if (!svg_device_listed()) {
    abort_message = nullptr;
    const std::string folder = temporary_folder_error();
    if (!folder.empty()) return folder;
    return "PLplot's svg driver cannot be loaded" + (aborted.empty() ? "" : " (" + aborted + ")");
  }
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  if (memory == nullptr) {
    abort_message = nullptr;
    return "no memory for the figure";
  }
  plsdev("svg");
  plsfile(memory);  // PLplot closes it at plend
  plspage(0, 0, width, height, 0, 0);
  colours();
  plinit();
  draw();
  plend();
  abort_message = nullptr;
  if (!aborted.empty()) {
    if (std::string e = temporary_folder_error(); !e.empty()) aborted = e;
  }
  svg.assign(buffer != nullptr ? buffer : "", size);
  std::free(buffer);
  return aborted;
}

namespace {

// The page's title and facts, over the whole page, and the text's height for what follows.
// PLplot's default height grows with the page's mean side: a page of height pixels (and 800
// wide) scales it back to the 800 x 600 page's.
void heading(const Figure& figure, int height = 600) {
  pladv(0);
  plschr(0, 0.62 * (800.0 + 600.0) / (800.0 + height));
  plvpor(0, 1, 0, 1);
  plwind(0, 1, 0, 1);
  plcol0(kText);
  plmtex("t", -1.6, 0.5, 0.5, figure.title.c_str());
  plmtex("t", -3.0, 0.5, 0.5, figure.facts.c_str());
}

// The views asked for, top to bottom, each row of a panel 280 pixels high under a heading of
// 90.
std::string draw_views(const Figure& figure, int orders, std::string& svg) {
  const int channels = static_cast<int>(figure.channels.size());
  int rows = 0;
  for (const std::string& v : figure.views) rows += view_rows(v, channels);
  const int height = 90 + 280 * rows;
  const double unit = 280.0 / height;
  kRowPitch = kPageRowPitch * 600 / height;
  return draw_svg_page(
      800, height,
      [] {
        set_palette();
        set_map_colours();
      },
      [&] {
        heading(figure, height);
        double top = 1 - 90.0 / height;
        for (const std::string& v : figure.views) {
          const double bottom = top - unit * view_rows(v, channels);
          const bool map = v == "waterfall" || v == "spectrogram";
          draw_view(figure, v, orders, bottom + (map ? 0 : 62.0 / height), top - 40.0 / height);
          top = bottom;
        }
      },
      svg);
}

}  // namespace

std::string draw_figure(const Figure& figure, std::string& svg) {
  const int orders =
      figure.channels.empty() ? 1 : 1 + static_cast<int>(figure.channels.front().harmonics.size());
  if (!figure.views.empty()) return draw_views(figure, orders, svg);
  kRowPitch = kPageRowPitch;
  return draw_svg_page(
      800, 600, [] { set_palette(); },
      [&] {
        heading(figure);
        magnitude_panel(figure, orders);
        envelope_panel(figure);
      },
      svg);
}

}  // namespace vellisk
