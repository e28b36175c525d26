#include "input/missing_samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace corvel::sim {
namespace {

constexpr double N = NAN;

struct Filled {
  std::vector<double> values;
  std::vector<bool> filled;
};

// Every sample of a one-signal record, as the gaps are filled.
Filled fill(const std::vector<double>& samples, MissingSamples how) {
  SampleArray a;
  a.samples = samples.data();
  a.count = samples.size();
  a.description = "rec";
  RecordSource source;
  source.missing = how;
  const auto record = open_samples(a, source);
  Filled out;
  for (int pass = 0; pass < 2; ++pass) {  // a restart reads the same again
    record->restart();
    out = {};
    for (size_t k = 0; k < record->count(); ++k) {
      out.values.push_back(record->next());
      out.filled.push_back(record->filled(0));
    }
  }
  return out;
}

TEST(MissingSamples, GapsFilledByHoldingOrByALine) {
  struct Case {
    const char* name;
    std::vector<double> in;
    MissingSamples how;
    std::vector<double> out;
  };
  const std::vector<Case> cases = {
      {"hold", {1, 2, N, N, 5}, MissingSamples::kHold, {1, 2, 2, 2, 5}},
      {"line", {1, 2, N, N, 5}, MissingSamples::kInterpolate, {1, 2, 3, 4, 5}},
      {"line, one missing", {0, N, 1}, MissingSamples::kInterpolate, {0, 0.5, 1}},
      {"start, hold", {N, N, 3, 4}, MissingSamples::kHold, {3, 3, 3, 4}},
      {"start, line", {N, 3, 4}, MissingSamples::kInterpolate, {3, 3, 4}},
      {"end, line", {1, 2, N, N}, MissingSamples::kInterpolate, {1, 2, 2, 2}},
      {"two gaps", {1, N, 3, N, N, N, 7}, MissingSamples::kInterpolate, {1, 2, 3, 4, 5, 6, 7}},
      {"kept", {1, N, 3}, MissingSamples::kKeep, {1, N, 3}},
      {"infinity is a sample", {1, INFINITY, 3}, MissingSamples::kInterpolate, {1, INFINITY, 3}},
  };
  for (const Case& c : cases) {
    const Filled got = fill(c.in, c.how);
    ASSERT_EQ(got.values.size(), c.out.size()) << c.name;
    for (size_t k = 0; k < c.out.size(); ++k) {
      if (std::isnan(c.out[k])) {
        EXPECT_TRUE(std::isnan(got.values[k])) << c.name << " sample " << k;
      } else {
        EXPECT_EQ(got.values[k], c.out[k]) << c.name << " sample " << k;
      }
      EXPECT_EQ(got.filled[k], std::isnan(c.in[k]) && c.how != MissingSamples::kKeep) << c.name << " sample " << k;
    }
  }
}

TEST(MissingSamples, EachSignalItsOwnGaps) {
  // Two signals, row after row: their gaps at different rows.
  const std::vector<double> rows = {0, 10, N, 20, 2, N, 3, N, 4, 50};
  SampleArray a;
  a.samples = rows.data();
  a.count = 5;
  a.channels = 2;
  RecordSource source;
  source.missing = MissingSamples::kInterpolate;
  const auto record = open_samples(a, source);
  record->restart();
  const std::vector<double> first = {0, 1, 2, 3, 4}, second = {10, 20, 30, 40, 50};
  for (size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(record->next(), first[k]) << k;
    EXPECT_EQ(record->value(1), second[k]) << k;
    EXPECT_EQ(record->filled(0), k == 1) << k;
    EXPECT_EQ(record->filled(1), k == 2 || k == 3) << k;
  }
}

TEST(MissingSamples, RefusedGapsAreNamedWithTheirLength) {
  struct Case {
    std::vector<double> in;
    MissingSamples how;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{1, 2, N, N, N, 6}, MissingSamples::kRefuse,
       "rec, sample 3: no sample of the signal (an empty cell or NaN), the first of a gap of 3 samples: fill gaps "
       "with --missing hold"},
      {{1, N}, MissingSamples::kRefuse, "rec, sample 2: no sample of the signal (an empty cell or NaN), a gap of one sample"},
      {{N, N}, MissingSamples::kHold, "rec, sample 1: the signal has no sample at all (every one is empty or NaN)"},
  };
  for (const Case& c : cases) {
    try {
      fill(c.in, c.how);
      ADD_FAILURE() << "refused nothing: " << c.message;
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message);
    }
  }
}

// A long gap (a sensor dropped out for minutes of a 1 kHz log) costs about
// what its length costs: filled on its line, every sample, in passing. Were
// each row of it to look over the rest again, this would run for minutes.
TEST(MissingSamples, ALongGapIsFilledInOnePass) {
  constexpr size_t kGap = 400000;
  std::vector<double> in(kGap + 4, N);
  in[0] = 1.0;
  in[1] = 2.0;
  in[kGap + 2] = 7.0;
  in[kGap + 3] = 8.0;
  for (const MissingSamples how : {MissingSamples::kInterpolate, MissingSamples::kHold}) {
    const Filled out = fill(in, how);
    ASSERT_EQ(out.values.size(), in.size());
    const double span = static_cast<double>(kGap + 1);
    for (size_t k = 1; k <= kGap; ++k) {
      const double want = how == MissingSamples::kHold ? 2.0 : 2.0 + 5.0 * (static_cast<double>(k) / span);
      if (out.values[k + 1] != want || !out.filled[k + 1]) {
        ADD_FAILURE() << missing_word(how) << " at " << k << ": " << out.values[k + 1] << " where " << want;
        break;
      }
    }
    EXPECT_EQ(out.values[kGap + 2], 7.0);
    EXPECT_FALSE(out.filled[kGap + 2]);
  }
}

}  // namespace
}  // namespace corvel::sim
