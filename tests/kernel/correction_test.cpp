#include "kernel/correction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "support/bits.h"

namespace corvel {
namespace {

// ---- Exact arithmetic modulo the prime 2^31 - 1 ----------------------------
// The gains' defining property is a polynomial identity in F and 1/h with
// rational coefficients. Checked at points of the field Z_p, a wrong
// coefficient leaves a nonzero polynomial of degree below 30, which vanishes at
// a given point with probability under 30 / p, about 1.4e-8.
constexpr std::uint64_t kP = 2147483647u;

std::uint64_t md(std::int64_t x) {
  const std::int64_t r = x % static_cast<std::int64_t>(kP);
  return static_cast<std::uint64_t>(r < 0 ? r + static_cast<std::int64_t>(kP) : r);
}
std::uint64_t mul(std::uint64_t a, std::uint64_t b) { return a * b % kP; }
std::uint64_t add(std::uint64_t a, std::uint64_t b) { return (a + b) % kP; }
std::uint64_t sub(std::uint64_t a, std::uint64_t b) { return (a + kP - b) % kP; }
std::uint64_t power(std::uint64_t a, std::uint64_t e) {
  std::uint64_t r = 1;
  for (; e != 0; e >>= 1, a = mul(a, a)) {
    if (e & 1u) r = mul(r, a);
  }
  return r;
}
std::uint64_t inverse(std::uint64_t a) { return power(a, kP - 2); }

using Row = std::function<CorrectionRow(int n, int j)>;

// True when Phi_n - K e0^T has all n + 1 eigenvalues at F, that is when
// (Phi_n - K e0^T - F I)^(n+1) = 0, with the gains
// K0 = (n+1)(1-F), Kj = (1-F)^(j+1) P(n,j)(F) / (|D(n,j)| h^j).
bool eigenvalues_all_at_F(int n, const Row& row, std::uint64_t F, std::uint64_t h) {
  const int size = n + 1;
  std::vector<std::uint64_t> M(size * size, 0), R(size * size, 0), T(size * size, 0);
  auto m = [size](std::vector<std::uint64_t>& X, int r, int c) -> std::uint64_t& { return X[r * size + c]; };
  std::uint64_t factorial = 1;
  for (int k = 0; k < size; ++k) {
    if (k > 0) factorial = mul(factorial, static_cast<std::uint64_t>(k));
    const std::uint64_t entry = mul(power(h, k), inverse(factorial));
    for (int i = 0; i + k < size; ++i) m(M, i, i + k) = entry;
  }
  const std::uint64_t one_minus_F = sub(1, F);
  m(M, 0, 0) = sub(m(M, 0, 0), mul(static_cast<std::uint64_t>(size), one_minus_F));
  for (int j = 1; j <= n; ++j) {
    const CorrectionRow r = row(n, j);
    std::uint64_t P = 0;
    for (int i = 0; i <= r.degree; ++i) P = add(mul(P, F), md(static_cast<std::int64_t>(r.coefficients[i])));
    const std::uint64_t divisor = md(static_cast<std::int64_t>(std::fabs(r.divisor)));
    const std::uint64_t K = mul(mul(power(one_minus_F, j + 1), P), inverse(mul(divisor, power(h, j))));
    m(M, j, 0) = sub(m(M, j, 0), K);
  }
  for (int i = 0; i < size; ++i) m(M, i, i) = sub(m(M, i, i), F);
  for (int i = 0; i < size; ++i) m(R, i, i) = 1;
  for (int p = 0; p < size; ++p) {
    for (int r = 0; r < size; ++r) {
      for (int c = 0; c < size; ++c) {
        std::uint64_t sum = 0;
        for (int k = 0; k < size; ++k) sum = add(sum, mul(m(R, r, k), m(M, k, c)));
        m(T, r, c) = sum;
      }
    }
    R.swap(T);
  }
  for (std::uint64_t x : R) {
    if (x != 0) return false;
  }
  return true;
}

// Several points, so that no one identity can vanish by accident at all of them.
bool property_holds(int n, const Row& row) {
  const std::uint64_t points[][2] = {{3, 5}, {123456789, 987654}, {md(-7), 1000003}, {2, inverse(3)}};
  for (const auto& point : points) {
    if (!eigenvalues_all_at_F(n, row, point[0], point[1])) return false;
  }
  return true;
}

const Row kTable = [](int n, int j) { return *correction_row(n, j); };

TEST(CorrectionTable, EveryOrderPlacesAllEigenvaluesAtF) {
  for (int n = kMinOrder; n <= kMaxOrder; ++n) EXPECT_TRUE(property_holds(n, kTable)) << "order " << n;
}

TEST(CorrectionTable, AnyMistypedCoefficientOrDivisorBreaksTheProperty) {
  // The check above must be able to fail: every single-digit slip is caught.
  for (int n = kMinOrder; n <= kMaxOrder; ++n) {
    for (int j = 1; j <= n; ++j) {
      const CorrectionRow original = *correction_row(n, j);
      for (int i = 0; i <= original.degree + 1; ++i) {
        for (double delta : {1.0, -1.0, 10.0}) {
          const Row mistyped = [&](int nn, int jj) {
            CorrectionRow r = *correction_row(nn, jj);
            if (jj != j) return r;
            if (i <= r.degree) r.coefficients[i] += delta;
            else r.divisor += r.divisor > 0 ? delta : -delta;
            return r;
          };
          if (i > original.degree && std::fabs(original.divisor) + delta <= 0) continue;
          EXPECT_FALSE(property_holds(n, mistyped)) << "n " << n << " j " << j << " index " << i;
        }
      }
    }
  }
}

TEST(CorrectionTable, PolynomialsAtOneAreBinomialsTimesDivisors) {
  for (int n = kMinOrder; n <= kMaxOrder; ++n) {
    for (int j = 1; j <= n; ++j) {
      const CorrectionRow& r = *correction_row(n, j);
      double at_one = 0;
      for (int i = 0; i <= r.degree; ++i) at_one += r.coefficients[i];
      double binomial = 1;
      for (int i = 0; i < j + 1; ++i) binomial = binomial * (n + 1 - i) / (i + 1);
      EXPECT_EQ(at_one, binomial * std::fabs(r.divisor)) << "n " << n << " j " << j;
      EXPECT_EQ(r.divisor > 0, j % 2 == 1) << "sign of D(" << n << ", " << j << ")";
      EXPECT_EQ(r.degree, n - j);
    }
  }
  EXPECT_EQ(correction_row(0, 1), nullptr);
  EXPECT_EQ(correction_row(3, 4), nullptr);
  EXPECT_EQ(correction_row(11, 1), nullptr);
}

// ---- The evaluated vector ---------------------------------------------------

TEST(CorrectionVector, OrderTwoAtAHalfIsExact) {
  double k[kStateCount];
  correction_vector(2.0, 1.0, 0.5, 0.125, k);
  const double expected[kStateCount] = {1.5, 5.5, 8.0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < kStateCount; ++i) EXPECT_SAME_BITS(expected[i], k[i]) << "entry " << i;
}

TEST(CorrectionVector, OrderFourAtAHalfIsExact) {
  double k[kStateCount];
  correction_vector(4.0, -1.0, 0.5, 0.125, k);
  const double expected[kStateCount] = {2.5, 15.770833333333334, 61.833333333333336, 136, 128, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < kStateCount; ++i) EXPECT_SAME_BITS(expected[i], k[i]) << "entry " << i;
}

TEST(CorrectionVector, MatchesTheClosedFormGainsForEveryOrder) {
  // k_j = a (1-F)^(j+1) P(F) / (|D| h^j), evaluated independently in long double.
  for (int n = kMinOrder; n <= kMaxOrder; ++n) {
    for (double F : {0.0, 0.3, 0.9}) {
      const double a = 0.7, h = 0.05;
      double k[kStateCount];
      correction_vector(n + 0.75, a, F, h, k);  // the whole part selects the order
      EXPECT_NEAR(k[0], (n + 1) * (1 - F) * a, 1e-15);
      for (int j = 1; j <= n; ++j) {
        const CorrectionRow& r = *correction_row(n, j);
        long double P = 0;
        for (int i = 0; i <= r.degree; ++i) P = P * F + r.coefficients[i];
        const long double expected =
            a * std::pow(1.0L - F, j + 1) * P / (std::fabs(r.divisor) * std::pow(static_cast<long double>(h), j));
        EXPECT_NEAR(k[j] / static_cast<double>(expected), 1.0, 1e-12) << "n " << n << " j " << j << " F " << F;
      }
      for (int j = n + 1; j < kStateCount; ++j) EXPECT_SAME_BITS(0.0, k[j]);
    }
  }
}

TEST(CorrectionVector, OrderSevenFormsSWithTheProductBeforeTheDivision) {
  // Find inputs where the two forms of s differ in the last bit, then check
  // that order 7 takes its own form and order 6 the other.
  bool found = false;
  for (double a = 0.1; a < 3 && !found; a += 0.0137) {
    for (double F : {0.1, 0.37, 0.71, 0.93}) {
      const double h = 0.003;
      const double s7 = (std::sqrt(a) * (F - 1.0)) / h;
      const double s = std::sqrt(a) * ((F - 1.0) / h);
      if (s7 * s7 == s * s) continue;
      found = true;
      double k7[kStateCount], k6[kStateCount];
      correction_vector(7.0, a, F, h, k7);
      correction_vector(6.0, a, F, h, k6);
      const CorrectionRow& r7 = *correction_row(7, 1);
      const CorrectionRow& r6 = *correction_row(6, 1);
      auto P = [F](const CorrectionRow& r) {
        double sum = std::pow(F, r.degree) * r.coefficients[0];
        for (int i = 1; i < r.degree; ++i) {
          const int m = r.degree - i;
          sum = sum + (m == 1 ? F : m == 2 ? F * F : std::pow(F, m)) * r.coefficients[i];
        }
        return sum + r.coefficients[r.degree];
      };
      EXPECT_SAME_BITS(((s7 * s7 * P(r7)) * h) / r7.divisor, k7[1]);
      EXPECT_SAME_BITS(((s * s * P(r6)) * h) / r6.divisor, k6[1]);
      break;
    }
  }
  EXPECT_TRUE(found);
}

TEST(CorrectionVector, EdgeValuesOfTheEigenvalue) {
  for (int n = kMinOrder; n <= kMaxOrder; ++n) {
    double k[kStateCount];
    correction_vector(n, 0.0, 0.0, 0.1, k);  // no error: every entry is a zero
    for (double x : k) EXPECT_EQ(x, 0.0);
    correction_vector(n, 2.5, 1.0, 0.1, k);  // zero gain: F = 1
    for (double x : k) EXPECT_EQ(x, 0.0);
    correction_vector(n, 2.0, 0.0, 0.25, k);  // F = 0: k0 = N a
    EXPECT_EQ(k[0], (n + 1) * 2.0);
  }
  double k[kStateCount];
  correction_vector(1.0, 3.0, 0.0, 0.5, k);
  EXPECT_DOUBLE_EQ(k[1], 3.0 / 0.5);
}

TEST(CorrectionVector, NonFiniteInputsAndOrdersOutsideTheRange) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  double k[kStateCount];
  for (double n : {0.0, 0.99, 11.0, 12.0, -3.0, nan, inf, -inf, 1e300, -1e300}) {
    correction_vector(n, 1.0, 0.5, 0.1, k);
    for (double x : k) EXPECT_SAME_BITS(0.0, x) << "order " << n;
  }
  correction_vector(3.0, nan, 0.5, 0.1, k);
  for (int j = 0; j <= 3; ++j) EXPECT_TRUE(std::isnan(k[j]));
  for (int j = 4; j < kStateCount; ++j) EXPECT_SAME_BITS(0.0, k[j]);
  correction_vector(3.0, 1.0, 0.5, 0.0, k);  // h = 0: k0 finite, the rest NaN
  EXPECT_EQ(k[0], 2.0);
  for (int j = 1; j <= 3; ++j) EXPECT_TRUE(std::isnan(k[j])) << j;
}

}  // namespace
}  // namespace corvel
