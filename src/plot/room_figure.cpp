// The room figure, drawn with PLplot's SVG device into memory.
#include "plot/room_figure.h"

#include <plplot.h>

#include <algorithm>
#include <cmath>

#include "plot/svg_page.h"

namespace {

// Colours: 0 the background, 1 text and axes, 2 the grid, 3 and 4 T30 and EDT,
// then the bands from low (blue) to high (red) frequencies, the broadband black.
constexpr int kText = 1;
constexpr int kGrid = 2;
constexpr int kT30 = 3;
constexpr int kEdt = 4;
constexpr int kFirstBand = 5;
constexpr int kRowHeight = 300;
constexpr int kTitleHeight = 40;

void set_colours(int bands) {
  plscmap0n(kFirstBand + bands);
  plscol0(0, 255, 255, 255);
  plscol0(kText, 30, 30, 30);
  plscol0(kGrid, 222, 222, 222);
  plscol0(kT30, 0, 114, 178);
  plscol0(kEdt, 213, 94, 0);
  for (int b = 0; b < bands; ++b) {
    const double f = bands > 2 ? static_cast<double>(b) / (bands - 2) : 0;
    const auto mix = [f](int lo, int hi) {
      return static_cast<PLINT>(std::lround(lo + (hi - lo) * f));
    };
    if (b == bands - 1) {
      plscol0(kFirstBand + b, 0, 0, 0);
    } else {
      plscol0(kFirstBand + b, mix(20, 215), mix(90, 40), mix(200, 30));
    }
  }
}

void dashed() {
  static const PLINT mark = 1500, space = 1000;
  plstyl(1, &mark, &space);
}

// The row's two panels, the viewport y range [y0, y1] of the page.
void decay_panel(const RoomFigureChannel& c, double y0, double y1) {
  double end = 0.1;
  double floor = -60;
  for (const RoomFigureBand& b : c.bands) {
    if (!b.t.empty()) end = std::max(end, b.t.back());
    for (const double v : b.db) floor = std::min(floor, v);
  }
  end = std::ceil(end * 10) / 10;
  const double bottom = std::max(-100.0, std::floor(floor / 10) * 10);
  plvpor(0.07, 0.47, y0, y1);
  plwind(0, end, bottom, 5);
  plcol0(kGrid);
  plbox("g", 0, 0, "g", 10, 0);
  const int count = static_cast<int>(c.bands.size());
  for (int i = 0; i < count; ++i) {
    const RoomFigureBand& b = c.bands[static_cast<std::size_t>(i)];
    plcol0(kFirstBand + i);
    plwidth(1.2);
    plot_line(b.t, b.db);
    if (b.fitted) {
      plcol0(kText);
      plwidth(1);
      dashed();
      plot_segment(b.t0, b.level0, b.t1, b.level1);
      pllsty(1);
    }
  }
  plwidth(1);
  plcol0(kText);
  plbox("bcnt", 0, 0, "bcntv", 10, 0);
  plmtex("b", 3.0, 0.5, 0.5, "Time from the onset (s)");
  plmtex("l", 4.0, 0.5, 0.5, "Decay curve (dB)");
  plmtex("t", 1.0, 0.0, 0.0, (c.title + ": decay curves, fitted T30 lines dashed").c_str());
  // The bands' colours, a column beside the panel: with third-octaves, every
  // third band (the octaves' colours between them), and the broadband.
  plvpor(0.48, 0.58, y0, y1);
  plwind(0, 1, 0, 1);
  const int every = count > 12 ? 3 : 1;
  std::vector<int> shown;
  for (int i = 0; i < count; ++i) {
    if (i % every == 0 || i == count - 1) shown.push_back(i);
  }
  const double step = std::min(0.08, 1.0 / static_cast<double>(shown.size()));
  for (std::size_t row = 0; row < shown.size(); ++row) {
    const int i = shown[row];
    const double y = 1 - step * (static_cast<double>(row) + 0.5);
    plcol0(kFirstBand + i);
    plwidth(2);
    plot_segment(0.02, y, 0.25, y);
    plwidth(1);
    plcol0(kText);
    plptex(0.28, y, 1, 0, 0, c.bands[static_cast<std::size_t>(i)].label.c_str());
  }
}

void times_panel(const RoomFigureChannel& c, double y0, double y1) {
  const int count = static_cast<int>(c.bands.size()) - 1;  // not the broadband
  double top = 0.5;
  for (int i = 0; i < count; ++i) {
    const RoomFigureBand& b = c.bands[static_cast<std::size_t>(i)];
    for (const auto& v : {b.t30, b.edt}) {
      if (v) top = std::max(top, *v);
    }
  }
  top = std::ceil(top * 1.15 * 2) / 2;
  plvpor(0.63, 0.97, y0, y1);
  plwind(-0.5, std::max(0, count - 1) + 0.5, 0, top);
  plcol0(kGrid);
  plbox("", 0, 0, "g", 0, 0);
  const auto series = [&](std::optional<double> RoomFigureBand::*value, int colour, bool dash,
                          PLINT symbol) {
    plcol0(colour);
    plwidth(1.5);
    std::vector<double> x, y;
    const auto flush = [&] {
      if (dash) dashed();
      plot_line(x, y);
      pllsty(1);
      if (!x.empty()) plpoin(static_cast<PLINT>(x.size()), x.data(), y.data(), symbol);
      x.clear(), y.clear();
    };
    for (int i = 0; i < count; ++i) {
      const std::optional<double>& v = c.bands[static_cast<std::size_t>(i)].*value;
      if (v) {
        x.push_back(i), y.push_back(*v);
      } else {
        flush();
      }
    }
    flush();
    plwidth(1);
  };
  series(&RoomFigureBand::t30, kT30, false, 17);
  series(&RoomFigureBand::edt, kEdt, true, 4);
  plcol0(kText);
  plbox("bc", 0, 0, "bcntv", 0, 0);
  const int every = count > 12 ? 3 : 1;
  for (int i = 0; i < count; i += every) {
    plmtex("b", 1.5, (i + 0.5) / std::max(1, count), 0.5,
           c.bands[static_cast<std::size_t>(i)].label.c_str());
  }
  plmtex("b", 3.0, 0.5, 0.5, "Band (Hz)");
  plmtex("l", 4.0, 0.5, 0.5, "Time (s)");
  plcol0(kT30);
  plmtex("t", 1.0, 0.0, 0.0, "T30");
  plcol0(kEdt);
  plmtex("t", 1.0, 0.12, 0.0, "EDT (dashed)");
}

}  // namespace

