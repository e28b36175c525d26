#include "kernel/differentiator.h"

#include <algorithm>
#include <cmath>

#include "kernel/correction.h"
#include "kernel/matrix_exponential.h"
#include "kernel/non_finite.h"
#include "kernel/safe_pow.h"

namespace corvel {

namespace {

// How many leading states the padded state copies: the whole part of n + 1,
// 0 below that, and never more than the eleven states there are (NaN and huge
// orders included, which never reach the integer conversion).
int copied_state_count(double n) {
  const double count = n + 1.0;
  if (!(count >= 1.0)) return 0;
  if (count >= kStateCount) return kStateCount;
  return static_cast<int>(count);
}

// Whether the first `count` states are all finite.
bool finite_states(const double* p, int count) {
  for (int j = 0; j < count; ++j) {
    if (!std::isfinite(p[j])) return false;
  }
  return true;
}

}  // namespace

void differentiator_initialize() {
  store_non_finite_values();
  transition_matrix_ready = 0;
}

void differentiator_step(double u, const double* z, double L, double h, double n, double* e_out,
                         double* z_next) {
  build_transition_matrix(h);

  const double e = u - z[0];
  *e_out = e;
  const double a = std::fabs(e);

  double F = 0.0;
  if (!(a == 0.0)) {
    const double q = -1.0 / (n + 1.0);
    const double w = safe_pow(a, q);
    F = std::exp((-(w * L)) * h);
  }

  double k[kStateCount];
  correction_vector(n, e, F, h, k);

  // The padded state (z0..zn, 0, ..., 0), on the stack.
  const int count = copied_state_count(n);
  double p[kStateCount];
  for (int j = 0; j < count; ++j) p[j] = z[j];
  for (int j = count; j < kStateCount; ++j) p[j] = 0.0;

  const double stored = *e_out;
  double sgn;
  if (stored < 0.0) sgn = -1.0;
  else if (stored > 0.0) sgn = 1.0;
  else if (stored == 0.0) sgn = 0.0;
  else sgn = stored;  // NaN

  if (transition_matrix_triangular && finite_states(p, count)) {
    // Row i of Phi p needs only columns i..count-1: every other term is a
    // finite entry times an exact zero, or an exact zero below the diagonal
    // times a finite state, so it is +0.0 or -0.0. A sum that starts at +0.0
    // is never -0.0 (x + y is -0.0 only when both are), and adding a zero of
    // either sign to a sum that is not -0.0 leaves its bits as they are: the
    // terms left out change nothing, and the rows from count on stay +0.0.
    for (int i = 0; i < count; ++i) {
      double sum = 0.0;
      for (int j = i; j < count; ++j) sum = sum + transition_matrix[at(i, j)] * p[j];
      z_next[i] = k[i] * sgn + sum;
    }
    // Above both count and the order, k[i] is 0: with a finite sign the
    // correction is a zero, and +0.0 plus a zero is +0.0.
    const int corrected = is_nan(sgn) ? kStateCount : std::max(count, whole_order(n) + 1);
    for (int i = count; i < corrected; ++i) z_next[i] = k[i] * sgn + 0.0;
    for (int i = corrected; i < kStateCount; ++i) z_next[i] = 0.0;
    return;
  }
  // A non-finite entry or state: 0 x inf is NaN and reaches every row the
  // whole product reaches.
  for (int i = 0; i < kStateCount; ++i) {
    double sum = 0.0;
    for (int j = 0; j < kStateCount; ++j) sum = sum + transition_matrix[at(i, j)] * p[j];
    z_next[i] = k[i] * sgn + sum;
  }
}

}  // namespace corvel
