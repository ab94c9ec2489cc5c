// The pieces the directivity's files share: the cells of table headings and levels on a grid.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace vellisk {

// degrees in (-180, 180].
int normalised_degrees(int degrees);

// The cells of a heading line, between tabs, commas or semicolons, trimmed; empty ones left out.
std::vector<std::string_view> table_cells(std::string_view line);

// "On-Axis", "On Axis", "ON_AXIS".
bool is_on_axis_cell(std::string_view cell);

// The angle a heading's cell names ("On-Axis", "10°", "-10 deg", "180"), or nothing.
std::optional<int> angle_cell(std::string_view cell);

// Levels at ascending frequencies f, linear in log frequency, at each of grid's frequencies,
// which lie within f's range.
std::vector<double> resampled_db(const std::vector<double>& f, const std::vector<double>& db,
                                 const std::vector<double>& grid);

}  // namespace vellisk