std::string draw_room_figure(const RoomFigure& figure, std::string& svg) {
  const int rows = std::max<int>(1, static_cast<int>(figure.channels.size()));
  const int height = kTitleHeight + rows * kRowHeight;
  int bands = 1;
  for (const RoomFigureChannel& c : figure.channels) {
    bands = std::max(bands, static_cast<int>(c.bands.size()));
  }
  return draw_svg_page(
      900, height, [bands] { set_colours(bands); },
      [&] {
        pladv(0);
        plschr(0, 0.62);
        plvpor(0, 1, 0, 1);
        plwind(0, 1, 0, 1);
        plcol0(kText);
        plmtex("t", -1.6, 0.5, 0.5, figure.title.c_str());
        for (int r = 0; r < static_cast<int>(figure.channels.size()); ++r) {
          // Row r spans [top - (r + 1) h, top - r h] of the page, less its margins.
          const double h = static_cast<double>(kRowHeight) / height;
          const double top = 1 - static_cast<double>(kTitleHeight) / height;
          const double y1 = top - r * h - 0.12 * h;
          const double y0 = top - (r + 1) * h + 0.2 * h;
          decay_panel(figure.channels[static_cast<std::size_t>(r)], y0, y1);
          times_panel(figure.channels[static_cast<std::size_t>(r)], y0, y1);
        }
      },
      svg);
}
