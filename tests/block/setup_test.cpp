#include "block/setup.h"

#include <gtest/gtest.h>

#include <string>

#include "block/messages.h"
#include "support/block_fixture.h"

namespace corvel {
namespace {

using test::scalar_params;

TEST(InitializeSizes, DeclaresTheWholeBlock) {
  host::BlockInstance block;
  block.set_generic_hook(true);
  block.set_params(scalar_params({2, 0.01, 4}));
  mdlInitializeSizes(block.S());
  SimStruct* S = block.S();
  const int32_t* w = ssGetSizeBlock(S);
  EXPECT_EQ(block.error(), nullptr);
  EXPECT_EQ(w[SIZE_NUM_SFCN_PARAMS], 3);
  EXPECT_EQ(w[SIZE_NUM_CONT_STATES], 0);
  EXPECT_EQ(w[SIZE_NUM_DISC_STATES], 11);
  EXPECT_EQ(w[SIZE_NUM_INPUT_PORTS], 1);
  EXPECT_EQ(w[SIZE_NUM_OUTPUT_PORTS], 3);
  EXPECT_EQ(w[SIZE_NUM_SAMPLE_TIMES], 1);
  EXPECT_EQ(ssGetOptions(S), 0x20080002u);

  const ssInputPortFields& in = S->u.f.input_ports[0].f;
  EXPECT_EQ(in.width, 1);
  EXPECT_EQ(in.data_type, SS_DOUBLE);
  EXPECT_EQ(in.complex_signal, COMPLEX_NO);
  EXPECT_EQ(in.direct_feedthrough, 1);
  EXPECT_EQ(in.required_contiguous, 1);
  const int widths[3] = {1, 1, DYNAMICALLY_SIZED};
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(ssGetOutputPortWidth(S, p), widths[p]) << p;
    EXPECT_EQ(ssGetOutputPortDataType(S, p), SS_DOUBLE);
    EXPECT_EQ(S->u.f.output_ports[p].f.complex_signal, COMPLEX_NO);
  }

  const auto& calls = block.generic_calls();
#if SS_LAYOUT_64
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].code, 299);
  EXPECT_EQ(calls[0].value, 0);
  EXPECT_EQ(calls[0].text, "8.7");
#else
  EXPECT_TRUE(calls.empty());  // the 32-bit layout makes no version call
#endif
}

TEST(InitializeSizes, TwoParametersDeclareOnlyTheCount) {
  host::BlockInstance block;
  block.set_params(scalar_params({2, 0}));  // a bad step size: the check must not run
  mdlInitializeSizes(block.S());
  EXPECT_EQ(block.error(), nullptr);
  for (int i = 0; i < SS_SIZE_WORDS; ++i) {
    if (i != SIZE_NUM_SFCN_PARAMS && i != SIZE_VERSION) EXPECT_EQ(ssGetSizeBlock(block.S())[i], 0) << i;
  }
  EXPECT_EQ(ssGetSizeBlock(block.S())[SIZE_NUM_SFCN_PARAMS], 3);
}

TEST(InitializeSizes, AFailedCheckEndsTheDeclarations) {
  host::BlockInstance block;
  block.set_params(scalar_params({2, 0.1, 11}));
  mdlInitializeSizes(block.S());
  EXPECT_STREQ(block.error(), "Order of the differantiator must be an integer greater than zero and less or equal than 10.");
  EXPECT_EQ(ssGetSizeBlock(block.S())[SIZE_NUM_DISC_STATES], 0);
  EXPECT_EQ(ssGetOptions(block.S()), 0u);
}

TEST(InitializeSizes, ARefusedPortCountEndsTheDeclarations) {
  for (bool refuse_inputs : {true, false}) {
    host::BlockInstance block;
    block.refuse_port_counts(refuse_inputs, !refuse_inputs);
    block.set_params(scalar_params({2, 0.1, 3}));
    mdlInitializeSizes(block.S());
    const int32_t* w = ssGetSizeBlock(block.S());
    EXPECT_EQ(w[SIZE_NUM_DISC_STATES], 11);
    EXPECT_EQ(w[SIZE_NUM_INPUT_PORTS], refuse_inputs ? 0 : 1);
    EXPECT_EQ(w[SIZE_NUM_OUTPUT_PORTS], 0);
    EXPECT_EQ(w[SIZE_NUM_SAMPLE_TIMES], 0);
    EXPECT_EQ(ssGetOptions(block.S()), 0u);
    if (!refuse_inputs) EXPECT_EQ(block.S()->u.f.input_ports[0].f.width, 1);
  }
}

