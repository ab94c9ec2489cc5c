// The module's dicts of results, built from the library's structs.
#include "report.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "vellisk/version.h"

namespace py = pybind11;

namespace vellisk {

namespace {

// A number, or None where it is not finite or not given (as JSON's null).
py::object number(double x) { return std::isfinite(x) ? py::object(py::float_(x)) : py::none(); }
py::object number(const std::optional<double>& x) { return x ? number(*x) : py::none(); }
py::object rounded_number(const std::optional<double>& x, int decimals) {
  return x ? number(rounded(*x, decimals)) : py::none();
}
template <class T>
py::object given(bool is, const T& value) {
  return is ? py::object(py::cast(value)) : py::none();
}

std::string ir_program() { return std::string("vellisk-ir ") + kVersion; }

py::dict sweep_dict(const ResponseReport& f) {
  const SweepParams& p = f.params;
  py::dict d;
  d["rate_hz"] = number(p.rate);
  d["amplitude"] = number(p.amplitude);
  d["hzstart_hz"] = number(p.hzstart);
  d["hzend_hz"] = number(p.hzend);
  d["duration_s"] = number(p.duration);
  d["silence_s"] = number(p.silence);
  d["leadin"] = number(p.leadin);
  d["leadout"] = number(p.leadout);
  d["sweep_samples"] = f.sweeplen;
  d["silence_samples"] = f.silencelen;
  return d;
}

// The band limit the response keeps, as the JSON report gives it.
py::object band_filter_dict(const std::optional<BandFilter>& b) {
  if (!b) return py::none();
  py::list sections;
  for (const auto& s : b->sections) sections.append(py::cast(std::vector<double>(s.begin(), s.end())));
  py::dict d;
  d["kind"] = b->kind;
  d["highpass_order"] = b->highpass_order;
  d["lowpass_order"] = b->lowpass_order;
  d["highpass_hz"] = number(b->highpass_hz);
  d["highpass_down_db"] = number(b->highpass_down_db);
  d["lowpass_hz"] = number(b->lowpass_hz);
  d["lowpass_down_db"] = number(b->lowpass_down_db);
  d["rate_hz"] = number(b->rate_hz);
  d["sections"] = sections;
  return d;
}

py::dict setup_dict(const ResponseReport& f, const std::string& recording, py::dict& j) {
  py::dict rec;
  rec["file"] = recording;
  rec["format"] = f.info.format;
  rec["channels"] = f.info.channels;
  rec["frames"] = f.info.frames;
  rec["rate_hz"] = given(f.info.rate != 0, f.info.rate);
  j["recording"] = rec;
  py::dict window;
  window["pre_s"] = number(f.pre_s);
  window["length_s"] = number(f.length_s);
  window["samples"] = f.window_samples;
  window["zero_instant_sample"] = f.zero_sample;
  window["transform_samples"] = f.transform_samples;
  j["window"] = window;
  py::dict noise;
  noise["first_s"] = number(f.noise_first_s);
  noise["last_s"] = number(f.noise_last_s);
  j["noise"] = noise;
  py::dict band;
  band["low_hz"] = number(f.band_low_hz);
  band["high_hz"] = number(f.band_high_hz);
  band["compensated"] = f.compensated;
  band["trusted_within_db"] = given(f.compensated, kBandWithinDb);
  j["band"] = band;
  j["band_filter"] = band_filter_dict(f.band_filter);
  j["gate"] = py::none();
  if (f.gate_ms > 0) {
    py::dict gate;
    gate["gate_ms"] = number(f.gate_ms);
    gate["pre_s"] = number(f.pre_s);
    gate["lowest_resolved_hz"] = number(1000 / f.gate_ms);
    j["gate"] = gate;
  }
  j["frd_smoothing_octave_fraction"] = given(f.smooth > 0, f.smooth);
  j["level_unit"] = f.level_unit;
  py::dict calibration;
  calibration["mic_file"] = given(!f.mic_calibration.empty(), f.mic_calibration);
  calibration["spl_offset_db"] = number(f.spl_offset_db);
  j["calibration"] = calibration;
  return j;
}

py::object timing_dict(const TimingFigures& t) {
  if (t.reference <= 0 && t.repeats.empty()) return py::none();
  py::list repeats;
  for (const TimingFigures::Repeat& r : t.repeats) {
    py::dict d;
    d["offset_samples"] = number(r.offset_samples);
    d["noise_db"] = number(r.noise_db);
    d["deviation_db"] = number(r.deviation_db);
    d["left_out"] = !r.kept;
    d["noise_raised_db"] = r.kept ? py::none() : number(r.raised_db);
    repeats.append(d);
  }
  py::dict d;
  const bool reference = t.reference > 0;
  d["reference_channel"] = given(reference, t.reference);
  d["latency_samples"] = reference ? number(t.latency_samples) : py::none();
  d["latency_ms"] = reference ? number(t.latency_ms) : py::none();
  d["repeats"] = repeats;
  d["repeats_averaged"] = given(!t.repeats.empty(), t.averaged);
  d["median_deviation_db"] = number(t.median_deviation_db);
  d["noise_down_db"] = number(t.noise_down_db);
  return d;
}

// The drift: given, or measured by the timing (beside one given, the one measured).
py::object drift_dict(const ResponseReport& f) {
  const TimingFigures& t = f.timing;
  py::dict d;
  if (t.drift_ppm) {
    d["drift_ppm"] = number(*t.drift_ppm);
    d["source"] = t.drift_source;
    d["corrected"] = t.drift_corrected;
    d["spread_samples"] = number(t.drift_spread_samples);
    d["given_ppm"] = number(f.drift_given_ppm);
  } else if (f.drift_given_ppm) {
    d["drift_ppm"] = number(*f.drift_given_ppm);
    d["source"] = "given";
    d["corrected"] = true;
  } else {
    return py::none();
  }
  return d;
}

py::dict channel_dict(int channel, const ChannelFigures& c) {
  py::dict d;
  d["channel"] = channel;
  d["silent"] = c.silent;
  const auto measured = [&c](double x) { return c.silent ? py::none() : number(x); };
  d["arrival_samples"] = measured(c.arrival_samples);
  d["arrival_ms"] = measured(c.arrival_ms);
  d["gain_db"] = measured(c.gain_db);
  d["impulse_peak_db"] = measured(c.impulse_peak_db);
  d["peak_to_noise_db"] = number(c.peak_to_noise_db);
  d["polarity"] = given(!c.silent, c.polarity);
  py::list harmonics;
  for (std::size_t i = 0; i < c.harmonic_level_db.size(); ++i) {
    py::dict h;
    h["order"] = i + 2;
    h["level_db"] = number(c.harmonic_level_db[i]);
    h["noise_db"] = number(c.harmonic_noise_db[i]);
    h["below_noise"] = static_cast<bool>(c.below_noise[i]);
    harmonics.append(h);
  }
  d["harmonics"] = harmonics;
  const bool thd = !c.silent && !c.harmonic_level_db.empty() && c.thd_percent > 0;
  d["thd_percent"] = thd ? number(c.thd_percent) : py::none();
  d["thd_db"] = thd ? number(c.thd_db) : py::none();
  d["recorded_peak_dbfs"] = number(c.recorded_peak_dbfs);
  d["clipped_samples"] = c.clipped_samples;
  return d;
}

// The parameters in the report's order: the key, the value and the decimals kept.
using Value = std::optional<double> BandParameters::*;
const std::pair<const char*, std::pair<Value, int>> kBandValues[] = {
    {"edt_s", {&BandParameters::edt, kTimeDecimals}},
    {"edt_r", {&BandParameters::edt_r, kCorrelationDecimals}},
    {"t20_s", {&BandParameters::t20, kTimeDecimals}},
    {"t20_r", {&BandParameters::t20_r, kCorrelationDecimals}},
    {"t30_s", {&BandParameters::t30, kTimeDecimals}},
    {"t30_r", {&BandParameters::t30_r, kCorrelationDecimals}},
    {"curvature_pct", {&BandParameters::curvature, kPercentDecimals}},
    {"c50_db", {&BandParameters::c50, kClarityDecimals}},
    {"c80_db", {&BandParameters::c80, kClarityDecimals}},
    {"d50", {&BandParameters::d50, kDefinitionDecimals}},
    {"ts_ms", {&BandParameters::ts, kCentreTimeDecimals}},
    {"inr_db", {&BandParameters::inr, kLevelDecimals}},
    {"decay_range_db", {&BandParameters::range, kLevelDecimals}},
};
using Single = std::optional<double> SingleNumbers::*;
const std::pair<const char*, Single> kSingleValues[] = {
    {"t30_mid_s", &SingleNumbers::t30_mid}, {"edt_mid_s", &SingleNumbers::edt_mid},
    {"c80_mid_db", &SingleNumbers::c80_mid}, {"d50_mid", &SingleNumbers::d50_mid},
    {"ts_mid_ms", &SingleNumbers::ts_mid},   {"bass_ratio", &SingleNumbers::bass_ratio}};
// Each single-number value's decimals: those of the band value it averages, the bass ratio's 3.
constexpr int kSingleDecimals[] = {kTimeDecimals, kTimeDecimals, kClarityDecimals,
                                   kDefinitionDecimals, kCentreTimeDecimals, 3};

py::dict room_channel_dict(int number_of, const ChannelAnalysis& channel) {
  py::dict ch;
  ch["channel"] = number_of;
  ch["onset_s"] = channel.onset_found ? number(rounded(channel.onset, 6)) : py::none();
  py::list bands;
  for (const BandResult& b : channel.bands) {
    py::dict band;
    band["band"] = b.label;
    band["centre_hz"] = b.centre > 0 ? number(rounded(b.centre, 2)) : py::none();
    for (const auto& [key, value] : kBandValues) {
      band[key] = rounded_number(b.parameters.*value.first, value.second);
    }
    band["notes"] = py::cast(describe(b.parameters.notes));
    bands.append(band);
  }
  ch["bands"] = bands;
  py::dict single;
  for (std::size_t i = 0; i < std::size(kSingleValues); ++i) {
    single[kSingleValues[i].first] =
        rounded_number(channel.single.*kSingleValues[i].second, kSingleDecimals[i]);
  }
  ch["single"] = single;
  const SpeechTransmission& t = channel.speech;
  ch["sti"] = rounded_number(t.sti, kStiDecimals);
  py::list sti_bands;
  for (const auto& m : t.mti) sti_bands.append(rounded_number(t.sti ? m : std::nullopt, kStiDecimals));
  ch["sti_bands"] = sti_bands;
  ch["sti_rating"] = given(t.sti.has_value(), t.rating);
  ch["sti_notes"] = py::cast(describe(t.notes));
  return ch;
}

}  // namespace

py::dict report_dict(const ResponseReport& f, const std::string& recording,
                     const py::list& warnings) {
  py::dict j;
  j["program"] = ir_program();
  j["sweep"] = sweep_dict(f);
  setup_dict(f, recording, j);
  j["timing"] = timing_dict(f.timing);
  j["drift"] = drift_dict(f);
  py::list channels;
  for (std::size_t c = 0; c < f.channels.size(); ++c) {
    channels.append(channel_dict(static_cast<int>(c + 1), f.channels[c]));
  }
  j["channels"] = channels;
  j["warnings"] = warnings;
  j["outputs"] = py::list();
  j["irfile_comment"] = response_text(f, ir_program());
  return j;
}

py::dict room_dict(double rate, const std::vector<ChannelAnalysis>& channels) {
  py::dict file;
  // A whole rate as an integer, as files store it.
  if (rate == std::floor(rate)) {
    file["rate"] = static_cast<std::int64_t>(rate);
  } else {
    file["rate"] = rate;
  }
  py::list list;
  for (std::size_t c = 0; c < channels.size(); ++c) {
    list.append(room_channel_dict(static_cast<int>(c + 1), channels[c]));
  }
  file["channels"] = list;
  file["measurement"] = py::none();
  return file;
}

}  // namespace vellisk
