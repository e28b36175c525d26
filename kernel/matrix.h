// The kernel's one matrix shape: 11 x 11 doubles in column-major order.
#ifndef CORVEL_KERNEL_MATRIX_H
#define CORVEL_KERNEL_MATRIX_H

namespace corvel {

constexpr int kMatrixOrder = 11;
constexpr int kMatrixSize = kMatrixOrder * kMatrixOrder;

// Entry (r, c), counted from 0, is element r + 11 c.
using Matrix = double[kMatrixSize];

constexpr int at(int r, int c) { return r + kMatrixOrder * c; }

}  // namespace corvel

#endif
