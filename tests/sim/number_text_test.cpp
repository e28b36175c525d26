#include "common/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "support/bits.h"

namespace corvel::sim {
namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// Every text reads as strtod reads it, to the bit, or is refused where
// strtod does not take all of it.
TEST(NumberText, ReadsEveryTextAsStrtodDoes) {
  const char* corpus[] = {
      "0", "-0", "-0.0", "+1", "+0.5", "1e400", "-1e400", "1e-400", "4.9406564584124654e-324",
      "2.2250738585072009e-308", "2.2250738585072014e-308", "1.7976931348623157e308", "1.7976931348623159e308",
      "0.1", "0.30000000000000004", "123456789012345678", "9007199254740993", "0x1p-3", "0x1.8p1", "-0x1p-1074",
      "0X1P+4", "inf", "-inf", "INF", "infinity", "-Infinity", "nan", "-nan", "NAN", "nan(123)", ".5", "5.", "1e5",
      "1E-5", "000012", "2.4703282292062328e-324", "2.4703282292062327e-324", "1e", "1e+", "--1", "1,5", " 1", "1 ",
      "", "x", "0x", "nan(", "1e99999999999999999999", "0.000000000000000000000000000000000000000001"};
  for (const char* text : corpus) {
    char* end = nullptr;
    const double expected = std::strtod(text, &end);
    const bool whole = *text != '\0' && *text != ' ' && *end == '\0';
    double got = 12345.0;
    EXPECT_EQ(read_number(text, &got), whole) << text;
    if (whole) EXPECT_EQ(bits_of(got), bits_of(expected)) << text;
  }
}

// Written shortest, read back to the same bits: random bit patterns (so every
// exponent, subnormals included) and the special values.
TEST(NumberText, WritesTheShortestTextThatReadsBack) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t b = random();
    double x;
    std::memcpy(&x, &b, sizeof x);
    if (std::isnan(x)) continue;
    const std::string text = number_text(x);
    double back = 0.0;
    ASSERT_TRUE(read_number(text, &back)) << text;
    ASSERT_EQ(bits_of(back), b) << text;
    ASSERT_LE(text.size(), 24u) << text;
  }
  EXPECT_EQ(number_text(0.1), "0.1");
  EXPECT_EQ(number_text(-0.0), "-0");
  EXPECT_EQ(number_text(1e21), "1e+21");
  EXPECT_EQ(number_text(INFINITY), "inf");
  EXPECT_EQ(number_text(-INFINITY), "-inf");
  EXPECT_EQ(number_text(std::nan("")), "nan");
  EXPECT_EQ(number_text(4.9406564584124654e-324), "5e-324");
}

}  // namespace
}  // namespace corvel::sim
