// One simulation of the block over an input, through the engine and the MEX
// file, logged as the host logs it.
#ifndef CORVEL_SIM_SIMULATE_H
#define CORVEL_SIM_SIMULATE_H

#include <string>
#include <vector>

#include "csv_input.h"
#include "host/array_api.h"
#include "options.h"
#include "signals.h"

namespace corvel::sim {

// The input of a run: samples on the solver's grid, and for a built-in signal
// the true derivatives at each sample time.
struct Input {
  double t0 = 0.0;
  double solver_step = 0.01;
  std::vector<double> u;
  std::vector<Derivatives> truth;  // empty for a file
  std::string description;
};

// Builds the input the options ask for. Throws InputError or UsageError.
Input make_input(const SimOptions& options);

// One row per sample hit of the block, taken after mdlOutputs.
struct Log {
  int order = 0;
  std::vector<double> t, u, error, estimate;
  std::vector<std::vector<double>> derivatives;  // [j-1][row]
  std::vector<size_t> sample;                    // index into Input::u of each row
};

// Runs the block with the options' parameters over the input. Throws
// host::EngineError with the block's own message when a call fails. The call
// trace is appended to *trace when trace is not null.
Log simulate(host::MexFunction entry, const SimOptions& options, const Input& input,
             std::vector<std::string>* trace = nullptr);

// The MEX file beside the running program, for this platform.
std::string default_mex_path();

}  // namespace corvel::sim

#endif
