#include "host/engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

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

TEST(Engine, TwoBlocksShareTheTransitionMatrixOfWhicheverStepsFirst) {
  // Block 0 samples every 0.01 s, block 1 every 0.02 s. Both initialise; block
  // 0's update comes first, so both run on the matrix built from 0.01 while
  // block 1's gains use its own 0.02.
  auto signal = [](long k, double) { return std::sin(0.03 * static_cast<double>(k)); };
  host::Engine engine(test::loaded_mex().entry(), {false, 0.01});
  engine.add_block({8.0, 0.01, 2.0}, signal);
  engine.add_block({8.0, 0.02, 2.0}, signal);
  std::vector<double> slow;
  engine.run(400, [&](const host::SampleView& v) {
    if (v.block == 1) slow.push_back(v.estimate[0]);
  });
  EXPECT_EQ(engine.sample_time(1), 0.02);
  ASSERT_EQ(slow.size(), 200u);

  auto replay = [&](double matrix_h) {
    std::vector<double> estimates;
    double z[11] = {signal(0, 0)}, z_next[11], e = 0.0;
    differentiator_initialize();
    const double first[11] = {};
    double scratch[11], scratch_e;
    differentiator_step(0.0, first, 8.0, matrix_h, 2.0, &scratch_e, scratch);  // builds the matrix
    for (long k = 0; k < 400; k += 2) {
      estimates.push_back(z[0]);
      differentiator_step(signal(k, 0), z, 8.0, 0.02, 2.0, &e, z_next);
      std::memcpy(z, z_next, sizeof z);
    }
    return estimates;
  };
  const std::vector<double> shared = replay(0.01), own = replay(0.02);
  bool differs_from_own = false;
  for (size_t i = 0; i < slow.size(); ++i) {
    EXPECT_SAME_BITS(shared[i], slow[i]) << i;
    differs_from_own = differs_from_own || shared[i] != own[i];
  }
  EXPECT_TRUE(differs_from_own);
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
