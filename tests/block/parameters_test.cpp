#include "block/parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <string>

#include "block/messages.h"
#include "host/array_api.h"
#include "host/block_instance.h"

namespace corvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Maker = std::function<mxArray*()>;

Maker scalar(double v) {
  return [v] { return mxCreateDoubleScalar(v); };
}
Maker int8_scalar(std::int8_t v) {
  return [v] {
    mxArray* a = mxCreateNumericMatrix(1, 1, mxINT8_CLASS, mxREAL);
    *static_cast<std::int8_t*>(mxGetData(a)) = v;
    return a;
  };
}
Maker logical(bool v) {
  return [v] { return mxCreateLogicalScalar(v); };
}
Maker complex_scalar(double v) {
  return [v] {
    mxArray* a = mxCreateDoubleMatrix(1, 1, mxCOMPLEX);
    *mxGetPr(a) = v;
    return a;
  };
}
Maker sparse_scalar(double v) {
  return [v] {
    mxArray* a = mxCreateSparse(1, 1, 1, mxREAL);
    *mxGetPr(a) = v;
    mxSetSparseCount(a, 1);
    return a;
  };
}
Maker empty_double() {
  return [] { return mxCreateDoubleMatrix(0, 0, mxREAL); };
}
Maker text(const char* s) {
  return [s] { return mxCreateString(s); };
}
Maker row(double a, double b) {
  return [a, b] {
    mxArray* m = mxCreateDoubleMatrix(1, 2, mxREAL);
    mxGetPr(m)[0] = a;
    mxGetPr(m)[1] = b;
    return m;
  };
}

std::string class_message(int k) {
  char buffer[1024];
  // The text as the block's users read it, two spaces before the number included.
  std::snprintf(buffer, sizeof buffer,
                "The data type and or complexity of parameter  %d does not match the information specified in the "
                "S-function Builder dialog. For non-double parameters you will need to cast them using int8, int16, "
                "int32, uint8, uint16, uint32 or boolean.",
                k);
  return buffer;
}

struct CheckCase {
  const char* name;
  Maker p1, p2, p3;
  std::string expected;  // empty: the check passes
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CheckParameters : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckParameters, GivesTheFirstFailingTestsMessage) {
  const CheckCase& c = GetParam();
  host::BlockInstance block;
  block.set_params({c.p1(), c.p2(), c.p3()});
  mdlCheckParameters(block.S());
  if (c.expected.empty()) {
    EXPECT_EQ(block.error(), nullptr) << block.error();
  } else {
    ASSERT_NE(block.error(), nullptr);
    EXPECT_EQ(std::string(block.error()), c.expected);
  }
}

const std::string kTooLarge = "Order of the differantiator must be an integer greater than zero and less or equal than 10.";
const std::string kNotPositive = "Order of the differantiator must be a positive integer.";
const std::string kStep = "The step size either has to be -1 to specify an inherited setting or a positive real value.";

