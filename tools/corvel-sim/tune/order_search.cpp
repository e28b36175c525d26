#include "tune/order_search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace corvel::sim {

namespace search {

std::vector<double> coarse_grid(double low, double high) {
  const int intervals = std::max(2, static_cast<int>(std::ceil((high - low) * kPointsPerDecade - 1e-9)));
  std::vector<double> grid;
  for (int i = 0; i <= intervals; ++i) grid.push_back(low + (high - low) * i / intervals);
  return grid;
}

size_t best_index(const std::vector<Point>& grid) {
  size_t best = 0;
  for (size_t i = 1; i < grid.size(); ++i) {
    if (grid[i].second < grid[best].second || std::isnan(grid[best].second)) best = i;
  }
  return best;
}

std::optional<std::vector<double>> widening(const std::vector<Point>& grid, double low, double high) {
  const size_t best = best_index(grid);
  if (!std::isfinite(grid[best].second) || (best != 0 && best != grid.size() - 1)) return std::nullopt;
  std::vector<double> more;
  for (int i = 1; i <= 2 * kPointsPerDecade; ++i) {
    more.push_back(best == 0 ? low - i / static_cast<double>(kPointsPerDecade)
                             : high + i / static_cast<double>(kPointsPerDecade));
  }
  return more;
}

std::pair<double, double> bracket(const std::vector<Point>& grid) {
  const size_t best = best_index(grid);
  return {grid[best > 0 ? best - 1 : best].first, grid[best + 1 < grid.size() ? best + 1 : best].first};
}

Golden golden_start(double a, double b) {
  return {a, b, b - kGoldenRatio * (b - a), a + kGoldenRatio * (b - a), 0.0, 0.0, false};
}

void golden_step(Golden& g) {
  if (g.fc <= g.fd) {
    g.b = g.d;
    g.d = g.c;
    g.fd = g.fc;
    g.c = g.b - kGoldenRatio * (g.b - g.a);
    g.next_is_c = true;
  } else {
    g.a = g.c;
    g.c = g.d;
    g.fc = g.fd;
    g.d = g.a + kGoldenRatio * (g.b - g.a);
    g.next_is_c = false;
  }
}

std::optional<size_t> flat_top(const std::vector<Evaluation>& evaluations, double best_rms) {
  std::vector<size_t> by_gain(evaluations.size());
  for (size_t i = 0; i < by_gain.size(); ++i) by_gain[i] = i;
  std::sort(by_gain.begin(), by_gain.end(), [&](size_t x, size_t y) {
    return std::fabs(evaluations[x].gain) < std::fabs(evaluations[y].gain);
  });
  const double limit = best_rms * (1.0 + kFlatTolerance);
  size_t start = by_gain.size();
  while (start > 0 && evaluations[by_gain[start - 1]].error_rms <= limit) --start;
  if (start + 1 >= by_gain.size() ||
      std::fabs(evaluations[by_gain.back()].gain) < 10.0 * std::fabs(evaluations[by_gain[start]].gain)) {
    return std::nullopt;
  }
  return by_gain[start];
}

}  // namespace search

namespace {

std::string short_number(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.6g", x);
  return buffer;
}

}  // namespace

size_t recommended_order(const std::vector<OrderResult>& orders) {
  size_t best = 0;
  for (size_t i = 1; i < orders.size(); ++i) {
    if (orders[i].best_error_rms < orders[best].best_error_rms ||
        (orders[i].best_error_rms == orders[best].best_error_rms && orders[i].order < orders[best].order)) {
      best = i;
    }
  }
  return best;
}

OrderSearch::OrderSearch(int order, double gain_low, double gain_high, double range, double solver_step)
    : result_{order, 0.0, INFINITY, {}, {}, 0.0} {
  gains_given_ = gain_low != 0.0;
  sign_ = gain_low < 0.0 ? -1.0 : 1.0;
  const double center = std::log10(std::pow(range, 1.0 / (order + 1.0)) / solver_step);
  const double smallest = std::fmin(std::fabs(gain_low), std::fabs(gain_high));
  const double largest = std::fmax(std::fabs(gain_low), std::fabs(gain_high));
  low_ = gains_given_ ? std::log10(smallest) : center - search::kDecadesBelow;
  high_ = gains_given_ ? std::log10(largest) : center + search::kDecadesAbove;
  pending_ = search::coarse_grid(low_, high_);
  phase_ = Phase::kGrid;
}

double OrderSearch::gain_at(double x) const { return sign_ * std::pow(10.0, x); }

void OrderSearch::take(const std::vector<Evaluation>& evaluations) {
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
      widen_or_bracket();
      break;
    case Phase::kWidenLow:
      for (size_t i = 0; i < ran.size(); ++i) grid_.insert(grid_.begin(), {ran[i], rms[i]});
      low_ -= 2;
      widen_or_bracket();
      break;
    case Phase::kWidenHigh:
      for (size_t i = 0; i < ran.size(); ++i) grid_.emplace_back(ran[i], rms[i]);
      high_ += 2;
      widen_or_bracket();
      break;
    case Phase::kBracket:
      golden_.fc = rms[0];
      golden_.fd = rms[1];
      refine();
      break;
    case Phase::kGolden:
      (golden_.next_is_c ? golden_.fc : golden_.fd) = rms[0];
      refine();
      break;
    case Phase::kDone:
      break;
  }
}

void OrderSearch::widen_or_bracket() {
  if (!gains_given_ && widenings_ < search::kMaxWidenings) {
    if (std::optional<std::vector<double>> more = search::widening(grid_, low_, high_)) {
      ++widenings_;
      phase_ = more->front() < low_ ? Phase::kWidenLow : Phase::kWidenHigh;
      pending_ = std::move(*more);
      return;
    }
  }
  if (!std::isfinite(grid_[search::best_index(grid_)].second)) {
    throw TuneError("order " + std::to_string(result_.order) + ": every gain from " +
                    short_number(gain_at(grid_.front().first)) + " to " + short_number(gain_at(grid_.back().first)) +
                    " made the estimator diverge (a non-finite error output)");
  }
  const auto [a, b] = search::bracket(grid_);
  golden_ = search::golden_start(a, b);
  pending_ = {golden_.c, golden_.d};
  phase_ = Phase::kBracket;
}

void OrderSearch::refine() {
  if (steps_ == search::kRefinementSteps) {
    phase_ = Phase::kDone;
    return;
  }
  ++steps_;
  search::golden_step(golden_);
  pending_ = {golden_.next_is_c ? golden_.c : golden_.d};
  phase_ = Phase::kGolden;
}

OrderResult OrderSearch::finish() {
  for (const Evaluation& e : result_.evaluations) {
    if (e.error_rms < result_.best_error_rms) {
      result_.best_error_rms = e.error_rms;
      result_.best_gain = e.gain;
      result_.derivative_rms = e.derivative_rms;
    }
  }
  // Where F is near 0 every larger gain gives the same estimate: the RMS is
  // flat over the top of the search, and its smallest gain is the one to
  // recommend.
  if (const std::optional<size_t> flat = search::flat_top(result_.evaluations, result_.best_error_rms)) {
    const Evaluation& e = result_.evaluations[*flat];
    result_.flat_from = e.gain;
    result_.best_gain = e.gain;
    result_.best_error_rms = e.error_rms;
    result_.derivative_rms = e.derivative_rms;
  }
  return std::move(result_);
}

}  // namespace corvel::sim
