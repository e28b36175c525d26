// Comparing doubles as bit patterns: 0.0 and -0.0 differ, NaN payloads count.
#ifndef CORVEL_TESTS_BITS_H
#define CORVEL_TESTS_BITS_H

#include <bit>
#include <cstdint>

namespace corvel::test {

inline std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

}  // namespace corvel::test

#define EXPECT_SAME_BITS(expected, actual) \
  EXPECT_EQ(::corvel::test::bits(expected), ::corvel::test::bits(actual)) << (expected) << " vs " << (actual)

#endif
