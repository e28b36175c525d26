#include "host/array_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(ArrayApi, ScalarReadingIsDefinedForEveryArray) {
  struct Case {
    mxArray* array;
    double expected;
  } cases[] = {
      {mxCreateDoubleScalar(-2.5), -2.5},
      {mxCreateDoubleMatrix(0, 3, mxREAL), 0.0},
      {mxCreateLogicalScalar(true), 1.0},
      {mxCreateString("A"), 65.0},
      {mxCreateString(""), 0.0},
      {mxCreateSparse(2, 2, 0, mxREAL), 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mxGetScalar(c.array), c.expected);
    mxDestroyArray(c.array);
  }
  mxArray* i16 = mxCreateNumericMatrix(1, 1, mxINT16_CLASS, mxREAL);
  *static_cast<std::int16_t*>(mxGetData(i16)) = -300;
  EXPECT_EQ(mxGetScalar(i16), -300.0);
  EXPECT_EQ(mxGetPr(i16), nullptr);  // not a double array: no doubles to hand out
  mxDestroyArray(i16);
}

TEST(ArrayApi, ClassTests) {
  mxArray* d = mxCreateDoubleMatrix(2, 3, mxCOMPLEX);
  EXPECT_TRUE(mxIsNumeric(d) && mxIsDouble(d) && mxIsComplex(d));
  EXPECT_FALSE(mxIsSparse(d) || mxIsLogical(d) || mxIsEmpty(d));
  EXPECT_EQ(mxGetM(d), 2u);
  EXPECT_EQ(mxGetN(d), 3u);
  EXPECT_EQ(mxGetNumberOfElements(d), 6u);
  mxArray* c = mxCreateString("abc");
  EXPECT_FALSE(mxIsNumeric(c));
  mxArray* l = mxCreateLogicalScalar(false);
  EXPECT_FALSE(mxIsNumeric(l));
  EXPECT_TRUE(mxIsLogical(l));
  for (mxArray* a : {d, c, l}) mxDestroyArray(a);
}

void raises_from_a_stack_buffer(int, mxArray* plhs[], int, const mxArray*[]) {
  plhs[0] = mxCreateDoubleMatrix_700(2, 2, mxREAL);  // made, then abandoned by the error
  void* scratch = mxCalloc(100, 8);
  EXPECT_EQ(static_cast<unsigned char*>(scratch)[799], 0);
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "%s went wrong", "something");
  mexErrMsgTxt(buffer);
}

void returns_an_array(int, mxArray* plhs[], int, const mxArray*[]) {
  mxArray* scratch = mxCreateDoubleMatrix_700(5, 5, mxREAL);  // not handed back: reclaimed
  (void)scratch;
  mxCalloc(3, 3);
  plhs[0] = mxCreateDoubleMatrix_700(3, 1, mxREAL);
  mxGetPr(plhs[0])[2] = 4.0;
}

TEST(CallMex, ErrorsComeBackWithACopyOfTheirText) {
  mxArray* plhs[1];
  const auto result = corvel::host::call_mex(raises_from_a_stack_buffer, 1, plhs, 0, nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "something went wrong");
  EXPECT_EQ(plhs[0], nullptr);
  EXPECT_EQ(corvel::host::live_call_memory_blocks(), 0u);
}

// A MEX function that calls another, which fails, and then fails itself.
std::string inner_error;
void calls_a_failing_one_then_fails(int, mxArray*[], int, const mxArray*[]) {
  mxArray* plhs[1];
  inner_error = corvel::host::call_mex(raises_from_a_stack_buffer, 1, plhs, 0, nullptr).error;
  mexErrMsgTxt("the outer one failed too");
}

TEST(CallMex, AnErrorLandsInTheInnermostCall) {
  mxArray* plhs[1];
  const auto result = corvel::host::call_mex(calls_a_failing_one_then_fails, 1, plhs, 0, nullptr);
  EXPECT_EQ(inner_error, "something went wrong");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "the outer one failed too");
  EXPECT_EQ(corvel::host::live_call_memory_blocks(), 0u);
  const auto next = corvel::host::call_mex(returns_an_array, 0, plhs, 0, nullptr);
  ASSERT_TRUE(next.ok);
  mxDestroyArray(plhs[0]);
}

TEST(CallMex, KeepsWhatIsHandedBackAndReclaimsTheRest) {
  mxArray* plhs[1];
  const auto result = corvel::host::call_mex(returns_an_array, 0, plhs, 0, nullptr);
  ASSERT_TRUE(result.ok);
  ASSERT_NE(plhs[0], nullptr);
  EXPECT_EQ(mxGetPr(plhs[0])[2], 4.0);
  EXPECT_EQ(corvel::host::live_call_memory_blocks(), 0u);
  mxDestroyArray(plhs[0]);
}

}  // namespace
