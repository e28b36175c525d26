#include "gateway/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "host/block_instance.h"
#include "host/registration.h"
#include "support/loaded_mex.h"

namespace corvel {
namespace {

using test::call_entry;

const std::string kPrefix = "MEX level2 S-function \"corvel\"";
const std::string kFlagMessage = "The 4th right hand argument, FLAG, passed to " + kPrefix + " must be an integer";

mxArray* empty() { return mxCreateDoubleMatrix(0, 0, mxREAL); }
mxArray* num(double v) { return mxCreateDoubleScalar(v); }

// The sizes vector of a block with nothing declared but the parameter count.
std::vector<double> bare_sizes() {
  std::vector<double> v(SS_SIZE_WORDS, 0.0);
  v[7] = 3;
  v[19] = SS_VERSION_WORD;
  v[23] = 8192;
  return v;
}

TEST(CommandLine, ReturnsTheSizesOfAValidBlock) {
  const auto r = call_entry(0, {num(0), empty(), num(0), num(0), num(2), num(-1), num(3)});
  ASSERT_TRUE(r.ok) << r.error;
  std::vector<double> expected(SS_SIZE_WORDS, 0.0);
  expected[1] = 11;
  expected[2] = 3;
  expected[3] = 1;
  expected[6] = 1;
  expected[7] = 3;
  expected[19] = SS_LAYOUT_64 ? 8480229 : 5200229;
  expected[23] = 537403394;
  expected[31] = 2;
  EXPECT_EQ(r.sizes, expected);
}

TEST(CommandLine, ParameterProblemsAreNotShownOnTheCommandLine) {
  auto r = call_entry(0, {empty(), empty(), empty(), num(0)});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.sizes, bare_sizes());
  r = call_entry(1, {empty(), empty(), empty(), num(0), num(2), num(0), num(3)});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.sizes, bare_sizes());
}

TEST(CommandLine, MinusZeroAndOtherNumericClassesAreTheFlagZero) {
  EXPECT_TRUE(call_entry(0, {empty(), empty(), empty(), num(-0.0)}).ok);
  mxArray* int_flag = mxCreateNumericMatrix(1, 1, mxINT16_CLASS, mxREAL);
  EXPECT_TRUE(call_entry(0, {empty(), empty(), empty(), int_flag}).ok);
}

struct BadCall {
  const char* name;
  int nlhs;
  int nrhs;       // of the arguments below
  mxArray* (*flag)();
  std::string expected;
};

void PrintTo(const BadCall& c, std::ostream* os) { *os << c.name; }

class CommandLineErrors : public ::testing::TestWithParam<BadCall> {};

