// The room-acoustic analysis of one response channel: every band and the broadband, and the
// single-number values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "room/bands.h"
#include "room/decay.h"
#include "room/sti.h"

namespace vellisk {

struct RoomSetup {
  bool third = false;    // third-octave bands instead of octaves
  double rate = 0;       // samples per second
  int curve_points = 0;  // points of each decay curve kept for a figure; 0 for none
  int threads = 1;       // bands analysed at once
  // The speech and noise levels at the listener for the speech transmission index; without
  // them, the index of the response alone.
  std::optional<SpeechLevels> levels;
};

struct BandResult {
  std::string label;  // "125", "1k", or "broadband"
  double centre = 0;  // Hz; 0 for the broadband
  BandParameters parameters;
};

// ISO 3382-1, A.1: averages over the 500 Hz and 1 kHz octaves (the six
// third-octaves 400 Hz - 1.25 kHz); and Beranek's bass ratio, T30 at 125 Hz and
// 250 Hz (100 Hz - 315 Hz) over that at the mid frequencies.
struct SingleNumbers {
  std::optional<double> t30_mid, edt_mid, c80_mid, d50_mid, ts_mid, bass_ratio;
};

struct ChannelAnalysis {
  bool onset_found = false;  // false: the peak is not 20 dB above the noise, or no decay follows
  std::optional<double> ends_ms;  // the response ends in digital silence this soon after its peak
  double onset = 0;          // s from the start of the file
  double peak_to_noise_db = 0;
  std::vector<BandResult> bands;  // the bands, then the broadband
  SingleNumbers single;
  SpeechTransmission speech;  // the speech transmission index
};

// The bands an analysis uses, each with its filter.
struct BandPlan {
  double rate = 0;  // the rate planned for
  std::vector<Band> bands;
  std::vector<std::vector<Section>> filters;
  std::vector<BandTiming> timing;     // each filter's ringing, group delay, bandwidth
  std::vector<std::int64_t> settle;   // samples the time-reversed filter takes to settle
                                      // at the end of a response, left out of its analysis
  std::vector<std::string> left_out;
};
BandPlan plan_bands(const RoomSetup& setup);

// Analyses x[0..n).
ChannelAnalysis analyse_channel(const RoomSetup& setup, const BandPlan& plan,
                                const std::vector<double>& x);

// The single-number values of a channel's bands.
SingleNumbers single_numbers(const std::vector<BandResult>& bands, bool third);

// The speech transmission index of a channel's bands: each octave 125 Hz - 8 kHz from its own
// modulation sums, or from those of its three third-octaves, with the levels when given.
SpeechTransmission channel_sti(const std::vector<BandResult>& bands,
                               const std::optional<SpeechLevels>& levels);

}  // namespace vellisk
