#include "input/signals.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace corvel::sim {

namespace {

constexpr int N = kMaxDerivative;
// Truncated Taylor series at a point: x(t + s) = sum x[k] s^k.
using Series = std::array<double, N + 1>;

Series variable(double t) {
  Series x{};
  x[0] = t;
  x[1] = 1.0;
  return x;
}

Series affine(const Series& x, double a, double b) {  // a x + b
  Series y{};
  for (int k = 0; k <= N; ++k) y[k] = a * x[k];
  y[0] += b;
  return y;
}

Series multiply(const Series& x, const Series& y) {
  Series z{};
  for (int k = 0; k <= N; ++k) {
    for (int i = 0; i <= k; ++i) z[k] += x[i] * y[k - i];
  }
  return z;
}

// sin and cos of a series: s' = c x', c' = -s x'.
void sin_cos(const Series& x, Series& s, Series& c) {
  s = {};
  c = {};
  s[0] = std::sin(x[0]);
  c[0] = std::cos(x[0]);
  for (int k = 1; k <= N; ++k) {
    double ds = 0.0, dc = 0.0;
    for (int j = 1; j <= k; ++j) {
      ds += j * x[j] * c[k - j];
      dc -= j * x[j] * s[k - j];
    }
    s[k] = ds / k;
    c[k] = dc / k;
  }
}

Series exponential(const Series& x) {  // e' = e x'
  Series e{};
  e[0] = std::exp(x[0]);
  for (int k = 1; k <= N; ++k) {
    double d = 0.0;
    for (int j = 1; j <= k; ++j) d += j * x[j] * e[k - j];
    e[k] = d / k;
  }
  return e;
}

Derivatives to_derivatives(const Series& x) {
  Derivatives d{};
  double factorial = 1.0;
  for (int k = 0; k <= N; ++k) {
    if (k > 0) factorial *= k;
    d[k] = x[k] * factorial;
  }
  return d;
}

class Sine : public Signal {
 public:
  explicit Sine(const SignalForm& s) : form_(s) {}
  Derivatives at(double t) const override {
    Series s, c;
    sin_cos(affine(variable(t), 2 * std::numbers::pi * form_.frequency, form_.phase), s, c);
    return to_derivatives(affine(s, form_.amplitude, 0.0));
  }

 private:
  SignalForm form_;
};

class Polynomial : public Signal {
 public:
  explicit Polynomial(const SignalForm& s) : coefficients_(s.coefficients) {}
  Derivatives at(double t) const override {
    Series sum{}, power{};
    power[0] = 1.0;
    const Series x = variable(t);
    for (double c : coefficients_) {
      for (int k = 0; k <= N; ++k) sum[k] += c * power[k];
      power = multiply(power, x);
    }
    return to_derivatives(sum);
  }

 private:
  std::vector<double> coefficients_;
};

// A linear chirp: the frequency runs from f0 to f1 over the chirp duration.
class Chirp : public Signal {
 public:
  explicit Chirp(const SignalForm& s) : form_(s) {}
  Derivatives at(double t) const override {
    const Series x = variable(t);
    const double rate = (form_.end_frequency - form_.frequency) / form_.chirp_duration;
    Series phase = affine(x, form_.frequency, 0.0);
    const Series half_rate_t2 = affine(multiply(x, x), rate / 2.0, 0.0);
    for (int k = 0; k <= N; ++k) phase[k] = 2 * std::numbers::pi * (phase[k] + half_rate_t2[k]);
    Series s, c;
    sin_cos(phase, s, c);
    return to_derivatives(affine(s, form_.amplitude, 0.0));
  }

 private:
  SignalForm form_;
};

// A e^t sin 5t: growing, with every derivative different.
class ExpSine : public Signal {
 public:
  explicit ExpSine(const SignalForm& s) : amplitude_(s.amplitude) {}
  Derivatives at(double t) const override {
    const Series x = variable(t);
    Series s, c;
    sin_cos(affine(x, 5.0, 0.0), s, c);
    return to_derivatives(affine(multiply(exponential(x), s), amplitude_, 0.0));
  }

 private:
  double amplitude_;
};

}  // namespace

const char* signal_kinds() { return "sine, poly, chirp, expsin"; }

std::unique_ptr<Signal> make_signal(const SignalForm& form) {
  if (form.kind == "sine") return std::make_unique<Sine>(form);
  if (form.kind == "poly") return std::make_unique<Polynomial>(form);
  if (form.kind == "chirp") return std::make_unique<Chirp>(form);
  if (form.kind == "expsin") return std::make_unique<ExpSine>(form);
  throw std::invalid_argument("unknown signal '" + form.kind + "' (choose one of " + signal_kinds() + ")");
}

Noise::Noise(double sigma, std::uint64_t seed) : sigma_(sigma), engine_(seed) {}

double Noise::next() {
  if (sigma_ == 0.0) return 0.0;
  if (has_spare_) {
    has_spare_ = false;
    return sigma_ * spare_;
  }
  // Two uniforms in (0, 1] from 53 random bits each.
  const double u1 = (static_cast<double>(engine_() >> 11) + 1.0) * 0x1p-53;
  const double u2 = (static_cast<double>(engine_() >> 11) + 1.0) * 0x1p-53;
  const double radius = std::sqrt(-2.0 * std::log(u1));
  spare_ = radius * std::sin(2 * std::numbers::pi * u2);
  has_spare_ = true;
  return sigma_ * radius * std::cos(2 * std::numbers::pi * u2);
}

}  // namespace corvel::sim
