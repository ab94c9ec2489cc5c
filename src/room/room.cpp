// A channel's bands, analysed a few at a time, and the averages over them.
#include "room/room.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

#include "response/parallel.h"

namespace {

// The first smoothing interval of Lundeby's iteration: four periods of the
// band's width, from 10 ms at high frequencies to 50 ms at low ones.
double first_interval(const Band& b) { return std::clamp(4 / (b.upper - b.lower), 0.01, 0.05); }

// The mean of the values of the bands whose labels are listed, when all are there.
std::optional<double> mean_of(const std::vector<BandResult>& bands,
                              const std::vector<const char*>& labels,
                              std::optional<double> BandParameters::*field) {
  double sum = 0;
  for (const char* label : labels) {
    const auto it = std::find_if(bands.begin(), bands.end(),
                                 [label](const BandResult& b) { return b.label == label; });
    if (it == bands.end() || !(it->parameters.*field)) return {};
    sum += *(it->parameters.*field);
  }
  return sum / static_cast<double>(labels.size());
}

}  // namespace

BandPlan plan_bands(const RoomSetup& setup) {
  BandPlan plan;
  plan.bands = analysis_bands(setup.third, setup.rate, plan.left_out);
  for (const Band& b : plan.bands) {
    plan.filters.push_back(band_pass(b.lower, b.upper, setup.rate));
    plan.early.push_back(std::llround(ringing_time(plan.filters.back(), setup.rate) * setup.rate));
    plan.delay.push_back(group_delay(plan.filters.back(), b.centre, setup.rate) * setup.rate);
  }
  return plan;
}

SingleNumbers single_numbers(const std::vector<BandResult>& bands, bool third) {
  const std::vector<const char*> mid =
      third ? std::vector<const char*>{"400", "500", "630", "800", "1k", "1.25k"}
            : std::vector<const char*>{"500", "1k"};
  const std::vector<const char*> low =
      third ? std::vector<const char*>{"100", "125", "160", "200", "250", "315"}
            : std::vector<const char*>{"125", "250"};
  SingleNumbers s;
  s.t30_mid = mean_of(bands, mid, &BandParameters::t30);
  s.edt_mid = mean_of(bands, mid, &BandParameters::edt);
  s.c80_mid = mean_of(bands, mid, &BandParameters::c80);
  s.d50_mid = mean_of(bands, mid, &BandParameters::d50);
  const std::optional<double> t30_low = mean_of(bands, low, &BandParameters::t30);
  if (t30_low && s.t30_mid) s.bass_ratio = *t30_low / *s.t30_mid;
  return s;
}

ChannelAnalysis analyse_channel(const RoomSetup& setup, const BandPlan& plan,
                                const std::vector<double>& x) {
  ChannelAnalysis a;
  // Digital silence at the end is padding, not the response's noise.
  auto n = static_cast<std::int64_t>(x.size());
  while (n > 1 && x[static_cast<std::size_t>(n - 1)] == 0) --n;
  const Onset onset = find_onset(x.data(), n);
  a.peak_to_noise_db = onset.peak_to_noise_db;
  a.onset = static_cast<double>(onset.sample) / setup.rate;
  a.onset_found = onset.peak_to_noise_db >= kMinPeakToNoiseDb;
  const std::size_t count = plan.bands.size() + 1;
  a.bands.resize(count);
  for (std::size_t b = 0; b < plan.bands.size(); ++b) {
    a.bands[b].label = plan.bands[b].label;
    a.bands[b].centre = plan.bands[b].centre;
  }
  a.bands.back().label = "broadband";
  if (!a.onset_found) {
    char note[96];
    std::snprintf(note, sizeof note, "peak only %.1f dB above the noise: no onset",
                  std::floor(onset.peak_to_noise_db * 10) / 10);
    for (BandResult& b : a.bands) b.parameters.notes.emplace_back(note);
    return a;
  }

  // Each worker takes the next two bands, filters them into its own buffers
  // and squares them; the broadband is a band of its own.
  const std::size_t filtered = plan.bands.size();
  std::atomic<std::size_t> next{0};
  const auto analyse_band = [&](std::size_t b, std::vector<double>& band) {
    double interval = 0.01;
    std::int64_t early = 0;
    double delay = 0;
    if (b < filtered) {
      interval = first_interval(plan.bands[b]);
      early = plan.early[b];
      delay = plan.delay[b];
    } else {
      std::copy(x.begin(), x.begin() + n, band.begin());
    }
    for (std::int64_t i = 0; i < n; ++i) {
      band[static_cast<std::size_t>(i)] *= band[static_cast<std::size_t>(i)];
    }
    a.bands[b].parameters = band_parameters(band.data(), n, onset.sample, early, delay, setup.rate,
                                            interval, setup.curve_points);
  };
  const std::size_t pairs = (count + 1) / 2;
  run_parallel(std::max(1, std::min(setup.threads, static_cast<int>(pairs))), [&](int) {
    std::vector<double> first(x.size()), second(x.size());
    for (std::size_t p; (p = next++) < pairs;) {
      const std::size_t b = 2 * p;
      if (b + 1 < filtered) {
        filter_pair(plan.filters[b], plan.filters[b + 1], x.data(), first.data(), second.data(), n,
                    true);
      } else if (b < filtered) {
        filter(plan.filters[b], x.data(), first.data(), n, true);
      }
      analyse_band(b, first);
      if (b + 1 < count) analyse_band(b + 1, second);
    }
  });
  a.single = single_numbers(a.bands, setup.third);
  return a;
}
