#include "kernel/matrix_exponential.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "kernel/differentiator.h"
#include "support/bits.h"

namespace corvel {
namespace {

void shift(double h, Matrix A) {
  for (int k = 0; k < kMatrixSize; ++k) A[k] = 0.0;
  for (int r = 0; r + 1 < kMatrixOrder; ++r) A[at(r, r + 1)] = h;
}

ExponentialPlan plan_for(double h) {
  Matrix A;
  shift(h, A);
  return plan_exponential(one_norm(A));
}

double factorial(int k) { return k <= 1 ? 1.0 : k * factorial(k - 1); }

const Matrix& built_from(double h) {
  differentiator_initialize();
  build_transition_matrix(h);
  return transition_matrix;
}

TEST(ExponentialPlan, DegreeAtJustBelowAndJustAboveEachThreshold) {
  const int next_degree[5] = {5, 7, 9, 13, 13};
  for (int i = 0; i < 5; ++i) {
    const double theta = pade_theta[i];
    for (double sign : {1.0, -1.0}) {
      EXPECT_EQ(plan_for(sign * theta).degree, pade_degree[i]) << theta;
      EXPECT_EQ(plan_for(sign * std::nextafter(theta, 0.0)).degree, pade_degree[i]) << theta;
      const ExponentialPlan above = plan_for(sign * std::nextafter(theta, 10.0));
      EXPECT_EQ(above.degree, next_degree[i]) << theta;
      EXPECT_EQ(above.scaled, i == 4);
    }
  }
  EXPECT_FALSE(plan_for(5.371920351148152).scaled);
  EXPECT_EQ(plan_for(0.0).degree, 3);
}

TEST(ExponentialPlan, SquaringsGrowWithTheStepSize) {
  const double theta13 = pade_theta[4];
  const struct {
    double h;
    int squarings;
  } cases[] = {{6, 1}, {10, 1}, {2 * theta13, 1}, {4 * theta13, 2}, {100, 5}, {1000, 8}};
  for (const auto& c : cases) {
    for (double sign : {1.0, -1.0}) {
      const ExponentialPlan plan = plan_for(sign * c.h);
      EXPECT_TRUE(plan.scaled);
      EXPECT_EQ(plan.squarings, c.squarings) << c.h;
      EXPECT_EQ(plan.s, c.squarings);
    }
  }
}

TEST(ExponentialPlan, NonFiniteNormsScaleByNothing) {
  for (double h : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()}) {
    const ExponentialPlan plan = plan_for(h);
    EXPECT_TRUE(plan.scaled);
    EXPECT_EQ(plan.s, 0.0);
    EXPECT_EQ(plan.squarings, 0);
  }
}

TEST(TransitionMatrix, EntriesArePowersOverFactorials) {
  for (double h : {0.1, -0.2, 0.5, 0.9, 1.7, -2.0, 4.5, 6.0, -10.0, 2 * pade_theta[4], 33.0, 100.0}) {
    const Matrix& Phi = built_from(h);
    for (int r = 0; r < kMatrixOrder; ++r) {
      for (int k = 1; r + k < kMatrixOrder; ++k) {
        const double expected = std::pow(h, k) / factorial(k);
        EXPECT_NEAR(Phi[at(r, r + k)] / expected, 1.0, 1e-12) << "h " << h << " (" << r << ", " << r + k << ")";
      }
    }
  }
}

TEST(TransitionMatrix, DegreeThreeTruncatesTheHighPowers) {
  const double h = 0.0125;
  const Matrix& Phi = built_from(h);
  // Rounding in the approximant and the solve: a few ulps.
  for (int k = 1; k <= 6; ++k) EXPECT_NEAR(Phi[at(0, k)] / (std::pow(h, k) / factorial(k)), 1.0, 1e-14) << k;
  const double high[] = {1 / 4800.0, 1 / 28800.0, 7 / 864000.0, 1 / 432000.0};
  for (int k = 7; k <= 10; ++k) {
    EXPECT_NEAR(Phi[at(0, k)] / (std::pow(h, k) * high[k - 7]), 1.0, 1e-12) << k;
    EXPECT_NEAR(Phi[at(10 - k, 10)] / (std::pow(h, k) * high[k - 7]), 1.0, 1e-12) << k;
  }
}

TEST(TransitionMatrix, ExactZerosBelowAndOnesOnTheDiagonal) {
  for (double h : {0.0, 1e-300, 0.01, -0.3, 0.8, 2.0, 5.0, 7.5, -1000.0, 1e5}) {
    const Matrix& Phi = built_from(h);
    for (int c = 0; c < kMatrixOrder; ++c) {
      for (int r = c; r < kMatrixOrder; ++r) EXPECT_SAME_BITS(r == c ? 1.0 : 0.0, Phi[at(r, c)]) << h;
    }
    if (h == 0.0) {
      for (int c = 1; c < kMatrixOrder; ++c) {
        for (int r = 0; r < c; ++r) EXPECT_SAME_BITS(0.0, Phi[at(r, c)]);
      }
    }
  }
}

TEST(TransitionMatrix, NonFiniteStepSizeGivesNaNsAndStillSetsTheFlag) {
  for (double h : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()}) {
    const Matrix& Phi = built_from(h);
    EXPECT_EQ(transition_matrix_ready, 1);
    for (int k = 0; k < kMatrixSize; ++k) EXPECT_TRUE(std::isnan(Phi[k])) << k;
  }
}

