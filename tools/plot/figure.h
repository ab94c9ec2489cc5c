// A picture of a measurement: magnitude response and impulse envelope, as SVG drawn by PLplot.
#pragma once

#include <string>
#include <vector>

namespace vellisk {

struct FigureCurve {
  std::vector<double> x;
  std::vector<double> y;
};

// Levels over time and frequency, drawn as a colour map.
struct FigureMap {
  std::vector<double> times_ms;
  std::vector<double> frequencies;  // Hz, ascending, about evenly spaced in log frequency
  std::vector<double> levels;       // dB: [time * frequencies.size() + frequency]
};

struct FigureChannel {
  FigureCurve level;                   // dB against Hz, smoothed
  std::vector<FigureCurve> harmonics;  // [k - 2]: order k, dB against excitation Hz
  FigureCurve noise;                   // dB against Hz: the noise a window like the level's holds
  FigureCurve envelope;                // dB against ms from the zero instant
  double noise_db = 0;                 // the noise measured as the envelope is (its peaks)
  bool silent = false;                 // every sample read was 0: no curve, "no response"
  double latency_ms = 0;               // of the report, for the legend
  std::string peak_to_noise;           // as the report gives it ("121.1 dB")
  // The views' curves, each drawn when its view is asked for.
  FigureCurve phase;               // degrees against Hz, the delay removed
  FigureCurve group_delay;         // ms against Hz, the delay removed
  FigureCurve excess_group_delay;  // ms against Hz
  FigureCurve step;                // against ms from the zero instant
  FigureMap waterfall;             // ms from the response's onset
  FigureMap spectrogram;           // ms from the arrival
};

struct Figure {
  std::string title;   // the design
  std::string facts;   // what the run found
  double hzstart = 0;  // the frequency axis
  double hzend = 0;
  double first_ms = 0;  // the time axis: the written window
  double last_ms = 0;
  int smoothing = 6;   // the level curves' 1/N octave
  double gate_ms = 0;  // the gate the level curves were measured through (0: none), drawn
                       // on the envelope panel where it ends, after each channel's latency
  std::vector<FigureChannel> channels;
  // The panels, top to bottom, from level, phase, group-delay, step, waterfall, spectrogram
  // and envelope; none: level and envelope, on a page of 800 x 600.
  std::vector<std::string> views;
  std::string level_unit = "dB";  // "dB" re unit gain, or "dB SPL"
};

// The frequency axis's tick labels that fall within [lo, hi] Hz: 10, 20, 50,
// 100, ... written as 1k, 2k, ... from 1000 Hz on.
std::vector<std::pair<double, std::string>> frequency_ticks(double lo, double hi);

// The level axis, from bottom to top dB with ticks every step dB: the top
// the first ten at least 3 dB above highest, the span down to the first ten at
// least 3 dB below lowest, within 40 to 200 dB; ticks every 10 dB, or 20
// beyond 100, at multiples of the step.
struct LevelAxis {
  double bottom = 0;
  double top = 0;
  double step = 10;
};
LevelAxis level_axis(double lowest, double highest);

// Draws the figure into an SVG document. Returns "" and the document in svg,
// or the reason it could not be drawn.
std::string draw_figure(const Figure& figure, std::string& svg);

}  // namespace vellisk
