#include "gateway/dispatch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include "host/block_instance.h"
#include "host/registration.h"
#include "support/loaded_mex.h"

namespace corvel {
namespace {

constexpr const char* kInvalid = "Invalid flag encountered in simulink.c";

// A block registered through the loaded MEX file, its widths settled and its
// signals allocated, ready for flag calls.
class RegisteredBlock {
 public:
  RegisteredBlock() {
    block_.set_params({mxCreateDoubleScalar(2), mxCreateDoubleScalar(0.1), mxCreateDoubleScalar(3)});
    mxArray* vector = host::make_registration_vector(block_.S());
    const auto r = test::call_entry(1, {mxCreateDoubleMatrix(0, 0, mxREAL), vector, mxCreateDoubleMatrix(0, 0, mxREAL),
                                        mxCreateDoubleScalar(0)});
    EXPECT_TRUE(r.ok) << r.error;
    ssSetOutputPortWidth(block_.S(), 2, 3);
    std::string why;
    EXPECT_TRUE(block_.allocate_signals(&why)) << why;
  }

  // A dispatch call as the host makes it: nlhs -1, the SimStruct in plhs[1].
  const char* call(double flag, int call_index = 0, int call_value = 0, int nrhs = 4) {
    block_.clear_error();
    ssGetSizeBlock(block_.S())[SIZE_CALL_INDEX] = call_index;
    block_.S()->u.f.model_info->f.call_value = call_value;
    mxArray* plhs[2] = {nullptr, reinterpret_cast<mxArray*>(block_.S())};
    mxArray* flag_array = mxCreateDoubleScalar(flag);
    const mxArray* prhs[4] = {nullptr, nullptr, nullptr, flag_array};
    const auto r = host::call_mex(test::loaded_mex().entry(), -1, plhs, nrhs, prhs);
    EXPECT_TRUE(r.ok) << "the dispatch never raises: " << r.error;
    mxDestroyArray(flag_array);
    return block_.error();
  }

  host::BlockInstance& block() { return block_; }
  SimStruct* S() { return block_.S(); }

