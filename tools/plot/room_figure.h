// A picture of a room analysis: each band's decay curve with its T30 line, and T30 and EDT against
// band.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vellisk {

struct RoomFigureBand {
  std::string label;          // "125", "1k", "broadband"
  std::vector<double> t, db;  // the decay curve: dB against s from the onset
  bool fitted = false;        // the fitted line: from (t0, level0) to (t1, level1)
  bool fit_is_t20 = false;    // T20's line, where T30 is not given
  double t0 = 0, t1 = 0, level0 = 0, level1 = 0;
  std::optional<double> t30, t20, edt;  // s
};

struct RoomFigureChannel {
  std::string title;  // "hall.wav, channel 1"
  std::vector<RoomFigureBand> bands;
};

// A band of the average over positions: each value's mean and standard deviation.
struct RoomFigureAverageBand {
  std::string label;
  std::optional<double> t30, t30_sd, t20, t20_sd, edt, edt_sd, c80, c80_sd;
};

// The average's row: decay times and C80 against band, each mean with a band of +- one standard
// deviation.
struct RoomFigureAverage {
  std::string title;  // "Average of 4 positions: STI 0.62 (SD 0.02)"
  std::vector<RoomFigureAverageBand> bands;  // not the broadband
};

struct RoomFigure {
  std::string title;
  std::vector<RoomFigureChannel> channels;  // a row each
  std::optional<RoomFigureAverage> average;  // a last row
};

// Draws the figure into an SVG document. Returns "" and the document in svg,
// or the reason it could not be drawn.
std::string draw_room_figure(const RoomFigure& figure, std::string& svg);

}  // namespace vellisk
