#include "block/parameters.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "block/messages.h"
#include "kernel/whole_number.h"

namespace corvel {

namespace {

// The host reads the error text after the callback returns, so the class
// message is formatted into a buffer that outlives it; the next failing class
// test overwrites it.
char class_message[1024];

bool has_parameter_class(const mxArray* p) {
  return mxIsNumeric(p) && !mxIsLogical(p) && !mxIsEmpty(p) && !mxIsSparse(p) && !mxIsComplex(p) && mxIsDouble(p);
}

}  // namespace

double parameter_value(SimStruct* S, BlockParameter p) {
  const mxArray* array = ssGetSFcnParam(S, p);
  if (array == nullptr || mxIsEmpty(array)) return std::numeric_limits<double>::quiet_NaN();
  // Element 0 of a double array's data; any other class is converted rather
  // than its first bytes read as a double.
  if (!mxIsDouble(array)) return mxGetScalar(array);
  return static_cast<const double*>(mxGetData(array))[0];
}

int order_of(SimStruct* S) { return truncate_to_int32(parameter_value(S, P3)); }

void mdlCheckParameters(SimStruct* S) {
  if (ssGetSFcnParamsCount(S) < kParameterCount) return;

  // The value tests see the host's scalar reading of whatever array it passes,
  // before any class test.
  const double n = mxGetScalar(ssGetSFcnParam(S, P3));
  const double h = mxGetScalar(ssGetSFcnParam(S, P2));
  if (n > 10) {
    ssSetErrorStatus(S, messages::kOrderTooLarge);
    return;
  }
  if (!(n > 0 && n / std::ceil(n) == 1)) {
    ssSetErrorStatus(S, messages::kOrderNotPositiveInteger);
    return;
  }
  if (!(h == -1 || h > 0)) {
    ssSetErrorStatus(S, messages::kBadStepSize);
    return;
  }
  for (int k = 0; k < kParameterCount; ++k) {
    if (!has_parameter_class(ssGetSFcnParam(S, k))) {
      std::snprintf(class_message, sizeof class_message, messages::kParameterClassFormat, k + 1);
      ssSetErrorStatus(S, class_message);
      return;
    }
  }
}

}  // namespace corvel
