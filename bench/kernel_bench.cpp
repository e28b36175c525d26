// The kernel's cost per sample and per build of the transition matrix, and the
// floor a step of each order cannot go below, in the same binary so that the
// step is read as a ratio to it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "kernel/correction.h"
#include "kernel/differentiator.h"
#include "kernel/matrix_exponential.h"
#include "kernel/safe_pow.h"

namespace {

using corvel::kStateCount;

// The input of both loops: a sine with an error that never vanishes.
double input(double t) { return std::sin(t); }

void BM_DifferentiatorStep(benchmark::State& state) {
  const double n = static_cast<double>(state.range(0));
  corvel::differentiator_initialize();
  double z[kStateCount] = {}, z_next[kStateCount], e = 0.0;
  double t = 0.0;
  for (auto _ : state) {
    corvel::differentiator_step(input(t), z, 20.0, 0.01, n, &e, z_next);
    for (int i = 0; i < kStateCount; ++i) z[i] = z_next[i];
    t += 0.01;
  }
  benchmark::DoNotOptimize(z);
}
BENCHMARK(BM_DifferentiatorStep)->Arg(1)->Arg(2)->Arg(4)->Arg(7)->Arg(10);

// What a step of order n must compute when the states and the matrix are
// finite: the error and |e|; the power for F and one exp; each distinct
// power the gains need, once (two per entry from 2 on, and F^m for m = 3..n);
// the gains' polynomials, about (n + 1)^2 multiply-adds; and the
// (n + 1)-triangle of Phi p. It runs over the errors and states of a real run
// of the step, so that every power and exp sees the arguments the step sees,
// one sample after the other.
void BM_StepFloor(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  constexpr int kRecorded = 1024;
  std::vector<double> inputs(kRecorded), states(kRecorded * kStateCount);
  corvel::differentiator_initialize();
  {
    double z[kStateCount] = {}, z_next[kStateCount], e = 0.0, t = 0.0;
    for (int k = 0; k < 4 * kRecorded; ++k, t += 0.01) {  // past the start-up transient first
      const int r = k % kRecorded;
      inputs[r] = input(t);
      for (int i = 0; i < kStateCount; ++i) states[r * kStateCount + i] = z[i];
      corvel::differentiator_step(input(t), z, 20.0, 0.01, n, &e, z_next);
      for (int i = 0; i < kStateCount; ++i) z[i] = z_next[i];
    }
  }
  double z_next[kStateCount] = {};
  int r = 0;
  for (auto _ : state) {
    const double* z = &states[r * kStateCount];
    // Each sample waits for the one before, as in a run: the last new state
    // enters the error (times zero, which the compiler must still compute).
    const double e = inputs[r] - (z[0] + z_next[0] * 0.0);
    r = (r + 1) % kRecorded;
    const double a = std::fabs(e);
    const double w = corvel::safe_pow(a, -1.0 / (n + 1.0));
    const double F = std::exp((-(w * 20.0)) * 0.01);
    const double g = (F - 1.0) / 0.01;
    double k[kStateCount] = {};
    k[1] = std::sqrt(a) * g;
    for (int j = 2; j <= n; ++j) k[j] = corvel::safe_pow(corvel::safe_pow(a, 1.0 / (j + 1)) * g, j + 1.0);
    double powers[kStateCount] = {1.0, F, F * F};
    for (int m = 3; m <= n; ++m) powers[m] = corvel::safe_pow(F, m);
    for (int j = 0; j <= n; ++j) {
      double p = 0.0;
      for (int m = 0; m <= n - j; ++m) p = p + powers[m] * 1.5;
      k[j] = k[j] * p * 0.01 / 3.0;
    }
    for (int i = 0; i <= n; ++i) {
      double sum = 0.0;
      for (int j = i; j <= n; ++j) sum = sum + corvel::transition_matrix[corvel::at(i, j)] * z[j];
      z_next[i] = sum + k[i] * e;
    }
    benchmark::DoNotOptimize(z_next);
  }
}
BENCHMARK(BM_StepFloor)->Arg(1)->Arg(2)->Arg(4)->Arg(7)->Arg(10);

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
