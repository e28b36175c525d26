#include "kernel/differentiator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kernel/correction.h"
#include "kernel/matrix_exponential.h"
#include "support/bits.h"

namespace corvel {
namespace {

struct Step {
  double e;
  double z_next[kStateCount];
};

Step step(double u, const double (&z)[kStateCount], double L, double h, double n) {
  Step s{};
  differentiator_step(u, z, L, h, n, &s.e, s.z_next);
  return s;
}

class DifferentiatorStep : public ::testing::Test {
 protected:
  void SetUp() override { differentiator_initialize(); }
};

TEST_F(DifferentiatorStep, OrderOneFromRest) {
  const Step s = step(1.0, {}, 1.0, 0.1, 1.0);
  const double F = std::exp(-0.1);
  EXPECT_SAME_BITS(1.0, s.e);
  EXPECT_NEAR(F, 0.904837418036, 1e-12);
  EXPECT_NEAR(s.z_next[0], 0.190325163928, 1e-12);
  EXPECT_NEAR(s.z_next[1], 0.0905591700606, 1e-12);
  for (int i = 2; i < kStateCount; ++i) EXPECT_SAME_BITS(0.0, s.z_next[i]);
}

TEST_F(DifferentiatorStep, OrderTwoIgnoresTheStatesAboveItsOrder) {
  const Step s = step(3.0, {1, 0.5, 0.25, 9, 9, 9, 9, 9, 9, 9, 9}, 2.0, 0.5, 2.0);
  EXPECT_SAME_BITS(2.0, s.e);
  EXPECT_NEAR(s.z_next[0], 4.568239393, 1e-9);
  EXPECT_NEAR(s.z_next[1], 3.897603303, 1e-9);
  EXPECT_NEAR(s.z_next[2], 1.565319152, 1e-9);
  for (int i = 3; i < kStateCount; ++i) EXPECT_SAME_BITS(0.0, s.z_next[i]);
}

// An order below 1 gives no correction; the padded state still holds the
// whole part of n + 1 states: z0 alone for n = 0 and n = 0.5, none below.
TEST_F(DifferentiatorStep, OrdersBelowOneKeepTheStatesTheyCopy) {
  const double z[kStateCount] = {1.5, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  for (const double n : {0.0, 0.5}) {
    const Step s = step(4.0, z, 20.0, 0.1, n);
    EXPECT_SAME_BITS(2.5, s.e);
    EXPECT_SAME_BITS(1.5, s.z_next[0]);
    for (int i = 1; i < kStateCount; ++i) EXPECT_SAME_BITS(0.0, s.z_next[i]);
  }
  const Step none = step(4.0, z, 20.0, 0.1, -0.5);
  for (int i = 0; i < kStateCount; ++i) EXPECT_SAME_BITS(0.0, none.z_next[i]);
}

TEST_F(DifferentiatorStep, NoErrorIsThePurePrediction) {
  const Step still = step(2.5, {2.5}, 3.0, 0.1, 4.0);
  EXPECT_SAME_BITS(2.5, still.z_next[0]);
  for (int i = 1; i < kStateCount; ++i) EXPECT_EQ(still.z_next[i], 0.0);

  const Step ramp = step(0.0, {0, 1}, 3.0, 0.1, 1.0);
  EXPECT_SAME_BITS(transition_matrix[at(0, 1)], ramp.z_next[0]);
  EXPECT_NEAR(ramp.z_next[0], 0.1, 1e-16);
  EXPECT_SAME_BITS(1.0, ramp.z_next[1]);
}

TEST_F(DifferentiatorStep, ZeroGainIsThePurePredictionForAnyError) {
  for (double u : {-4.0, 0.001, 17.0}) {
    differentiator_initialize();
    const Step s = step(u, {1.0, 2.0, 3.0}, 0.0, 0.25, 2.0);
    EXPECT_SAME_BITS(u - 1.0, s.e);
    EXPECT_NEAR(s.z_next[0], 1.0 + 2.0 * 0.25 + 3.0 * 0.25 * 0.25 / 2, 1e-15);
    EXPECT_NEAR(s.z_next[1], 2.0 + 3.0 * 0.25, 1e-15);
    EXPECT_SAME_BITS(3.0, s.z_next[2]);
  }
}

TEST_F(DifferentiatorStep, UnderflowingEigenvalueStaysFinite) {
  for (int n = kMinOrder; n <= kMaxOrder; ++n) {
    const Step s = step(1.0, {}, 1e6, 1.0, n);
    EXPECT_SAME_BITS(n + 1.0, s.z_next[0]) << n;  // F = 0: k0 = (n+1) a
    for (double x : s.z_next) EXPECT_TRUE(std::isfinite(x));
  }
}

TEST_F(DifferentiatorStep, EachStepPredictsWithTheMatrixOfItsOwnStepSize) {
  // No error: the pure prediction, whose z0 is Phi(0, 1) z1 with z1 = 1.
  step(0.5, {}, 1.0, 0.1, 3.0);
  EXPECT_NEAR(step(0.0, {0, 1}, 1.0, 0.2, 3.0).z_next[0], 0.2, 1e-16);
  EXPECT_NEAR(step(0.0, {0, 1}, 1.0, 0.1, 3.0).z_next[0], 0.1, 1e-16);
  differentiator_initialize();
  EXPECT_NEAR(step(0.0, {0, 1}, 1.0, 0.2, 3.0).z_next[0], 0.2, 1e-16);
}

TEST_F(DifferentiatorStep, NonFiniteInputsPropagate) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Step from_nan = step(nan, {}, 1.0, 0.1, 3.0);
  EXPECT_TRUE(std::isnan(from_nan.e));
  for (double x : from_nan.z_next) EXPECT_TRUE(std::isnan(x));

  const Step from_inf = step(inf, {}, 1.0, 0.1, 3.0);
  for (int i = 0; i <= 3; ++i) EXPECT_TRUE(std::isnan(from_inf.z_next[i])) << i;
  for (int i = 4; i < kStateCount; ++i) EXPECT_SAME_BITS(0.0, from_inf.z_next[i]);

  differentiator_initialize();
  const Step zero_h = step(1.0, {0.5, 1.0}, 1.0, 0.0, 2.0);
  EXPECT_SAME_BITS(0.5, zero_h.z_next[0]);  // plain prediction: Phi is the identity
  EXPECT_TRUE(std::isnan(zero_h.z_next[1]));
  EXPECT_TRUE(std::isnan(zero_h.z_next[2]));
  EXPECT_SAME_BITS(0.0, zero_h.z_next[3]);
}

TEST_F(DifferentiatorStep, OrdersOutsideTheRangeNeverReadPastTheStates) {
  // The states live in an exactly sized heap block, so a read past z10 shows
  // in the sanitizer build.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double n : {0.0, -1.0, 0.5, 11.0, 25.0, 1e300, -1e300, nan, inf, -inf}) {
    double* z = new double[kStateCount];
    for (int i = 0; i < kStateCount; ++i) z[i] = 1.0 + i;
    double e = 0.0, z_next[kStateCount];
    differentiator_step(3.0, z, 1.0, 0.1, n, &e, z_next);
    EXPECT_SAME_BITS(2.0, e);
    delete[] z;
  }
}

TEST_F(DifferentiatorStep, ErrorDynamicsSettleOnAPolynomialInput) {
  // On a cubic, an order-3 differentiator's estimates converge to the true
  // derivatives: the exact discretisation has no error on such a signal.
  const double h = 0.01, L = 5.0;
  double z[kStateCount] = {};
  double t = 0.0;
  for (int k = 0; k < 4000; ++k, t += h) {
    const double u = 1 + t - 0.5 * t * t + 0.25 * t * t * t;
    Step s = step(u, reinterpret_cast<const double(&)[kStateCount]>(z), L, h, 3.0);
    for (int i = 0; i < kStateCount; ++i) z[i] = s.z_next[i];
  }
  // z now estimates the signal at t (one step ahead of the last sample).
  EXPECT_NEAR(z[0], 1 + t - 0.5 * t * t + 0.25 * t * t * t, 1e-6);
  EXPECT_NEAR(z[1], 1 - t + 0.75 * t * t, 1e-5);
  EXPECT_NEAR(z[2], -1 + 1.5 * t, 1e-4);
  EXPECT_NEAR(z[3], 1.5, 1e-3);
}

}  // namespace
}  // namespace corvel
