// The JSON report, written with nlohmann-json.
#include "common/json_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "common/versions.h"
#include "vellisk/response.h"

namespace vellisk {

namespace {

using Json = nlohmann::ordered_json;

Json number(double x) { return std::isfinite(x) ? Json(x) : Json(nullptr); }

Json number(const std::optional<double>& x) { return x ? number(*x) : Json(nullptr); }

// The band limit the response file keeps, for rebuilding it (scipy's sos layout).
Json band_filter_json(const std::optional<vellisk::BandFilter>& b) {
  if (!b) return Json(nullptr);
  Json sections = Json::array();
  for (const auto& s : b->sections) sections.push_back(s);
  return {{"kind", b->kind},
          {"highpass_order", b->highpass_order},
          {"lowpass_order", b->lowpass_order},
          {"highpass_hz", b->highpass_hz},
          {"highpass_down_db", b->highpass_down_db},
          {"lowpass_hz", b->lowpass_hz},
          {"lowpass_down_db", b->lowpass_down_db},
          {"rate_hz", b->rate_hz},
          {"sections", sections}};
}

Json channel_json(int channel, const ChannelFigures& c) {
  Json j = {{"channel", channel}, {"silent", c.silent}};
  const auto measured = [&c](double x) { return c.silent ? Json(nullptr) : number(x); };
  j["arrival_samples"] = measured(c.arrival_samples);
  j["arrival_ms"] = measured(c.arrival_ms);
  j["gain_db"] = measured(c.gain_db);
  j["impulse_peak_db"] = measured(c.impulse_peak_db);
  j["peak_to_noise_db"] = number(c.peak_to_noise_db);
  Json harmonics = Json::array();
  for (std::size_t i = 0; i < c.harmonic_level_db.size(); ++i) {
    harmonics.push_back({{"order", i + 2},
                         {"level_db", number(c.harmonic_level_db[i])},
                         {"noise_db", number(c.harmonic_noise_db[i])},
                         {"below_noise", static_cast<bool>(c.below_noise[i])}});
  }
  j["polarity"] = c.silent ? Json(nullptr) : Json(c.polarity);
  j["harmonics"] = harmonics;
  const bool thd = !c.silent && !c.harmonic_level_db.empty() && c.thd_percent > 0;
  j["thd_percent"] = thd ? number(c.thd_percent) : Json(nullptr);
  j["thd_db"] = thd ? number(c.thd_db) : Json(nullptr);
  j["recorded_peak_dbfs"] = number(c.recorded_peak_dbfs);
  j["clipped_samples"] = c.clipped_samples;
  return j;
}

// The timing: the reference channel's latency and the repeats; null with neither.
Json timing_json(const TimingFigures& t) {
  if (!(t.reference > 0 || !t.repeats.empty())) return Json(nullptr);
  Json repeats = Json::array();
  for (const TimingFigures::Repeat& r : t.repeats) {
    repeats.push_back({{"offset_samples", r.offset_samples},
                       {"noise_db", number(r.noise_db)},
                       {"deviation_db", number(r.deviation_db)},
                       {"left_out", !r.kept},
                       {"noise_raised_db", r.kept ? Json(nullptr) : number(r.raised_db)}});
  }
  return {{"reference_channel", t.reference > 0 ? Json(t.reference) : Json(nullptr)},
          {"latency_samples", t.reference > 0 ? Json(t.latency_samples) : Json(nullptr)},
          {"latency_ms", t.reference > 0 ? Json(t.latency_ms) : Json(nullptr)},
          {"repeats", repeats},
          {"repeats_averaged", t.repeats.empty() ? Json(nullptr) : Json(t.averaged)},
          {"median_deviation_db", number(t.median_deviation_db)},
          {"noise_down_db", number(t.noise_down_db)}};
}

// The drift: given, or measured by the timing (corrected or not; beside one given, the one
// measured); null with neither.
Json drift_json(const RunFigures& f) {
  const TimingFigures& t = f.timing;
  if (t.drift_ppm) {
    return {{"drift_ppm", *t.drift_ppm},
            {"source", t.drift_source},
            {"corrected", t.drift_corrected},
            {"spread_samples", t.drift_spread_samples},
            {"given_ppm", f.drift_given_ppm ? Json(*f.drift_given_ppm) : Json(nullptr)}};
  }
  if (f.drift_given_ppm) {
    return {{"drift_ppm", *f.drift_given_ppm}, {"source", "given"}, {"corrected", true}};
  }
  return Json(nullptr);
}

Json channels_json(const RunFigures& f) {
  Json channels = Json::array();
  for (std::size_t c = 0; c < f.channels.size(); ++c) {
    channels.push_back(channel_json(static_cast<int>(c + 1), f.channels[c]));
  }
  return channels;
}

}  // namespace

std::string json_report(const RunFigures& f) {
  const SweepParams& p = f.params;
  Json j;
  j["program"] = kIrVersion;
  j["sweep"] = {{"rate_hz", p.rate},           {"amplitude", p.amplitude},
                {"hzstart_hz", p.hzstart},     {"hzend_hz", p.hzend},
                {"duration_s", p.duration},    {"silence_s", p.silence},
                {"leadin", p.leadin},          {"leadout", p.leadout},
                {"sweep_samples", f.sweeplen}, {"silence_samples", f.silencelen}};
  j["recording"] = {{"file", f.recording},
                    {"format", f.info.format},
                    {"channels", f.info.channels},
                    {"frames", f.info.frames},
                    {"rate_hz", f.info.rate != 0 ? Json(f.info.rate) : Json(nullptr)}};
  j["window"] = {{"pre_s", f.pre_s},
                 {"length_s", f.length_s},
                 {"samples", f.window_samples},
                 {"zero_instant_sample", f.zero_sample},
                 {"transform_samples", f.transform_samples}};
  j["noise"] = {{"first_s", f.noise_first_s}, {"last_s", f.noise_last_s}};
  j["band"] = {{"low_hz", f.band_low_hz},
               {"high_hz", f.band_high_hz},
               {"compensated", f.compensated},
               {"trusted_within_db", f.compensated ? Json(kBandWithinDb) : Json(nullptr)}};
  j["band_filter"] = band_filter_json(f.band_filter);
  j["gate"] = f.gate_ms > 0 ? Json{{"gate_ms", f.gate_ms},
                                   {"pre_s", f.pre_s},
                                   {"lowest_resolved_hz", 1000 / f.gate_ms}}
                            : Json(nullptr);
  j["frd_smoothing_octave_fraction"] = f.smooth > 0 ? Json(f.smooth) : Json(nullptr);
  // Every level's unit, and the calibration that made it.
  j["level_unit"] = f.level_unit;
  j["calibration"] = {
      {"mic_file", f.mic_calibration.empty() ? Json(nullptr) : Json(f.mic_calibration)},
      {"spl_offset_db", number(f.spl_offset_db)}};
  j["timing"] = timing_json(f.timing);
  j["drift"] = drift_json(f);
  j["channels"] = channels_json(f);
  j["warnings"] = f.warnings;
  j["outputs"] = f.outputs;
  // What the WAV irfile carries of the measurement, as it carries it.
  j["irfile_comment"] = response_text(f, kIrVersion);
  // A name need not be UTF-8: its stray bytes are written as U+FFFD.
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace vellisk
