#include "kernel/differentiator.h"

#include <cmath>

#include "kernel/correction.h"
#include "kernel/double_array.h"
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

// The padded state (z0..zn, 0, ..., 0) in a DoubleArray. Returns its storage,
// or the caller's fallback when the heap refuses: the step goes on either way.
double* pad_state(const double* z, int count, DoubleArray** array, double* fallback) {
  double* p = fallback;
  if (double_array_create(array, 1)) {
    (*array)->dims[0] = kStateCount;
    if (double_array_grow(*array, 0, sizeof(double))) p = (*array)->elements;
  }
  for (int j = 0; j < count; ++j) p[j] = z[j];
  for (int j = count; j < kStateCount; ++j) p[j] = 0.0;
  return p;
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

  DoubleArray* array = nullptr;
  double fallback[kStateCount];
  const double* p = pad_state(z, copied_state_count(n), &array, fallback);
  for (int i = 0; i < kStateCount; ++i) {
    double sum = 0.0;
    for (int j = 0; j < kStateCount; ++j) sum = sum + transition_matrix[at(i, j)] * p[j];
    z_next[i] = sum;
  }
  double_array_free(&array);

  const double stored = *e_out;
  double sgn;
  if (stored < 0.0) sgn = -1.0;
  else if (stored > 0.0) sgn = 1.0;
  else if (stored == 0.0) sgn = 0.0;
  else sgn = stored;  // NaN

  for (int i = 0; i < kStateCount; ++i) z_next[i] = k[i] * sgn + z_next[i];
}

}  // namespace corvel
