// Built-in test signals with known derivatives, and seeded measurement noise.
#ifndef CORVEL_SIM_SIGNALS_H
#define CORVEL_SIM_SIGNALS_H

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/derivatives.h"

namespace corvel::sim {

struct SignalForm {
  std::string kind = "sine";      // sine, poly, chirp, expsin
  double amplitude = 1.0;
  double frequency = 1.0;         // Hz (sine; chirp start)
  double phase = 0.0;             // rad (sine)
  double end_frequency = 5.0;     // Hz (chirp, reached at the end of the record)
  double chirp_duration = 10.0;   // s
  std::vector<double> coefficients = {1.0, 1.0, -0.5, 0.25};  // poly: c0 + c1 t + c2 t^2 + ...
};

// A signal of time and its derivatives, exact to rounding (Taylor arithmetic).
class Signal {
 public:
  virtual ~Signal() = default;
  virtual Derivatives at(double t) const = 0;
};

// Throws std::invalid_argument naming the kind when it is not one of the four.
std::unique_ptr<Signal> make_signal(const SignalForm& form);
const char* signal_kinds();

// Gaussian samples from a seeded 64-bit Mersenne twister through Box-Muller,
// so a seed gives the same sequence on every build.
class Noise {
 public:
  Noise(double sigma, std::uint64_t seed);
  double next();

 private:
  double sigma_;
  std::mt19937_64 engine_;  // specified to the bit by the C++ standard
  bool has_spare_ = false;
  double spare_ = 0.0;
};

}  // namespace corvel::sim

#endif
