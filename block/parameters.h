// The block's three dialog parameters and their check.
#ifndef CORVEL_BLOCK_PARAMETERS_H
#define CORVEL_BLOCK_PARAMETERS_H

#include "sdk/mx_array.h"
#include "sdk/simstruct.h"

namespace corvel {

enum BlockParameter { P1 = 0, P2 = 1, P3 = 2 };  // gain, step size (-1 inherited), order
constexpr int kParameterCount = 3;

// Validates the parameters' values (order, then step size) and then their
// classes (P1, P2, P3: real, full, non-empty, numeric, non-logical double).
// The first failure sets the error status to its message and ends the check;
// success leaves the status alone. With fewer than three parameters given
// there is nothing to check: the host reports the count.
void mdlCheckParameters(SimStruct* S);

// Element 0 of a parameter as a double; NaN when the parameter is missing or
// empty, the converted value for a class other than double.
double parameter_value(SimStruct* S, BlockParameter p);

// The order n of P3 as a whole number (defined for every value of P3).
int order_of(SimStruct* S);

}  // namespace corvel

#endif
