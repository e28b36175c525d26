// The transition matrix: exp of the 11 x 11 shift matrix scaled by the step
// size, by scaling and squaring with diagonal Pade approximants (Higham, "The
// scaling and squaring method for the matrix exponential revisited", SIAM J.
// Matrix Anal. Appl. 26(4), 2005: degrees 3, 5, 7, 9, 13 and their thresholds).
#ifndef CORVEL_KERNEL_MATRIX_EXPONENTIAL_H
#define CORVEL_KERNEL_MATRIX_EXPONENTIAL_H

#include <cstdint>

#include "kernel/matrix.h"

namespace corvel {

// Thresholds on the 1-norm and the degrees they select, paired by index.
extern const double pade_theta[5];
extern const std::uint8_t pade_degree[5];

// Module-wide transition matrix Phi (all zeros at load) and its flag (0 at
// load, cleared by differentiator_initialize, set once Phi is complete). Shared
// by every block instance the module serves: Phi is the matrix of the step size
// the latest step asked for, transition_matrix_step.
extern Matrix transition_matrix;
extern std::uint8_t transition_matrix_ready;
extern double transition_matrix_step;
// Set with the flag: whether every entry of transition_matrix is finite and
// every entry below the diagonal exactly zero, so that a step may multiply
// its upper triangle alone.
extern bool transition_matrix_triangular;
// How many step sizes keep their matrix between two initialisations; a model
// of more rates than this rebuilds the one it needs, with the same bits.
constexpr int kKeptTransitionMatrices = 16;

// Largest absolute column sum, each column summed from +0.0 down its rows; a
// NaN column sum makes the norm NaN at once.
double one_norm(const Matrix A);

// What matrix_exponential does for a given 1-norm: the Pade degree and, on the
// scaling path (norm above theta13 or NaN), the power of two s that divides A
// before the approximant and the number of squarings after it (both s).
struct ExponentialPlan {
  int degree;
  bool scaled;    // A / 2^s goes into the degree-13 approximant
  double s;       // 0 without scaling, and for an infinite or NaN norm
  int squarings;  // s as a count
};
ExponentialPlan plan_exponential(double norm);

// F = r_m(A), the [m/m] Pade approximant for m = 3, 5, 7, 9 or 13 (any other m
// takes the degree-13 formulas). F is also the work matrix and must not overlap A.
void pade_approximant(const Matrix A, std::uint8_t m, Matrix F);

// F = exp(A); F must not overlap A. Non-finite input gives NaN entries.
void matrix_exponential(const Matrix A, Matrix F);

// Makes transition_matrix exp(S h), S the shift matrix (ones on the first
// superdiagonal), and sets the flag. A model may mix sample times, and each
// block must step with the matrix of its own h: the matrices built since the
// last initialisation are kept by step size (compared as bits), so a step size
// seen before takes its matrix back unchanged, and only a new one computes.
// A clear flag (load, differentiator_initialize) discards them all. With one
// step size per run this builds once per initialisation, as a single-rate
// model always did; the repeated call costs one comparison.
void build_transition_matrix(double h);

}  // namespace corvel

#endif
