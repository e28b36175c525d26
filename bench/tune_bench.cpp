// corvel-sim tune over a 100 000-sample record, orders 1 to 5, against the
// same block runs made directly with the kernel, in one binary: the tune's
// cost as a ratio to the bare runs it needs.
#include <benchmark/benchmark.h>

#include <cstring>
#include <utility>
#include <vector>

#include "host/mex_module.h"
#include "kernel/differentiator.h"
#include "run/simulate.h"
#include "tune/tune.h"

namespace {

using namespace corvel::sim;

// A noisy sine of 100 000 samples at 1 ms: as a record from a file (only the
// error output is scored) or as the built-in signal (the derivative errors
// against the truth are scored too).
struct Setup {
  TuneDescription options;
  Input builtin, record;
  Setup() {
    options.signal.kind = "sine";
    options.snr_db = 30;
    options.snr_given = true;
    options.step = 0.001;
    options.duration = 99.999;
    builtin = make_input(options);
    record = builtin;
    record.truth.clear();
    record.description = "record";
  }
};

const Setup& setup() {
  static const Setup s;
  return s;
}

const Input& input_of(const benchmark::State& state) { return state.range(0) != 0 ? setup().builtin : setup().record; }

std::vector<std::pair<double, int>> runs_of_tune;  // (gain, order) of each run, from BM_Tune

void BM_Tune(benchmark::State& state) {
  static const corvel::host::MexModule mex(CORVEL_MEX_PATH);
  long runs = 0;
  TuneDescription options = setup().options;
  options.jobs = 1;
  for (auto _ : state) {
    const TuneResult result = tune(mex.entry(), options, input_of(state), 1, 5);
    runs = result.runs;
    runs_of_tune.clear();
    for (const OrderResult& r : result.orders) {
      for (const Evaluation& e : r.evaluations) runs_of_tune.emplace_back(e.gain, r.order);
    }
  }
  state.counters["block_runs"] = static_cast<double>(runs);
  state.counters["samples"] = static_cast<double>(input_of(state).u.size());
}

void BM_BareKernelRunsOfTune(benchmark::State& state) {
  const std::vector<double>& u = setup().record.u;
  const double h = setup().record.solver_step;
  double sink = 0.0;
  for (auto _ : state) {
    for (const auto& [gain, order] : runs_of_tune) {
      double z[11] = {u[0]}, z_next[11], e = 0.0, sum = 0.0;
      corvel::differentiator_initialize();
      for (double sample : u) {
        corvel::differentiator_step(sample, z, gain, h, order, &e, z_next);
        std::memcpy(z, z_next, sizeof z);
        sum += e * e;
      }
      sink += sum;
    }
  }
  benchmark::DoNotOptimize(sink);
  state.counters["block_runs"] = static_cast<double>(runs_of_tune.size());
}
// The record's tune over two worker processes (this machine's cores), against
// BM_Tune/0 in one: the same runs, the same result.
void BM_TuneTwoJobs(benchmark::State& state) {
  static const corvel::host::MexModule mex(CORVEL_MEX_PATH);
  TuneDescription options = setup().options;
  options.jobs = 2;
  for (auto _ : state) {
    const TuneResult result = tune(mex.entry(), options, setup().record, 1, 5);
    size_t k = 0;
    for (const OrderResult& r : result.orders) {
      for (const Evaluation& e : r.evaluations) {
        if (k >= runs_of_tune.size() || runs_of_tune[k++] != std::make_pair(e.gain, r.order)) {
          state.SkipWithError("the runs differ from the one-process tune's");
        }
      }
    }
  }
}

// Each tune (0: the record, 1: the built-in signal) followed by the bare runs of
// the same gains and orders.
BENCHMARK(BM_Tune)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TuneTwoJobs)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareKernelRunsOfTune)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tune)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareKernelRunsOfTune)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
