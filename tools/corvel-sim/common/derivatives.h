// A signal's value and its derivatives at one time: what the built-in signals
// know exactly and what the error table and the plots hold the estimates to.
#ifndef CORVEL_SIM_DERIVATIVES_H
#define CORVEL_SIM_DERIVATIVES_H

#include <array>

namespace corvel::sim {

constexpr int kMaxDerivative = 10;
using Derivatives = std::array<double, kMaxDerivative + 1>;  // value, then d/dt .. d^10/dt^10

}  // namespace corvel::sim

#endif
