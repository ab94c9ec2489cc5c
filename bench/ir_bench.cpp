// Cost of vellisk-ir's parts on the usage example: a whole one-channel measurement, and the
// drift estimate that every measurement makes of each channel.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "response/analysis.h"
#include "response/bands.h"
#include "response/drift.h"
#include "response/measurement.h"
#include "io/recording.h"
#include "response/store.h"
#include "sweep/sweep_gen.h"

using namespace vellisk;

namespace {

// The usage example: 45 s from 10 Hz to 21 kHz at 44.1 kHz, played back directly.
const SweepParams kParams = {44100, 0.5, 10, 21000, 45, 2, 0.05, 0.005};

MeasurementSetup setup() {
  MeasurementSetup s;
  s.params = kParams;
  s.pre = 4410;
  s.length = 44100;
  s.threads = 2;
  return s;
}

// The sweep file as a headerless recording, written once.
const std::filesystem::path& recording() {
  static const std::filesystem::path path = [] {
    const auto p = std::filesystem::temp_directory_path() / "vellisk-ir-bench.pcm";
    std::vector<float> samples;
    emit_sweep(compute_design(kParams),
               [&samples](double v) { samples.push_back(static_cast<float>(v)); });
    std::FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(samples.data(), sizeof(float), samples.size(), f);
    std::fclose(f);
    return p;
  }();
  return path;
}

void Measure(benchmark::State& state) {
  const MeasurementSetup s = setup();
  for (auto _ : state) {
    Recording rec;
    if (!rec.open(recording().c_str(), true, 1).empty()) state.SkipWithError("no recording");
    RowStore store;
    Measurement m = plan_measurement(s);
    store.open(row_lengths(m.layout, 1));
    if (!measure(s, rec, store, m).empty()) state.SkipWithError("measurement failed");
    benchmark::DoNotOptimize(m.channels.front().arrival);
  }
}

void EstimateDrift(benchmark::State& state) {
  const MeasurementSetup s = setup();
  Recording rec;
  rec.open(recording().c_str(), true, 1);
  RowStore store;
  Measurement m = plan_measurement(s);
  store.open(row_lengths(m.layout, 1));
  measure(s, rec, store, m);
  std::vector<float> window(static_cast<std::size_t>(m.layout.window(1)));
  store.get(0, 0, m.layout.window(1), window.data());
  const SweepDesign& d = m.plan.design;
  for (auto _ : state) {
    const Spectrum h = spectrum_of(window.data(), m.layout.window(1), d.rate);
    benchmark::DoNotOptimize(estimate_drift(h, d.hzstart, d.hzend, d.octavelen).drift);
  }
}

BENCHMARK(Measure)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EstimateDrift)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
