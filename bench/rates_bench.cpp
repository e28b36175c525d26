// The cost of a block step in models of one rate and of several, for each MEX
// file given, in one run: each model is simulated by our engine through
// mexFunction, the files taking turns, and the median of the repeats is kept.
// Prints nanoseconds per block step (outputs and update of one block), each
// file's against the first file's, and each model's against the single-rate
// one's. To compare two builds of the block, give the MEX file of each.
//   corvel_rates_bench MEXFILE [MEXFILE ...]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/engine.h"
#include "host/mex_module.h"

namespace {

constexpr double kSolverStep = 0.0005;
constexpr long kSteps = 200000;  // 100 s of model time
constexpr int kRepeats = 9;

struct Model {
  const char* name;
  std::vector<double> periods;  // a block at each
};

double signal(long k) { return std::sin(static_cast<double>(k) * kSolverStep * 6.0); }

// Seconds for one simulation of the model, and its block steps.
double simulate(const corvel::host::MexModule& mex, const Model& model, long* block_steps) {
  corvel::host::Engine engine(mex.entry(), {false, kSolverStep});
  for (const double period : model.periods) engine.add_block({20.0, period, 3.0}, [](long k, double) { return signal(k); });
  engine.initialize();
  long steps = 0;
  double sink = 0.0;
  const auto start = std::chrono::steady_clock::now();
  engine.run(kSteps, [&](const corvel::host::SampleView& v) {
    sink += v.estimate[0];
    ++steps;
  });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *block_steps = steps;
  if (std::isnan(sink)) std::printf("(a NaN estimate)\n");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvel_rates_bench MEXFILE [MEXFILE ...]\n");
    return 2;
  }
  std::vector<std::unique_ptr<corvel::host::MexModule>> mexes;
  for (int i = 1; i < argc; ++i) mexes.push_back(std::make_unique<corvel::host::MexModule>(argv[i]));
  const std::vector<Model> models = {
      {"one rate: 2 blocks at 1 ms", {0.001, 0.001}},
      {"two rates: 1 ms and 10 ms", {0.001, 0.01}},
      {"two rates taking turns: 0.5 ms and 1 ms", {0.0005, 0.001}},
  };
  // ns per block step, by model and file.
  std::vector<std::vector<double>> cost(models.size(), std::vector<double>(mexes.size()));
  for (size_t m = 0; m < models.size(); ++m) {
    std::vector<std::vector<double>> samples(mexes.size());
    for (int r = 0; r < kRepeats; ++r) {
      for (size_t f = 0; f < mexes.size(); ++f) {
        long steps = 0;
        const double seconds = simulate(*mexes[f], models[m], &steps);
        samples[f].push_back(seconds * 1e9 / static_cast<double>(steps));
      }
    }
    for (size_t f = 0; f < mexes.size(); ++f) {
      std::sort(samples[f].begin(), samples[f].end());
      cost[m][f] = samples[f][kRepeats / 2];
    }
  }
  std::printf("ns per block step (median of %d runs of %ld solver steps of %g s)\n", kRepeats, kSteps, kSolverStep);
  for (size_t m = 0; m < models.size(); ++m) {
    std::printf("%-42s", models[m].name);
    for (size_t f = 0; f < mexes.size(); ++f) {
      std::printf("  %8.1f", cost[m][f]);
      if (f > 0) std::printf(" (%.3f x file 1)", cost[m][f] / cost[m][0]);
      if (m > 0) std::printf(" [%.3f x one rate]", cost[m][f] / cost[0][f]);
    }
    std::printf("\n");
  }
  for (size_t f = 0; f < mexes.size(); ++f) std::printf("file %zu: %s\n", f + 1, argv[f + 1]);
  return 0;
}
