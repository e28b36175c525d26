// One order's search for the gain whose runs give the smallest error RMS,
// as a sequence of batches of gains to run, in named steps:
//   1. the coarse grid: a logarithmic grid around R^(1/(n+1)) / h (or the
//      user's --gains span);
//   2. widening: while the grid's best point sits at an edge, two more
//      decades beyond it (three times at most; never for --gains);
//   3. the bracket: the best grid point's neighbours;
//   4. the golden section: one run at a time, narrowing the bracket;
//   5. the choice: the best run, or the smallest gain of a flat top.
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

constexpr int kPointsPerDecade = 4;
constexpr double kDecadesBelow = 4.0, kDecadesAbove = 2.0;
constexpr int kMaxWidenings = 3;       // two decades each
constexpr int kRefinementSteps = 12;   // golden-section steps on log10(gain)
constexpr double kFlatTolerance = 1e-3;  // RMS within 0.1 % of the best counts as no change
constexpr double kGoldenRatio = 0.6180339887498949;  // (sqrt 5 - 1) / 2

// A point of the search: log10 of the gain's magnitude, and its error RMS.
using Point = std::pair<double, double>;

// Step 1: from `low` to `high` (log10), at least kPointsPerDecade a decade.
std::vector<double> coarse_grid(double low, double high);

// The grid's best point (the first of equals); a NaN RMS is never best.
size_t best_index(const std::vector<Point>& grid);

// Step 2: the gains beyond the edge the best point sits at, or none.
std::optional<std::vector<double>> widening(const std::vector<Point>& grid, double low, double high);

// Step 3: the best point's neighbours (itself at an edge).
std::pair<double, double> bracket(const std::vector<Point>& grid);

// Step 4: one golden-section step on the bracket [a, b] with inner points
// c < d and their RMS: the smaller side is kept, and the new inner point is
// the one to run next.
struct Golden {
  double a, b, c, d, fc, fd;
  bool next_is_c;
};
Golden golden_start(double a, double b);
void golden_step(Golden& g);

// Step 5: where the RMS is within kFlatTolerance of the best from some gain to
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
  enum class Phase { kGrid, kWidenLow, kWidenHigh, kBracket, kGolden, kDone };
  void widen_or_bracket();
  void refine();

  OrderResult result_;
  bool gains_given_ = false;
  double sign_ = 1.0;
  double low_ = 0.0, high_ = 0.0;
  Phase phase_ = Phase::kGrid;
  std::vector<double> pending_;
  std::vector<search::Point> grid_;  // by gain
  int widenings_ = 0;
  int steps_ = 0;
  search::Golden golden_{};
};

}  // namespace corvel::sim

#endif