INSTANTIATE_TEST_SUITE_P(
    Table, CheckParameters,
    ::testing::Values(
        CheckCase{"valid", scalar(1), scalar(0.1), scalar(3), ""},
        CheckCase{"order10", scalar(1), scalar(0.1), scalar(10), ""},
        CheckCase{"order1_inherited", scalar(1), scalar(-1), scalar(1), ""},
        CheckCase{"infinite_step", scalar(1), scalar(kInf), scalar(2), ""},
        CheckCase{"zero_gain", scalar(0), scalar(0.1), scalar(2), ""},
        CheckCase{"negative_gain", scalar(-5), scalar(0.1), scalar(2), ""},
        CheckCase{"nan_gain", scalar(kNaN), scalar(0.1), scalar(2), ""},
        CheckCase{"step_row", scalar(1), row(0.5, 2), scalar(2), ""},
        CheckCase{"order10_5", scalar(1), scalar(0.1), scalar(10.5), kTooLarge},
        CheckCase{"order_inf", scalar(1), scalar(0.1), scalar(kInf), kTooLarge},
        CheckCase{"order_too_large_before_bad_step", scalar(1), scalar(0), scalar(11), kTooLarge},
        CheckCase{"order0", scalar(1), scalar(0.1), scalar(0), kNotPositive},
        CheckCase{"order_minus3", scalar(1), scalar(0.1), scalar(-3), kNotPositive},
        CheckCase{"order2_5", scalar(1), scalar(0.1), scalar(2.5), kNotPositive},
        CheckCase{"order_nan", scalar(1), scalar(0.1), scalar(kNaN), kNotPositive},
        CheckCase{"order_tiny", scalar(1), scalar(0.1), scalar(1e-300), kNotPositive},
        CheckCase{"order_empty_reads_0", scalar(1), scalar(0.1), empty_double(), kNotPositive},
        CheckCase{"step0", scalar(1), scalar(0), scalar(2), kStep},
        CheckCase{"step_minus_half", scalar(1), scalar(-0.5), scalar(2), kStep},
        CheckCase{"step_minus2", scalar(1), scalar(-2), scalar(2), kStep},
        CheckCase{"step_nan", scalar(1), scalar(kNaN), scalar(2), kStep},
        CheckCase{"values_before_classes", int8_scalar(1), scalar(0.1), scalar(0), kNotPositive},
        CheckCase{"p1_int8", int8_scalar(1), scalar(0.1), scalar(2), class_message(1)},
        CheckCase{"p1_and_p3_bad", int8_scalar(1), scalar(0.1), int8_scalar(2), class_message(1)},
        CheckCase{"p2_logical", scalar(1), logical(true), scalar(2), class_message(2)},
        CheckCase{"p3_complex", scalar(1), scalar(0.1), complex_scalar(2), class_message(3)},
        CheckCase{"p3_sparse", scalar(1), scalar(0.1), sparse_scalar(2), class_message(3)},
        CheckCase{"p1_empty", empty_double(), scalar(0.1), scalar(2), class_message(1)},
        CheckCase{"p1_char", text("a"), scalar(0.1), scalar(2), class_message(1)},
        CheckCase{"p2_int8_value_read", scalar(1), int8_scalar(-1), scalar(2), class_message(2)}));

TEST(CheckParameters, ClassMessageHasTwoBlanksBeforeTheNumberAndOutlivesTheCall) {
  host::BlockInstance block;
  block.set_params({scalar(1)(), int8_scalar(3)(), scalar(2)()});
  mdlCheckParameters(block.S());
  const char* status = block.error();
  ASSERT_NE(status, nullptr);
  EXPECT_NE(std::strstr(status, "parameter  2 does not match"), nullptr) << status;
  EXPECT_NE(std::strstr(status, "uint32 or boolean."), nullptr);
}

TEST(CheckParameters, FewerThanThreeParametersAreLeftToTheHost) {
  host::BlockInstance block;
  block.set_params({scalar(1)(), scalar(0.1)()});
  mdlCheckParameters(block.S());
  EXPECT_EQ(block.error(), nullptr);
}

TEST(ParameterValue, ReadsElementZeroAndIsDefinedForAnyArray) {
  host::BlockInstance block;
  block.set_params({row(7, 8)(), empty_double()(), int8_scalar(-4)()});
  EXPECT_EQ(parameter_value(block.S(), P1), 7.0);
  EXPECT_TRUE(std::isnan(parameter_value(block.S(), P2)));
  EXPECT_EQ(parameter_value(block.S(), P3), -4.0);
  for (double n : {kNaN, kInf, -kInf, 1e300, -1e300, 3.99}) {
    block.set_param(P3, mxCreateDoubleScalar(n));
    const int order = order_of(block.S());
    EXPECT_EQ(order, n == 3.99 ? 3 : INT32_MIN) << n;
  }
}

}  // namespace
}  // namespace corvel
