// The block's run-time callbacks: initial states, outputs from the states and
// one differentiator step per sample.
#ifndef CORVEL_BLOCK_RUNTIME_H
#define CORVEL_BLOCK_RUNTIME_H

#include "sdk/mx_array.h"
#include "sdk/simstruct.h"

namespace corvel {

// Marks the shared transition matrix stale (every block's next step rebuilds
// it) and sets z0 := u, z1..z10 := 0.
void mdlInitializeConditions(SimStruct* S);

// Output 1 := z0; output 2 := z1..zn, never more elements than output 2's
// settled width. Output 0 is not touched. The task id is not consulted.
void mdlOutputs(SimStruct* S, int tid);

// Output 0 := u - z0 and the states advance one differentiator step with the
// gain P1, the order P3 and h = sample time 0 (the fixed step size when that is
// 0; under a variable-step solver the error status reports a continuous sample
// time and the step still runs, with h = 0).
void mdlUpdate(SimStruct* S, int tid);

// Nothing to release: states and the kernel keep their values until the next
// run's initialisation.
void mdlTerminate(SimStruct* S);

// The block has neither: these only answer a host that calls them anyway.
void mdlZeroCrossings(SimStruct* S);
void mdlGetTimeOfNextVarHit(SimStruct* S);

}  // namespace corvel

#endif
