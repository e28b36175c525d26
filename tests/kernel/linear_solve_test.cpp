#include "kernel/linear_solve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "support/bits.h"

namespace corvel {
namespace {

void identity(Matrix M) {
  for (int k = 0; k < kMatrixSize; ++k) M[k] = 0.0;
  for (int i = 0; i < kMatrixOrder; ++i) M[at(i, i)] = 1.0;
}

// Entries that differ per position, so index mix-ups show.
void distinct_entries(Matrix M) {
  for (int c = 0; c < kMatrixOrder; ++c) {
    for (int r = 0; r < kMatrixOrder; ++r) M[at(r, c)] = 0.5 + r * 0.25 - c * 1.125;
  }
}

TEST(SolveLinear, IdentityLeavesTheRightHandSidesUnchanged) {
  Matrix A, B, original;
  identity(A);
  distinct_entries(B);
  distinct_entries(original);
  solve_linear(A, B);
  for (int k = 0; k < kMatrixSize; ++k) EXPECT_SAME_BITS(original[k], B[k]) << k;
}

TEST(SolveLinear, UpperTriangularNeedsNoExchangeAndKeepsItsValues) {
  Matrix A = {};
  for (int c = 0; c < kMatrixOrder; ++c) {
    for (int r = 0; r <= c; ++r) A[at(r, c)] = r == c ? 1.0 + 0.5 * c : 0.25 * (r + 1) - 0.1 * c;
  }
  LuFactors f;
  lu_factor(A, f);
  for (int j = 0; j < kMatrixOrder; ++j) EXPECT_EQ(f.pivot[j], j + 1);
  for (int k = 0; k < kMatrixSize; ++k) EXPECT_SAME_BITS(A[k], f.W[k]) << k;

  // And the solution satisfies A X = B.
  Matrix B;
  distinct_entries(B);
  Matrix X;
  for (int k = 0; k < kMatrixSize; ++k) X[k] = B[k];
  solve_linear(A, X);
  for (int r = 0; r < kMatrixOrder; ++r) {
    for (int c = 0; c < kMatrixOrder; ++c) {
      double sum = 0;
      for (int k = 0; k < kMatrixOrder; ++k) sum += A[at(r, k)] * X[at(k, c)];
      EXPECT_NEAR(sum, B[at(r, c)], 1e-12);
    }
  }
}

TEST(SolveLinear, TiesKeepTheUpperRowAndNaNNeverWins) {
  Matrix A;
  identity(A);
  A[at(0, 0)] = -2.0;
  A[at(4, 0)] = 2.0;  // same magnitude below the diagonal: the diagonal stays
  A[at(3, 1)] = 5.0;  // only below the diagonal, twice: the upper one is taken
  A[at(7, 1)] = -5.0;
  A[at(6, 2)] = std::numeric_limits<double>::quiet_NaN();  // never the pivot
  A[at(8, 2)] = 3.0;
  LuFactors f;
  lu_factor(A, f);
  EXPECT_EQ(f.pivot[0], 1);
  EXPECT_EQ(f.pivot[1], 4);
  EXPECT_EQ(f.pivot[2], 9);
  EXPECT_EQ(f.pivot[10], 11);
}

TEST(SolveLinear, ZeroLeadingEntryExchangesTheFirstTwoRows) {
  Matrix A;
  identity(A);
  A[at(0, 0)] = 0.0;
  A[at(1, 0)] = 1.0;
  A[at(0, 1)] = 1.0;
  A[at(1, 1)] = 0.0;
  LuFactors f;
  lu_factor(A, f);
  EXPECT_EQ(f.pivot[0], 2);
  EXPECT_EQ(f.W[at(0, 0)], 1.0);
  EXPECT_EQ(f.W[at(0, 1)], 0.0);
  EXPECT_EQ(f.W[at(1, 1)], 1.0);

  Matrix B;
  distinct_entries(B);
  Matrix X;
  for (int k = 0; k < kMatrixSize; ++k) X[k] = B[k];
  solve_linear(A, X);  // A is a permutation: X is B with rows 0 and 1 exchanged
  for (int c = 0; c < kMatrixOrder; ++c) {
    EXPECT_SAME_BITS(B[at(1, c)], X[at(0, c)]);
    EXPECT_SAME_BITS(B[at(0, c)], X[at(1, c)]);
    for (int r = 2; r < kMatrixOrder; ++r) EXPECT_SAME_BITS(B[at(r, c)], X[at(r, c)]);
  }
}

TEST(SolveLinear, SingularMatrixKeepsZeroColumnsAndGoesNonFiniteElsewhere) {
  Matrix A;
  distinct_entries(A);
  for (int r = 0; r < kMatrixOrder; ++r) A[at(r, 5)] = 0.0;  // a zero column: singular
  Matrix B = {};
  for (int r = 0; r < kMatrixOrder; ++r) B[at(r, 3)] = 1.0 + r;
  solve_linear(A, B);
  bool non_finite = false;
  for (int c = 0; c < kMatrixOrder; ++c) {
    for (int r = 0; r < kMatrixOrder; ++r) {
      if (c != 3) EXPECT_SAME_BITS(0.0, B[at(r, c)]) << r << "," << c;
      else non_finite = non_finite || !std::isfinite(B[at(r, c)]);
    }
  }
  EXPECT_TRUE(non_finite);
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// Random dense systems, whose partial pivoting exchanges rows at most steps:
// the solution satisfies A X = B, and over the systems every step from the
// first to the tenth has exchanged a row at least once.
TEST(SolveLinear, SolvesDenseSystemsWithExchangesAtEveryStep) {
  std::mt19937_64 random(11);
  std::normal_distribution<double> normal;
  bool exchanged[kMatrixOrder] = {};
  for (int system = 0; system < 30; ++system) {
    Matrix A, B, X;
    for (int k = 0; k < kMatrixSize; ++k) A[k] = normal(random);
    for (int k = 0; k < kMatrixSize; ++k) B[k] = X[k] = normal(random);
    LuFactors factors;
    lu_factor(A, factors);
    for (int j = 0; j < kMatrixOrder; ++j) {
      if (factors.pivot[j] != j + 1) exchanged[j] = true;
    }
    solve_linear(A, X);
    for (int r = 0; r < kMatrixOrder; ++r) {
      for (int c = 0; c < kMatrixOrder; ++c) {
        double ax = 0.0, scale = std::fabs(B[at(r, c)]);
        for (int k = 0; k < kMatrixOrder; ++k) {
          ax += A[at(r, k)] * X[at(k, c)];
          scale += std::fabs(A[at(r, k)] * X[at(k, c)]);
        }
        ASSERT_LE(std::fabs(ax - B[at(r, c)]), 1e-12 * scale) << "system " << system << ", entry " << r << "," << c;
      }
    }
  }
  for (int j = 0; j + 1 < kMatrixOrder; ++j) EXPECT_TRUE(exchanged[j]) << "no exchange at step " << j;
}

}  // namespace
}  // namespace corvel
