// Per-sample cost of computing the sweep and inverse samples, alone and written through SampleFile.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "sweep/inverse_gen.h"
#include "sweep/sample_file.h"
#include "sweep/sweep_gen.h"

using namespace vellisk;

namespace {

// The usage example: 45 s from 10 Hz to 21 kHz at 44.1 kHz.
const SweepDesign kDesign = compute_design({44100, 0.5, 10, 21000, 45, 2, 0.05, 0.005});
const double kFactor = normfactor(kDesign);
const std::int64_t kSweepSamples = kDesign.sweeplen + 2 * std::int64_t{kDesign.silencelen};
const std::int64_t kInverseSamples = kDesign.sweeplen;

// Shows the time per sample (seconds, printed with an SI prefix: 20n is 20 ns).
void per_sample(benchmark::State& state, std::int64_t samples) {
  state.counters["per_sample"] = benchmark::Counter(
      static_cast<double>(samples),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void ComputeSweep(benchmark::State& state) {
  for (auto _ : state) {
    double sum = 0;
    emit_sweep(kDesign, [&sum](double v) { sum += v; });
    benchmark::DoNotOptimize(sum);
  }
  per_sample(state, kSweepSamples);
}

void ComputeInverse(benchmark::State& state) {
  for (auto _ : state) {
    double sum = 0;
    emit_inverse(kDesign, kFactor, [&sum](double v) { sum += v; });
    benchmark::DoNotOptimize(sum);
  }
  per_sample(state, kInverseSamples);
}

void SweepFile(benchmark::State& state) {
  for (auto _ : state) {
    SampleFile file;
    if (file.open("/dev/null") != 0) state.SkipWithError("cannot open /dev/null");
    write_sweep(kDesign, file);
    if (file.close() != 0) state.SkipWithError("cannot write /dev/null");
  }
  per_sample(state, kSweepSamples);
}

void InverseFile(benchmark::State& state) {
  for (auto _ : state) {
    SampleFile file;
    if (file.open("/dev/null") != 0) state.SkipWithError("cannot open /dev/null");
    write_inverse(kDesign, kFactor, file);
    if (file.close() != 0) state.SkipWithError("cannot write /dev/null");
  }
  per_sample(state, kInverseSamples);
}

BENCHMARK(ComputeSweep)->Unit(benchmark::kMillisecond);
BENCHMARK(ComputeInverse)->Unit(benchmark::kMillisecond);
BENCHMARK(SweepFile)->Unit(benchmark::kMillisecond);
BENCHMARK(InverseFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
