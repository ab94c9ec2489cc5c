// The room figure, drawn with PLplot's SVG device into memory.
#include "plot/room_figure.h"

#include <plplot.h>

#include <algorithm>
#include <cmath>

#include "plot/svg_page.h"

namespace vellisk {

namespace {

// Colours: 0 the background, 1 text and axes, 2 the grid, 3 to 5 T30, EDT and
// T20, then the broadband's black and the bands' palette. The palette is qualitative: any two of its colours and
// black lie at least 34 apart in CIE 1976 L*a*b* (the octaves take one each;
// third-octaves go round it, each round in its own line style).
constexpr int kText = 1;
constexpr int kGrid = 2;
constexpr int kT30 = 3;
constexpr int kEdt = 4;
constexpr int kT20 = 5;
constexpr int kBroadband = 6;
constexpr int kT30Shade = 7;   // the average's bands of +- one standard deviation, translucent
constexpr int kEdtShade = 8;
constexpr int kC80 = 9;
constexpr int kC80Shade = 10;
constexpr int kFirstBand = 11;
constexpr int kPalette[][3] = {{78, 121, 167}, {242, 142, 43}, {225, 87, 89},  {118, 183, 178},
                               {89, 161, 79},  {237, 201, 72}, {176, 122, 161}, {156, 117, 95}};
constexpr int kColours = 8;

// The page, in points: a title, then a row per channel.
constexpr int kWidth = 900;
constexpr int kRowHeight = 300;
constexpr int kTitleHeight = 40;
constexpr double kCharWidth = 6.2;  // the widest mean advance of the 10 pt sans-serif text

// Each row's panels, as fractions of the page width.
constexpr double kDecayLeft = 0.07, kDecayRight = 0.44;
constexpr double kLegendLeft = 0.455, kLegendRight = 0.66;
constexpr double kTimesLeft = 0.72, kTimesRight = 0.98;

void set_colours() {
  plscmap0n(kFirstBand + kColours);
  plscol0(0, 255, 255, 255);
  plscol0(kText, 30, 30, 30);
  plscol0(kGrid, 222, 222, 222);
  plscol0(kT30, 0, 114, 178);
  plscol0(kEdt, 213, 94, 0);
  plscol0(kT20, 0, 158, 115);
  plscol0(kBroadband, 0, 0, 0);
  plscol0a(kT30Shade, 0, 114, 178, 0.22);
  plscol0a(kEdtShade, 213, 94, 0, 0.18);
  plscol0(kC80, 106, 61, 154);
  plscol0a(kC80Shade, 106, 61, 154, 0.22);
  for (int c = 0; c < kColours; ++c) {
    plscol0(kFirstBand + c, kPalette[c][0], kPalette[c][1], kPalette[c][2]);
  }
}

// Band i of count: its colour and line style (the broadband, last, is black and solid).
void band_pen(int i, int count) {
  if (i == count - 1) {
    plcol0(kBroadband);
    pllsty(1);
    return;
  }
  plcol0(kFirstBand + i % kColours);
  pllsty(1 + (i / kColours) * 2);  // solid, then short dashes, then long dashes
}

void dashed() {
  static const PLINT mark = 1500, space = 1000;
  plstyl(1, &mark, &space);
}

// A text as PLplot shows it as it is: stray bytes that are not UTF-8 become
// U+FFFD, and '#', PLplot's escape character, is doubled. A text wider than
// `room` characters loses its middle to an ellipsis.
std::string plot_text(const std::string& text, std::size_t room = 1000) {
  std::vector<std::string> chars;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool whole = n > 0 && i + n <= text.size();
    for (std::size_t k = 1; whole && k < n; ++k) {
      whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (whole && n == 2 && c < 0xC2) whole = false;  // an overlong form
    chars.push_back(whole ? text.substr(i, n) : "\xEF\xBF\xBD");
    i += whole ? n : 1;
  }
  if (chars.size() > room && room > 3) {
    const std::size_t keep = room - 1;
    chars.erase(chars.begin() + static_cast<std::ptrdiff_t>(keep / 2),
                chars.end() - static_cast<std::ptrdiff_t>(keep - keep / 2));
    chars.insert(chars.begin() + static_cast<std::ptrdiff_t>(keep / 2), "\xE2\x80\xA6");
  }
  std::string out;
  for (const std::string& c : chars) out += c == "#" ? "##" : c;
  return out;
}

// The axes every row shares.
struct Scales {
  double end = 0.1;      // s, the decay panel's time axis
  double bottom = -60;   // dB, its lowest level
  double top = 0.5;      // s, the times panel's axis
  int bands = 1;         // the most bands of a channel, the broadband among them
};

Scales shared_scales(const RoomFigure& figure) {
  Scales s;
  if (figure.average) {
    for (const RoomFigureAverageBand& b : figure.average->bands) {
      for (const auto& [v, sd] : {std::pair{b.t30, b.t30_sd}, {b.t20, b.t20_sd}, {b.edt, b.edt_sd}}) {
        if (v) s.top = std::max(s.top, *v + sd.value_or(0));
      }
    }
  }
  for (const RoomFigureChannel& c : figure.channels) {
    s.bands = std::max(s.bands, static_cast<int>(c.bands.size()));
    for (const RoomFigureBand& b : c.bands) {
      if (!b.t.empty()) s.end = std::max(s.end, b.t.back());
      for (const double v : b.db) s.bottom = std::min(s.bottom, v);
      if (&b == &c.bands.back()) continue;  // the broadband has no place on the band axis
      for (const auto& v : {b.t30, b.t20, b.edt}) {
        if (v) s.top = std::max(s.top, *v);
      }
    }
  }
  s.end = std::ceil(s.end * 10) / 10;
  s.bottom = std::max(-100.0, std::floor(s.bottom / 10) * 10);
  s.top = std::ceil(s.top * 1.15 * 2) / 2;
  return s;
}

// Each band's decay curve, then the fitted lines over them all, dashed and
// black, so that no curve hides them.
void decay_panel(const RoomFigureChannel& c, const Scales& s, double y0, double y1) {
  plvpor(kDecayLeft, kDecayRight, y0, y1);
  plwind(0, s.end, s.bottom, 5);
  plcol0(kGrid);
  plbox("g", 0, 0, "g", 10, 0);
  const int count = static_cast<int>(c.bands.size());
  plwidth(1.2);
  for (int i = 0; i < count; ++i) {
    band_pen(i, count);
    plot_line(c.bands[static_cast<std::size_t>(i)].t, c.bands[static_cast<std::size_t>(i)].db);
  }
  pllsty(1);
  for (const RoomFigureBand& b : c.bands) {
    if (!b.fitted) continue;
    plcol0(kText);
    plwidth(1.8);
    dashed();
    plot_segment(b.t0, b.level0, b.t1, b.level1);
    pllsty(1);
  }
  plwidth(1);
  plcol0(kText);
  plbox("bcnt", 0, 0, "bcntv", 10, 0);
  plmtex("b", 3.0, 0.5, 0.5, "Time from the onset (s)");
  plmtex("l", 4.0, 0.5, 0.5, "Decay curve (dB)");
  plmtex("t", 0.8, 0.0, 0.0, "Decay curves; fitted T30 lines dashed (T20 where no T30)");
}

// Every band's colour and name, in as many columns as the panel's height needs.
void legend(const RoomFigureChannel& c, double y0, double y1, double row_points) {
  plvpor(kLegendLeft, kLegendRight, y0, y1);
  plwind(0, 1, 0, 1);
  const int count = static_cast<int>(c.bands.size());
  const double height = (y1 - y0) * row_points;  // points
  const int per_column = std::max(1, static_cast<int>(std::floor(height / 13.5)));
  const int columns = (count + per_column - 1) / per_column;
  const int rows = (count + columns - 1) / columns;
  const double step = std::min(20.0 / height, 1.0 / rows);
  for (int i = 0; i < count; ++i) {
    const double x = static_cast<double>(i / rows) / columns;
    const double y = 1 - step * (i % rows + 0.5);
    const double w = 1.0 / columns;
    band_pen(i, count);
    plwidth(2);
    plot_segment(x + 0.02 * w, y, x + 0.22 * w, y);
    pllsty(1);
    plwidth(1);
    plcol0(kText);
    plptex(x + 0.27 * w, y, 1, 0, 0, plot_text(c.bands[static_cast<std::size_t>(i)].label).c_str());
  }
}

// The marks of one series over the bands that have a value.
void marks(const RoomFigureChannel& c, std::optional<double> RoomFigureBand::*value,
           const std::vector<bool>& where, const char* glyph) {
  std::vector<double> x, y;
  for (std::size_t i = 0; i + 1 < c.bands.size(); ++i) {
    if (where[i] && c.bands[i].*value) x.push_back(static_cast<double>(i)), y.push_back(*(c.bands[i].*value));
  }
  if (!x.empty()) plstring(static_cast<PLINT>(x.size()), x.data(), y.data(), glyph);
}

// A line through the values of consecutive bands, broken where one is missing.
void series(const RoomFigureChannel& c, std::optional<double> RoomFigureBand::*value) {
  std::vector<double> x, y;
  for (std::size_t i = 0; i + 1 <= c.bands.size(); ++i) {
    const bool last = i + 1 == c.bands.size();  // the broadband ends the line
    if (!last && c.bands[i].*value) {
      x.push_back(static_cast<double>(i)), y.push_back(*(c.bands[i].*value));
    } else {
      plot_line(x, y);
      x.clear(), y.clear();
    }
  }
}

// The band axis under a panel: the octaves' labels, every band of an octave analysis, every
// third of a third-octave one (63 Hz, 125 Hz, ...; the legend names them all).
void band_axis(const std::vector<std::string>& labels) {
  const int count = static_cast<int>(labels.size());
  const bool thirds = count > 12;
  for (int i = thirds ? 1 : 0; i < count; i += thirds ? 3 : 1) {
    plmtex("b", 1.5, (i + 0.5) / std::max(1, count), 0.5,
           plot_text(labels[static_cast<std::size_t>(i)]).c_str());
  }
  plmtex("b", 3.0, 0.5, 0.5, "Band (Hz)");
}

void times_panel(const RoomFigureChannel& c, const Scales& s, double y0, double y1) {
  const int count = static_cast<int>(c.bands.size()) - 1;  // not the broadband
  plvpor(kTimesLeft, kTimesRight, y0, y1);
  plwind(-0.5, std::max(0, count - 1) + 0.5, 0, s.top);
  plcol0(kGrid);
  plbox("", 0, 0, "g", 0, 0);
  const std::vector<bool> all(c.bands.size(), true);
  std::vector<bool> no_t30(c.bands.size());
  for (std::size_t i = 0; i < c.bands.size(); ++i) no_t30[i] = !c.bands[i].t30;
  plwidth(1.5);
  plcol0(kT30);
  series(c, &RoomFigureBand::t30);
  marks(c, &RoomFigureBand::t30, all, "●");
  plcol0(kEdt);
  dashed();
  series(c, &RoomFigureBand::edt);
  pllsty(1);
  marks(c, &RoomFigureBand::edt, all, "◇");
  plcol0(kT20);
  marks(c, &RoomFigureBand::t20, no_t30, "▲");
  plwidth(1);
  plcol0(kText);
  plbox("bc", 0, 0, "bcntv", 0, 0);
  std::vector<std::string> labels;
  for (int i = 0; i < count; ++i) labels.push_back(c.bands[static_cast<std::size_t>(i)].label);
  band_axis(labels);
  plmtex("l", 4.0, 0.5, 0.5, "Time (s)");
  // The key above the panel: each mark with its name.
  const struct {
    int colour;
    const char* text;
    double at;
  } keys[] = {{kT30, "● T30", 0.0}, {kEdt, "◇ EDT, dashed", 0.2}, {kT20, "▲ T20 (no T30)", 0.6}};
  for (const auto& k : keys) {
    plcol0(k.colour);
    plmtex("t", 0.8, k.at, 0.0, k.text);
  }
}

using AverageValue = std::optional<double> RoomFigureAverageBand::*;

// The band of +- one standard deviation about a mean against band, where both are given,
// translucent; no lower than floor.
void spread_band(const std::vector<RoomFigureAverageBand>& bands, AverageValue mean,
                 AverageValue sd, int shade, double floor = -1e9) {
  std::vector<double> x, low, high;
  for (std::size_t i = 0; i <= bands.size(); ++i) {
    if (i < bands.size() && bands[i].*mean && bands[i].*sd) {
      x.push_back(static_cast<double>(i));
      low.push_back(std::max(floor, *(bands[i].*mean) - *(bands[i].*sd)));
      high.push_back(*(bands[i].*mean) + *(bands[i].*sd));
      continue;
    }
    if (x.size() >= 2) {
      std::vector<double> px(x), py(low);
      px.insert(px.end(), x.rbegin(), x.rend());
      py.insert(py.end(), high.rbegin(), high.rend());
      plcol0(shade);
      plfill(static_cast<PLINT>(px.size()), px.data(), py.data());
    }
    x.clear(), low.clear(), high.clear();
  }
}

// A mean against band, a line broken where it is missing, and its marks.
void mean_line(const std::vector<RoomFigureAverageBand>& bands, AverageValue mean, int colour,
               const char* glyph, bool dash) {
  plcol0(colour);
  plwidth(1.5);
  if (dash) dashed();
  std::vector<double> lx, ly, mx, my;
  for (std::size_t i = 0; i <= bands.size(); ++i) {
    if (i < bands.size() && bands[i].*mean) {
      lx.push_back(static_cast<double>(i)), ly.push_back(*(bands[i].*mean));
      mx.push_back(static_cast<double>(i)), my.push_back(*(bands[i].*mean));
    } else {
      plot_line(lx, ly);
      lx.clear(), ly.clear();
    }
  }
  pllsty(1);
  if (!mx.empty()) plstring(static_cast<PLINT>(mx.size()), mx.data(), my.data(), glyph);
  plwidth(1);
}

// T20 where no position gave T30: its mean's marks, with its spread as a bar.
void t20_marks(const std::vector<RoomFigureAverageBand>& bands) {
  std::vector<RoomFigureAverageBand> t20(bands.size());
  for (std::size_t i = 0; i < bands.size(); ++i) {
    if (bands[i].t30) continue;
    t20[i].t20 = bands[i].t20;
    if (bands[i].t20 && bands[i].t20_sd) {
      plcol0(kT20);
      plot_segment(static_cast<double>(i), *bands[i].t20 - *bands[i].t20_sd, static_cast<double>(i),
                   *bands[i].t20 + *bands[i].t20_sd);
    }
  }
  plcol0(kT20);
  std::vector<double> tx, ty;
  for (std::size_t i = 0; i < t20.size(); ++i) {
    if (t20[i].t20) tx.push_back(static_cast<double>(i)), ty.push_back(*t20[i].t20);
  }
  if (!tx.empty()) plstring(static_cast<PLINT>(tx.size()), tx.data(), ty.data(), "▲");
}

// The average's decay times, across the decay panel and the legend.
void average_times(const RoomFigureAverage& a, const std::vector<std::string>& labels,
                   const Scales& s, double y0, double y1) {
  const int count = static_cast<int>(a.bands.size());
  plvpor(kDecayLeft, kLegendRight, y0, y1);
  plwind(-0.5, std::max(0, count - 1) + 0.5, 0, s.top);
  plcol0(kGrid);
  plbox("", 0, 0, "g", 0, 0);
  // The bands first, the lines over them all.
  spread_band(a.bands, &RoomFigureAverageBand::t30, &RoomFigureAverageBand::t30_sd, kT30Shade, 0);
  spread_band(a.bands, &RoomFigureAverageBand::edt, &RoomFigureAverageBand::edt_sd, kEdtShade, 0);
  mean_line(a.bands, &RoomFigureAverageBand::t30, kT30, "●", false);
  mean_line(a.bands, &RoomFigureAverageBand::edt, kEdt, "◇", true);
  t20_marks(a.bands);
  plcol0(kText);
  plbox("bc", 0, 0, "bcntv", 0, 0);
  band_axis(labels);
  plmtex("l", 4.0, 0.5, 0.5, "Time (s)");
  const struct {
    int colour;
    const char* text;
    double at;
  } keys[] = {{kText, "Means, shaded ± 1 SD:", 0.0},
              {kT30, "● T30", 0.25},
              {kEdt, "◇ EDT, dashed", 0.36},
              {kT20, "▲ T20 (no T30)", 0.56}};
  for (const auto& k : keys) {
    plcol0(k.colour);
    plmtex("t", 0.8, k.at, 0.0, k.text);
  }
}

// The average's C80, on the right, on axes of its own.
void average_c80(const RoomFigureAverage& a, const std::vector<std::string>& labels, double y0,
                 double y1) {
  const int count = static_cast<int>(a.bands.size());
  double low = 0, high = 1;
  for (const RoomFigureAverageBand& b : a.bands) {
    if (!b.c80) continue;
    low = std::min(low, *b.c80 - b.c80_sd.value_or(0));
    high = std::max(high, *b.c80 + b.c80_sd.value_or(0));
  }
  low = std::floor(low / 5) * 5, high = std::ceil(high / 5) * 5;
  plvpor(kTimesLeft, kTimesRight, y0, y1);
  plwind(-0.5, std::max(0, count - 1) + 0.5, low, high);
  plcol0(kGrid);
  plbox("", 0, 0, "g", 0, 0);
  spread_band(a.bands, &RoomFigureAverageBand::c80, &RoomFigureAverageBand::c80_sd, kC80Shade);
  mean_line(a.bands, &RoomFigureAverageBand::c80, kC80, "●", false);
  plcol0(kText);
  plbox("bc", 0, 0, "bcntv", 0, 0);
  band_axis(labels);
  plmtex("l", 4.0, 0.5, 0.5, "C80 (dB)");
  plcol0(kC80);
  plmtex("t", 0.8, 0.0, 0.0, "● C80, shaded ± 1 SD");
}

// The average's row: decay times on the left, across the decay panel and the legend, C80 on
// the right; each mean over its band of +- one standard deviation.
void average_row(const RoomFigureAverage& a, const Scales& s, double y0, double y1) {
  std::vector<std::string> labels;
  for (const RoomFigureAverageBand& b : a.bands) labels.push_back(b.label);
  average_times(a, labels, s, y0, y1);
  average_c80(a, labels, y0, y1);
}

}  // namespace

std::string draw_room_figure(const RoomFigure& figure, std::string& svg) {
  const int rows =
      std::max<int>(1, static_cast<int>(figure.channels.size()) + (figure.average ? 1 : 0));
  const int height = kTitleHeight + rows * kRowHeight;
  const Scales scales = shared_scales(figure);
  return draw_svg_page(
      kWidth, height, [] { set_colours(); },
      [&] {
        pladv(0);
        // Characters 10 units high whatever the page's height: millimetres at
        // the SVG device's 90 units an inch.
        plschr(10 * 25.4 / 90, 1.0);
        plvpor(0, 1, 0, 1);
        plwind(0, 1, 0, 1);
        plcol0(kText);
        plmtex("t", -1.6, 0.5, 0.5, plot_text(figure.title).c_str());
        const double h = static_cast<double>(kRowHeight) / height;
        const double page_top = 1 - static_cast<double>(kTitleHeight) / height;
        const auto room = static_cast<std::size_t>(kWidth * 0.9 / kCharWidth);
        for (int r = 0; r < static_cast<int>(figure.channels.size()); ++r) {
          const RoomFigureChannel& c = figure.channels[static_cast<std::size_t>(r)];
          // Row r spans [top - h, top] of the page: its title, then its panels
          // less the room their titles and axes need.
          const double top = page_top - r * h;
          plvpor(0, 1, top - h, top);
          plwind(0, 1, 0, 1);
          plcol0(kText);
          plptex(0.5, 1 - 12.0 / kRowHeight, 1, 0, 0.5, plot_text(c.title, room).c_str());
          const double y1 = top - 0.2 * h;
          const double y0 = top - h + 0.2 * h;
          decay_panel(c, scales, y0, y1);
          legend(c, y0, y1, height);
          times_panel(c, scales, y0, y1);
        }
        if (figure.average) {
          const double top = page_top - static_cast<double>(figure.channels.size()) * h;
          plvpor(0, 1, top - h, top);
          plwind(0, 1, 0, 1);
          plcol0(kText);
          plptex(0.5, 1 - 12.0 / kRowHeight, 1, 0, 0.5, plot_text(figure.average->title, room).c_str());
          average_row(*figure.average, scales, top - h + 0.2 * h, top - 0.2 * h);
        }
      },
      svg);
}

}  // namespace vellisk
