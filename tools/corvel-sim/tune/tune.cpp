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

namespace {

// The stretches of a long record its search runs on: each input's samples
// from the same rows, evenly spread over the scored span, with the time of
// each stretch's first third, its warm-up, in `warmup_ends`.
std::vector<std::vector<Input>> search_parts(const std::vector<Input>& inputs, double warmup_ends,
                                             std::vector<double>* part_warmup_ends) {
  const Input& first = inputs.front();
  size_t scored_from = 0;
  while (scored_from < first.u.size() && first.t0 + static_cast<double>(scored_from) * first.solver_step < warmup_ends) {
    ++scored_from;
  }
  const size_t room = first.u.size() - scored_from - kPartSamples;
  std::vector<std::vector<Input>> parts;
  for (size_t p = 0; p < kSearchParts; ++p) {
    const size_t start = scored_from + room * p / (kSearchParts - 1);
    std::vector<Input> part;
    for (const Input& input : inputs) {
      Input piece = input;
      piece.u.assign(input.u.begin() + static_cast<long>(start), input.u.begin() + static_cast<long>(start + kPartSamples));
      piece.truth.clear();  // the parts choose the gain; the whole record's runs are scored against the truth
      piece.t0 = input.t0 + static_cast<double>(start) * input.solver_step;
      part.push_back(std::move(piece));
    }
    parts.push_back(std::move(part));
    part_warmup_ends->push_back(parts.back().front().t0 +
                                static_cast<double>(kPartSamples / 3) * first.solver_step);
  }
  return parts;
}

// One gain and order over every part: each input's error RMS pooled over the
// parts (they have one length), then, for several inputs, the sum of each
// over its RMS about its mean, as over the whole record.
Evaluation evaluate_parts(host::MexFunction entry, const RunDescription& options,
                          const std::vector<std::vector<Input>>& parts, const std::vector<double>& part_warmup_ends,
                          double gain, int order) {
  const size_t inputs = parts.front().size();
  std::vector<double> squares(inputs, 0.0);
  for (size_t p = 0; p < parts.size(); ++p) {
    for (size_t c = 0; c < inputs; ++c) {
      const double rms = evaluate(entry, options, parts[p][c], gain, order, part_warmup_ends[p]).error_rms;
      squares[c] += rms * rms;
    }
  }
  Evaluation e{gain, 0.0, {}};
  for (size_t c = 0; c < inputs; ++c) {
    const double pooled = std::sqrt(squares[c] / static_cast<double>(parts.size()));
    e.error_rms += inputs == 1 ? pooled : pooled / parts.front()[c].variation;
  }
  if (!std::isfinite(e.error_rms)) e.error_rms = std::numeric_limits<double>::infinity();
  return e;
}

}  // namespace

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

  size_t scored = 0;
  for (size_t k = 0; k < input.u.size(); ++k) {
    if (input.t0 + static_cast<double>(k) * input.solver_step >= warmup_ends) ++scored;
  }
  const bool in_parts = !options.whole_record_search && scored > kWholeSearchSamples;
  std::vector<double> part_warmup_ends;
  const std::vector<std::vector<Input>> parts =
      in_parts ? search_parts(inputs, warmup_ends, &part_warmup_ends) : std::vector<std::vector<Input>>{};
  // A search run over parts is that many block runs.
  const long runs_each = in_parts ? static_cast<long>(parts.size() * inputs.size()) : 1;
  const long expected = orders * (coarse_points + search::kRefinementSteps / 2) * runs_each + (in_parts ? orders : 0);

  TuneResult result{{}, 0, warmup_ends, 0, 1};
  if (in_parts) {
    result.parts = kSearchParts;
    result.part_samples = kPartSamples;
  }
  const EvaluationPool::Evaluator whole = [&](const TuneRequest& r) {
    return evaluate_together(entry, options, inputs, r.gain, r.order, warmup_ends);
  };
  std::vector<OrderSearch> searches;
  for (int n = first_order; n <= last_order; ++n) searches.emplace_back(n, options.gain_low, options.gain_high, range, input.solver_step);
  {
    EvaluationPool pool(in_parts ? EvaluationPool::Evaluator([&](const TuneRequest& r) {
                          return evaluate_parts(entry, options, parts, part_warmup_ends, r.gain, r.order);
                        })
                                 : whole,
                        options.jobs);
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
      result.runs += runs_each;
      if (progress) progress(result.runs, std::max(expected, result.runs));
      if (--outstanding[i] == 0) {
        searches[i].take(returned[i]);
        submit_batch(i);
      }
    }
  }
  for (OrderSearch& s : searches) {
    result.orders.push_back(s.finish());
    result.orders.back().searched_error_rms = result.orders.back().best_error_rms;
  }
  if (in_parts) {
    // Each order's gain over the whole record: the numbers it is known by.
    EvaluationPool pool(whole, options.jobs);
    for (size_t i = 0; i < result.orders.size(); ++i) pool.submit({i, 0}, {result.orders[i].order, result.orders[i].best_gain});
    while (!pool.idle()) {
      auto [tag, evaluation] = pool.next_result();
      OrderResult& o = result.orders[tag.search];
      o.best_error_rms = evaluation.error_rms;
      o.derivative_rms = evaluation.derivative_rms;
      result.runs += static_cast<long>(inputs.size());
      if (progress) progress(result.runs, std::max(expected, result.runs));
    }
  }
  result.recommended = recommended_order(result.orders);
  return result;
}

}  // namespace corvel::sim
