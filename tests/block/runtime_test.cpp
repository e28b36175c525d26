#include "block/runtime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "block/messages.h"
#include "block/parameters.h"
#include "kernel/differentiator.h"
#include "support/bits.h"
#include "support/block_fixture.h"

namespace corvel {
namespace {

TEST(InitializeConditions, StatesStartAtTheInput) {
  host::BlockInstance block;
  test::set_up_block(block, 2, 0.1, 3);
  for (int i = 0; i < 11; ++i) block.states()[i] = 9.0;
  block.input()[0] = 2.5;
  mdlInitializeConditions(block.S());
  EXPECT_EQ(block.states()[0], 2.5);
  for (int i = 1; i < 11; ++i) EXPECT_SAME_BITS(0.0, block.states()[i]);
}

TEST(Outputs, CopyTheStatesAndLeaveTheErrorAlone) {
  for (int n : {3, 10}) {
    host::BlockInstance block;
    test::set_up_block(block, 2, 0.1, n);
    for (int i = 0; i < 11; ++i) block.states()[i] = 10.0 + i;
    block.output(0)[0] = -7.0;
    mdlOutputs(block.S(), 0);
    EXPECT_EQ(block.output(1)[0], 10.0);
    ASSERT_EQ(block.output_size(2), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) EXPECT_EQ(block.output(2)[i], 11.0 + i);
    EXPECT_EQ(block.output(0)[0], -7.0);
  }
}

TEST(Outputs, NeverWriteBeyondTheSettledWidth) {
  // The host accepts a larger order during the run; the port keeps width 3,
  // which the sanitizer build would see overrun in the exactly sized buffer.
  host::BlockInstance block;
  test::set_up_block(block, 2, 0.1, 3);
  block.set_param(P3, mxCreateDoubleScalar(10));
  mdlCheckParameters(block.S());
  EXPECT_EQ(block.error(), nullptr);
  for (int i = 0; i < 11; ++i) block.states()[i] = i;
  mdlOutputs(block.S(), 0);
  EXPECT_EQ(block.output(2)[2], 3.0);
  for (double odd : {std::nan(""), 1e300, -4.0}) {
    block.set_param(P3, mxCreateDoubleScalar(odd));
    mdlOutputs(block.S(), 0);
    mdlUpdate(block.S(), 0);
  }
}

TEST(Update, UsesTheSampleTimeAsTheStepSize) {
  struct Case {
    double sample_time;
    bool variable_step;
    double fixed_step;
    double used_h;
    const char* error;
  } cases[] = {{0.01, false, 0.5, 0.01, nullptr},
               {0.0, false, 0.5, 0.5, nullptr},
               {0.0, true, 0.5, 0.0, "This block cannot be assigned a continuous sample time. Enter a sample time or choose a fixed-step solver."}};
  for (const Case& c : cases) {
    host::BlockInstance block;
    test::set_up_block(block, 2, 0.1, 2);
    block.set_solver(c.variable_step, c.fixed_step);
    ssSetSampleTime(block.S(), 0, c.sample_time);
    block.input()[0] = 1.0;
    mdlInitializeConditions(block.S());
    block.input()[0] = 3.0;
    mdlUpdate(block.S(), 0);
    if (c.error == nullptr) EXPECT_EQ(block.error(), nullptr);
    else EXPECT_STREQ(block.error(), c.error);

    const double z[11] = {1.0};
    double e = 0.0, expected[11];
    differentiator_initialize();
    differentiator_step(3.0, z, 2.0, c.used_h, 2.0, &e, expected);
    EXPECT_SAME_BITS(e, block.output(0)[0]);
    for (int i = 0; i < 11; ++i) {
      if (std::isnan(expected[i])) EXPECT_TRUE(std::isnan(block.states()[i])) << i;
      else EXPECT_SAME_BITS(expected[i], block.states()[i]) << i;
    }
  }
}

TEST(Update, TwoUpdatesWithoutOutputsLeaveOutputsOneAndTwo) {
  host::BlockInstance block;
  test::set_up_block(block, 2, 0.1, 2);
  mdlInitializeConditions(block.S());
  block.output(1)[0] = 5.0;
  block.output(2)[0] = 6.0;
  block.input()[0] = 1.0;
  mdlUpdate(block.S(), 0);
  const double first_error = block.output(0)[0];
  block.input()[0] = 2.0;
  mdlUpdate(block.S(), 0);
  EXPECT_NE(block.output(0)[0], first_error);
  EXPECT_EQ(block.output(1)[0], 5.0);
  EXPECT_EQ(block.output(2)[0], 6.0);
}

TEST(Run, HostOrderEqualsADirectKernelLoopBitForBit) {
  for (int n : {1, 4, 7, 10}) {
    const double L = 12.5, h = 0.02;
    host::BlockInstance block;
    test::set_up_block(block, L, h, n);

    std::vector<double> errors, estimates, derivatives;
    auto signal = [](int k) { return std::sin(0.37 * k) + 0.01 * k; };
    block.input()[0] = signal(0);
    mdlInitializeConditions(block.S());
    for (int k = 0; k < 300; ++k) {
      block.input()[0] = signal(k);
      mdlOutputs(block.S(), 0);
      estimates.push_back(block.output(1)[0]);
      derivatives.push_back(block.output(2)[n - 1]);
      mdlUpdate(block.S(), 0);
      errors.push_back(block.output(0)[0]);
    }

    double z[11] = {signal(0)}, z_next[11], e = 0.0;
    differentiator_initialize();
    for (int k = 0; k < 300; ++k) {
      EXPECT_SAME_BITS(z[0], estimates[k]);
      EXPECT_SAME_BITS(z[n], derivatives[k]);
      differentiator_step(signal(k), z, L, h, n, &e, z_next);
      std::memcpy(z, z_next, sizeof z);
      EXPECT_SAME_BITS(e, errors[k]);
    }
  }
}

TEST(Messages, ZeroCrossingsAndVariableHitsAnswerWithTheirTexts) {
  host::BlockInstance block;
  mdlZeroCrossings(block.S());
  EXPECT_STREQ(block.error(), "To have nonsampled zero crossings, you must define MDL_ZERO_CROSSINGS and have a mdlZeroCrossings routine");
  mdlGetTimeOfNextVarHit(block.S());
  EXPECT_STREQ(block.error(), "To have a variable sample time, you must define MDL_GET_TIME_OF_NEXT_VAR_HIT and add a "
                                   "mdlGetTimeOfNextVarHit routine");
  block.clear_error();
  mdlTerminate(block.S());
  EXPECT_EQ(block.error(), nullptr);
}

}  // namespace
}  // namespace corvel
