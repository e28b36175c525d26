// The block's declarations and its answers to the host's port propagation.
#ifndef CORVEL_BLOCK_SETUP_H
#define CORVEL_BLOCK_SETUP_H

#include "sdk/mx_array.h"
#include "sdk/simstruct.h"

namespace corvel {

// 0x20080002: exception-free code, the code generator's accelerator support
// and code reuse.
constexpr unsigned kBlockOptions = 0x20080002u;
constexpr int kDiscreteStates = 11;
constexpr int kInheritanceRule = 1;

// Declares 3 parameters; with exactly 3 given and passing the check, the rest:
// 11 discrete states, one input (width 1, double, real, direct feedthrough,
// contiguous), three outputs (1, 1, dynamically sized), one sample time, no
// work vectors, modes or zero crossings, the version text through the host's
// hook (64-bit layout only) and the options word. Anything that fails (count,
// check, a refused port count) ends the declarations where they stand.
void mdlInitializeSizes(SimStruct* S);

// Sample time 0 := P2 (-1 lets the host choose); inheritance rule 1.
void mdlInitializeSampleTimes(SimStruct* S);

// Width set A: input 1, outputs 1, 1 and n. The proposed port and width are ignored.
void mdlSetInputPortWidth(SimStruct* S, int port, int width);
void mdlSetDefaultPortDimensionInfo(SimStruct* S);
// Width set B: outputs 1, 1 and n; the input is left alone.
void mdlSetOutputPortWidth(SimStruct* S, int port, int width);

// The proposed type goes to input 0 / output 0, whatever port is named.
void mdlSetInputPortDataType(SimStruct* S, int port, int type);
void mdlSetOutputPortDataType(SimStruct* S, int port, int type);
// Input 0 and output 0 become double; outputs 1 and 2 are left alone.
void mdlSetDefaultPortDataTypes(SimStruct* S);
// Records the frame setting on the named input port (ignored for a port the
// block does not have).
void mdlSetInputPortFrameData(SimStruct* S, int port, int frame);

// Registers "P1", "P2", "P3" as run-time parameters through the host's hook.
void mdlSetWorkWidths(SimStruct* S);

}  // namespace corvel

#endif
