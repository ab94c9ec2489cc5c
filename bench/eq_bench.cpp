// The costs of vellisk-eq's steps: a 10-filter fit, and a 65536-tap FIR of each phase, on a
// response of twelve peaks and dips over 20 Hz - 20 kHz at 96 points an octave.
#include <benchmark/benchmark.h>

#include <cmath>

#include "vellisk/eq.h"

namespace {

vellisk::EqPlan plan() {
  std::vector<vellisk::EqFilter> bumps;
  for (int k = 0; k < 12; ++k) {
    bumps.push_back({vellisk::EqFilterType::peaking, 30 * std::pow(1.7, k), (k % 2 ? -6.0 : 7.0) - k % 3, 2.0 + k % 4});
  }
  vellisk::EqCurve c;
  for (double f = 20; f <= 20000; f *= std::exp2(1.0 / 96)) c.frequencies.push_back(f);
  c.level = vellisk::filters_gain_db(bumps, 48000, c.frequencies);
  vellisk::EqRequest r;
  r.max_boost_db = 6;
  r.shelves = true;
  return vellisk::plan_correction(r, c);
}

void BM_Fit10Filters(benchmark::State& state) {
  const vellisk::EqPlan p = plan();
  for (auto _ : state) benchmark::DoNotOptimize(vellisk::fit_correction(p));
}
BENCHMARK(BM_Fit10Filters)->Unit(benchmark::kMillisecond);

void BM_Fir65536(benchmark::State& state) {
  const vellisk::EqPlan p = plan();
  const vellisk::EqCorrection c = vellisk::fit_correction(p);
  vellisk::FirRequest fir;
  fir.phase = static_cast<vellisk::EqPhase>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(vellisk::design_fir(p, c, fir));
}
BENCHMARK(BM_Fir65536)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
