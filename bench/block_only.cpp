// The block alone over a long record: our engine drives the MEX file through
// mexFunction over samples held in memory, with no file read or written; the
// floor that a whole corvel-sim run over the same samples is measured against
// (bench/sim_bench.sh). Prints the seconds and samples per second.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host/engine.h"
#include "host/mex_module.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: corvel_block_only MEXFILE SAMPLES ORDER GAIN\n");
    return 2;
  }
  const long samples = std::atol(argv[2]);
  const double order = std::atof(argv[3]), gain = std::atof(argv[4]);
  constexpr double kStep = 0.001;
  // The same signal bench/sim_bench.sh writes to its CSV file.
  std::vector<double> u(static_cast<size_t>(samples));
  for (long k = 0; k < samples; ++k) {
    const double t = static_cast<double>(k) * kStep;
    u[static_cast<size_t>(k)] = std::sin(6.0 * t) + 0.01 * std::sin(1.7 * static_cast<double>(k));
  }
  const corvel::host::MexModule mex(argv[1]);
  corvel::host::Engine engine(mex.entry(), {false, kStep});
  engine.add_block({gain, -1.0, order}, [&u](long k, double) { return u[static_cast<size_t>(k)]; });
  const auto start = std::chrono::steady_clock::now();
  engine.initialize();
  double sink = 0.0;
  engine.run(samples, [&](const corvel::host::SampleView& v) { sink += v.estimate[0]; });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("block alone: %ld samples in %.3f s, %.0f samples/s (checksum %g)\n", samples, seconds,
              static_cast<double>(samples) / seconds, sink);
  return 0;
}
