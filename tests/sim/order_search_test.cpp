// The order search's decisions on synthetic error-RMS curves, without a
// single run of the block: where it looks, how it widens, what it chooses.
#include "tune/order_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace corvel::sim {
namespace {

using Curve = std::function<double(double log10_gain)>;

// Runs a search to its end, each gain's RMS read off the curve.
OrderResult search_on(const Curve& curve, double gain_low = 0.0, double gain_high = 0.0) {
  // Order 1, range 1, step 0.01: the grid is centred on log10(1 / 0.01) = 2
  // and spans 10^-2 to 10^4.
  OrderSearch s(1, gain_low, gain_high, 1.0, 0.01);
  while (!s.batch().empty()) {
    std::vector<Evaluation> batch;
    for (double x : s.batch()) batch.push_back({s.gain_at(x), curve(std::log10(std::fabs(s.gain_at(x)))), {}});
    s.take(batch);
  }
  return s.finish();
}

Curve bowl(double at) {
  return [at](double x) { return 1.0 + (x - at) * (x - at); };
}

constexpr double kInf = std::numeric_limits<double>::infinity();

// A curve shaped like the error RMS of a noisy record: steep toward small
// gains (the estimate lags), a gentle rise toward large ones (noise passes),
// the minimum at `at`.
Curve lopsided(double at) {
  return [at](double x) { return std::exp(-6.0 * (x - at)) + 6.0 * (x - at); };
}

// The minimum of a curve with a little jitter on it, as runs of the block at
// nearby gains give.
Curve jittery(double at) {
  return [at](double x) { return bowl(at)(x) + 1e-5 * std::sin(4000.0 * x); };
}

TEST(OrderSearch, FindsTheMinimumOfEveryKindOfCurve) {
  const struct {
    const char* name;
    Curve curve;
    double gain_low, gain_high;
    double best_log10;  // where the choice must be, within `within`
    double within;
    bool flat;
    size_t grid_runs;    // 7 grid points, 2 a widening; 3 for two decades of --gains
    size_t most_refining;  // 12 runs, and 3 more to find a flat top's edge
  } cases[] = {
      {"convex inside the grid", bowl(2.3), 0, 0, 2.3, 0.002, false, 7, 5},
      {"lopsided inside the grid", lopsided(1.1), 0, 0, 1.1, 0.005, false, 7, 12},
      {"jittery minimum", jittery(0.4), 0, 0, 0.4, 0.005, false, 7, 12},
      {"minimum below the grid", bowl(-3.5), 0, 0, -3.5, 0.002, false, 7 + 2, 12},
      {"minimum above the grid", bowl(5.2), 0, 0, 5.2, 0.002, false, 7 + 2, 12},
      {"minimum past every widening", bowl(-20), 0, 0, -8, 1e-9, false, 7 + 3 * 2, 12},
      {"flat top from 10^1.5", [](double x) { return x < 1.5 ? 1.0 + (1.5 - x) * (1.5 - x) : 1.0; }, 0, 0, 1.5, 0.25,
       true, 7, 15},
      {"diverging above 10^3", [](double x) { return x > 3.0 ? kInf : 1.0 + (x - 2.9) * (x - 2.9); }, 0, 0, 2.9,
       0.005, false, 7, 12},
      {"NaN region", [](double x) { return x > 3.0 ? std::nan("") : bowl(0.5)(x); }, 0, 0, 0.5, 0.002, false, 7, 12},
      {"--gains holds the search", bowl(3.0), 5.0, 500.0, std::log10(500.0), 1e-9, false, 3, 12},
      {"--gains of negative sign", bowl(1.7), -500.0, -5.0, 1.7, 0.002, false, 3, 12},
  };
  for (const auto& c : cases) {
    const OrderResult r = search_on(c.curve, c.gain_low, c.gain_high);
    EXPECT_NEAR(std::log10(std::fabs(r.best_gain)), c.best_log10, c.within) << c.name;
    EXPECT_EQ(r.flat_from != 0.0, c.flat) << c.name;
    EXPECT_GT(r.evaluations.size(), c.grid_runs) << c.name;
    EXPECT_LE(r.evaluations.size(), c.grid_runs + c.most_refining) << c.name;
    EXPECT_EQ(r.best_gain < 0, c.gain_low < 0) << c.name;
  }
}

// Each refining run falls strictly inside the bracket, the bracket only
// narrows and always holds the best point seen, and the refinement ends with
// the bracket narrower than its resolution or after its most runs.
TEST(OrderSearch, TheRefinementNarrowsABracketAroundTheBestPoint) {
  const struct {
    const char* name;
    Curve curve;
    double lowest;  // the curve's minimum, log10
    int most_runs;  // a parabola through a bowl's three points is the bowl itself
  } cases[] = {
      {"bowl", bowl(0.93), 0.93, 4},
      {"lopsided", lopsided(0.61), 0.61, 9},
      {"jittery", jittery(1.27), 1.27, 4},
      {"diverging above", [](double x) { return x > 1.3 ? kInf : bowl(1.2)(x); }, 1.2, 4},
      {"minimum at the grid's edge", bowl(-0.2), 0.0, 6},
  };
  for (const auto& c : cases) {
    std::vector<search::Point> grid;
    for (double x = 0.0; x <= 2.0; x += 0.5) grid.emplace_back(x, c.curve(x));
    search::Refinement r = search::refinement_start(grid);
    double best = INFINITY;
    for (const auto& p : grid) best = std::fmin(best, p.second);
    int runs = 0;
    while (!r.done && runs < search::kRefinementSteps) {
      const double width = r.b - r.a;
      ASSERT_GT(r.trial, r.a) << c.name;
      ASSERT_LT(r.trial, r.b) << c.name;
      const double f = c.curve(r.trial);
      best = std::fmin(best, f);
      search::refinement_taken(r, f);
      ++runs;
      EXPECT_LE(r.b - r.a, width) << c.name;
      EXPECT_LE(r.a, r.x) << c.name;
      EXPECT_LE(r.x, r.b) << c.name;
      EXPECT_EQ(r.fx, best) << c.name << " after run " << runs;
    }
    EXPECT_TRUE(r.done) << c.name << ": not done after " << runs << " runs";
    EXPECT_LE(r.b - r.a, search::kResolution) << c.name;
    EXPECT_NEAR(r.x, c.lowest, search::kResolution) << c.name;
    EXPECT_LE(runs, c.most_runs) << c.name;
  }
}

TEST(OrderSearch, AGridThatDivergesEverywhereIsSaid) {
  try {
    search_on([](double) { return kInf; });
    FAIL() << "no error";
  } catch (const TuneError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("order 1: every gain from ", 0), 0u) << e.what();
  }
}

