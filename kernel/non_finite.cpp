#include "kernel/non_finite.h"

#include <bit>
#include <cstdint>

namespace corvel {

namespace {
constexpr double kInf = std::bit_cast<double>(std::uint64_t{0x7FF0000000000000});
constexpr double kMinusInf = std::bit_cast<double>(std::uint64_t{0xFFF0000000000000});
constexpr double kNan = std::bit_cast<double>(std::uint64_t{0xFFF8000000000000});
constexpr float kInfF = std::bit_cast<float>(std::uint32_t{0x7F800000});
constexpr float kMinusInfF = std::bit_cast<float>(std::uint32_t{0xFF800000});
constexpr float kNanF = std::bit_cast<float>(std::uint32_t{0xFFC00000});
}  // namespace

double kernel_inf = kInf;
double kernel_minus_inf = kMinusInf;
double kernel_nan = kNan;
float kernel_inf_f = kInfF;
float kernel_minus_inf_f = kMinusInfF;
float kernel_nan_f = kNanF;

void store_non_finite_values() {
  kernel_nan = kNan;
  kernel_nan_f = kNanF;
  kernel_inf = kInf;
  kernel_inf_f = kInfF;
  kernel_minus_inf = kMinusInf;
  kernel_minus_inf_f = kMinusInfF;
}


}  // namespace corvel
