// The kernel's cost per sample and per build of the transition matrix, and the
// floor a step cannot go below: its matrix-vector product, its exp and its
// powers, in the same binary so that the step is read as a ratio to it.
#include <benchmark/benchmark.h>

#include <cmath>

#include "kernel/correction.h"
#include "kernel/differentiator.h"
#include "kernel/matrix_exponential.h"
#include "kernel/safe_pow.h"

namespace {

using corvel::kStateCount;

void BM_DifferentiatorStep(benchmark::State& state) {
  const double n = static_cast<double>(state.range(0));
  corvel::differentiator_initialize();
  double z[kStateCount] = {}, z_next[kStateCount], e = 0.0;
  double t = 0.0;
  for (auto _ : state) {
    corvel::differentiator_step(std::sin(t), z, 20.0, 0.01, n, &e, z_next);
    for (int i = 0; i < kStateCount; ++i) z[i] = z_next[i];
    t += 0.01;
  }
  benchmark::DoNotOptimize(z);
}
BENCHMARK(BM_DifferentiatorStep)->Arg(1)->Arg(4)->Arg(10);

// What any step of order n must compute: Phi p, F = exp(...), the power for
// F and the powers of the gains (two per entry from 2 on, and F^m for m >= 3
// in every polynomial).
void BM_StepFloor(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  corvel::differentiator_initialize();
  corvel::build_transition_matrix(0.01);
  double z[kStateCount] = {}, z_next[kStateCount];
  double t = 0.0;
  for (auto _ : state) {
    const double a = std::fabs(std::sin(t) - z[0]) + 1e-3;
    const double w = corvel::safe_pow(a, -1.0 / (n + 1.0));
    const double F = std::exp((-(w * 20.0)) * 0.01);
    const double g = (F - 1.0) / 0.01;
    double acc = 0.0;
    for (int j = 2; j <= n; ++j) acc += corvel::safe_pow(corvel::safe_pow(a, 1.0 / (j + 1)) * g, j + 1.0);
    for (int j = 1; j <= n; ++j) {
      for (int m = 3; m <= n - j; ++m) acc += corvel::safe_pow(F, m);
    }
    for (int i = 0; i < kStateCount; ++i) {
      double sum = 0.0;
      for (int j = 0; j < kStateCount; ++j) sum = sum + corvel::transition_matrix[corvel::at(i, j)] * z[j];
      z_next[i] = sum;
    }
    z_next[0] += acc * 1e-300;
    for (int i = 0; i < kStateCount; ++i) z[i] = z_next[i] * 0.5;
    t += 0.01;
  }
  benchmark::DoNotOptimize(z);
}
BENCHMARK(BM_StepFloor)->Arg(1)->Arg(4)->Arg(10);

// One build per Pade band (degree 3, 5, 7, 9, 13) and one with scaling.
void BM_BuildTransitionMatrix(benchmark::State& state) {
  const double h = static_cast<double>(state.range(0)) / 1000.0;
  for (auto _ : state) {
    corvel::differentiator_initialize();
    corvel::build_transition_matrix(h);
    benchmark::DoNotOptimize(corvel::transition_matrix);
  }
  state.SetLabel("h = " + std::to_string(h));
}
BENCHMARK(BM_BuildTransitionMatrix)->Arg(10)->Arg(200)->Arg(800)->Arg(2000)->Arg(5000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
