#include "simulate.h"

#include <cmath>

#include "host/engine.h"

namespace corvel::sim {

namespace {

double default_solver_step(const SimOptions& o) {
  if (o.solver_step > 0.0) return o.solver_step;
  if (o.step > 0.0 && std::isfinite(o.step)) return o.step;
  return 0.01;
}

}  // namespace

Input make_input(const SimOptions& o) {
  Input input;
  if (!o.input.empty()) {
    SampledSignal file = read_csv_file(o.input);
    input.u = std::move(file.u);
    input.solver_step = default_solver_step(o);
    if (!file.t.empty()) {
      const double step = file.t.size() > 1 ? time_step(file, o.input) : input.solver_step;
      if (o.solver_step > 0.0 && std::fabs(o.solver_step - step) > 1e-9 * step) {
        throw UsageError("--solver-step " + std::to_string(o.solver_step) + " differs from the step " +
                         std::to_string(step) + " of the time column in " + o.input);
      }
      input.solver_step = step;
      input.t0 = file.t.front();
    }
    input.description = o.input;
    return input;
  }

  const auto signal = make_signal(o.signal);
  input.solver_step = default_solver_step(o);
  const double count = std::floor(o.duration / input.solver_step + 1e-9) + 1.0;
  if (!(count <= 5e7)) throw UsageError("--duration: " + std::to_string(o.duration) + " s at the step " +
                                        std::to_string(input.solver_step) + " s is more than 50 million samples");
  const auto samples = static_cast<size_t>(count);
  input.truth.reserve(samples);
  input.u.reserve(samples);
  double sum_squares = 0.0;
  for (size_t k = 0; k < samples; ++k) {
    input.truth.push_back(signal->at(static_cast<double>(k) * input.solver_step));
    input.u.push_back(input.truth.back()[0]);
    sum_squares += input.u.back() * input.u.back();
  }
  double sigma = o.noise;
  if (o.snr_given) sigma = std::sqrt(sum_squares / static_cast<double>(samples)) / std::pow(10.0, o.snr_db / 20.0);
  if (sigma > 0.0) {
    Noise noise(sigma, o.seed);
    for (double& u : input.u) u += noise.next();
  }
  input.description = o.signal.kind;
  return input;
}

Log simulate(host::MexFunction entry, const SimOptions& o, const Input& input, std::vector<std::string>* trace) {
  host::SolverSettings solver;
  solver.variable_step = o.variable_step;
  solver.step = input.solver_step;
  host::Engine engine(entry, solver);
  engine.enable_trace(trace != nullptr);
  const std::vector<double>* samples = &input.u;
  engine.add_block({o.gain, o.step, o.order}, [samples](long k, double) { return (*samples)[static_cast<size_t>(k)]; });

  Log log;
  auto finish_trace = [&] {
    if (trace != nullptr) trace->insert(trace->end(), engine.trace().begin(), engine.trace().end());
  };
  try {
    engine.initialize();
    engine.run(static_cast<long>(input.u.size()), [&](const host::SampleView& view) {
      if (log.derivatives.empty()) {
        log.order = view.order;
        log.derivatives.assign(static_cast<size_t>(view.order), {});
      }
      log.t.push_back(input.t0 + view.t);
      log.u.push_back(view.u);
      log.error.push_back(view.error[0]);
      log.estimate.push_back(view.estimate[0]);
      for (int j = 0; j < view.order; ++j) log.derivatives[static_cast<size_t>(j)].push_back(view.derivatives[j]);
      log.sample.push_back(static_cast<size_t>(view.step));
    });
  } catch (...) {
    finish_trace();
    throw;
  }
  finish_trace();
  return log;
}

std::string default_mex_path() {
  const std::string dir = host::executable_directory();
#if defined(_WIN32)
  return dir + (sizeof(void*) == 8 ? "\\corvel.mexw64" : "\\corvel.mexw32");
#else
  return dir + (sizeof(void*) == 8 ? "/corvel.mexa64" : "/corvel.mexglx");
#endif
}

}  // namespace corvel::sim
