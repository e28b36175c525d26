// The differentiator of order n (1..10): one sample's update of the eleven
// states z0..z10, zj estimating the j-th derivative of the input.
#ifndef CORVEL_KERNEL_DIFFERENTIATOR_H
#define CORVEL_KERNEL_DIFFERENTIATOR_H

namespace corvel {

// The kernel's initialisation: stores the special values and marks the shared
// transition matrices stale, so that the next step of each step size rebuilds
// its own. Runs before the first step of every simulation run.
void differentiator_initialize();

// One step. u: input sample; z: the 11 current states (only z0..zn are read);
// L: gain; h: step size; n: order, a whole number 1..10 (other orders give a
// zero correction and never read past z10). Writes e = u - z0 to *e_out and the
// 11 new states to z_next (distinct from z):
//   z_next = Phi (z0..zn, 0..0) + K(F) e,  F = exp(-L |e|^(-1/(n+1)) h),
// Phi the transition matrix of this h, built on the first step with this h
// after differentiator_initialize and kept for the later ones (blocks of
// different sample times in one model each step with their own). Non-finite values propagate as IEEE arithmetic does.
void differentiator_step(double u, const double* z, double L, double h, double n, double* e_out,
                         double* z_next);

}  // namespace corvel

#endif
