// IEEE special values of the kernel, its non-finite tests and its power function.
#ifndef CORVEL_KERNEL_NON_FINITE_H
#define CORVEL_KERNEL_NON_FINITE_H

namespace corvel {

// Module-wide special values, one set per loaded module. They hold their values
// from load on (so is_inf and safe_pow are right even before the first
// differentiator_initialize); differentiator_initialize stores them again.
extern double kernel_inf;        // +infinity, 0x7FF0000000000000
extern double kernel_minus_inf;  // -infinity, 0xFFF0000000000000
extern double kernel_nan;        // quiet NaN with the sign bit set, 0xFFF8000000000000
extern float kernel_inf_f;       // 0x7F800000
extern float kernel_minus_inf_f; // 0xFF800000
extern float kernel_nan_f;       // 0xFFC00000

// Stores the six special values again, in the order nan, inf, -inf (each double
// before its float companion).
void store_non_finite_values();

// True exactly for a NaN of either sign and any payload. Inline: every
// power of every step asks.
inline bool is_nan(double x) { return x != x; }

// True for +infinity and -infinity, false for every finite value and NaN.
inline bool is_inf(double x) { return x == kernel_inf || x == kernel_minus_inf; }

}  // namespace corvel

#endif