TEST_P(CommandLineErrors, RaiseTheirMessage) {
  const BadCall& c = GetParam();
  std::vector<mxArray*> prhs = {empty(), empty(), empty(), c.flag(), num(2), num(0.1), num(3)};
  for (size_t i = static_cast<size_t>(c.nrhs); i < prhs.size(); ++i) mxDestroyArray(prhs[i]);
  prhs.resize(static_cast<size_t>(c.nrhs));
  const auto r = call_entry(c.nlhs, prhs);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, c.expected);
  EXPECT_TRUE(r.sizes.empty());
  EXPECT_EQ(host::live_call_memory_blocks(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineErrors,
    ::testing::Values(
        BadCall{"three_arguments", 0, 3, [] { return num(0); }, kPrefix + " must be called with at least 4 right hand arguments"},
        BadCall{"two_outputs", 2, 7, [] { return num(0); }, kPrefix + " called with too many left hand arguments"},
        BadCall{"row_flag", 0, 7, [] { return mxCreateDoubleMatrix(1, 2, mxREAL); }, kFlagMessage},
        BadCall{"empty_flag", 0, 7, [] { return empty(); }, kFlagMessage},
        BadCall{"complex_flag", 0, 7, [] {
                  mxArray* a = mxCreateDoubleMatrix(1, 1, mxCOMPLEX);
                  mxGetPi(a)[0] = 1;
                  return a;
                }, kFlagMessage},
        BadCall{"char_flag", 0, 7, [] { return mxCreateString("0"); }, kFlagMessage},
        BadCall{"logical_flag", 0, 7, [] { return mxCreateLogicalScalar(false); }, kFlagMessage},
        BadCall{"half_flag", 0, 7, [] { return num(0.5); }, kFlagMessage},
        BadCall{"nan_flag", 0, 7, [] { return num(std::numeric_limits<double>::quiet_NaN()); }, kFlagMessage},
        BadCall{"infinite_flag", 0, 7, [] { return num(std::numeric_limits<double>::infinity()); }, kFlagMessage},
        BadCall{"huge_flag", 0, 7, [] { return num(1e300); }, kFlagMessage},
        BadCall{"flag_beyond_int32", 0, 7, [] { return num(2147483648.0); }, kFlagMessage},
        BadCall{"flag_3", 0, 7, [] { return num(3); }, "Invalid flag passed to " + kPrefix},
        BadCall{"flag_minus_1", 0, 7, [] { return num(-1); }, "Invalid flag passed to " + kPrefix}));

// ---- Registration -----------------------------------------------------------

test::EntryResult register_block(mxArray* vector) {
  return call_entry(1, {empty(), vector, empty(), num(0), num(2), num(0.1), num(4)});
}

TEST(Registration, InstallsTheCallbacksAndDeclaresTheBlock) {
  host::BlockInstance block("corvel");
  block.set_generic_hook(true);
  block.set_owner(&block);
  block.set_params({num(2), num(0.1), num(4)});
  ssGetSizeBlock(block.S())[SIZE_FLAGS] = SS_FLAG_DIMENSION_METHODS;
  // Host words 15 to 18: returned as unsigned, each of them.
  for (int word = 15; word <= 18; ++word) ssGetSizeBlock(block.S())[word] = -word;
  const auto r = register_block(host::make_registration_vector(block.S()));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(block.error(), nullptr);

  const ssMethods& m = *ssGetMethods(block.S());
  for (const void* slot : {reinterpret_cast<const void*>(m.mdlInitializeSizes),
                           reinterpret_cast<const void*>(m.mdlSetInputPortWidth.width),
                           reinterpret_cast<const void*>(m.mdlSetOutputPortWidth.width),
                           reinterpret_cast<const void*>(m.mdlSetDefaultPortDimensionInfo),
                           reinterpret_cast<const void*>(m.mdlSetInputPortDataType),
                           reinterpret_cast<const void*>(m.mdlSetOutputPortDataType),
                           reinterpret_cast<const void*>(m.mdlSetDefaultPortDataTypes),
                           reinterpret_cast<const void*>(m.mdlSetInputPortFrameData),
                           reinterpret_cast<const void*>(m.mdlSetWorkWidths),
                           reinterpret_cast<const void*>(m.mdlInitializeSampleTimes),
                           reinterpret_cast<const void*>(m.mdlInitializeConditions),
                           reinterpret_cast<const void*>(m.mdlCheckParameters),
                           reinterpret_cast<const void*>(m.mdlGetTimeOfNextVarHit),
                           reinterpret_cast<const void*>(m.mdlOutputs), reinterpret_cast<const void*>(m.mdlUpdate),
                           reinterpret_cast<const void*>(m.mdlZeroCrossings),
                           reinterpret_cast<const void*>(m.mdlTerminate)}) {
    EXPECT_NE(slot, nullptr);
  }
  for (const void* slot : {reinterpret_cast<const void*>(m.mdlStart),
                           reinterpret_cast<const void*>(m.mdlSetInputPortComplexSignal),
                           reinterpret_cast<const void*>(m.mdlSetOutputPortComplexSignal),
                           reinterpret_cast<const void*>(m.mdlSetInputPortSampleTime),
                           reinterpret_cast<const void*>(m.mdlSetOutputPortSampleTime),
                           reinterpret_cast<const void*>(m.mdlSetDefaultPortComplexSignals),
                           reinterpret_cast<const void*>(m.mdlInitializePropagationPass),
                           reinterpret_cast<const void*>(m.mdlDerivatives)}) {
    EXPECT_EQ(slot, nullptr);
  }
  EXPECT_FALSE(ssGetDimensionMethodsFlag(block.S()));
  EXPECT_EQ(ssGetSizeBlock(block.S())[SIZE_VERSION], SS_VERSION_WORD);
  EXPECT_EQ(ssGetOptions(block.S()), 0x20082002u);
  ASSERT_EQ(r.sizes.size(), static_cast<size_t>(SS_SIZE_WORDS));
  for (int word = 15; word <= 18; ++word) EXPECT_EQ(r.sizes[static_cast<size_t>(word)], 4294967296.0 - word) << word;
  EXPECT_EQ(r.sizes[1], 11);

  std::vector<int> codes;
  for (const auto& call : block.generic_calls()) codes.push_back(call.code);
#if SS_LAYOUT_64
  EXPECT_EQ(codes, (std::vector<int>{280, 299}));
  EXPECT_EQ(block.generic_calls()[0].value, 1);
#else
  EXPECT_TRUE(codes.empty());
#endif
}

TEST(Registration, WithoutAnOwnerTheHostCallIsSkipped) {
  host::BlockInstance block("corvel");
  block.set_generic_hook(true);
  block.set_params({num(2), num(0.1), num(4)});
  ASSERT_TRUE(register_block(host::make_registration_vector(block.S())).ok);
  for (const auto& call : block.generic_calls()) EXPECT_NE(call.code, 280);
}

TEST(Registration, ANameMismatchIsRaisedWithBothNames) {
  host::BlockInstance block("corvel2");
  const auto r = register_block(host::make_registration_vector(block.S()));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error,
            "S-function name mismatch. Name in source is \"#define S_FUNCTION_NAME corvel\", whereas name of the "
            "S-function MEX file is \"corvel2\". The source needs to be updated");
  EXPECT_EQ(ssGetMethods(block.S())->mdlOutputs, nullptr);
}

