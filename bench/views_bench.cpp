// Cost of the views of a response against the measurement they are taken from, on the README's
// 10 s design (48 kHz, 20 Hz to 20 kHz) through a 100 Hz high-pass: one channel's measurement
// with its .frd rows, then its curves, waterfall, spectrogram and step response.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <vector>

#include "response/curves.h"
#include "response/measurement.h"
#include "io/recording.h"
#include "response/store.h"
#include "response/waterfall.h"
#include "sweep/sweep_gen.h"


using namespace vellisk;

namespace {

const SweepParams kParams = {48000, 0.5, 20, 20000, 10, 1, 0.05, 0.005};

MeasurementSetup setup() {
  MeasurementSetup s;
  s.params = kParams;
  s.pre = 4800;
  s.length = 48000;
  s.threads = 2;
  s.responses = true;  // the .frd rows, which the curves share their grid and spectrum with
  s.compensated = true;
  return s;
}

// The sweep through a two-pole high-pass at 100 Hz, as a headerless recording, written once.
const std::filesystem::path& recording() {
  static const std::filesystem::path path = [] {
    const auto p = std::filesystem::temp_directory_path() / "vellisk-views-bench.pcm";
    std::vector<double> x;
    emit_sweep(compute_design(kParams), [&x](double v) { x.push_back(v); });
    x.resize(x.size() + 48000);
    const double w = 2 * std::numbers::pi * 100 / kParams.rate, c = std::cos(w);
    const double alpha = std::sin(w) / std::sqrt(2.0);
    const double b[3] = {(1 + c) / 2, -(1 + c), (1 + c) / 2}, a[3] = {1 + alpha, -2 * c, 1 - alpha};
    std::vector<float> y(x.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double v = (b[0] * x[i] + b[1] * x1 + b[2] * x2 - a[1] * y1 - a[2] * y2) / a[0];
      x2 = x1, x1 = x[i], y2 = y1, y1 = v;
      y[i] = static_cast<float>(v);
    }
    std::FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(y.data(), sizeof(float), y.size(), f);
    std::fclose(f);
    return p;
  }();
  return path;
}

// One measured window, with what its .frd rows were taken with.
struct Window {
  std::vector<float> x;
  double delay = 0;
  Compensation edge;
  std::vector<double> grid;
};

const Window& window() {
  static const Window w = [] {
    const MeasurementSetup s = setup();
    Recording rec;
    rec.open(recording().c_str(), true, 1);
    RowStore store;
    Measurement m = plan_measurement(s);
    store.open(row_lengths(m.layout, 1));
    measure(s, rec, store, m);
    Window r;
    r.x.resize(static_cast<std::size_t>(m.layout.window(1)));
    store.get(0, 0, m.layout.window(1), r.x.data());
    r.delay = static_cast<double>(s.pre) + m.channels[0].arrival;
    r.edge = m.plan.compensation;
    r.grid = m.channels[0].responses[0].frequencies;
    return r;
  }();
  return w;
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

void Curves(benchmark::State& state) {
  const Window& w = window();
  vellisk::CurveSetup s;
  s.rate = kParams.rate, s.delay = w.delay, s.frequencies = w.grid, s.fraction = static_cast<int>(state.range(0));
  s.edge = w.edge, s.band_low = w.edge.low(), s.band_high = w.edge.high();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellisk::response_curves(w.x.data(), static_cast<std::int64_t>(w.x.size()), s));
  }
}

void Waterfall(benchmark::State& state) {
  const Window& w = window();
  vellisk::WaterfallSetup s = vellisk::waterfall_over(static_cast<double>(state.range(0)));
  s.rate = kParams.rate, s.arrival = w.delay;
  s.low_hz = w.edge.low(), s.high_hz = w.edge.high();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellisk::waterfall(w.x.data(), static_cast<std::int64_t>(w.x.size()), s));
  }
}

void Spectrogram(benchmark::State& state) {
  const Window& w = window();
  vellisk::SpectrogramSetup s;
  s.rate = kParams.rate, s.arrival = w.delay, s.low_hz = w.edge.low(), s.high_hz = w.edge.high();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellisk::spectrogram(w.x.data(), static_cast<std::int64_t>(w.x.size()), s));
  }
}

void Step(benchmark::State& state) {
  const Window& w = window();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vellisk::step_response(w.x.data(), static_cast<std::int64_t>(w.x.size())));
  }
}

BENCHMARK(Measure)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Curves)->Arg(0)->Arg(6)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Waterfall)->Arg(20)->Arg(500)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Spectrogram)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Step)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
