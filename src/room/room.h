// The room-acoustic analysis of one response channel: every band and the broadband, and the
// single-number values.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "room/bands.h"
#include "room/decay.h"
#include "room/samples.h"
#include "room/sti.h"
#include "vellisk/room.h"

namespace vellisk {

// A peak-to-noise ratio as the notes give it: a tenth below, never above, so that a note never
// shows the ratio needed when the peak falls short of it.
inline double shown_peak_to_noise(double db) { return std::floor(db * 10) / 10; }

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

// What the analysis of a channel works in, kept from one channel to the next so that a run
// allocates (and the system maps) these buffers once, not for every channel: the response in
// double precision after room for the zeros it is padded with, and each worker's four
// filtered bands (each band's decay curve is worked out in its own buffer).
struct ChannelBuffers {
  SampleBuffer padded;
  std::vector<SampleBuffer> bands;  // four a worker
};

// Analyses x[0..n), in buffers of its own or in those given.
ChannelAnalysis analyse_channel(const RoomSetup& setup, const BandPlan& plan,
                                const std::vector<double>& x);
ChannelAnalysis analyse_channel(const RoomSetup& setup, const BandPlan& plan,
                                const std::vector<double>& x, ChannelBuffers& buffers);

// The single-number values of a channel's bands.
SingleNumbers single_numbers(const std::vector<BandResult>& bands, bool third);

// The speech transmission index of a channel's bands: each octave 125 Hz - 8 kHz from its own
// modulation sums, or from those of its three third-octaves, with the levels when given.
SpeechTransmission channel_sti(const std::vector<BandResult>& bands,
                               const std::optional<SpeechLevels>& levels);

}  // namespace vellisk
