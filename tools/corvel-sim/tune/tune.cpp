#include "tune/tune.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/engine.h"
#include "run/sample_span.h"
#include "tune/tune_workers.h"

namespace corvel::sim {

namespace {

constexpr int kPointsPerDecade = 4;
constexpr double kDecadesBelow = 4.0, kDecadesAbove = 2.0;
constexpr int kMaxWidenings = 3;       // two decades each
constexpr int kRefinementSteps = 12;   // golden-section steps on log10(gain)
constexpr size_t kMinScoredSamples = 10;
constexpr double kFlatTolerance = 1e-3;  // RMS within 0.1 % of the best counts as no change

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
    throw TuneError("the signal is constant (" + short_number(*lo) +
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

Evaluation evaluate(host::MexFunction entry, const SimOptions& options, const Input& input, double gain, int order,
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

namespace {

// One order's search, as a sequence of batches of gains to run: the coarse
// grid; while its best point sits at an edge, two more decades there; then
// the golden-section refinement of the best bracket, one run at a time. Every
// order's search goes on in step with the others', so that the batches can be
// spread over workers without changing a single result.
class OrderSearch {
 public:
  OrderSearch(int order, const SimOptions& options, double range, double solver_step)
      : result_{order, 0.0, INFINITY, {}, {}, 0.0} {
    given_ = options.gain_low != 0.0;
    sign_ = options.gain_low < 0.0 ? -1.0 : 1.0;
    const double center = std::log10(std::pow(range, 1.0 / (order + 1.0)) / solver_step);
    const double smallest = std::fmin(std::fabs(options.gain_low), std::fabs(options.gain_high));
    const double largest = std::fmax(std::fabs(options.gain_low), std::fabs(options.gain_high));
    low_ = given_ ? std::log10(smallest) : center - kDecadesBelow;
    high_ = given_ ? std::log10(largest) : center + kDecadesAbove;
    const int intervals = std::max(2, static_cast<int>(std::ceil((high_ - low_) * kPointsPerDecade - 1e-9)));
    for (int i = 0; i <= intervals; ++i) pending_.push_back(low_ + (high_ - low_) * i / intervals);
    phase_ = Phase::kGrid;
  }

  int order() const { return result_.order; }
  // The gains (as log10 of their magnitude) to run next; empty when done.
  const std::vector<double>& batch() const { return pending_; }
  double gain_at(double x) const { return sign_ * std::pow(10.0, x); }

  // The evaluations of the batch, in its order.
  void take(const std::vector<Evaluation>& evaluations) {
    std::vector<double> rms;
    for (const Evaluation& e : evaluations) {
      result_.evaluations.push_back(e);
      rms.push_back(e.error_rms);
    }
    const std::vector<double> ran = std::move(pending_);
    pending_.clear();
    switch (phase_) {
      case Phase::kGrid:
        for (size_t i = 0; i < ran.size(); ++i) grid_.emplace_back(ran[i], rms[i]);
        widen_or_refine();
        break;
      case Phase::kWidenLow:
        for (size_t i = 0; i < ran.size(); ++i) grid_.insert(grid_.begin(), {ran[i], rms[i]});
        low_ -= 2;
        widen_or_refine();
        break;
      case Phase::kWidenHigh:
        for (size_t i = 0; i < ran.size(); ++i) grid_.emplace_back(ran[i], rms[i]);
        high_ += 2;
        widen_or_refine();
        break;
      case Phase::kBracket:
        fc_ = rms[0];
        fd_ = rms[1];
        golden_step();
        break;
      case Phase::kGolden:
        (last_was_c_ ? fc_ : fd_) = rms[0];
        golden_step();
        break;
      case Phase::kDone:
        break;
    }
  }

  OrderResult finish() {
    for (const Evaluation& e : result_.evaluations) {
      if (e.error_rms < result_.best_error_rms) {
        result_.best_error_rms = e.error_rms;
        result_.best_gain = e.gain;
        result_.derivative_rms = e.derivative_rms;
      }
    }
    find_flat_top();
    return std::move(result_);
  }

 private:
  enum class Phase { kGrid, kWidenLow, kWidenHigh, kBracket, kGolden, kDone };

  size_t best_index() const {
    size_t best = 0;
    for (size_t i = 1; i < grid_.size(); ++i) {
      if (grid_[i].second < grid_[best].second) best = i;
    }
    return best;
  }

  void widen_or_refine() {
    const size_t best = best_index();
    if (!given_ && widenings_ < kMaxWidenings && std::isfinite(grid_[best].second) &&
        (best == 0 || best == grid_.size() - 1)) {
      ++widenings_;
      const bool below = best == 0;
      for (int i = 1; i <= 2 * kPointsPerDecade; ++i) {
        pending_.push_back(below ? low_ - i / static_cast<double>(kPointsPerDecade)
                                 : high_ + i / static_cast<double>(kPointsPerDecade));
      }
      phase_ = below ? Phase::kWidenLow : Phase::kWidenHigh;
      return;
    }
    if (!std::isfinite(grid_[best].second)) {
      throw TuneError("order " + std::to_string(result_.order) + ": every gain from " +
                      short_number(gain_at(grid_.front().first)) + " to " +
                      short_number(gain_at(grid_.back().first)) +
                      " made the estimator diverge (a non-finite error output)");
    }
    // Golden-section search of the bracket around the best grid point.
    a_ = grid_[best > 0 ? best - 1 : best].first;
    b_ = grid_[best + 1 < grid_.size() ? best + 1 : best].first;
    c_ = b_ - kRatio * (b_ - a_);
    d_ = a_ + kRatio * (b_ - a_);
    pending_ = {c_, d_};
    phase_ = Phase::kBracket;
  }

  void golden_step() {
    if (steps_ == kRefinementSteps) {
      phase_ = Phase::kDone;
      return;
    }
    ++steps_;
    if (fc_ <= fd_) {
      b_ = d_;
      d_ = c_;
      fd_ = fc_;
      c_ = b_ - kRatio * (b_ - a_);
      pending_ = {c_};
      last_was_c_ = true;
    } else {
      a_ = c_;
      c_ = d_;
      fc_ = fd_;
      d_ = a_ + kRatio * (b_ - a_);
      pending_ = {d_};
      last_was_c_ = false;
    }
    phase_ = Phase::kGolden;
  }

  // Where F is near 0 every larger gain gives the same estimate: the RMS is
  // flat over the top of the search. The smallest gain of that flat span is
  // the one to recommend.
  void find_flat_top() {
    std::vector<const Evaluation*> by_gain;
    for (const Evaluation& e : result_.evaluations) by_gain.push_back(&e);
    std::sort(by_gain.begin(), by_gain.end(),
              [](const Evaluation* x, const Evaluation* y) { return std::fabs(x->gain) < std::fabs(y->gain); });
    const double limit = result_.best_error_rms * (1.0 + kFlatTolerance);
    size_t start = by_gain.size();
    while (start > 0 && by_gain[start - 1]->error_rms <= limit) --start;
    // Flat means the top of the search, a decade wide at least, holds the best.
    if (start + 1 >= by_gain.size() ||
        std::fabs(by_gain.back()->gain) < 10.0 * std::fabs(by_gain[start]->gain)) {
      return;
    }
    result_.flat_from = by_gain[start]->gain;
    result_.best_gain = by_gain[start]->gain;
    result_.best_error_rms = by_gain[start]->error_rms;
    result_.derivative_rms = by_gain[start]->derivative_rms;
  }

  static constexpr double kRatio = 0.6180339887498949;  // (sqrt 5 - 1) / 2

  OrderResult result_;
  bool given_ = false;
  double sign_ = 1.0;
  double low_ = 0.0, high_ = 0.0;
  Phase phase_ = Phase::kGrid;
  std::vector<double> pending_;
  std::vector<std::pair<double, double>> grid_;  // (log10 gain, error RMS), by gain
  int widenings_ = 0;
  int steps_ = 0;
  double a_ = 0.0, b_ = 0.0, c_ = 0.0, d_ = 0.0, fc_ = 0.0, fd_ = 0.0;
  bool last_was_c_ = false;
};

}  // namespace

TuneResult tune(host::MexFunction entry, const SimOptions& options, const Input& input, int first_order,
                int last_order, const Progress& progress) {
  if (input.u.empty()) throw TuneError("the record has no samples");
  const double span = static_cast<double>(input.u.size() - 1) * input.solver_step;
  const double warmup_ends = warmup_end(options.warmup, input.t0, input.t0 + span);
  check_input(input, warmup_ends);

  const auto [lo, hi] = std::minmax_element(input.u.begin(), input.u.end());
  const double range = *hi - *lo;
  const int orders = last_order - first_order + 1;
  const long coarse_points = static_cast<long>((kDecadesBelow + kDecadesAbove) * kPointsPerDecade) + 1;
  const long expected = orders * (coarse_points + kRefinementSteps + 2);

  TuneResult result{{}, 0, warmup_ends, 0, 1};
  std::vector<OrderSearch> searches;
  for (int n = first_order; n <= last_order; ++n) searches.emplace_back(n, options, range, input.solver_step);
  EvaluationPool pool(entry, options, input, warmup_ends, options.jobs);
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
  for (size_t i = 1; i < result.orders.size(); ++i) {
    if (result.orders[i].best_error_rms < result.orders[result.recommended].best_error_rms) result.recommended = i;
  }
  return result;
}

}  // namespace corvel::sim
