// The host side of our array-API emulation: what a host (our engine, the
// tests, a command-line caller) needs beyond what a MEX file calls: making and
// destroying arrays of every class, and calling a mexFunction the way the real
// host does (errors caught, call-scoped memory reclaimed).
#ifndef CORVEL_HOST_ARRAY_API_H
#define CORVEL_HOST_ARRAY_API_H

#include <stddef.h>

#include <string>

#include "sdk/mx_array.h"

extern "C" {

typedef enum {
  mxUNKNOWN_CLASS = 0,
  mxCELL_CLASS,
  mxSTRUCT_CLASS,
  mxLOGICAL_CLASS,
  mxCHAR_CLASS,
  mxVOID_CLASS,
  mxDOUBLE_CLASS,
  mxSINGLE_CLASS,
  mxINT8_CLASS,
  mxUINT8_CLASS,
  mxINT16_CLASS,
  mxUINT16_CLASS,
  mxINT32_CLASS,
  mxUINT32_CLASS,
  mxINT64_CLASS,
  mxUINT64_CLASS
} mxClassID;

// Full arrays of zeros (real part, and imaginary part when complex).
CORVEL_MX_API mxArray* mxCreateDoubleMatrix(size_t rows, size_t columns, mxComplexity complexity);
CORVEL_MX_API mxArray* mxCreateNumericMatrix(size_t rows, size_t columns, mxClassID class_id,
                                               mxComplexity complexity);
CORVEL_MX_API mxArray* mxCreateDoubleScalar(double value);
CORVEL_MX_API mxArray* mxCreateLogicalScalar(bool value);
// A 1 x strlen(text) char row (16-bit characters).
CORVEL_MX_API mxArray* mxCreateString(const char* text);
// A sparse double matrix with room for nzmax values (all zero, so all absent).
CORVEL_MX_API mxArray* mxCreateSparse(size_t rows, size_t columns, size_t nzmax, mxComplexity complexity);
CORVEL_MX_API void mxDestroyArray(mxArray* array);
CORVEL_MX_API mxClassID mxGetClassID(const mxArray* array);
CORVEL_MX_API double* mxGetPi(const mxArray* array);
// Sparse arrays only: how many of the stored values count as present.
CORVEL_MX_API void mxSetSparseCount(mxArray* array, size_t count);
CORVEL_MX_API void mxFree(void* memory);

}  // extern "C"

namespace corvel::host {

using MexFunction = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

struct MexCallResult {
  bool ok;            // false when the call raised an error
  std::string error;  // the error's text
};

// Calls f as the host does: an error raised inside (mexErrMsgTxt) ends the
// call and comes back here with its text; mxCalloc memory of the call is
// reclaimed when it returns, and so are arrays it made but did not hand back
// in plhs (on an error, all of them). Nested calls reclaim at the outermost.
CORVEL_MX_API MexCallResult call_mex(MexFunction f, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Raises the error mexErrMsgTxt raises: libmex forwards here, so that the
// error goes back to the innermost call_mex, over the frames between, without
// running anything in them (see mex_call.cpp).
CORVEL_NORETURN CORVEL_MX_API void raise_mex_error(const char* text);

// Blocks mxCalloc handed out and not yet reclaimed, for leak checks.
CORVEL_MX_API size_t live_call_memory_blocks();

}  // namespace corvel::host

#endif