 private:
  host::BlockInstance block_{"corvel"};
};

struct MessageCase {
  double flag;
  const char* expected;  // nullptr: the call succeeds and sets no status
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << "flag " << c.flag; }

class FlagDispatch : public ::testing::TestWithParam<MessageCase> {};

TEST_P(FlagDispatch, ReachesItsCallbackOrItsMessage) {
  RegisteredBlock b;
  const char* status = b.call(GetParam().flag);
  if (GetParam().expected == nullptr) EXPECT_EQ(status, nullptr) << status;
  else EXPECT_STREQ(status, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FlagDispatch,
    ::testing::Values(
        MessageCase{101, nullptr}, MessageCase{102, nullptr}, MessageCase{104, nullptr}, MessageCase{104.9, nullptr},
        MessageCase{105, nullptr}, MessageCase{107, nullptr}, MessageCase{111, nullptr}, MessageCase{112, nullptr},
        MessageCase{113, nullptr}, MessageCase{114, nullptr}, MessageCase{115, nullptr}, MessageCase{116, nullptr},
        MessageCase{128, nullptr}, MessageCase{131, nullptr}, MessageCase{132, nullptr},
        MessageCase{103,
                    "To have a variable sample time, you must define MDL_GET_TIME_OF_NEXT_VAR_HIT and add a "
                    "mdlGetTimeOfNextVarHit routine"},
        MessageCase{108,
                    "To have nonsampled zero crossings, you must define MDL_ZERO_CROSSINGS and have a "
                    "mdlZeroCrossings routine"},
        MessageCase{120, "Unexpected call to mdlSetInputPortComplexSignal"},
        MessageCase{121, "Unexpected call to mdlSetOutputPortComplexSignal"},
        MessageCase{122, "Unexpected call to mdlSetInputPortSampleTime"},
        MessageCase{123, "Unexpected call to mdlSetOutputPortSampleTime"},
        MessageCase{126, "Unexpected call to mdlSetInputPortDimensionInfo"},
        MessageCase{127, "Unexpected call to mdlSetOutputPortDimensionInfo"},
        MessageCase{133, "Unexpected call to mdlSetDefaultPortComplexSignals"},
        MessageCase{142, "Unexpected call to mdlInitializePropagationPass"},
        MessageCase{144, "Unexpected call to mdlGetSimState (MDL_SIM_STATE not defined)"},
        MessageCase{145, "Unexpected call to mdlSetSimState (MDL_SIM_STATE not defined)"},
#if SS_LAYOUT_64
        MessageCase{149, "Unexpected call to mdlSetInputPortSymbolicDimensions"},
        MessageCase{150, "Unexpected call to mdlSetOutputPortSymbolicDimensions"},
#else
        MessageCase{149, kInvalid}, MessageCase{150, kInvalid},
#endif
        MessageCase{100.5, kInvalid}, MessageCase{0, kInvalid}, MessageCase{100, kInvalid}, MessageCase{106, kInvalid},
        MessageCase{109, kInvalid}, MessageCase{110, kInvalid}, MessageCase{117, kInvalid}, MessageCase{118, kInvalid},
        MessageCase{119, kInvalid}, MessageCase{124, kInvalid}, MessageCase{125, kInvalid}, MessageCase{129, kInvalid},
        MessageCase{130, kInvalid}, MessageCase{134, kInvalid}, MessageCase{141, kInvalid}, MessageCase{143, kInvalid},
        MessageCase{146, kInvalid}, MessageCase{147, kInvalid}, MessageCase{148, kInvalid}, MessageCase{151, kInvalid},
        MessageCase{-104, kInvalid}, MessageCase{std::numeric_limits<double>::quiet_NaN(), kInvalid},
        MessageCase{std::numeric_limits<double>::infinity(), kInvalid}, MessageCase{4294967400.0, kInvalid}));

TEST(FlagDispatch, CallsReachTheBlockWithTheCallIndexAndValue) {
  RegisteredBlock b;
  ssSetInputPortDataType(b.S(), 0, 5);
  EXPECT_EQ(b.call(113, 2, 0), nullptr);
  EXPECT_EQ(ssGetInputPortDataType(b.S(), 0), 0);
  EXPECT_EQ(b.call(114, 2, 7), nullptr);
  EXPECT_EQ(ssGetOutputPortDataType(b.S(), 0), 7);
  EXPECT_EQ(b.call(128, 0, FRAME_YES), nullptr);
  EXPECT_EQ(ssGetInputPortFrameData(b.S(), 0), FRAME_YES);
  ssSetOutputPortWidth(b.S(), 2, 9);
  EXPECT_EQ(b.call(116, 2, 9), nullptr);
  EXPECT_EQ(ssGetOutputPortWidth(b.S(), 2), 3);
  EXPECT_EQ(b.call(101), nullptr);
  EXPECT_EQ(ssGetSampleTime(b.S(), 0), 0.1);
}

TEST(FlagDispatch, OutputsAndUpdatesRunTheBlock) {
  RegisteredBlock b;
  b.block().input()[0] = 1.5;
  EXPECT_EQ(b.call(102), nullptr);
  EXPECT_EQ(b.block().states()[0], 1.5);
  b.block().input()[0] = 2.0;
  EXPECT_EQ(b.call(105), nullptr);
  EXPECT_EQ(b.block().output(0)[0], 0.5);
  EXPECT_EQ(b.call(104.9, -2), nullptr);
  EXPECT_EQ(b.block().output(1)[0], b.block().states()[0]);
}

TEST(FlagDispatch, TaskIdFollowsTheCallIndex) {
  EXPECT_EQ(output_task_id(-2), -2);
  EXPECT_EQ(output_task_id(3), 0);
  EXPECT_EQ(output_task_id(0), 0);
}

// Each width flag asks for its own slot: an empty output-width slot beside a
// filled input-width one is an unexpected call, not a call through nothing.
TEST(FlagDispatch, EachWidthFlagLooksAtItsOwnSlot) {
  RegisteredBlock b;
  b.S()->u.f.methods.mdlSetOutputPortWidth.width = nullptr;
  EXPECT_STREQ(b.call(116, 2, 3), "Unexpected call to mdlSetOutputPortWidth");
  EXPECT_EQ(b.call(115, 0, 1), nullptr);
  RegisteredBlock c;
  c.S()->u.f.methods.mdlSetInputPortWidth.width = nullptr;
  EXPECT_STREQ(c.call(115, 0, 1), "Unexpected call to mdlSetInputPortWidth");
}

TEST(FlagDispatch, DimensionMethodsFlagSelectsTheSlotKind) {
  RegisteredBlock b;
  ssGetSizeBlock(b.S())[SIZE_FLAGS] |= SS_FLAG_DIMENSION_METHODS;
  EXPECT_STREQ(b.call(115), "Unexpected call to mdlSetInputPortWidth");
  EXPECT_STREQ(b.call(116), "Unexpected call to mdlSetOutputPortWidth");
#if SS_LAYOUT_64
  // With the flag set and a host function present, 149 reaches the host's function.
  static int seen_port = -1, seen_id = -1;
  b.S()->u.f.input_symbolic_dims = [](SimStruct*, int port, int id) {
    seen_port = port;
    seen_id = id;
  };
  EXPECT_EQ(b.call(149, 1, 42), nullptr);
  EXPECT_EQ(seen_port, 1);
  EXPECT_EQ(seen_id, 42);
  EXPECT_STREQ(b.call(150), "Unexpected call to mdlSetOutputPortSymbolicDimensions");  // no host function
#endif
}

TEST(FlagDispatch, MissingSlotsGiveTheirMessages) {
  RegisteredBlock b;
  ssGetMethods(b.S())->mdlUpdate = nullptr;
  ssGetMethods(b.S())->mdlInitializeConditions = nullptr;
  EXPECT_STREQ(b.call(105), "Unexpected call to mdlUpdate");
  EXPECT_STREQ(b.call(102), "Unexpected call to mdlInitializeConditions");
}

TEST(FlagDispatch, CallsWithoutAFlagOrASimStructAreSafe) {
  RegisteredBlock b;
  EXPECT_STREQ(b.call(104, 0, 0, 3), kInvalid);  // fewer than four right-hand arguments
  mxArray* plhs[2] = {nullptr, nullptr};
  const auto r = host::call_mex(test::loaded_mex().entry(), -1, plhs, 0, nullptr);
  EXPECT_TRUE(r.ok);
  mxArray* text_flag = mxCreateString("h");
  const mxArray* prhs[4] = {nullptr, nullptr, nullptr, text_flag};
  plhs[1] = reinterpret_cast<mxArray*>(b.S());
  b.block().clear_error();
  host::call_mex(test::loaded_mex().entry(), -1, plhs, 4, prhs);
  EXPECT_STREQ(b.block().error(), kInvalid);
  mxDestroyArray(text_flag);
}

}  // namespace
}  // namespace corvel
