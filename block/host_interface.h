// Every host operation the block and the gateway use, named in one place. The
// block's sources include this header and no other host header, so what the
// block needs of its host can be read off this list.
#ifndef CORVEL_BLOCK_HOST_INTERFACE_H
#define CORVEL_BLOCK_HOST_INTERFACE_H

#include "sdk/mx_array.h"
#include "sdk/simstruct.h"

namespace corvel::host_interface {

// The array API (mx*, mex*).
using ::mexErrMsgTxt;
using ::mxCalloc;
using ::mxCreateDoubleMatrix_700;
using ::mxGetData;
using ::mxGetM;
using ::mxGetN;
using ::mxGetNumberOfElements;
using ::mxGetPr;
using ::mxGetScalar;
using ::mxIsComplex;
using ::mxIsDouble;
using ::mxIsEmpty;
using ::mxIsLogical;
using ::mxIsNumeric;
using ::mxIsSparse;

// Parameters and errors.
using ::ssGetErrorStatus;
using ::ssGetSFcnParam;
using ::ssGetSFcnParamsCount;
using ::ssSetErrorStatus;
using ::ssSetNumSFcnParams;

// Sizes and options.
using ::ssSetNumContStates;
using ::ssSetNumDiscStates;
using ::ssSetNumInputPorts;
using ::ssSetNumIWork;
using ::ssSetNumModes;
using ::ssSetNumNonsampledZCs;
using ::ssSetNumOutputPorts;
using ::ssSetNumPWork;
using ::ssSetNumRWork;
using ::ssSetNumSampleTimes;
using ::ssGetNumInputPorts;
using ::ssSetOptions;
using ::ssGetOptions;

// Ports.
using ::ssGetInputPortSignal;
using ::ssGetOutputPortSignal;
using ::ssGetOutputPortWidth;
using ::ssSetInputPortComplexSignal;
using ::ssSetInputPortDataType;
using ::ssSetInputPortDirectFeedThrough;
using ::ssSetInputPortFrameData;
using ::ssSetInputPortRequiredContiguous;
using ::ssSetInputPortWidth;
using ::ssSetOutputPortComplexSignal;
using ::ssSetOutputPortDataType;
using ::ssSetOutputPortWidth;

// Time and states.
using ::ssGetDiscStates;
using ::ssGetFixedStepSize;
using ::ssGetSampleTime;
using ::ssIsVariableStepSolver;
using ::ssSetModelReferenceSampleTimeInheritanceRule;
using ::ssSetSampleTime;

// The generic-function hook.
using ::ssCallGenericFcn;
using ::ssRegAllTunableParamsAsRunTimeParams;
using ::ssSetSimulinkVersionGeneratedIn;

// Gateway only: method slots, flag-call values, the size block.
using ::ssClearDimensionMethodsFlag;
using ::ssGetCallDims;
using ::ssGetCallIndex;
using ::ssGetCallOffset;
using ::ssGetCallPeriod;
using ::ssGetCallValue;
using ::ssGetDimensionMethodsFlag;
using ::ssGetMethods;
using ::ssGetSizeBlock;

}  // namespace corvel::host_interface

#endif
