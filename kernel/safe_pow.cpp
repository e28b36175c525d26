#include "kernel/safe_pow.h"

#include <cmath>

#include "kernel/non_finite.h"

namespace corvel {

double safe_pow(double base, double exponent) {
  if (is_nan(base) || is_nan(exponent)) return kernel_nan;
  if (is_inf(exponent)) {
    const double magnitude = std::fabs(base);
    if (magnitude == 1.0) return kernel_nan;
    if (magnitude > 1.0) return exponent > 0.0 ? kernel_inf : 0.0;
    return exponent > 0.0 ? 0.0 : kernel_inf;
  }
  const double exponent_magnitude = std::fabs(exponent);
  if (exponent_magnitude == 0.0) return 1.0;
  if (exponent_magnitude == 1.0) return exponent > 0.0 ? base : 1.0 / base;
  if (exponent == 2.0) return base * base;
  if (exponent == 0.5 && base >= 0.0) return std::sqrt(base);
  if (base < 0.0 && exponent > std::floor(exponent)) return kernel_nan;
  return std::pow(base, exponent);
}

}  // namespace corvel
