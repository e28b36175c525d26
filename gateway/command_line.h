// The registration and command-line entry: a host call with nlhs >= 0.
#ifndef CORVEL_GATEWAY_COMMAND_LINE_H
#define CORVEL_GATEWAY_COMMAND_LINE_H

#include "sdk/mx_array.h"
#include "sdk/simstruct.h"

namespace corvel {

// The S-function's name, as models and the MEX file know it.
inline constexpr const char* kSFunctionName = "corvel";

// Rows of the registration vector: the SimStruct's address (low then high 32
// bits in the 64-bit layout, one word in the 32-bit one), then the version word.
#if SS_LAYOUT_64
inline constexpr int kRegistrationRows = 3;
#else
inline constexpr int kRegistrationRows = 2;
#endif

// Checks the arguments (raising the host error on a bad call), then either
// registers the block in the host's SimStruct named by the registration vector
// prhs[1] or builds a SimStruct of its own from mxCalloc memory, runs
// mdlInitializeSizes and returns the size block in plhs[0] (SS_SIZE_WORDS
// doubles; words 15..18 and the options word as unsigned).
void command_line_entry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// The SimStruct address a registration vector names: each element truncated
// to a signed 32-bit word (INT32_MIN when it does not fit), low word first.
SimStruct* registration_address(const double* elements);

// Installs the block's callbacks in the method slots.
void install_callbacks(SimStruct* S);

}  // namespace corvel

#endif