TEST(InitializeSizes, WithoutTheHookTheOptionsAreStillSet) {
  host::BlockInstance block;
  block.set_params(scalar_params({2, 0.1, 3}));
  mdlInitializeSizes(block.S());
  mdlSetWorkWidths(block.S());
  EXPECT_EQ(ssGetOptions(block.S()), 0x20080002u);
  EXPECT_TRUE(block.generic_calls().empty());
}

TEST(Propagation, WidthsFollowTheOrderWhateverIsProposed) {
  host::BlockInstance block;
  block.set_params(scalar_params({2, 0.1, 4}));
  mdlInitializeSizes(block.S());
  SimStruct* S = block.S();
  ssSetInputPortWidth(S, 0, 9);
  ssSetOutputPortWidth(S, 0, 5);
  mdlSetOutputPortWidth(S, 2, 7);
  EXPECT_EQ(ssGetOutputPortWidth(S, 0), 1);
  EXPECT_EQ(ssGetOutputPortWidth(S, 1), 1);
  EXPECT_EQ(ssGetOutputPortWidth(S, 2), 4);
  EXPECT_EQ(S->u.f.input_ports[0].f.width, 9);  // set B leaves the input alone

  mdlSetInputPortWidth(S, 3, 12);
  EXPECT_EQ(S->u.f.input_ports[0].f.width, 1);
  ssSetOutputPortWidth(S, 2, DYNAMICALLY_SIZED);
  ssSetInputPortWidth(S, 0, DYNAMICALLY_SIZED);
  mdlSetDefaultPortDimensionInfo(S);
  EXPECT_EQ(S->u.f.input_ports[0].f.width, 1);
  EXPECT_EQ(ssGetOutputPortWidth(S, 2), 4);
}

TEST(Propagation, DataTypesGoToPortZeroWhateverPortIsNamed) {
  host::BlockInstance block;
  block.set_params(scalar_params({2, 0.1, 4}));
  mdlInitializeSizes(block.S());
  SimStruct* S = block.S();
  mdlSetOutputPortDataType(S, 2, 7);
  EXPECT_EQ(ssGetOutputPortDataType(S, 0), 7);
  EXPECT_EQ(ssGetOutputPortDataType(S, 2), SS_DOUBLE);
  mdlSetInputPortDataType(S, 2, 5);
  EXPECT_EQ(ssGetInputPortDataType(S, 0), 5);
  ssSetOutputPortDataType(S, 1, 3);
  mdlSetDefaultPortDataTypes(S);
  EXPECT_EQ(ssGetInputPortDataType(S, 0), SS_DOUBLE);
  EXPECT_EQ(ssGetOutputPortDataType(S, 0), SS_DOUBLE);
  EXPECT_EQ(ssGetOutputPortDataType(S, 1), 3);
}

TEST(Propagation, FrameDataIsRecordedOnTheNamedInputOnly) {
  host::BlockInstance block;
  block.set_params(scalar_params({2, 0.1, 4}));
  mdlInitializeSizes(block.S());
  mdlSetInputPortFrameData(block.S(), 0, FRAME_INHERITED);
  EXPECT_EQ(ssGetInputPortFrameData(block.S(), 0), FRAME_INHERITED);
  mdlSetInputPortFrameData(block.S(), 1, FRAME_YES);  // no such port: nothing is written
  mdlSetInputPortFrameData(block.S(), -1, FRAME_YES);
  EXPECT_EQ(ssGetInputPortFrameData(block.S(), 0), FRAME_INHERITED);
}

TEST(SampleTimes, ComeFromTheStepSizeParameter) {
  for (double step : {0.5, -1.0}) {
    host::BlockInstance block;
    block.set_params(scalar_params({2, step, 2}));
    mdlInitializeSampleTimes(block.S());
    EXPECT_EQ(ssGetSampleTime(block.S(), 0), step);
    EXPECT_EQ(block.S()->u.f.inheritance_rule, 1);
    EXPECT_EQ(block.S()->u.f.offset_times[0], 0.0);
  }
}

TEST(WorkWidths, RegisterTheRunTimeParameterNames) {
  host::BlockInstance block;
  block.set_generic_hook(true);
  block.set_params(scalar_params({2, 0.1, 2}));
  ssSetNumSFcnParams(block.S(), 3);
  mdlSetWorkWidths(block.S());
  ASSERT_EQ(block.generic_calls().size(), 1u);
  EXPECT_EQ(block.generic_calls()[0].code, 3);
  EXPECT_EQ(block.generic_calls()[0].value, 0);
  EXPECT_EQ(block.generic_calls()[0].names, (std::vector<std::string>{"P1", "P2", "P3"}));
}

}  // namespace
}  // namespace corvel
