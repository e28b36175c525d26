#include "tune/tune.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>

#include "host/engine.h"
#include "support/loaded_mex.h"
#include "tune/tune_workers.h"

namespace corvel::sim {
namespace {

struct NoisySignal {
  const char* name;
  const char* kind;
  double snr_db;
  std::uint64_t seed;
};

void PrintTo(const NoisySignal& s, std::ostream* os) { *os << s.name; }

TuneDescription options_for(const NoisySignal& s) {
  TuneDescription o;
  o.signal.kind = s.kind;
  o.snr_db = s.snr_db;
  o.snr_given = true;
  o.seed = s.seed;
  o.duration = 10.0;
  o.signal.chirp_duration = o.duration;
  o.step = 0.01;
  return o;
}

class TuneOnNoisySignals : public ::testing::TestWithParam<NoisySignal> {};

// The gain chosen by the error output's RMS estimates the first derivative
// within 10 % of the best any evaluated gain does, judged with the truth.
TEST_P(TuneOnNoisySignals, ChosenGainIsNearTheBestForTheFirstDerivative) {
  const TuneDescription o = options_for(GetParam());
  const Input input = make_input(o);
  const TuneResult result = tune(test::loaded_mex().entry(), o, input, 1, 3);
  ASSERT_EQ(result.orders.size(), 3u);
  for (const OrderResult& r : result.orders) {
    double best_d1 = std::numeric_limits<double>::infinity();
    for (const Evaluation& e : r.evaluations) {
      if (!e.derivative_rms.empty()) best_d1 = std::fmin(best_d1, e.derivative_rms[0]);
    }
    ASSERT_FALSE(r.derivative_rms.empty());
    EXPECT_LE(r.derivative_rms[0], 1.10 * best_d1) << "order " << r.order << ", gain " << r.best_gain;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TuneOnNoisySignals,
                         ::testing::Values(NoisySignal{"sine_20dB", "sine", 20, 1}, NoisySignal{"sine_30dB", "sine", 30, 1},
                                           NoisySignal{"sine_40dB", "sine", 40, 1},
                                           NoisySignal{"chirp_30dB", "chirp", 30, 1},
                                           NoisySignal{"poly_40dB", "poly", 40, 1}));

// Columns tuned together are scored each relative to its RMS about its mean: two
// copies of a column choose, together, the gain the column chooses alone, at
// twice its relative score; a column that cannot be tuned is named.
TEST(Tune, ColumnsTogetherWeighEachByItsOwnSize) {
  const TuneDescription o = options_for(NoisySignal{"sine_30dB", "sine", 30, 5});
  const Input alone = make_input(o);
  Input twin = alone;
  twin.truth.clear();
  const TuneResult one = tune(test::loaded_mex().entry(), o, alone, 1, 3);
  const TuneResult both = tune_together(test::loaded_mex().entry(), o, {alone, twin}, 1, 3);
  ASSERT_EQ(both.orders.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(both.orders[i].best_gain / one.orders[i].best_gain, 1.0, 1e-9) << "order " << i + 1;
    EXPECT_NEAR(both.orders[i].best_error_rms, 2.0 * one.orders[i].best_error_rms / alone.variation,
                1e-12 * both.orders[i].best_error_rms);
  }
  EXPECT_EQ(both.recommended, one.recommended);
  Input broken = alone;
  broken.u[7] = NAN;
  broken.description = "rec.csv [b]";
  try {
    tune_together(test::loaded_mex().entry(), o, {alone, broken}, 1, 1);
    ADD_FAILURE() << "a NaN column was tuned";
  } catch (const TuneError& e) {
    EXPECT_NE(std::string(e.what()).find("sample 8 of rec.csv [b] is nan"), std::string::npos) << e.what();
  }
}

// A constant offset on one column (gravity on an accelerometer's axis)
// changes neither its weight nor the joint recommendation: the block's
// estimates do not depend on it.
TEST(Tune, AnOffsetOnAColumnChangesNothing) {
  const TuneDescription o = options_for(NoisySignal{"sine_30dB", "sine", 30, 5});
  const Input plain = make_input(o);
  Input lifted = plain;
  lifted.truth.clear();
  for (double& u : lifted.u) u += 9.81;
  lifted.variation = variation_of(lifted.u);
  EXPECT_NEAR(lifted.variation, plain.variation, 1e-9 * plain.variation);
  Input other = plain;
  other.truth.clear();
  const TuneResult with_offset = tune_together(test::loaded_mex().entry(), o, {plain, lifted}, 1, 3);
  const TuneResult without = tune_together(test::loaded_mex().entry(), o, {plain, other}, 1, 3);
  EXPECT_EQ(with_offset.recommended, without.recommended);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(with_offset.orders[i].best_gain / without.orders[i].best_gain, 1.0, 1e-3) << "order " << i + 1;
  }
}

// Worker processes change where the runs are made, never what they give.
TEST(Tune, WorkersGiveTheSameRunsAndResult) {
  TuneDescription o = options_for(NoisySignal{"sine_30dB", "sine", 30, 3});
  const Input input = make_input(o);
  o.jobs = 1;
  const TuneResult one = tune(test::loaded_mex().entry(), o, input, 1, 3);
  o.jobs = 3;
  const TuneResult three = tune(test::loaded_mex().entry(), o, input, 1, 3);
  EXPECT_EQ(three.jobs, EvaluationPool::parallel_supported() ? 3 : 1);
  ASSERT_EQ(one.orders.size(), three.orders.size());
  EXPECT_EQ(one.recommended, three.recommended);
  for (size_t i = 0; i < one.orders.size(); ++i) {
    const auto& a = one.orders[i].evaluations;
    const auto& b = three.orders[i].evaluations;
    ASSERT_EQ(a.size(), b.size());
    for (size_t k = 0; k < a.size(); ++k) {
      EXPECT_EQ(a[k].gain, b[k].gain);
      EXPECT_EQ(std::memcmp(&a[k].error_rms, &b[k].error_rms, sizeof(double)), 0);
      EXPECT_EQ(a[k].derivative_rms, b[k].derivative_rms);
    }
    EXPECT_EQ(one.orders[i].best_gain, three.orders[i].best_gain);
  }
}

// A clean signal sampled fast: past some gain F is near 0 and every larger
// gain gives the same estimate. The smallest gain of that flat top is chosen.
TEST(Tune, AFlatTopRecommendsItsSmallestGain) {
  TuneDescription o;
  o.step = 0.001;
  o.duration = 3.0;
  const Input input = make_input(o);
  const TuneResult result = tune(test::loaded_mex().entry(), o, input, 1, 1);
  const OrderResult& r = result.orders[0];
  ASSERT_NE(r.flat_from, 0.0);
  EXPECT_EQ(r.best_gain, r.flat_from);
  double best = INFINITY, largest = 0.0;
  for (const Evaluation& e : r.evaluations) {
    best = std::fmin(best, e.error_rms);
    largest = std::fmax(largest, e.gain);
  }
  EXPECT_GE(largest, 10.0 * r.flat_from);
  bool smaller_gain_is_worse = false;
  for (const Evaluation& e : r.evaluations) {
    if (e.gain >= r.flat_from) EXPECT_LE(e.error_rms, best * 1.001) << e.gain;
    if (e.gain < r.flat_from && e.error_rms > best * 1.001) smaller_gain_is_worse = true;
  }
  EXPECT_TRUE(smaller_gain_is_worse);
}

// The error output of row k is the prediction error of sample k - 1, and
// counts when that sample's time is at or after the warm-up's end: here the
// end falls exactly on sample 100, so rows 101..299 count, divided by their
// number, as a plain run of the engine gives them.
TEST(Tune, ScoresTheErrorOfEachSampleFromTheWarmUpOn) {
  TuneDescription o;
  o.step = 0.01;
  Input input;
  input.solver_step = 0.01;
  input.t0 = 2.0;
  for (int k = 0; k < 300; ++k) input.u.push_back(std::sin(0.07 * k) + 0.05 * std::cos(1.9 * k));
  const double warmup_end = input.t0 + 100 * input.solver_step;

  host::Engine engine(test::loaded_mex().entry(), {false, 0.01});
  engine.add_block({25.0, 0.01, 2.0}, [&](long k, double) { return input.u[static_cast<size_t>(k)]; });
  std::vector<double> errors;
  engine.run(300, [&](const host::SampleView& v) { errors.push_back(v.error[0]); });
  const auto [lo, hi] = std::minmax_element(input.u.begin(), input.u.end());
  const double unit = *hi - *lo;
  double sum = 0.0;
  for (size_t row = 101; row < errors.size(); ++row) sum += (errors[row] / unit) * (errors[row] / unit);
  const double expected = unit * std::sqrt(sum / 199.0);

  const Evaluation e = evaluate(test::loaded_mex().entry(), o, input, 25.0, 2, warmup_end);
  EXPECT_EQ(e.error_rms, expected);
}

// A long record is searched on parts of it: the table's numbers are each
// order's gain run over the whole record, and the recommendation scores
// within 0.5 % of a search that runs every gain over all of it, its first
// derivative within 3 % of that search's against the truth.
TEST(Tune, ALongRecordIsSearchedOnPartsAndScoredOnTheWhole) {
  TuneDescription o;
  o.signal.kind = "sine";
  o.signal.frequency = 1.3;
  o.snr_db = 40;
  o.snr_given = true;
  o.step = 0.001;
  o.duration = 650.0;  // 650 000 samples, 433 000 of them after the warm-up
  o.jobs = 2;
  const Input input = make_input(o);
  const host::MexFunction entry = test::loaded_mex().entry();
  const TuneResult parts = tune(entry, o, input, 2, 2);
  ASSERT_EQ(parts.parts, kSearchParts);
  EXPECT_EQ(parts.part_samples, kPartSamples);
  // Each evaluation a block run on every part, then one over the whole record.
  EXPECT_EQ(parts.runs, static_cast<long>(parts.orders[0].evaluations.size() * kSearchParts) + 1);
  for (const OrderResult& r : parts.orders) {
    const Evaluation whole_run = evaluate(entry, o, input, r.best_gain, r.order, parts.warmup_end);
    EXPECT_EQ(r.best_error_rms, whole_run.error_rms) << "order " << r.order;
    EXPECT_EQ(r.derivative_rms, whole_run.derivative_rms) << "order " << r.order;
    EXPECT_NE(r.searched_error_rms, r.best_error_rms) << "the parts' own score is the search's";
  }
  o.whole_record_search = true;
  const TuneResult whole = tune(entry, o, input, 2, 2);
  EXPECT_EQ(whole.parts, 0u);
  const OrderResult& chosen = parts.orders[parts.recommended];
  const OrderResult& best = whole.orders[whole.recommended];
  EXPECT_LE(chosen.best_error_rms, 1.005 * best.best_error_rms) << chosen.best_gain << " against " << best.best_gain;
  EXPECT_LE(chosen.derivative_rms[0], 1.03 * best.derivative_rms[0]) << chosen.best_gain << " against " << best.best_gain;
}

TEST(Tune, DataItCannotTuneOnEndsInAMessage) {
  TuneDescription o;
  o.step = 0.01;
  Input input;
  input.solver_step = 0.01;
  input.description = "data.csv";
  auto message = [&](const Input& in, const TuneDescription& opts) -> std::string {
    try {
      tune(test::loaded_mex().entry(), opts, in, 1, 2);
    } catch (const TuneError& e) {
      return e.what();
    }
    return "no error";
  };
  input.u = std::vector<double>(300, 2.5);
  EXPECT_EQ(message(input, o),
            "data.csv: the signal is constant (2.5): every gain predicts it exactly, so the data cannot choose one");
  for (size_t k = 0; k < input.u.size(); ++k) input.u[k] = std::sin(0.1 * static_cast<double>(k));
  input.u[40] = std::nan("");
  EXPECT_EQ(message(input, o).substr(0, 32), "sample 41 of data.csv is nan: tu");
  input.u[40] = 0.5;
  TuneDescription long_warmup = o;
  long_warmup.warmup = 3.0;
  EXPECT_EQ(message(input, long_warmup).substr(0, 60), "the record ends at t = 2.99 s, leaving 0 samples after the w");
  // Negative gains make the error dynamics unstable: every run overflows.
  TuneDescription negative = o;
  negative.gain_low = -1e6;
  negative.gain_high = -1e4;
  EXPECT_EQ(message(input, negative),
            "order 1: every gain from -10000 to -1e+06 made the estimator diverge (a non-finite error output)");
}

}  // namespace
}  // namespace corvel::sim
