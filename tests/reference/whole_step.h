// An independent reference for the differentiator's whole step, written from
// its defining formulas alone and sharing no code with kernel/: its own power
// rules, Pade matrix exponential with scaling and squaring, LU solve with
// partial pivoting, gain table and step, each in the order of operations that
// the block's arithmetic follows. Tests compare the kernel's steps with it bit
// for bit.
#ifndef CORVEL_TESTS_REFERENCE_WHOLE_STEP_H
#define CORVEL_TESTS_REFERENCE_WHOLE_STEP_H

namespace reference {

using Matrix = double[121];  // column-major 11 x 11: (r, c) at r + 11 c

// The transition matrix exp(S h), S the shift matrix (ones above the diagonal).
void transition_matrix(double h, Matrix phi);

// One step with a given transition matrix: e = u - z0 into *e, the eleven new
// states into z_next.
void step(const Matrix phi, double u, const double z[11], double L, double h, double n, double* e, double z_next[11]);

}  // namespace reference

#endif
