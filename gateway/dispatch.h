// The flag dispatch: a host call with nlhs < 0 runs one method of a
// registered block.
#ifndef CORVEL_GATEWAY_DISPATCH_H
#define CORVEL_GATEWAY_DISPATCH_H

#include "sdk/mx_array.h"
#include "sdk/simstruct.h"

namespace corvel {

// The task id mdlOutputs receives for a call index: -2 passes through, any
// other index selects task 0.
constexpr int output_task_id(int call_index) { return call_index == -2 ? -2 : 0; }

// Runs the method that `flag` names on S: the block's callback, the slot the
// registration filled, or the host's expected message in the error status.
// Every flag outside the table ends in "Invalid flag encountered in simulink.c".
// Never raises an error through the host: failures go to the error status.
void dispatch_flag(SimStruct* S, int flag);

// The dispatch entry as mexFunction sees it: flag from prhs[3], the SimStruct
// from plhs[1]. A call without four right-hand arguments or a readable flag
// gets the invalid-flag message; one without a SimStruct returns at once.
void dispatch(mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // namespace corvel

#endif
