#include "tune.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/engine.h"

namespace corvel::sim {

namespace {

constexpr int kPointsPerDecade = 4;
constexpr double kDecadesBelow = 4.0, kDecadesAbove = 2.0;
constexpr int kMaxWidenings = 3;       // two decades each
constexpr int kRefinementSteps = 12;   // golden-section steps on log10(gain)
constexpr size_t kMinScoredSamples = 10;

std::string number(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.6g", x);
  return buffer;
}

void check_input(const Input& input, double warmup_end) {
  for (size_t k = 0; k < input.u.size(); ++k) {
    if (!std::isfinite(input.u[k])) {
      throw TuneError("sample " + std::to_string(k + 1) + " of " + input.description + " is " + number(input.u[k]) +
                      ": tuning needs a finite signal (a non-finite sample poisons the estimator's states for the "
                      "rest of the run)");
    }
  }
  const auto [lo, hi] = std::minmax_element(input.u.begin(), input.u.end());
  if (*lo == *hi) {
    throw TuneError("the signal is constant (" + number(*lo) +
                    "): every gain predicts it exactly, so the data cannot choose one");
  }
  const double end = input.t0 + static_cast<double>(input.u.size() - 1) * input.solver_step;
  size_t scored = 0;
  for (size_t k = 0; k < input.u.size(); ++k) {
    if (input.t0 + static_cast<double>(k) * input.solver_step >= warmup_end) ++scored;
  }
  if (scored < kMinScoredSamples) {
    throw TuneError("the record ends at t = " + number(end) + " s, leaving " + std::to_string(scored) +
                    " samples after the warm-up (to t = " + number(warmup_end) + " s); " +
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

TuneResult tune(host::MexFunction entry, const SimOptions& options, const Input& input, int first_order,
                int last_order, const Progress& progress) {
  if (input.u.empty()) throw TuneError("the record has no samples");
  const double span = static_cast<double>(input.u.size() - 1) * input.solver_step;
  const double warmup_end = input.t0 + (options.warmup >= 0 ? options.warmup : span / 3.0);
  check_input(input, warmup_end);

  const auto [lo, hi] = std::minmax_element(input.u.begin(), input.u.end());
  const double range = *hi - *lo;
  const int orders = last_order - first_order + 1;
  const long coarse_points = static_cast<long>((kDecadesBelow + kDecadesAbove) * kPointsPerDecade) + 1;
  const long expected = orders * (coarse_points + kRefinementSteps + 2);

  TuneResult result{{}, 0, warmup_end, 0};
  auto run = [&](OrderResult& r, double gain) {
    Evaluation e = evaluate(entry, options, input, gain, r.order, warmup_end);
    ++result.runs;
    if (progress) progress(result.runs, std::max(expected, result.runs));
    r.evaluations.push_back(e);
    return e.error_rms;
  };

  for (int n = first_order; n <= last_order; ++n) {
    OrderResult r{n, 0.0, std::numeric_limits<double>::infinity(), {}, {}};
    // Gains are searched by their logarithm; a range of negative gains, which
    // the user may ask for, by that of their magnitude.
    const bool given = options.gain_low != 0.0;
    const double sign = options.gain_low < 0.0 ? -1.0 : 1.0;
    const double center = std::log10(std::pow(range, 1.0 / (n + 1.0)) / input.solver_step);
    const double smallest = std::fmin(std::fabs(options.gain_low), std::fabs(options.gain_high));
    const double largest = std::fmax(std::fabs(options.gain_low), std::fabs(options.gain_high));
    double low = given ? std::log10(smallest) : center - kDecadesBelow;
    double high = given ? std::log10(largest) : center + kDecadesAbove;
    auto gain_at = [sign](double x) { return sign * std::pow(10.0, x); };

    // The coarse grid, widened while its best point is at an edge.
    std::vector<std::pair<double, double>> grid;  // (log10 gain, error RMS)
    const int intervals = std::max(2, static_cast<int>(std::ceil((high - low) * kPointsPerDecade - 1e-9)));
    for (int i = 0; i <= intervals; ++i) {
      const double x = low + (high - low) * i / intervals;
      grid.emplace_back(x, run(r, gain_at(x)));
    }
    auto best_index = [&] {
      size_t best = 0;
      for (size_t i = 1; i < grid.size(); ++i) {
        if (grid[i].second < grid[best].second) best = i;
      }
      return best;
    };
    for (int widening = 0; widening < (given ? 0 : kMaxWidenings); ++widening) {
      const size_t best = best_index();
      if (!std::isfinite(grid[best].second)) break;
      if (best == 0) {
        for (int i = 1; i <= 2 * kPointsPerDecade; ++i) {
          const double x = low - i / static_cast<double>(kPointsPerDecade);
          grid.insert(grid.begin(), {x, run(r, gain_at(x))});
        }
        low -= 2;
      } else if (best == grid.size() - 1) {
        for (int i = 1; i <= 2 * kPointsPerDecade; ++i) {
          const double x = high + i / static_cast<double>(kPointsPerDecade);
          grid.emplace_back(x, run(r, gain_at(x)));
        }
        high += 2;
      } else {
        break;
      }
    }
    const size_t best = best_index();
    if (!std::isfinite(grid[best].second)) {
      throw TuneError("order " + std::to_string(n) + ": every gain from " + number(gain_at(grid.front().first)) +
                      " to " + number(gain_at(grid.back().first)) +
                      " made the estimator diverge (a non-finite error output)");
    }

    // Golden-section search of the bracket around the best grid point.
    double a = grid[best > 0 ? best - 1 : best].first, b = grid[best + 1 < grid.size() ? best + 1 : best].first;
    const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
    double c = b - ratio * (b - a), d = a + ratio * (b - a);
    double fc = run(r, gain_at(c)), fd = run(r, gain_at(d));
    for (int step = 0; step < kRefinementSteps; ++step) {
      if (fc <= fd) {
        b = d;
        d = c;
        fd = fc;
        c = b - ratio * (b - a);
        fc = run(r, gain_at(c));
      } else {
        a = c;
        c = d;
        fc = fd;
        d = a + ratio * (b - a);
        fd = run(r, gain_at(d));
      }
    }
    for (const Evaluation& e : r.evaluations) {
      if (e.error_rms < r.best_error_rms) {
        r.best_error_rms = e.error_rms;
        r.best_gain = e.gain;
        r.derivative_rms = e.derivative_rms;
      }
    }
    result.orders.push_back(std::move(r));
  }
  for (size_t i = 1; i < result.orders.size(); ++i) {
    if (result.orders[i].best_error_rms < result.orders[result.recommended].best_error_rms) result.recommended = i;
  }
  return result;
}

}  // namespace corvel::sim
