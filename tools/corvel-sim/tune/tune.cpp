#include "tune/tune.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/engine.h"
#include "run/sample_span.h"
#include "tune/order_search.h"
#include "tune/tune_workers.h"

namespace corvel::sim {

namespace {

constexpr size_t kMinScoredSamples = 10;

std::string short_number(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.6g", x);
  return buffer;
}

void check_input(const Input& input, double warmup_end) {
  for (size_t k = 0; k < input.u.size(); ++k) {
    if (!std::isfinite(input.u[k])) {
      throw TuneError("sample " + std::to_string(k + 1) + " of " + input.description + " is " + short_number(input.u[k]) +
                      ": tuning needs a finite signal (a non-finite sample poisons the estimator's states for the "
                      "rest of the run)");
    }
  }
  const auto [lo, hi] = std::minmax_element(input.u.begin(), input.u.end());
  if (*lo == *hi) {
    throw TuneError(input.description + ": the signal is constant (" + short_number(*lo) +
                    "): every gain predicts it exactly, so the data cannot choose one");
  }
  const double end = input.t0 + static_cast<double>(input.u.size() - 1) * input.solver_step;
  size_t scored = 0;
  for (size_t k = 0; k < input.u.size(); ++k) {
    if (input.t0 + static_cast<double>(k) * input.solver_step >= warmup_end) ++scored;
  }
  if (scored < kMinScoredSamples) {
    throw TuneError("the record ends at t = " + short_number(end) + " s, leaving " + std::to_string(scored) +
                    " samples after the warm-up (to t = " + short_number(warmup_end) + " s); " +
                    std::to_string(kMinScoredSamples) + " at least are needed (shorten --warmup or give more data)");
  }
}

}  // namespace

Evaluation evaluate(host::MexFunction entry, const RunDescription& options, const Input& input, double gain, int order,
                    double warmup_end) {
  // Errors are summed in units of the signal's range, so that a large signal
  // cannot overflow the sum of squares: only a non-finite error diverges.
  const auto [lo, hi] = std::minmax_element(input.u.begin(), input.u.end());
  const double unit = *hi > *lo ? *hi - *lo : 1.0;
  host::SolverSettings solver;
  solver.variable_step = options.variable_step;
  solver.step = input.solver_step;
  host::Engine engine(entry, solver);
  const std::vector<double>* samples = &input.u;
  engine.add_block({gain, options.step, static_cast<double>(order)},
                   [samples](long k, double) { return (*samples)[static_cast<size_t>(k)]; });

  // Output 0 at row k is the prediction error of sample k - 1: it is scored
  // with that sample's time.
  double error_sum = 0.0;
  size_t error_count = 0;
  std::vector<double> derivative_sum(static_cast<size_t>(order), 0.0);
  size_t derivative_count = 0;
  long previous_step = -1;
  const bool truth = !input.truth.empty();
  engine.run(static_cast<long>(input.u.size()), [&](const host::SampleView& v) {
    if (previous_step >= 0 && input.t0 + static_cast<double>(previous_step) * input.solver_step >= warmup_end) {
      const double e = v.error[0] / unit;
      error_sum += e * e;
      ++error_count;
    }
    previous_step = v.step;
    if (truth && input.t0 + v.t >= warmup_end) {
      const Derivatives& d = input.truth[static_cast<size_t>(v.step)];
      for (int j = 0; j < v.order && j < order; ++j) {
        const double diff = v.derivatives[j] - d[static_cast<size_t>(j + 1)];
        derivative_sum[static_cast<size_t>(j)] += diff * diff;
      }
      ++derivative_count;
    }
  });

  Evaluation e{gain, std::numeric_limits<double>::infinity(), {}};
  if (error_count > 0) {
    const double rms = unit * std::sqrt(error_sum / static_cast<double>(error_count));
    if (std::isfinite(rms)) e.error_rms = rms;
  }
  if (truth && derivative_count > 0) {
    for (double s : derivative_sum) e.derivative_rms.push_back(std::sqrt(s / static_cast<double>(derivative_count)));
  }
  return e;
}

Evaluation evaluate_together(host::MexFunction entry, const RunDescription& options, const std::vector<Input>& inputs,
                             double gain, int order, double warmup_end) {
  if (inputs.size() == 1) return evaluate(entry, options, inputs[0], gain, order, warmup_end);
  Evaluation together{gain, 0.0, {}};
  for (const Input& input : inputs) {
    together.error_rms += evaluate(entry, options, input, gain, order, warmup_end).error_rms / input.variation;
  }
  if (!std::isfinite(together.error_rms)) together.error_rms = std::numeric_limits<double>::infinity();
  return together;
}

double check_tunable(const TuneDescription& options, const std::vector<Input>& inputs) {
  const Input& input = inputs.front();
  if (input.u.empty()) throw TuneError("the record has no samples");
  const double span = static_cast<double>(input.u.size() - 1) * input.solver_step;
  const double warmup_ends = warmup_end(options.warmup, input.t0, input.t0 + span);
  for (const Input& each : inputs) check_input(each, warmup_ends);
  return warmup_ends;
}

TuneResult tune(host::MexFunction entry, const TuneDescription& options, const Input& input, int first_order,
                int last_order, const Progress& progress) {
  return tune_together(entry, options, {input}, first_order, last_order, progress);
}

TuneResult tune_together(host::MexFunction entry, const TuneDescription& options, const std::vector<Input>& inputs,
                         int first_order, int last_order, const Progress& progress) {
  const Input& input = inputs.front();  // every input has the same clock
  const double warmup_ends = check_tunable(options, inputs);
  // The grid is centred by the signal's range; for several, by the
  // geometric mean of their ranges.
  double log_range = 0.0;
  for (const Input& each : inputs) {
    const auto [lo, hi] = std::minmax_element(each.u.begin(), each.u.end());
    log_range += std::log(*hi - *lo);
  }
  const double range = inputs.size() == 1 ? [&] {
    const auto [lo, hi] = std::minmax_element(input.u.begin(), input.u.end());
    return *hi - *lo;
  }() : std::exp(log_range / static_cast<double>(inputs.size()));
  const int orders = last_order - first_order + 1;
  const long coarse_points =
      static_cast<long>((search::kDecadesBelow + search::kDecadesAbove) * search::kPointsPerDecade) + 1;
  const long expected = orders * (coarse_points + search::kRefinementSteps / 2);

  TuneResult result{{}, 0, warmup_ends, 0, 1};
  std::vector<OrderSearch> searches;
  for (int n = first_order; n <= last_order; ++n) searches.emplace_back(n, options.gain_low, options.gain_high, range, input.solver_step);
  EvaluationPool pool(entry, options, inputs, warmup_ends, options.jobs);
  result.jobs = pool.jobs();
  // Each order's search goes on as soon as its own batch is back, so that the
  // workers are kept busy; what each search sees depends on its results
  // alone, never on which worker ran them or when.
  std::vector<std::vector<Evaluation>> returned(searches.size());
  std::vector<size_t> outstanding(searches.size(), 0);
  auto submit_batch = [&](size_t i) {
    const std::vector<double>& batch = searches[i].batch();
    returned[i].assign(batch.size(), Evaluation{});
    outstanding[i] = batch.size();
    for (size_t k = 0; k < batch.size(); ++k) {
      pool.submit({i, k}, {searches[i].order(), searches[i].gain_at(batch[k])});
    }
  };
  for (size_t i = 0; i < searches.size(); ++i) submit_batch(i);
  while (!pool.idle()) {
    auto [tag, evaluation] = pool.next_result();
    const size_t i = tag.search;
    returned[i][tag.place] = std::move(evaluation);
    ++result.runs;
    if (progress) progress(result.runs, std::max(expected, result.runs));
    if (--outstanding[i] == 0) {
      searches[i].take(returned[i]);
      submit_batch(i);
    }
  }
  for (OrderSearch& s : searches) result.orders.push_back(s.finish());
  result.recommended = recommended_order(result.orders);
  return result;
}

}  // namespace corvel::sim
