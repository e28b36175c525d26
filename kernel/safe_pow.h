// The kernel's power function: settles the special cases before the C library's
// pow is reached, so that every build agrees on them.
#ifndef CORVEL_KERNEL_SAFE_POW_H
#define CORVEL_KERNEL_SAFE_POW_H

namespace corvel {

// base raised to exponent. Rules, first match wins: a NaN argument gives NaN;
// an infinite exponent gives NaN for |base| = 1 and otherwise +inf or 0 by
// whether |base| and the exponent grow together; a zero exponent gives 1;
// exponent +-1 gives base or 1.0 / base; 2 gives base * base; 0.5 with
// base >= 0 gives sqrt(base); a negative base with a non-integer exponent gives
// NaN; everything else is the C library's pow.
double safe_pow(double base, double exponent);

}  // namespace corvel

#endif
