// One order's search for the gain whose runs give the smallest error RMS,
// as a sequence of batches of gains to run, in named steps:
//   1. the coarse grid: a logarithmic grid around R^(1/(n+1)) / h (or the
//      user's --gains span);
//   2. widening: while the grid's best point sits at an edge, two more
//      decades beyond it (three times at most; never for --gains);
//   3. the bracket: the best grid point and its neighbours;
//   4. the refinement: one run at a time inside the bracket, each at the
//      minimum of the parabola through the three best points so far, or a
//      golden-section step where the parabola cannot be trusted, until the
//      bracket is narrower than kResolution;
//   5. the flat top's edge: where the RMS is flat up to the top of the search,
//      its lower edge found by halving the gap below it, to kFlatEdgeResolution;
//   6. the choice: the best run, or the smallest gain of a flat top.
// A search sees nothing but its own runs' results, so that batches can be
// spread over workers in any order without changing a single result.
#ifndef CORVEL_SIM_ORDER_SEARCH_H
#define CORVEL_SIM_ORDER_SEARCH_H

#include <optional>
#include <utility>
#include <vector>

#include "tune/tune.h"

namespace corvel::sim {

namespace search {

// A point a decade finds the error curve's valley; the refinement's runs,
// which crowd there, draw its shape and find its bottom.
constexpr int kPointsPerDecade = 1;
constexpr double kDecadesBelow = 4.0, kDecadesAbove = 2.0;
constexpr int kMaxWidenings = 3;       // two decades each
constexpr int kRefinementSteps = 12;   // runs refining the bracket, at most
constexpr double kResolution = 5e-3;   // decades: the refined bracket's width (1.2 % of the gain)
constexpr double kFlatTolerance = 1e-3;  // RMS within 0.1 % of the best counts as no change
constexpr int kFlatEdgeRuns = 3;
constexpr double kFlatEdgeResolution = 0.25;  // decades
constexpr double kGoldenSection = 0.3819660112501051;  // (3 - sqrt 5) / 2

// A point of the search: log10 of the gain's magnitude, and its error RMS.
using Point = std::pair<double, double>;

// Step 1: from `low` to `high` (log10), at least kPointsPerDecade a decade.
std::vector<double> coarse_grid(double low, double high);

// The grid's best point (the first of equals); a NaN RMS is never best.
size_t best_index(const std::vector<Point>& grid);

// Step 2: the gains beyond the edge the best point sits at, or none.
std::optional<std::vector<double>> widening(const std::vector<Point>& grid, double low, double high);

// Steps 3 and 4: the refinement of the bracket [a, b] of the grid's best
// point x and its neighbours (x itself an end at the grid's edge), the
// points w and v the two next best (for the first parabola: the bracket's
// ends, whose RMS the grid gave). `trial` is the next gain to run, as log10;
// `taken` narrows the bracket with the trial's RMS and chooses the next.
struct Refinement {
  double a, b;
  double x, w, v;     // the best point so far, the second best, the one before
  double fx, fw, fv;  // their RMS
  double step, previous_step;  // the last two moves of x, for the parabola's sanity
  double trial;
  bool done;
};
Refinement refinement_start(const std::vector<Point>& grid);
void refinement_taken(Refinement& r, double trial_rms);

// Step 5: the next gain (log10) that narrows the gap between a flat top's
// smallest gain and the largest gain run below it, or none when there is no
// flat top or the gap is kFlatEdgeResolution or less.
std::optional<double> flat_edge_trial(const std::vector<Evaluation>& evaluations);

// Step 6: where the RMS is within kFlatTolerance of the best from some gain to
// the top of the search, a decade wide at least, that gain; else none.
std::optional<size_t> flat_top(const std::vector<Evaluation>& evaluations, double best_rms);

}  // namespace search

// The order to recommend: the one whose best error RMS is smallest (the
// lowest order of equals), whatever order the results come in.
size_t recommended_order(const std::vector<OrderResult>& orders);

class OrderSearch {
 public:
  // `range`: the signal's range R; `gain_low`, `gain_high`: the --gains span
  // (both 0 for the search's own).
  OrderSearch(int order, double gain_low, double gain_high, double range, double solver_step);

  int order() const { return result_.order; }
  // The gains (as log10 of their magnitude) to run next; empty when done.
  const std::vector<double>& batch() const { return pending_; }
  double gain_at(double x) const;
  // The evaluations of the batch, in its order. Throws TuneError when every
  // gain of the grid diverged.
  void take(const std::vector<Evaluation>& evaluations);
  OrderResult finish();

 private:
  enum class Phase { kGrid, kWidenLow, kWidenHigh, kRefine, kFlatEdge, kDone };
  void widen_or_bracket();
  void refine();
  void find_flat_edge();

  OrderResult result_;
  bool gains_given_ = false;
  double sign_ = 1.0;
  double low_ = 0.0, high_ = 0.0;
  Phase phase_ = Phase::kGrid;
  std::vector<double> pending_;
  std::vector<search::Point> grid_;  // by gain
  int widenings_ = 0;
  int steps_ = 0;
  int edge_runs_ = 0;
  search::Refinement refinement_{};
};

}  // namespace corvel::sim

#endif
