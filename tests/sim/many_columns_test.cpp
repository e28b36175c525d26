// Several columns of one file run as a model with one block per signal: each
// block's rows are, to the bit, those of a run of its column alone, and what
// one column does (a NaN, its noise) stays in that column.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "command_line/options.h"
#include "input/record.h"
#include "run/simulate.h"
#include "support/loaded_mex.h"
#include "support/scratch.h"

namespace corvel::sim {
namespace {

namespace fs = std::filesystem;

// Every number of one block's rows, in order.
using Rows = std::vector<double>;

// time, then a sine, a step, a ramp with a NaN at row 5000, and a column of
// -0.0: 9 000 rows, past two of the reader's blocks of 4 096.
std::string write_file() {
  const std::string path = test::scratch_path("columns.csv");
  std::ofstream out(path);
  out << "time,sine,step,ramp,zero\n";
  char line[200];
  for (int k = 0; k < 9000; ++k) {
    const double t = k * 0.001;
    std::snprintf(line, sizeof line, "%a,%a,%a,%s,-0.0\n", t, std::sin(7.0 * t), k < 3000 ? 0.0 : 2.5,
                  k == 5000 ? "nan" : std::to_string(3.0 * t).c_str());
    out << line;
  }
  return path;
}

// The rows of each block when the options' columns run together, and where
// each block was first given a sample that is not finite ("" when never).
struct BlockRows {
  std::vector<Rows> rows;
  std::vector<std::string> non_finite;
};

BlockRows run(SimOptions o) {
  const std::unique_ptr<Record> record = open_record(o);
  BlockRows result;
  result.rows.resize(record->channels());
  result.non_finite.resize(record->channels());
  simulate(
      test::loaded_mex().entry(), o, *record,
      [&](const LogRow& row, int order, const Derivatives*) {
        Rows& rows = result.rows[row.channel];
        rows.insert(rows.end(), {row.t, row.u, row.error, row.estimate});
        rows.insert(rows.end(), row.derivatives, row.derivatives + order);
      },
      [&](const FirstNonFinite& first) { result.non_finite[first.channel] = first.where; });
  return result;
}

bool same_bits(const Rows& a, const Rows& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(ManyColumns, EachBlockMatchesARunOfItsColumnAloneToTheBit) {
  const std::string path = write_file();
  const char* columns[] = {"sine", "step", "ramp", "zero"};
  for (const double order : {1.0, 4.0, 10.0}) {
    for (const double noise : {0.0, 0.01}) {  // each column's noise drawn as its own run draws it
      SimOptions o;
      o.input = path;
      o.order = order;
      o.gain = 30.0;
      o.step = -1.0;
      o.noise = noise;
      o.column = "all";
      const BlockRows together = run(o);
      ASSERT_EQ(together.rows.size(), 4u);
      for (size_t c = 0; c < 4; ++c) {
        SimOptions alone = o;
        alone.column = columns[c];
        const BlockRows single = run(alone);
        EXPECT_EQ(single.rows[0].size(), 9000u * (4 + static_cast<size_t>(order)));
        EXPECT_TRUE(same_bits(together.rows[c], single.rows[0]))
            << columns[c] << " at order " << order << ", noise " << noise;
        EXPECT_EQ(together.non_finite[c], single.non_finite[0]) << columns[c];
      }
      // The NaN is the ramp's alone.
      EXPECT_EQ(together.non_finite, (std::vector<std::string>{"", "", path + ":5002", ""}));
    }
  }
  fs::remove(path);
}

TEST(ManyColumns, AListKeepsItsOrder) {
  const std::string path = write_file();
  SimOptions o;
  o.input = path;
  o.step = -1.0;
  o.column = "4,2";
  const BlockRows together = run(o);
  o.column = "ramp";
  const BlockRows ramp = run(o);
  o.column = "sine";
  const BlockRows sine = run(o);
  ASSERT_EQ(together.rows.size(), 2u);
  EXPECT_TRUE(same_bits(together.rows[0], ramp.rows[0]));
  EXPECT_TRUE(same_bits(together.rows[1], sine.rows[0]));
  fs::remove(path);
}

// An inherited or unusable sample time samples every row; others by the host's rule.
TEST(ManyColumns, ABlocksStepIsItsRowsPerSampleHit) {
  const std::vector<std::tuple<double, double, long>> cases = {
      {-1.0, 0.001, 1}, {0.0, 0.001, 1}, {INFINITY, 0.001, 1}, {NAN, 0.001, 1},
      {0.003, 0.001, 3}, {0.0015, 0.001, 0}, {0.001, 0.001, 1}};
  for (const auto& [step, solver_step, every] : cases) {
    EXPECT_EQ(steps_per_sample_hit(step, solver_step), every) << step;
  }
}

// A model of blocks at several rates: each column's block at its own sample
// time gives, to the bit, the rows of its column run alone at that time,
// whichever block comes first in the model.
TEST(ManyColumns, EachBlockAtItsOwnRateMatchesItsColumnAlone) {
  const std::string path = write_file();
  struct Case {
    const char* columns;
    std::vector<double> steps;  // 1 ms rows: 2 ms and 3 ms are no multiple of each other
  };
  const Case cases[] = {
      {"sine,step,ramp,zero", {0.001, 0.01, 0.003, 0.002}},
      {"zero,ramp,step,sine", {0.002, 0.003, 0.01, 0.001}},
      {"ramp,sine", {0.01, 0.002}},
  };
  for (const Case& c : cases) {
    SimOptions o;
    o.input = path;
    o.order = 3.0;
    o.gain = 30.0;
    o.column = c.columns;
    o.step = c.steps[0];
    o.steps = c.steps;
    const BlockRows together = run(o);
    ASSERT_EQ(together.rows.size(), c.steps.size());
    std::vector<std::string> names;
    for (std::string list = c.columns; !list.empty();) {
      const size_t comma = list.find(',');
      names.push_back(list.substr(0, comma));
      list = comma == std::string::npos ? "" : list.substr(comma + 1);
    }
    for (size_t b = 0; b < names.size(); ++b) {
      SimOptions alone = o;
      alone.column = names[b];
      alone.step = c.steps[b];
      alone.steps.clear();
      const BlockRows single = run(alone);
      const size_t hits = (9000 - 1) / static_cast<size_t>(std::lround(c.steps[b] / 0.001)) + 1;
      EXPECT_EQ(single.rows[0].size(), hits * 7);
      EXPECT_TRUE(same_bits(together.rows[b], single.rows[0])) << names[b] << " in " << c.columns;
    }
  }
  fs::remove(path);
}

// Each column's block its own gain: its rows are, to the bit, those of its
// column run alone at that gain; a list that is not one gain a signal is
// refused before anything runs.
TEST(ManyColumns, EachBlockWithAGainOfItsOwnMatchesItsColumnAloneAtThatGain) {
  const std::string path = write_file();
  const char* columns[] = {"sine", "step", "ramp"};
  const std::vector<double> gains = {12.0, 45.0, 80.0};
  SimOptions o;
  o.input = path;
  o.order = 3.0;
  o.step = -1.0;
  o.column = "sine,step,ramp";
  o.gains = gains;
  const BlockRows together = run(o);
  ASSERT_EQ(together.rows.size(), 3u);
  for (size_t c = 0; c < 3; ++c) {
    SimOptions alone = o;
    alone.column = columns[c];
    alone.gains.clear();
    alone.gain = gains[c];
    EXPECT_TRUE(same_bits(together.rows[c], run(alone).rows[0])) << columns[c];
  }
  o.gains = {12.0, 45.0};
  {
    const std::unique_ptr<Record> record = open_record(o);  // closed before the file goes (Windows)
    try {
      plan_run(o, *record, nullptr);
      ADD_FAILURE() << "two gains for three signals were taken";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find("gains: 2 gains for 3 signals of"), std::string::npos) << e.what();
    }
  }
  fs::remove(path);
}

}  // namespace
}  // namespace corvel::sim