TEST(OrderSearch, TheRecommendedOrderHasTheSmallestBestError) {
  auto result = [](int order, double rms) { return OrderResult{order, 1.0, rms, {}, {}, 0.0}; };
  const struct {
    std::vector<OrderResult> orders;
    size_t recommended;
  } cases[] = {
      {{result(1, 3.0), result(2, 1.0), result(3, 2.0), result(4, 0.5)}, 3},
      {{result(1, 3.0), result(2, 0.5), result(3, 2.0), result(4, 1.0)}, 1},
      {{result(1, 0.1), result(2, 0.5)}, 0},
      {{result(3, 0.5), result(2, 0.5)}, 1},  // equals: the lower order
      {{result(1, kInf), result(2, 7.0)}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(recommended_order(c.orders), c.recommended);
}

// A curve flat from the lowest gain searched has no gap below its edge to
// halve: the search tries no gain below its range (no run at gain 0) and
// every gain it tries is a number within the search.
TEST(OrderSearch, AFlatTopFromTheFirstGainTriesNothingBelowIt) {
  const OrderResult r = search_on([](double) { return 1.0; }, 5.0, 500.0);
  for (const Evaluation& e : r.evaluations) {
    EXPECT_GE(e.gain, 5.0) << "a run below the range";
    EXPECT_TRUE(std::isfinite(e.gain) && e.gain > 0.0);
  }
  EXPECT_FALSE(search::flat_edge_trial({{5.0, 1.0, {}}, {50.0, 1.0, {}}, {500.0, 1.0, {}}}).has_value());
}


// A flat-bottomed minimum (a quartic) narrows slowly: the refinement stops
// after its most runs, not one later.
TEST(OrderSearch, TheRefinementStopsAtItsMostRuns) {
  for (const double at : {0.61, 1.41, 2.37}) {
    const OrderResult r = search_on([at](double x) { return 1.0 + std::pow(x - at, 4); });
    EXPECT_EQ(r.evaluations.size(), 7u + static_cast<size_t>(search::kRefinementSteps)) << at;  // the grid's 7
    EXPECT_NEAR(std::log10(r.best_gain), at, 0.05) << at;
  }
}

}  // namespace
}  // namespace corvel::sim
