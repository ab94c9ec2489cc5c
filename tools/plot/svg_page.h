// An SVG page drawn by PLplot into memory, and the lines every figure draws.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vellisk {

// Opens PLplot's SVG device on a width x height page held in memory, calls
// colours() before and draw() after plinit, and ends it. Returns "" and the
// document in svg, or the reason it could not be drawn.
std::string draw_svg_page(int width, int height, const std::function<void()>& colours,
                          const std::function<void()>& draw, std::string& svg);

// A polyline through (x, y), when it has two points or more.
void plot_line(const std::vector<double>& x, const std::vector<double>& y);

// A straight segment from (x0, y0) to (x1, y1).
void plot_segment(double x0, double y0, double x1, double y1);

}  // namespace vellisk
