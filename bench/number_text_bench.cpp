// A log's numbers as text: corvel-sim's writer against std::to_chars, on
// the numbers a run's CSV log holds (times on a millisecond grid, a noisy
// sine and its estimates), in one binary: the writer's cost as a ratio.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <vector>

#include "common/number_text.h"

namespace {

const std::vector<double>& log_numbers() {
  static const std::vector<double> numbers = [] {
    std::vector<double> v;
    for (int k = 0; k < 100000; ++k) {
      const double t = k * 0.001;
      v.push_back(t);
      v.push_back(std::sin(6.0 * t) + 0.01 * std::sin(1.7 * k));
      v.push_back(6.0 * std::cos(6.0 * t));
      v.push_back(-1e-9 * k);
    }
    return v;
  }();
  return numbers;
}

void BM_StdToChars(benchmark::State& state) {
  char text[64];
  for (auto _ : state) {
    for (const double x : log_numbers()) benchmark::DoNotOptimize(std::to_chars(text, text + sizeof text, x).ptr);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(log_numbers().size()));
}
BENCHMARK(BM_StdToChars);

void BM_WriteNumber(benchmark::State& state) {
  char text[64];
  for (auto _ : state) {
    for (const double x : log_numbers()) benchmark::DoNotOptimize(corvel::sim::write_number(text, x));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(log_numbers().size()));
}
BENCHMARK(BM_WriteNumber);

}  // namespace

BENCHMARK_MAIN();
