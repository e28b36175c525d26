#include "kernel/linear_solve.h"

#include <cmath>

namespace corvel {

namespace {

constexpr int kOrder = kMatrixOrder;

void swap_rows(Matrix M, int r1, int r2) {
  for (int c = 0; c < kOrder; ++c) {
    const double t = M[at(r1, c)];
    M[at(r1, c)] = M[at(r2, c)];
    M[at(r2, c)] = t;
  }
}

// Every zero test is an ordered comparison with 0.0, so a NaN takes the
// nonzero branch and -0.0 the zero one.
bool nonzero(double x) { return !(x == 0.0); }

}  // namespace

void lu_factor(const Matrix A, LuFactors& factors) {
  double* W = factors.W;
  for (int k = 0; k < kMatrixSize; ++k) W[k] = A[k];
  for (int j = 0; j < kOrder; ++j) factors.pivot[j] = static_cast<std::int8_t>(j + 1);

  for (int j = 0; j < kOrder - 1; ++j) {
    int p = j;
    double best = std::fabs(W[at(j, j)]);
    for (int i = j + 1; i < kOrder; ++i) {
      const double magnitude = std::fabs(W[at(i, j)]);
      if (magnitude > best) {
        p = i;
        best = magnitude;
      }
    }
    if (nonzero(W[at(p, j)])) {
      if (p != j) {
        factors.pivot[j] = static_cast<std::int8_t>(p + 1);
        swap_rows(W, j, p);
      }
      for (int i = j + 1; i < kOrder; ++i) W[at(i, j)] = W[at(i, j)] / W[at(j, j)];
    }
    for (int c = j + 1; c < kOrder; ++c) {
      const double t = W[at(j, c)];
      if (nonzero(t)) {
        for (int i = j + 1; i < kOrder; ++i) W[at(i, c)] = W[at(i, c)] - t * W[at(i, j)];
      }
    }
  }
}

void solve_linear(const Matrix A, Matrix B) {
  LuFactors factors;
  lu_factor(A, factors);
  const double* W = factors.W;

  // The exchanges touch B alone, so applying them in order after the
  // factorisation gives the B the interleaved form would.
  for (int j = 0; j < kOrder - 1; ++j) {
    if (factors.pivot[j] != j + 1) swap_rows(B, j, factors.pivot[j] - 1);
  }

  for (int c = 0; c < kOrder; ++c) {
    for (int k = 0; k < kOrder; ++k) {
      const double t = B[at(k, c)];
      if (nonzero(t)) {
        for (int i = k + 1; i < kOrder; ++i) B[at(i, c)] = B[at(i, c)] - t * W[at(i, k)];
      }
    }
  }

  for (int c = 0; c < kOrder; ++c) {
    for (int k = kOrder - 1; k >= 0; --k) {
      if (nonzero(B[at(k, c)])) {
        B[at(k, c)] = B[at(k, c)] / W[at(k, k)];
        for (int i = 0; i < k; ++i) B[at(i, c)] = B[at(i, c)] - B[at(k, c)] * W[at(i, k)];
      }
    }
  }
}

}  // namespace corvel
