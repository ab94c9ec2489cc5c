// Spatial averages: running means and deviations of each band's values over the positions.
#include "room/bands.h"
#include "vellisk/room.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vellisk {

void Spread::add(double v) {
  ++count;
  const double delta = v - mean;
  mean += delta / count;
  squares += delta * (v - mean);
}

std::optional<double> Spread::average() const {
  if (count == 0) return {};
  return mean;
}

std::optional<double> Spread::deviation() const {
  if (count < 2) return {};
  return std::sqrt(std::max(0.0, squares) / (count - 1));
}

namespace {

void add_value(AveragedValue& a, const std::string& name, const std::optional<double>& v) {
  if (v) {
    a.spread.add(*v);
  } else {
    a.missing.push_back(name);
  }
}

}  // namespace

SpatialAverage start_average(bool third) {
  SpatialAverage average;
  average.third = third;
  std::vector<std::string> left_out;
  for (const Band& b : analysis_bands(third, 1e9, left_out)) {
    AverageBand& a = average.bands.emplace_back();
    a.label = b.label;
    a.centre = b.centre;
  }
  average.bands.emplace_back().label = "broadband";
  return average;
}

void add_position(SpatialAverage& average, const std::string& name, const ChannelAnalysis& channel) {
  ++average.positions;
  const BandParameters none;
  for (AverageBand& a : average.bands) {
    const BandParameters* p = &none;
    if (channel.onset_found) {
      for (const BandResult& b : channel.bands) {
        if (b.label == a.label) p = &b.parameters;
      }
    }
    add_value(a.edt, name, p->edt);
    add_value(a.t20, name, p->t20);
    add_value(a.t30, name, p->t30);
    add_value(a.c80, name, p->c80);
    add_value(a.d50, name, p->d50);
    add_value(a.ts, name, p->ts);
  }
  const SingleNumbers& s = channel.single;
  AverageSingle& m = average.single;
  add_value(m.t30_mid, name, s.t30_mid);
  add_value(m.edt_mid, name, s.edt_mid);
  add_value(m.c80_mid, name, s.c80_mid);
  add_value(m.d50_mid, name, s.d50_mid);
  add_value(m.ts_mid, name, s.ts_mid);
  add_value(m.bass_ratio, name, s.bass_ratio);
  add_value(m.sti, name, channel.speech.sti);
}

namespace {

// The notes of values, each with its quantity: the positions each lacks, grouped.
std::vector<AverageNote> notes_of(const std::vector<std::pair<AveragedQuantity, const AveragedValue*>>& values,
                                  int positions) {
  std::vector<AverageNote> notes;
  for (const auto& [quantity, v] : values) {
    if (v->missing.empty()) continue;
    auto it = std::find_if(notes.begin(), notes.end(),
                           [v](const AverageNote& n) { return n.missing == v->missing; });
    if (it == notes.end()) {
      it = notes.insert(notes.end(), AverageNote{{}, v->missing, positions});
    }
    it->values.push_back(quantity);
  }
  return notes;
}

}  // namespace

std::vector<AverageNote> average_notes(const AverageBand& b, int positions) {
  using Q = AveragedQuantity;
  return notes_of({{Q::edt, &b.edt}, {Q::t20, &b.t20}, {Q::t30, &b.t30}, {Q::c80, &b.c80},
                   {Q::d50, &b.d50}, {Q::ts, &b.ts}},
                  positions);
}

std::vector<AverageNote> average_notes(const AverageSingle& s, int positions) {
  using Q = AveragedQuantity;
  return notes_of({{Q::t30_mid, &s.t30_mid}, {Q::edt_mid, &s.edt_mid}, {Q::c80_mid, &s.c80_mid},
                   {Q::d50_mid, &s.d50_mid}, {Q::ts_mid, &s.ts_mid}, {Q::bass_ratio, &s.bass_ratio},
                   {Q::sti, &s.sti}},
                  positions);
}

double decay_time_uncertainty(double t, double centre, bool third, int positions, bool t30) {
  const double decays = 10;  // what the integrated impulse response method is worth (7.2)
  const double bandwidth = (third ? 0.23 : 0.71) * centre;
  const double g = t30 ? 0.55 : 0.88, h = t30 ? 1.52 : 1.90;
  return g * t * std::sqrt((1 + h / decays) / (positions * bandwidth * t));
}

}  // namespace vellisk
