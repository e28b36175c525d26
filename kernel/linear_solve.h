// Dense solve of A X = B for eleven right-hand sides at once.
#ifndef CORVEL_KERNEL_LINEAR_SOLVE_H
#define CORVEL_KERNEL_LINEAR_SOLVE_H

#include <cstdint>

#include "kernel/matrix.h"

namespace corvel {

// LU factors of a row-exchanged A, both in W: the unit lower factor's
// multipliers below the diagonal (its ones not stored), the upper factor on
// and above it. pivot[j] is the 1-based row exchanged with row j at step j,
// j + 1 when none was; pivot[10] is always 11.
struct LuFactors {
  Matrix W;
  std::int8_t pivot[kMatrixOrder];
};

// Right-looking elimination with partial pivoting. Of equal magnitudes the
// upper row stays the pivot, and a NaN never replaces the best so far. A
// column that is zero (or NaN) from the diagonal down gets no exchange and no
// division: singularity is not detected.
void lu_factor(const Matrix A, LuFactors& factors);

// B := X with A X = B, through lu_factor and substitution column by column of
// B. A and B must be distinct. A zero right-hand entry skips its division, so
// a zero column of B stays zero even for a singular A; a nonzero entry over a
// zero pivot gives infinities or NaNs, and nothing is reported.
void solve_linear(const Matrix A, Matrix B);

}  // namespace corvel

#endif
