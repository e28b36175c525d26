// The MEX file's one export.
#include "sdk/mx_array.h"
#include "sdk/simstruct.h"
#include "gateway/command_line.h"
#include "gateway/dispatch.h"

#if defined(_WIN32)
#define CORVEL_MEX_EXPORT __declspec(dllexport)
#else
#define CORVEL_MEX_EXPORT __attribute__((visibility("default")))
#endif

// nlhs < 0: the simulation host runs one method of a registered block, named
// by the flag in prhs[3]. nlhs >= 0: registration or a command-line call.
extern "C" CORVEL_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nlhs < 0) corvel::dispatch(plhs, nrhs, prhs);
  else corvel::command_line_entry(nlhs, plhs, nrhs, prhs);
}
