// Per-order correction gains of the differentiator: for order n they place all
// n + 1 eigenvalues of the discrete error dynamics at one value F.
#ifndef CORVEL_KERNEL_CORRECTION_H
#define CORVEL_KERNEL_CORRECTION_H

namespace corvel {

constexpr int kMinOrder = 1;
constexpr int kMaxOrder = 10;
constexpr int kStateCount = 11;  // z0..z10

// One row of the gain table: entry j of order n is
//   k_j = ((W_j * P(F)) * h) / divisor,
// P(F) = coefficients[0] F^degree + ... + coefficients[degree].
struct CorrectionRow {
  int degree;
  double coefficients[10];  // highest power first; degree + 1 of them are used
  double divisor;           // + for odd j, - for even j
};

// The row for order n (1..10) and entry j (1..n); nullptr for any other pair.
const CorrectionRow* correction_row(int n, int j);

// Writes the eleven correction entries into k: entries 0..n for the whole part
// of n (conversion toward zero), 0 above n, and eleven zeros when that whole
// part is outside 1..10 (NaN and infinite orders included). Only |e| is used.
void correction_vector(double n, double e, double F, double h, double k[kStateCount]);

// The whole part of an order argument when it lies in 1..10, otherwise 0.
// Defined for every double.
int whole_order(double n);

}  // namespace corvel

#endif