// Blocks of different sample times share the module: each step size must get
// the matrix of its own h, with the bits a fresh build of that h gives.
TEST(TransitionMatrix, EachStepSizeGetsItsOwnMatrixBetweenInitialisations) {
  auto fresh = [](double h, Matrix phi) {
    Matrix A;
    shift(h, A);
    matrix_exponential(A, phi);
  };
  auto expect_matrix_of = [&](double h) {
    Matrix phi;
    fresh(h, phi);
    for (int k = 0; k < kMatrixSize; ++k) {
      ASSERT_EQ(test::bits(phi[k]), test::bits(transition_matrix[k])) << "h " << h << ", entry " << k;
    }
    EXPECT_SAME_BITS(h, transition_matrix_step);
    EXPECT_EQ(transition_matrix_ready, 1);
  };
  struct Case {
    const char* what;
    std::vector<double> steps;  // built in this order after one initialisation
  };
  std::vector<double> many;  // more rates than are kept, each seen three times
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < kKeptTransitionMatrices + 5; ++i) many.push_back(0.001 * (i + 1));
  }
  const Case cases[] = {
      {"two rates alternating", {0.1, 0.2, 0.1, 0.2, 0.2, 0.1}},
      {"a rate that is no multiple of the other", {0.001, 0.0015, 0.01, 0.0005, 0.0015, 0.001}},
      {"zero and negative zero", {0.0, -0.0, 0.0, 6.0, -0.0}},
      {"non-finite among finite", {0.01, std::numeric_limits<double>::quiet_NaN(), 0.01, 1e300, 0.01}},
      {"more rates than are kept", many},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    differentiator_initialize();
    for (const double h : c.steps) {
      build_transition_matrix(h);
      expect_matrix_of(h);
    }
  }
}

TEST(TransitionMatrix, InitialisationMarksEveryMatrixStale) {
  differentiator_initialize();
  build_transition_matrix(0.1);
  build_transition_matrix(0.2);
  differentiator_initialize();
  differentiator_initialize();
  EXPECT_EQ(transition_matrix_ready, 0);
  build_transition_matrix(0.2);
  EXPECT_EQ(transition_matrix_ready, 1);
  EXPECT_NEAR(transition_matrix[at(0, 1)], 0.2, 1e-16);
}

// FNV-1a over the bits of all 121 entries.
std::uint64_t digest(const Matrix& M) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (int k = 0; k < kMatrixSize; ++k) {
    std::uint64_t b = test::bits(M[k]);
    for (int i = 0; i < 8; ++i, b >>= 8) hash = (hash ^ (b & 0xFFu)) * 0x100000001b3u;
  }
  return hash;
}

TEST(TransitionMatrix, SameBitsOnEveryBuild) {
  // exp and pow take no part in the build, so every build must give these
  // bits: one step size per Pade band, and three with scaling. Read off the
  // x86-64 build; the i386 and Windows builds check them.
  const struct {
    double h;
    std::uint64_t digest;
  } cases[] = {{0.01, 0x8899515c13b473d4u}, {0.1, 0x8ec53f78ccbc4d24u},   {-0.5, 0xf35c4bab62772795u},
                 {1.5, 0x481679941e5a73b4u},  {3.0, 0x799962b7ba9f0acbu},   {7.0, 0xb81387cf7d5540e4u},
                 {-100.0, 0x5519f6d16ed3686eu}, {1000.0, 0x91a463819be4bbb2u}};
  for (const auto& c : cases) {
    EXPECT_EQ(digest(built_from(c.h)), c.digest) << c.h;
  }
}

// The thresholds to their last digit: a degree chosen one band off changes
// the matrix's bits for steps near a threshold.
TEST(PadeThresholds, HoldTheirPublishedValuesAndDegrees) {
  const double theta[] = {0.01495585217958292, 0.253939833006323, 0.9504178996162932, 2.097847961257068,
                          5.371920351148152};
  const std::uint8_t degree[] = {3, 5, 7, 9, 13};
  for (int i = 0; i < 5; ++i) {
    EXPECT_SAME_BITS(theta[i], pade_theta[i]);
    EXPECT_EQ(degree[i], pade_degree[i]);
  }
}

}  // namespace
}  // namespace corvel
