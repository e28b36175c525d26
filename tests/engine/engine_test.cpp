#include "host/engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "host/sample_hits.h"
#include "kernel/differentiator.h"
#include "support/bits.h"
#include "support/loaded_mex.h"

namespace corvel {
namespace {

struct Row {
  double u, error, estimate;
  std::vector<double> derivatives;
};

std::vector<Row> run_one(const std::vector<double>& params, const host::InputSource& input, long steps,
                         host::SolverSettings solver = {}) {
  host::Engine engine(test::loaded_mex().entry(), solver);
  engine.add_block(params, input);
  std::vector<Row> rows;
  engine.run(steps, [&](const host::SampleView& v) {
    rows.push_back({v.u, v.error[0], v.estimate[0], std::vector<double>(v.derivatives, v.derivatives + v.order)});
  });
  return rows;
}

TEST(Engine, ASimulationEqualsADirectKernelLoopBitForBit) {
  for (double n : {1.0, 3.0, 10.0}) {
    const double L = 15.0, h = 0.005;
    auto signal = [](long k, double) { return std::cos(0.05 * static_cast<double>(k)) * 3.0 + 1e-3 * k; };
    const std::vector<Row> rows = run_one({L, h, n}, signal, 500, {false, h});
    ASSERT_EQ(rows.size(), 500u);

    double z[11] = {signal(0, 0)}, z_next[11], e = 0.0;
    differentiator_initialize();
    for (long k = 0; k < 500; ++k) {
      const Row& row = rows[static_cast<size_t>(k)];
      EXPECT_SAME_BITS(z[0], row.estimate);
      for (int j = 1; j <= n; ++j) EXPECT_SAME_BITS(z[j], row.derivatives[static_cast<size_t>(j - 1)]);
      EXPECT_SAME_BITS(k == 0 ? 0.0 : e, row.error);  // output 0 as the previous update left it
      differentiator_step(signal(k, 0), z, L, h, n, &e, z_next);
      std::memcpy(z, z_next, sizeof z);
    }
  }
}

TEST(Engine, OrderThreeConvergesOnACubic) {
  const double h = 0.01;
  auto cubic = [h](long k, double) {
    const double t = static_cast<double>(k) * h;
    return 2.0 - t + 0.5 * t * t + 0.125 * t * t * t;
  };
  const std::vector<Row> rows = run_one({10.0, h, 3.0}, cubic, 3000, {false, h});
  const double t = 2999 * h;
  const Row& last = rows.back();
  EXPECT_NEAR(last.estimate, cubic(2999, 0), 1e-9);
  EXPECT_NEAR(last.derivatives[0], -1.0 + t + 0.375 * t * t, 1e-7);
  EXPECT_NEAR(last.derivatives[1], 1.0 + 0.75 * t, 1e-5);
  EXPECT_NEAR(last.derivatives[2], 0.75, 1e-3);
}

TEST(Engine, InheritedSampleTimeTakesTheSolverStep) {
  const std::vector<Row> inherited = run_one({5.0, -1.0, 2.0}, [](long k, double) { return std::sin(0.1 * k); }, 50,
                                             {false, 0.02});
  const std::vector<Row> explicit_step = run_one({5.0, 0.02, 2.0}, [](long k, double) { return std::sin(0.1 * k); },
                                                 50, {false, 0.02});
  for (size_t k = 0; k < 50; ++k) EXPECT_SAME_BITS(explicit_step[k].estimate, inherited[k].estimate);
}

// One block of a model: its sample time and what it is fed.
struct RatedBlock {
  double period;
  double gain, order;
  long reset_step;  // -1: never re-enabled
};

double rated_signal(long k, double t) { return std::sin(7.0 * t) + 0.25 * std::cos(0.37 * static_cast<double>(k)); }

// Every block's rows, in the blocks' order, of one model holding them all in
// the order `order` gives (a permutation of their indices).
std::vector<std::vector<double>> run_model(const std::vector<RatedBlock>& blocks, const std::vector<size_t>& order,
                                           double solver_step, long steps) {
  host::Engine engine(test::loaded_mex().entry(), {false, solver_step});
  std::vector<size_t> index_of(blocks.size());
  for (size_t i = 0; i < order.size(); ++i) {
    const RatedBlock& b = blocks[order[i]];
    index_of[order[i]] = static_cast<size_t>(engine.add_block({b.gain, b.period, b.order}, rated_signal));
    if (b.reset_step >= 0) engine.reset_at(static_cast<int>(index_of[order[i]]), b.reset_step);
  }
  std::vector<std::vector<double>> rows(blocks.size());
  engine.run(steps, [&](const host::SampleView& v) {
    for (size_t b = 0; b < blocks.size(); ++b) {
      if (index_of[b] != static_cast<size_t>(v.block)) continue;
      rows[b].push_back(v.error[0]);
      rows[b].push_back(v.estimate[0]);
      rows[b].insert(rows[b].end(), v.derivatives, v.derivatives + v.order);
    }
  });
  return rows;
}

// Blocks of different sample times in one model: each gives, to the bit, what
// it gives in a model of its own, whichever initialises and steps first, a
// block re-enabled in the middle of the run included.
TEST(Engine, EachBlockOfAMultirateModelGivesItsOwnBits) {
  struct Case {
    const char* what;
    std::vector<RatedBlock> blocks;
  };
  const Case cases[] = {
      {"1 ms and 10 ms", {{0.001, 20.0, 2.0, -1}, {0.01, 20.0, 2.0, -1}}},
      {"1 ms, 10 ms and 0.5 ms", {{0.001, 20.0, 2.0, -1}, {0.01, 8.0, 3.0, -1}, {0.0005, 30.0, 1.0, -1}}},
      {"four rates, 1.5 ms no multiple of 1 ms",
       {{0.001, 20.0, 2.0, -1}, {0.01, 8.0, 3.0, -1}, {0.0005, 30.0, 1.0, -1}, {0.0015, 12.0, 5.0, -1}}},
      {"a block re-enabled mid-run", {{0.001, 20.0, 2.0, 1203}, {0.01, 20.0, 4.0, -1}, {0.0015, 9.0, 2.0, 2400}}},
  };
  const double solver_step = 0.0005;
  const long steps = 4000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::vector<double>> alone;
    for (const RatedBlock& b : c.blocks) alone.push_back(run_model({b}, {0}, solver_step, steps)[0]);
    std::vector<size_t> order(c.blocks.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    do {
      const std::vector<std::vector<double>> together = run_model(c.blocks, order, solver_step, steps);
      for (size_t b = 0; b < c.blocks.size(); ++b) {
        ASSERT_EQ(alone[b].size(), together[b].size());
        ASSERT_EQ(std::memcmp(alone[b].data(), together[b].data(), alone[b].size() * sizeof(double)), 0)
            << "block of period " << c.blocks[b].period << ", first in the model: " << c.blocks[order[0]].period;
      }
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

// Blocks of one rate step as they always have: one matrix, built by the first
// update after initialisation, and the bits of a plain kernel loop.
TEST(Engine, BlocksOfOneRateStepWithTheOneMatrix) {
  const double h = 0.002;
  host::Engine engine(test::loaded_mex().entry(), {false, h});
  engine.add_block({8.0, h, 2.0}, rated_signal);
  engine.add_block({30.0, h, 4.0}, rated_signal);
  std::vector<double> second;
  engine.run(600, [&](const host::SampleView& v) {
    if (v.block == 1) second.push_back(v.derivatives[3]);
  });
  double z[11] = {rated_signal(0, 0.0)}, z_next[11], e = 0.0;
  differentiator_initialize();
  for (long k = 0; k < 600; ++k) {
    EXPECT_SAME_BITS(z[4], second[static_cast<size_t>(k)]) << k;
    differentiator_step(rated_signal(k, static_cast<double>(k) * h), z, 30.0, h, 4.0, &e, z_next);
    std::memcpy(z, z_next, sizeof z);
  }
}

// A sample time is a whole number of solver steps by rounding, not by
// truncation: 0.03 / 0.01 is 2.9999999999999996 in doubles, and 3 steps.
TEST(Engine, ASampleTimeIsItsNearestWholeNumberOfSolverSteps) {
  host::Engine engine(test::loaded_mex().entry(), {false, 0.01});
  engine.add_block({8.0, 0.03, 2.0}, rated_signal);
  std::vector<long> hits;
  engine.run(30, [&](const host::SampleView& v) { hits.push_back(v.step); });
  EXPECT_EQ(engine.sample_time(0), 0.03);
  EXPECT_EQ(hits, (std::vector<long>{0, 3, 6, 9, 12, 15, 18, 21, 24, 27}));
}

// The sample-hit rule at its edges: rounding errors of a division pass,
// real remainders do not, and a count no long holds is no undefined cast.
TEST(Engine, ASampleTimeIsAWholeNumberOfStepsWithinTheRoundingOfDoubles) {
  struct Case {
    double period, step;
    long every;  // 0: refused
  } cases[] = {
      {0.003, 0.001, 3},                        // 2.9999999999999996
      {0.7, 0.1, 7},                            // 6.999999999999999
      {0.001 * (1.0 + 5e-10), 0.001, 1},        // within 1e-9 of one step
      {0.001 * (1.0 + 2e-9), 0.001, 0},         // past it
      {123456789.0 * 0.001, 0.001, 123456789},  // a long ratio, inexact by an ulp or two
      {0.0005, 0.001, 0},                       // half a step rounds to one, and is refused
      {0.0004, 0.001, 0},                       // rounds to none
      {2.5, 1.0, 0},
      {1e15, 1.0, static_cast<long>(sizeof(long) >= 8 ? 1000000000000000LL : std::numeric_limits<long>::max())},
      {2e15, 1.0, 0},
      {1.0, 0.0, 0},
      {std::nan(""), 0.001, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host::solver_steps_per_hit(c.period, c.step), c.every) << c.period << " on " << c.step;
  }
  // The engine schedules by it: a hit every 3 steps; a refusal naming both times.
  for (const Case& c : {cases[0], cases[2], cases[3], cases[5]}) {
    host::Engine engine(test::loaded_mex().entry(), {false, c.step});
    engine.add_block({8.0, c.period, 2.0}, rated_signal);
    std::vector<long> hits;
    if (c.every == 0) {
      EXPECT_THROW(engine.run(7, nullptr), host::EngineError) << c.period;
      continue;
    }
    engine.run(7, [&](const host::SampleView& v) { hits.push_back(v.step); });
    std::vector<long> expected;
    for (long k = 0; k < 7; k += c.every) expected.push_back(k);
    EXPECT_EQ(hits, expected) << c.period;
  }
  // A sample time of 1e15 steps: one hit at the start of any run.
  host::Engine far(test::loaded_mex().entry(), {false, 1.0});
  far.add_block({8.0, 1e15, 2.0}, rated_signal);
  std::vector<long> hits;
  far.run(5, [&](const host::SampleView& v) { hits.push_back(v.step); });
  EXPECT_EQ(hits, (std::vector<long>{0}));
}

// A run's state goes back only into a run of the same blocks: any part of
// another shape (or a step before the start) is refused, the run as it was.
TEST(Engine, ARunsStateOfAnotherShapeIsRefused) {
  host::Engine engine(test::loaded_mex().entry(), {false, 0.01});
  engine.add_block({8.0, 0.03, 2.0}, rated_signal);
  engine.start();
  for (int k = 0; k < 4; ++k) engine.advance(nullptr);
  const host::RunState good = engine.state();
  const std::vector<std::pair<const char*, std::function<void(host::RunState&)>>> spoilt = {
      {"a step before the start", [](host::RunState& s) { s.step = -1; }},
      {"another number of blocks", [](host::RunState& s) { s.until_hit.push_back(0); }},
      {"no states of a block", [](host::RunState& s) { s.states.clear(); }},
      {"no outputs of a block", [](host::RunState& s) { s.outputs.clear(); }},
      {"a state too few", [](host::RunState& s) { s.states[0].pop_back(); }},
      {"an output too many", [](host::RunState& s) { s.outputs[0].push_back(0.0); }},
      {"a countdown past the sample time", [](host::RunState& s) { s.until_hit[0] = 3; }},
      {"a countdown below zero", [](host::RunState& s) { s.until_hit[0] = -1; }},
  };
  for (const auto& [what, spoil] : spoilt) {
    host::RunState bad = good;
    spoil(bad);
    EXPECT_THROW(engine.restore(bad), host::EngineError) << what;
    EXPECT_EQ(engine.steps_done(), 4) << what;
  }
  EXPECT_NO_THROW(engine.restore(good));
  engine.finish();
}

TEST(Engine, StopsWithTheBlocksOwnMessage) {
  struct Case {
    std::vector<double> params;
    host::SolverSettings solver;
    std::string expected;
  } cases[] = {
      {{1.0, 0.01, 11.0}, {},
       "block 0 (corvel), mdlInitializeSizes: Order of the differantiator must be an integer greater than zero and "
       "less or equal than 10."},
      {{1.0, 0.0, 2.0}, {},
       "block 0 (corvel), mdlInitializeSizes: The step size either has to be -1 to specify an inherited setting or a "
       "positive real value."},
      {{1.0, 0.01}, {}, "block 0 (corvel): the S-function expects 3 parameters but was given 2"},
      {{1.0, -1.0, 2.0}, {true, 0.01},
       "block 0 (corvel), mdlUpdate: This block cannot be assigned a continuous sample time. Enter a sample time or "
       "choose a fixed-step solver."},
      {{1.0, 0.015, 2.0}, {false, 0.01},
       "block 0 (corvel): sample time 0.014999999999999999 is not a multiple of the solver step 0.01"},
  };
  for (const Case& c : cases) {
    host::Engine engine(test::loaded_mex().entry(), c.solver);
    engine.add_block(c.params, [](long, double) { return 1.0; });
    try {
      engine.run(10, nullptr);
      ADD_FAILURE() << "no error for " << c.expected;
    } catch (const host::EngineError& e) {
      EXPECT_EQ(std::string(e.what()), c.expected);
    }
  }
}

TEST(Engine, TraceNamesEveryCallInHostOrder) {
  host::Engine engine(test::loaded_mex().entry(), {false, 0.1});
  engine.enable_trace(true);
  engine.add_block({1.0, 0.1, 2.0}, [](long, double) { return 0.5; });
  engine.run(2, nullptr);
  std::vector<std::string> methods;
  for (const std::string& line : engine.trace()) {
    const size_t flag = line.find("flag=");
    methods.push_back(line.substr(flag + 5, line.find_first_of(",)", flag) - flag - 5));
    EXPECT_NE(line.find("-> "), std::string::npos);
  }
  const std::vector<std::string> expected = {
      // Input 0's width call settles output 2 as well: no output-width call follows.
      "0 registration", "115 mdlSetInputPortWidth",
      "131 mdlSetDefaultPortDimensionInfo", "113 mdlSetInputPortDataType", "132 mdlSetDefaultPortDataTypes",
      "128 mdlSetInputPortFrameData", "111 mdlSetWorkWidths", "101 mdlInitializeSampleTimes",
      "102 mdlInitializeConditions", "104 mdlOutputs", "105 mdlUpdate", "104 mdlOutputs", "105 mdlUpdate",
      "107 mdlTerminate"};
  EXPECT_EQ(methods, expected);
  // The per-sample calls say when and with what input.
  const std::vector<std::string>& trace = engine.trace();
  ASSERT_EQ(trace.size(), expected.size());
  EXPECT_EQ(trace[8].substr(0, 27), "block 0: t=0 u=0.5 mexFunct");
  EXPECT_EQ(trace[11].substr(0, 39), "block 0: t=0.10000000000000001 u=0.5 me");
  EXPECT_EQ(trace[7].find("t="), std::string::npos);
}


// The callbacks the registration installs, called through their slots as a
// host calls them: the outputs slot copies the states out and leaves them;
// the update slot advances them; initial conditions reset them. Any two
// swapped fail here.
TEST(Engine, EachInstalledCallbackDoesItsOwnJob) {
  host::Engine engine(test::loaded_mex().entry(), {false, 0.1});
  engine.add_block({20.0, 0.1, 3.0}, [](long k, double) { return std::sin(0.3 * static_cast<double>(k)); });
  engine.run(6, nullptr);
  SimStruct* S = engine.simstruct(0);
  const ssMethods& m = *ssGetMethods(S);
  double* z = ssGetDiscStates(S);
  std::vector<double> before(z, z + 11);
  ASSERT_NE(before[1], 0.0);

  m.mdlOutputs(S, 0);
  EXPECT_EQ(std::vector<double>(z, z + 11), before);
  auto output = [S](int port) { return static_cast<const double*>(ssGetOutputPortSignal(S, port)); };
  EXPECT_EQ(output(1)[0], before[0]);
  for (int j = 0; j < 3; ++j) EXPECT_EQ(output(2)[j], before[static_cast<size_t>(j) + 1]);

  m.mdlUpdate(S, 0);
  EXPECT_NE(std::vector<double>(z, z + 11), before);

  m.mdlInitializeConditions(S);
  EXPECT_EQ(z[0], static_cast<const double*>(ssGetInputPortSignal(S, 0))[0]);
  for (int j = 1; j < 11; ++j) EXPECT_EQ(z[j], 0.0);
}

// A second run of the same model gives the same bits: initialisation resets
// everything a run leaves behind, the shared transition matrix included.
TEST(Engine, ResetAndRerunGivesTheSameOutputs) {
  auto run = [](double step) {
    host::Engine engine(test::loaded_mex().entry(), {false, step});
    engine.add_block({15.0, step, 4.0}, [](long k, double) { return std::cos(0.05 * static_cast<double>(k)) + 0.01 * (k % 7); });
    std::vector<double> out;
    engine.run(400, [&](const host::SampleView& v) {
      out.push_back(v.error[0]);
      out.push_back(v.estimate[0]);
      out.insert(out.end(), v.derivatives, v.derivatives + v.order);
    });
    return out;
  };
  const std::vector<double> first = run(0.01);
  run(0.5);  // another step size in between rebuilds the shared matrix
  const std::vector<double> again = run(0.01);
  ASSERT_EQ(first.size(), again.size());
  EXPECT_EQ(std::memcmp(first.data(), again.data(), first.size() * sizeof(double)), 0);
}

}  // namespace
}  // namespace corvel
