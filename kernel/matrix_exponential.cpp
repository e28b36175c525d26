#include "kernel/matrix_exponential.h"

#include <cmath>
#include <cstring>

#include "kernel/linear_solve.h"
#include "kernel/non_finite.h"
#include "kernel/safe_pow.h"

namespace corvel {

const double pade_theta[5] = {0.01495585217958292, 0.253939833006323, 0.9504178996162932,
                              2.097847961257068, 5.371920351148152};
const std::uint8_t pade_degree[5] = {3, 5, 7, 9, 13};

Matrix transition_matrix = {};
std::uint8_t transition_matrix_ready = 0;
double transition_matrix_step = 0.0;
bool transition_matrix_triangular = false;

namespace {

constexpr int kOrder = kMatrixOrder;
constexpr int kSize = kMatrixSize;
constexpr double kTheta13 = 5.371920351148152;  // also the scaling threshold

// P = X Y, each entry summed from +0.0 in increasing k. P is neither X nor Y.
void multiply(const Matrix X, const Matrix Y, Matrix P) {
  for (int c = 0; c < kOrder; ++c) {
    for (int r = 0; r < kOrder; ++r) {
      double sum = 0.0;
      for (int k = 0; k < kOrder; ++k) sum = sum + X[at(r, k)] * Y[at(k, c)];
      P[at(r, c)] = sum;
    }
  }
}

void add_to_diagonal(Matrix X, double c) {
  for (int i = 0; i < kOrder; ++i) X[at(i, i)] = X[at(i, i)] + c;
}

// Degrees 3, 5, 7 and 9: the bracket that multiplies A in U (before its c I
// term) and V (before d I), each a fixed sum of scaled powers.
void low_degree_parts(std::uint8_t m, const Matrix A2, const Matrix A4, const Matrix A6, const Matrix A8,
                      Matrix bracket, Matrix V, double& c, double& d) {
  for (int k = 0; k < kSize; ++k) {
    switch (m) {
      case 3:
        bracket[k] = A2[k];
        V[k] = 12.0 * A2[k];
        break;
      case 5:
        bracket[k] = 420.0 * A2[k] + A4[k];
        V[k] = 30.0 * A4[k] + 3360.0 * A2[k];
        break;
      case 7:
        bracket[k] = (1512.0 * A4[k] + A6[k]) + 277200.0 * A2[k];
        V[k] = (56.0 * A6[k] + 25200.0 * A4[k]) + 1995840.0 * A2[k];
        break;
      default:  // 9
        bracket[k] = ((3960.0 * A6[k] + A8[k]) + 2162160.0 * A4[k]) + 302702400.0 * A2[k];
        V[k] = ((110880.0 * A6[k] + 90.0 * A8[k]) + 30270240.0 * A4[k]) + 2075673600.0 * A2[k];
        break;
    }
  }
  switch (m) {
    case 3: c = 60.0; d = 120.0; break;
    case 5: c = 15120.0; d = 30240.0; break;
    case 7: c = 8648640.0; d = 17297280.0; break;
    default: c = 8821612800.0; d = 17643225600.0; break;
  }
}

}  // namespace

double one_norm(const Matrix A) {
  double norm = 0.0;
  for (int c = 0; c < kOrder; ++c) {
    double sum = 0.0;
    for (int r = 0; r < kOrder; ++r) sum = sum + std::fabs(A[at(r, c)]);
    if (is_nan(sum)) return kernel_nan;
    if (sum > norm) norm = sum;
  }
  return norm;
}

ExponentialPlan plan_exponential(double norm) {
  if (norm <= kTheta13) {
    for (int i = 0; i < 5; ++i) {
      if (norm <= pade_theta[i]) return {pade_degree[i], false, 0.0, 0};
    }
  }
  const double x = norm / kTheta13;
  double s = 0.0;
  if (!is_inf(x) && !is_nan(x)) {
    int e = 0;
    const double mu = std::frexp(x, &e);
    // s = ceil(log2 x): an exact power of two needs one squaring less.
    s = mu == 0.5 ? e - 1 : e;
  }
  // x is finite here, so s lies within the exponent range of a double.
  return {13, true, s, static_cast<int>(s)};
}

void pade_approximant(const Matrix A, std::uint8_t m, Matrix F) {
  double A2[kSize], A4[kSize], A6[kSize], V[kSize], T[kSize], X[kSize];
  double* U = F;  // the odd part U is formed in the output
  multiply(A, A, A2);
  if (m != 3) multiply(A2, A2, A4);
  if (m != 3 && m != 5) multiply(A4, A2, A6);

  double d = 0.0;
  if (m == 3 || m == 5 || m == 7 || m == 9) {
    // A8 is needed by degree 9 only; it lives in X, free until then.
    if (m == 9) multiply(A6, A2, X);
    double c = 0.0;
    low_degree_parts(m, A2, A4, A6, X, T, V, c, d);
    add_to_diagonal(T, c);
    multiply(A, T, U);
  } else {
    // W = (16380 A4 + A6) + 40840800 A2, then T = A6 W + G.
    for (int k = 0; k < kSize; ++k) X[k] = (16380.0 * A4[k] + A6[k]) + 40840800.0 * A2[k];
    multiply(A6, X, T);
    for (int c = 0; c < kOrder; ++c) {
      for (int r = 0; r < kOrder; ++r) {
        const int k = at(r, c);
        double g = (33522128640.0 * A6[k] + 10559470521600.0 * A4[k]) + 1187353796428800.0 * A2[k];
        if (r == c) g = g + 32382376266240000.0;
        T[k] = T[k] + g;
      }
    }
    multiply(A, T, U);
    // Z = (182 A6 + 960960 A4) + 1323241920 A2, then V from A6 Z.
    for (int k = 0; k < kSize; ++k) X[k] = (182.0 * A6[k] + 960960.0 * A4[k]) + 1323241920.0 * A2[k];
    multiply(A6, X, T);
    for (int k = 0; k < kSize; ++k) {
      V[k] = ((670442572800.0 * A6[k] + T[k]) + 129060195264000.0 * A4[k]) + 7771770303897600.0 * A2[k];
    }
    d = 64764752532480000.0;
  }
  add_to_diagonal(V, d);

  // D = V - U and R = 2 U, so that exp(A) ~ (V - U)^-1 (V + U) = I + D^-1 R.
  for (int k = 0; k < kSize; ++k) {
    V[k] = V[k] - U[k];
    U[k] = 2.0 * U[k];
  }
  solve_linear(V, F);
  add_to_diagonal(F, 1.0);
}

void matrix_exponential(const Matrix A, Matrix F) {
  const ExponentialPlan plan = plan_exponential(one_norm(A));
  if (!plan.scaled) {
    pade_approximant(A, static_cast<std::uint8_t>(plan.degree), F);
    return;
  }
  const double f = safe_pow(2.0, plan.s);
  double B[kSize];
  for (int k = 0; k < kSize; ++k) B[k] = A[k] / f;
  pade_approximant(B, 13, F);
  double T[kSize];
  for (int i = 0; i < plan.squarings; ++i) {
    multiply(F, F, T);
    for (int k = 0; k < kSize; ++k) F[k] = T[k];
  }
}

namespace {

// The matrices built since the last initialisation, by step size.
struct KeptMatrix {
  std::uint64_t step_bits;
  bool triangular;
  Matrix phi;
};
KeptMatrix kept_matrices[kKeptTransitionMatrices];
int kept_count = 0;
int next_to_replace = 0;  // once all are in use: the oldest goes

std::uint64_t bits_of(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

void compute_transition_matrix(double h) {
  double A[kSize] = {};
  for (int r = 0; r + 1 < kOrder; ++r) A[at(r, r + 1)] = h;
  matrix_exponential(A, transition_matrix);
  transition_matrix_triangular = true;
  for (int c = 0; c < kOrder; ++c) {
    for (int r = 0; r < kOrder; ++r) {
      const double entry = transition_matrix[at(r, c)];
      if (!std::isfinite(entry) || (r > c && entry != 0.0)) transition_matrix_triangular = false;
    }
  }
}

}  // namespace

void build_transition_matrix(double h) {
  const std::uint64_t step_bits = bits_of(h);
  if (transition_matrix_ready != 0 && step_bits == bits_of(transition_matrix_step)) return;
  if (transition_matrix_ready == 0) {
    kept_count = 0;
    next_to_replace = 0;
  }
  for (int i = 0; i < kept_count; ++i) {
    const KeptMatrix& kept = kept_matrices[i];
    if (kept.step_bits != step_bits) continue;
    std::memcpy(transition_matrix, kept.phi, sizeof transition_matrix);
    transition_matrix_triangular = kept.triangular;
    transition_matrix_step = h;
    transition_matrix_ready = 1;
    return;
  }
  compute_transition_matrix(h);
  int slot = kept_count;
  if (kept_count < kKeptTransitionMatrices) {
    ++kept_count;
  } else {
    slot = next_to_replace;
    next_to_replace = (next_to_replace + 1) % kKeptTransitionMatrices;
  }
  KeptMatrix& kept = kept_matrices[slot];
  kept.step_bits = step_bits;
  kept.triangular = transition_matrix_triangular;
  std::memcpy(kept.phi, transition_matrix, sizeof kept.phi);
  transition_matrix_step = h;
  transition_matrix_ready = 1;
}

}  // namespace corvel
