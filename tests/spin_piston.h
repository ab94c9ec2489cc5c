// A loudspeaker of known directivity for the tests of vellisk-spin: a baffled piston, its
// responses written as .frd files and as tables of angles.
#pragma once

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace spin_test {

// The frequencies every file holds: 1/20 octave from 20 Hz to 20.48 kHz.
inline std::vector<double> file_frequencies() {
  std::vector<double> f;
  for (double hz = 20; hz <= 20480 * (1 + 1e-12); hz *= std::exp2(1.0 / 20)) f.push_back(hz);
  return f;
}

// D(theta) = 2 J1(ka sin theta) / (ka sin theta) of a piston of radius a (m), in dB.
inline double piston_db(double hz, double radius, double degrees) {
  const double x = 2 * std::numbers::pi * hz / 343.0 * radius * std::sin(degrees * std::numbers::pi / 180);
  const double d = std::abs(x) < 1e-9 ? 1.0 : 2 * std::cyl_bessel_j(1.0, std::abs(x)) / std::abs(x);
  return 20 * std::log10(std::max(std::abs(d), 1e-12));
}

// A source whose horizontal orbit is a piston of radius a and whose vertical one is a piston
// of 1.5 a, tilted up by 0.05 dB a degree: orbits and their signs told apart.
struct Source {
  double radius = 0.05;
  double db(bool vertical, double hz, int degrees) const {
    if (!vertical) return 90 + piston_db(hz, radius, degrees);
    const int d = degrees > 180 ? degrees - 360 : degrees <= -180 ? degrees + 360 : degrees;
    const bool shared = d == 0 || d == 180;
    return 90 + (shared ? piston_db(hz, radius, d) : piston_db(hz, 1.5 * radius, d) + 0.05 * d);
  }
};

inline void write_text(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

inline std::string frd_text(const Source& s, bool vertical, int degrees) {
  std::string t = "* Freq(Hz) SPL(dB)\n";
  char line[80];
  for (const double hz : file_frequencies()) {
    std::snprintf(line, sizeof line, "%.10g %.9f\n", hz, s.db(vertical, hz, degrees));
    t += line;
  }
  return t;
}

// The 70 angles as .frd files in dir, named in each of the documented ways; their names.
inline std::vector<std::string> write_frd_set(const Source& s, const std::filesystem::path& dir) {
  std::vector<std::string> names;
  const char* patterns[] = {"piston_H %d.frd", "piston_hor_%ddeg.txt", "Piston H%+d.frd"};
  const char* vertical[] = {"piston_V %d.frd", "piston_ver_%ddeg.frd", "piston vertical %d.txt"};
  char name[64];
  for (int d = -170; d <= 180; d += 10) {
    std::snprintf(name, sizeof name, patterns[(d + 180) / 10 % 3], d);
    write_text(dir / name, frd_text(s, false, d));
    names.push_back((dir / name).string());
    if (d == 0 || d == 180) continue;
    std::snprintf(name, sizeof name, vertical[(d + 180) / 10 % 3], d);
    write_text(dir / name, frd_text(s, true, d));
    names.push_back((dir / name).string());
  }
  return names;
}

// One orbit as a table of angles: a heading, then a frequency and level pair for each angle.
inline std::string table_text(const Source& s, bool vertical) {
  std::vector<int> angles = {0};
  for (int d = 10; d < 180; d += 10) angles.push_back(d), angles.push_back(-d);
  angles.push_back(180);
  std::string t = "Title of the set\n";
  for (const int a : angles) t += a == 0 ? "On-Axis\t\t" : std::to_string(a) + "\xC2\xB0\t\t";
  t += "\n";
  for (std::size_t i = 0; i < angles.size(); ++i) t += "Frequency\tSPL\t";
  t += "\r\n";
  char cell[64];
  for (const double hz : file_frequencies()) {
    for (const int a : angles) {
      std::snprintf(cell, sizeof cell, "%.10g\t%.9f\t", hz, s.db(vertical, hz, a));
      t += cell;
    }
    t += "\r\n";
  }
  return t;
}

}  // namespace spin_test
