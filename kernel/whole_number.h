// Conversion of a double to a 32-bit integer that is defined for every double.
#ifndef CORVEL_KERNEL_WHOLE_NUMBER_H
#define CORVEL_KERNEL_WHOLE_NUMBER_H

#include <cstdint>

namespace corvel {

// The whole part of x (conversion toward zero) when it fits a signed 32-bit
// integer; INT32_MIN for NaN, infinities and values out of range, which is
// what x86's conversion instruction gives, so every build answers alike.
constexpr std::int32_t truncate_to_int32(double x) {
  if (x > -2147483649.0 && x < 2147483648.0) return static_cast<std::int32_t>(x);
  return INT32_MIN;
}

}  // namespace corvel

#endif
