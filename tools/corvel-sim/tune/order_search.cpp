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

namespace {

double rms_or_inf(double rms) { return std::isnan(rms) ? INFINITY : rms; }

// The next trial: the minimum of the parabola through x, w and v where it
// falls well inside the bracket and moves less than half the move before
// last (so that a run of poor parabolas cannot stall the search); else the
// golden section of the bracket's larger side. Never closer to x than a
// quarter of kResolution, which no RMS difference can be trusted over.
void choose_trial(Refinement& r) {
  const double middle = 0.5 * (r.a + r.b);
  const double least_move = 0.25 * kResolution;
  if (std::fabs(r.x - middle) <= 2.0 * least_move - 0.5 * (r.b - r.a)) {
    r.done = true;
    return;
  }
  bool parabola = false;
  if (std::fabs(r.previous_step) > least_move) {
    const double s = (r.x - r.w) * (r.fx - r.fv);
    double q = (r.x - r.v) * (r.fx - r.fw);
    double p = (r.x - r.v) * q - (r.x - r.w) * s;
    q = 2.0 * (q - s);
    if (q > 0.0) p = -p;
    q = std::fabs(q);
    const double before_last = r.previous_step;
    // A parabola through an infinite RMS gives NaN or infinite p and q, which
    // fail these comparisons: a golden section is taken instead.
    if (std::fabs(p) < std::fabs(0.5 * q * before_last) &&
        p > q * (r.a - r.x) && p < q * (r.b - r.x)) {
      r.previous_step = r.step;
      r.step = p / q;
      const double u = r.x + r.step;
      if (u - r.a < 2.0 * least_move || r.b - u < 2.0 * least_move) r.step = std::copysign(least_move, middle - r.x);
      parabola = true;
    }
  }
  if (!parabola) {
    r.previous_step = r.x >= middle ? r.a - r.x : r.b - r.x;
    r.step = kGoldenSection * r.previous_step;
  }
  r.trial = r.x + (std::fabs(r.step) >= least_move ? r.step : std::copysign(least_move, r.step));
}

}  // namespace

Refinement refinement_start(const std::vector<Point>& grid) {
  const size_t best = best_index(grid);
  const size_t below = best > 0 ? best - 1 : best;
  const size_t above = best + 1 < grid.size() ? best + 1 : best;
  Refinement r{};
  r.a = grid[below].first;
  r.b = grid[above].first;
  r.x = grid[best].first;
  r.fx = grid[best].second;
  // The first parabola goes through the bracket's ends, the better of them
  // as the second best point.
  size_t second = below == best ? above : below, third = above == best ? below : above;
  if (rms_or_inf(grid[third].second) < rms_or_inf(grid[second].second)) std::swap(second, third);
  r.w = grid[second].first;
  r.fw = rms_or_inf(grid[second].second);
  r.v = grid[third].first;
  r.fv = rms_or_inf(grid[third].second);
  r.step = 0.0;
  r.previous_step = r.b - r.a;  // lets the first trial be a parabola's
  choose_trial(r);
  return r;
}

void refinement_taken(Refinement& r, double trial_rms) {
  const double u = r.trial, fu = rms_or_inf(trial_rms);
  if (fu <= r.fx) {
    (u >= r.x ? r.a : r.b) = r.x;
    r.v = r.w;
    r.fv = r.fw;
    r.w = r.x;
    r.fw = r.fx;
    r.x = u;
    r.fx = fu;
  } else {
    (u < r.x ? r.a : r.b) = u;
    if (fu <= r.fw || r.w == r.x) {
      r.v = r.w;
      r.fv = r.fw;
      r.w = u;
      r.fw = fu;
    } else if (fu <= r.fv || r.v == r.x || r.v == r.w) {
      r.v = u;
      r.fv = fu;
    }
  }
  choose_trial(r);
}

std::optional<double> flat_edge_trial(const std::vector<Evaluation>& evaluations) {
  double best = INFINITY;
  for (const Evaluation& e : evaluations) best = std::fmin(best, e.error_rms);
  const std::optional<size_t> flat = flat_top(evaluations, best);
  if (!flat) return std::nullopt;
  const double edge = std::log10(std::fabs(evaluations[*flat].gain));
  double below = -INFINITY;
  for (const Evaluation& e : evaluations) {
    const double x = std::log10(std::fabs(e.gain));
    if (x < edge) below = std::fmax(below, x);
  }
  // Nothing below the edge (the top is flat from the first gain searched):
  // no gap to halve, and no run at gain 0.
  if (below == -INFINITY || !(edge - below > kFlatEdgeResolution)) return std::nullopt;
  return 0.5 * (edge + below);
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
    case Phase::kRefine:
      search::refinement_taken(refinement_, rms[0]);
      refine();
      break;
    case Phase::kFlatEdge:
      find_flat_edge();
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
  refinement_ = search::refinement_start(grid_);
  refine();
}

void OrderSearch::refine() {
  if (refinement_.done || steps_ == search::kRefinementSteps) {
    find_flat_edge();
    return;
  }
  ++steps_;
  pending_ = {refinement_.trial};
  phase_ = Phase::kRefine;
}

void OrderSearch::find_flat_edge() {
  const std::optional<double> trial =
      edge_runs_ < search::kFlatEdgeRuns ? search::flat_edge_trial(result_.evaluations) : std::nullopt;
  if (!trial) {
    phase_ = Phase::kDone;
    return;
  }
  ++edge_runs_;
  pending_ = {*trial};
  phase_ = Phase::kFlatEdge;
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
