#include "common/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
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

// The log's text is std::to_chars's text, byte for byte, however it is made:
// random bit patterns, decimals at every scale, a log's own kind of numbers
// (times on a millisecond grid, integers), powers of ten and their
// neighbours, and the lengths where fixed and exponent forms tie.
TEST(NumberText, WritesWhatStdToCharsWrites) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  long checked = 0;
  const auto same = [&](double x) {
    char expected[64];
    const char* end = std::to_chars(expected, expected + sizeof expected, x).ptr;
    ++checked;
    return number_text(x) == std::string(static_cast<const char*>(expected), end);
  };
  for (int i = 0; i < 300000; ++i) {
    const std::uint64_t b = random();
    double x;
    std::memcpy(&x, &b, sizeof x);
    ASSERT_TRUE(same(x)) << std::hexfloat << x;
    const double scale = std::pow(10.0, static_cast<int>(random() % 64) - 32);
    ASSERT_TRUE(same(unit(random) * scale)) << std::hexfloat << unit(random) * scale;
    ASSERT_TRUE(same(std::round(unit(random) * 1e6) * scale));
  }
  for (long k = 0; k < 200000; ++k) {
    ASSERT_TRUE(same(static_cast<double>(k) * 0.001)) << k;
    ASSERT_TRUE(same(-static_cast<double>(k) * 1e-7)) << k;
    ASSERT_TRUE(same(static_cast<double>(k * 7919))) << k;
  }
  for (int e = -325; e <= 308; ++e) {
    const double p = std::pow(10.0, e);
    for (const double x : {p, 5 * p, 1.5 * p, std::nextafter(p, 0.0), std::nextafter(p, INFINITY), -p}) {
      ASSERT_TRUE(same(x)) << std::hexfloat << x;
    }
  }
  EXPECT_GT(checked, 1000000);
}

}  // namespace
}  // namespace corvel::sim
