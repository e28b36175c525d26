#include "kernel/safe_pow.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>

#include "kernel/differentiator.h"
#include "kernel/non_finite.h"
#include "support/bits.h"

namespace corvel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct PowCase {
  double base;
  double exponent;
  double expected;  // compared as bits, except that any NaN matches a NaN
};

void PrintTo(const PowCase& c, std::ostream* os) { *os << "safe_pow(" << c.base << ", " << c.exponent << ")"; }

class SafePowRules : public ::testing::TestWithParam<PowCase> {};

TEST_P(SafePowRules, GivesTheRuleResult) {
  const PowCase c = GetParam();
  const double got = safe_pow(c.base, c.exponent);
  if (std::isnan(c.expected)) {
    EXPECT_TRUE(std::isnan(got)) << c.base << "^" << c.exponent << " = " << got;
  } else {
    EXPECT_SAME_BITS(c.expected, got);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SafePowRules,
    ::testing::Values(
        // NaN first, even where the C library says 1.
        PowCase{kNaN, 0.0, kNaN}, PowCase{1.0, kNaN, kNaN}, PowCase{kNaN, 1.0, kNaN},
        PowCase{kNaN, kInf, kNaN}, PowCase{kNaN, -kInf, kNaN},
        // Infinite exponents.
        PowCase{1.0, kInf, kNaN}, PowCase{-1.0, -kInf, kNaN}, PowCase{-1.0, kInf, kNaN},
        PowCase{2.0, kInf, kInf}, PowCase{-2.0, kInf, kInf}, PowCase{2.0, -kInf, 0.0},
        PowCase{0.5, kInf, 0.0}, PowCase{0.5, -kInf, kInf}, PowCase{0.0, -kInf, kInf},
        PowCase{kInf, kInf, kInf}, PowCase{-kInf, -kInf, 0.0},
        // Zero exponents of either sign.
        PowCase{kInf, 0.0, 1.0}, PowCase{-kInf, -0.0, 1.0}, PowCase{0.0, 0.0, 1.0}, PowCase{-3.5, -0.0, 1.0},
        // Exponents +-1.
        PowCase{-0.0, 1.0, -0.0}, PowCase{0x1.123456789abcdp-3, 1.0, 0x1.123456789abcdp-3},
        PowCase{0.0, -1.0, kInf}, PowCase{-0.0, -1.0, -kInf}, PowCase{4.0, -1.0, 0.25},
        PowCase{3.0, -1.0, 1.0 / 3.0},
        // Square and square root.
        PowCase{-3.0, 2.0, 9.0}, PowCase{0x1.0000000000001p0, 2.0, 0x1.0000000000001p0 * 0x1.0000000000001p0},
        PowCase{-0.0, 0.5, -0.0}, PowCase{2.0, 0.5, 0x1.6a09e667f3bcdp0}, PowCase{-4.0, 0.5, kNaN},
        PowCase{-kInf, 0.5, kNaN},
        // Negative bases.
        PowCase{-8.0, 3.0, -512.0}, PowCase{-8.0, 1.0 / 3.0, kNaN}, PowCase{-2.0, -2.5, kNaN},
        // Everything else is the C library's pow.
        PowCase{2.0, 10.0, 1024.0}, PowCase{0.0, -2.5, kInf}));

TEST(SafePow, AgreesWithTheLibraryPowAwayFromTheSpecialCases) {
  for (double base : {0.3, 1.7, 123.25, 1e-8}) {
    for (double exponent : {-0.3333333333333333, 0.25, 3.0, -7.5}) {
      EXPECT_SAME_BITS(std::pow(base, exponent), safe_pow(base, exponent));
    }
  }
}

TEST(NonFinite, TestsSeeEveryNaNAndOnlyInfinities) {
  const double positive_nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000001});
  EXPECT_TRUE(is_nan(positive_nan));
  EXPECT_TRUE(is_nan(kernel_nan));
  EXPECT_FALSE(is_nan(kInf));
  EXPECT_FALSE(is_inf(kNaN));
  EXPECT_TRUE(is_inf(kInf));
  EXPECT_TRUE(is_inf(-kInf));
  EXPECT_FALSE(is_inf(0.0));
  EXPECT_FALSE(is_inf(std::numeric_limits<double>::max()));
}

TEST(NonFinite, SpecialValuesHaveTheirBitPatternsBeforeAndAfterInitialisation) {
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(test::bits(kernel_inf), 0x7FF0000000000000u);
    EXPECT_EQ(test::bits(kernel_minus_inf), 0xFFF0000000000000u);
    EXPECT_EQ(test::bits(kernel_nan), 0xFFF8000000000000u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(kernel_inf_f), 0x7F800000u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(kernel_minus_inf_f), 0xFF800000u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(kernel_nan_f), 0xFFC00000u);
    differentiator_initialize();
  }
}

}  // namespace
}  // namespace corvel
