// A whole simulation through mexFunction (flags 104 and 105 per sample, by our
// engine over the loaded MEX file) against the bare differentiator_step loop,
// in one binary: the host path's cost as a ratio to the step's.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "host/engine.h"
#include "host/mex_module.h"
#include "kernel/differentiator.h"

namespace {

constexpr long kSamples = 10000;
constexpr double kStep = 0.001;

double signal(long k) { return std::sin(static_cast<double>(k) * kStep * 6.0); }

void BM_BareStepLoop(benchmark::State& state) {
  const double n = static_cast<double>(state.range(0));
  for (auto _ : state) {
    double z[11] = {signal(0)}, z_next[11], e = 0.0;
    corvel::differentiator_initialize();
    for (long k = 0; k < kSamples; ++k) {
      corvel::differentiator_step(signal(k), z, 20.0, kStep, n, &e, z_next);
      std::memcpy(z, z_next, sizeof z);
    }
    benchmark::DoNotOptimize(z);
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_BareStepLoop)->Arg(1)->Arg(4)->Arg(10)->Unit(benchmark::kMicrosecond);

void BM_SimulationThroughMexFunction(benchmark::State& state) {
  static const corvel::host::MexModule mex(CORVEL_MEX_PATH);
  const double n = static_cast<double>(state.range(0));
  double sink = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    corvel::host::Engine engine(mex.entry(), {false, kStep});
    engine.add_block({20.0, kStep, n}, [](long k, double) { return signal(k); });
    engine.initialize();
    state.ResumeTiming();
    engine.run(kSamples, [&](const corvel::host::SampleView& v) { sink += v.estimate[0]; });
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_SimulationThroughMexFunction)->Arg(1)->Arg(4)->Arg(10)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