// The error leaves the MEX file from libmex and lands in libmx: three modules,
// each with its own runtime on Windows. Thousands of them in a row, with good
// calls between, show that each lands whole and leaves nothing behind.
TEST(Registration, ErrorsCrossTheModulesAgainAndAgainAndTheCallsBetweenWork) {
  for (int i = 0; i < 2000; ++i) {
    host::BlockInstance wrong("corvel" + std::to_string(i));
    const auto r = register_block(host::make_registration_vector(wrong.S()));
    ASSERT_FALSE(r.ok) << i;
    ASSERT_NE(r.error.find("is \"corvel" + std::to_string(i) + "\". The source"), std::string::npos) << r.error;
    if (i % 250 == 0) {
      host::BlockInstance right("corvel");
      ASSERT_TRUE(register_block(host::make_registration_vector(right.S())).ok) << i;
    }
  }
  EXPECT_EQ(host::live_call_memory_blocks(), 0u);
}

TEST(Registration, AVeryLongModelNameIsCutToTheMessageBuffer) {
  host::BlockInstance block(std::string(5000, 'x'));
  const auto r = register_block(host::make_registration_vector(block.S()));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error.size(), 255u);
  EXPECT_EQ(r.error.rfind("S-function name mismatch.", 0), 0u);
}

TEST(Registration, AWrongVersionWordIsACommandLineCall) {
  host::BlockInstance block("corvel");
  mxArray* vector = host::make_registration_vector(block.S());
  mxGetPr(vector)[mxGetM(vector) - 1] -= 1;
  const auto r = register_block(vector);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.sizes[1], 11);
  EXPECT_EQ(ssGetMethods(block.S())->mdlOutputs, nullptr);  // the host's SimStruct is untouched
}

TEST(Registration, ANullAddressIsACommandLineCall) {
  mxArray* vector = mxCreateDoubleMatrix(kRegistrationRows, 1, mxREAL);
  mxGetPr(vector)[kRegistrationRows - 1] = SS_VERSION_WORD;
  const auto r = call_entry(0, {empty(), vector, empty(), num(0), num(2), num(0.1), num(4)});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.sizes[1], 11);
}

TEST(Registration, TooFewElementsForTheRowsIsACommandLineCall) {
  const auto r = call_entry(0, {empty(), mxCreateDoubleMatrix(kRegistrationRows, 0, mxREAL), empty(), num(0)});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.sizes, bare_sizes());
}

TEST(RegistrationAddress, JoinsSignedWordsLowHalfFirst) {
#if SS_LAYOUT_64
  const double words[3] = {-16, 1, SS_VERSION_WORD};
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(registration_address(words)), std::uintptr_t{0x1FFFFFFF0});
  const double odd[3] = {std::numeric_limits<double>::quiet_NaN(), 1e300, SS_VERSION_WORD};
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(registration_address(odd)), std::uintptr_t{0x8000000080000000});
#else
  const double words[2] = {-16, SS_VERSION_WORD};
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(registration_address(words)), std::uintptr_t{0xFFFFFFF0});
  const double odd[2] = {std::numeric_limits<double>::quiet_NaN(), SS_VERSION_WORD};
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(registration_address(odd)), std::uintptr_t{0x80000000});
#endif
}

}  // namespace
}  // namespace corvel
