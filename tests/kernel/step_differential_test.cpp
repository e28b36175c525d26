// The step as it is written for speed (the upper triangle of the product,
// each power of F once) against the reference step written plainly from the
// formulas (tests/reference): the whole 11 x 11 product and every power
// computed where it is used. Same bits everywhere, non-finite values included.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "kernel/correction.h"
#include "kernel/differentiator.h"
#include "kernel/matrix_exponential.h"
#include "reference/whole_step.h"
#include "support/bits.h"

namespace corvel {
namespace {

// The same bits, or both NaN: when both operands of an operation are NaN,
// which one's sign and payload the result carries is left open by IEEE 754
// and follows the operand order the compiler picks, which two differently
// written functions need not share.
bool same(double x, double y) { return test::bits(x) == test::bits(y) || (std::isnan(x) && std::isnan(y)); }

// Both steps from the same state; every output compared.
void expect_same_step(double u, const double* z, double L, double h, double n) {
  double e1, e2, a[kStateCount], b[kStateCount];
  differentiator_step(u, z, L, h, n, &e1, a);
  reference::Matrix phi;
  reference::transition_matrix(h, phi);
  reference::step(phi, u, z, L, h, n, &e2, b);
  ASSERT_TRUE(same(e1, e2));
  for (int i = 0; i < kStateCount; ++i) {
    ASSERT_TRUE(same(a[i], b[i])) << "state " << i << ": " << a[i] << " vs " << b[i] << " (u " << u
                                                  << ", L " << L << ", h " << h << ", n " << n << ")";
  }
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Step sizes in each Pade band (degrees 3, 5, 7, 9, 13), on the scaling path
// (one and many squarings), negative, and not finite.
const double kSteps[] = {1e-4, 0.01, 0.1, 0.2, 0.5, 0.9, 1.5, 2.0, 4.0, 5.0, 20.0, 1000.0, 1e40, -0.3, kNaN, kInf};
const double kGains[] = {0.0, -7.5, 20.0, 1e6};
const double kOrders[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 2.5, 0, 11, kNaN};

// Long runs from the block's start (z0 = u, the rest 0) over a noisy sine:
// every state non-zero soon, so a fault in any row of the product shows.
TEST(StepDifferential, LongRunsAtEveryOrderGainAndStep) {
  for (const double h : kSteps) {
    differentiator_initialize();
    for (const double n : kOrders) {
      for (const double L : kGains) {
        std::mt19937_64 random(42);
        std::normal_distribution<double> noise(0.0, 0.01);
        double z[kStateCount] = {std::sin(0.0)}, z_next[kStateCount], e;
        for (int k = 0; k < 300; ++k) {
          const double t = k * (std::isfinite(h) ? h : 0.01);
          const double u = std::sin(3.0 * t) + 0.5 * t + noise(random);
          ASSERT_NO_FATAL_FAILURE(expect_same_step(u, z, L, h, n));
          differentiator_step(u, z, L, h, n, &e, z_next);
          for (int i = 0; i < kStateCount; ++i) z[i] = z_next[i];
        }
      }
    }
  }
}

// Single steps from states and inputs that hold the awkward values, each in
// turn at every position of z0..z10 and as the input.
TEST(StepDifferential, StatesAndInputsWithNonFiniteZeroSubnormalAndHugeValues) {
  const double awkward[] = {kNaN, kInf, -kInf, -0.0, 0.0, 5e-324, -2.2250738585072009e-308, 1e300, -1e308, 3.5};
  for (const double h : {0.01, 0.5, 20.0}) {
    differentiator_initialize();
    for (const double n : kOrders) {
      for (const double value : awkward) {
        for (int position = 0; position <= kStateCount; ++position) {
          double z[kStateCount];
          for (int i = 0; i < kStateCount; ++i) z[i] = 0.25 * (i + 1) * (i % 2 ? -1 : 1);
          double u = 1.0;
          if (position < kStateCount) {
            z[position] = value;
          } else {
            u = value;
          }
          ASSERT_NO_FATAL_FAILURE(expect_same_step(u, z, 20.0, h, n));
        }
      }
    }
  }
}

// The triangle is taken only where it gives the same bits: a matrix built from
// a finite step is finite with an exactly zero lower triangle; from a NaN, an
// infinite or an enormous one (1e40: NaN entries) it is not, and the whole
// product runs.
TEST(StepDifferential, TriangleOnlyForAFiniteUpperTriangularMatrix) {
  for (const double h : kSteps) {
    differentiator_initialize();
    build_transition_matrix(h);
    bool triangular = true;
    for (int c = 0; c < kStateCount; ++c) {
      for (int r = 0; r < kStateCount; ++r) {
        const double entry = transition_matrix[at(r, c)];
        if (!std::isfinite(entry) || (r > c && entry != 0.0)) triangular = false;
      }
    }
    EXPECT_EQ(transition_matrix_triangular, triangular) << h;
    // Every step a simulation uses takes the short product.
    if (std::isfinite(h) && std::fabs(h) <= 1000.0) EXPECT_TRUE(triangular) << h;
  }
}

// Why leaving zero terms out is exact: from +0.0, adding zeros of either sign
// gives +0.0, never -0.0, and adding one to any other sum changes no bit.
TEST(StepDifferential, ZeroTermsLeaveASumFromPlusZeroUnchanged) {
  for (const double term : {0.0, -0.0}) {
    double sum = 0.0;
    sum = sum + term;
    EXPECT_SAME_BITS(0.0, sum);
    sum = sum + (-0.0) * 5.0;
    EXPECT_SAME_BITS(0.0, sum);
    for (const double x : {1.5, -1.5, 5e-324, -5e-324, 1e308, kInf, -kInf}) EXPECT_SAME_BITS(x, x + term);
  }
  double sum = 0.0;
  sum = sum + 2.0;
  sum = sum + -2.0;  // exact cancellation gives +0.0
  EXPECT_SAME_BITS(0.0, sum);
}

}  // namespace
}  // namespace corvel
