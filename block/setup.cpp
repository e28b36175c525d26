#include "block/setup.h"

#include "block/parameters.h"

namespace corvel {

namespace {

void set_output_widths(SimStruct* S) {
  const int n = order_of(S);
  ssSetOutputPortWidth(S, 0, 1);
  ssSetOutputPortWidth(S, 1, 1);
  ssSetOutputPortWidth(S, 2, n);
}

void set_all_widths(SimStruct* S) {
  ssSetInputPortWidth(S, 0, 1);
  set_output_widths(S);
}

}  // namespace

void mdlInitializeSizes(SimStruct* S) {
  ssSetNumSFcnParams(S, kParameterCount);
  if (ssGetSFcnParamsCount(S) != kParameterCount) return;
  mdlCheckParameters(S);
  if (ssGetErrorStatus(S) != nullptr) return;

  ssSetNumContStates(S, 0);
  ssSetNumDiscStates(S, kDiscreteStates);

  if (!ssSetNumInputPorts(S, 1)) return;
  ssSetInputPortWidth(S, 0, 1);
  ssSetInputPortDataType(S, 0, SS_DOUBLE);
  ssSetInputPortComplexSignal(S, 0, COMPLEX_NO);
  ssSetInputPortDirectFeedThrough(S, 0, 1);
  ssSetInputPortRequiredContiguous(S, 0, 1);

  if (!ssSetNumOutputPorts(S, 3)) return;
  for (int port = 0; port < 2; ++port) {
    ssSetOutputPortWidth(S, port, 1);
    ssSetOutputPortDataType(S, port, SS_DOUBLE);
    ssSetOutputPortComplexSignal(S, port, COMPLEX_NO);
  }
  ssSetOutputPortWidth(S, 2, DYNAMICALLY_SIZED);
  ssSetOutputPortDataType(S, 2, SS_DOUBLE);
  ssSetOutputPortComplexSignal(S, 2, COMPLEX_NO);

  ssSetNumSampleTimes(S, 1);
  ssSetNumRWork(S, 0);
  ssSetNumIWork(S, 0);
  ssSetNumPWork(S, 0);
  ssSetNumModes(S, 0);
  ssSetNumNonsampledZCs(S, 0);
#if SS_LAYOUT_64
  ssSetSimulinkVersionGeneratedIn(S, "8.7");
#endif
  ssSetOptions(S, kBlockOptions);
}

void mdlInitializeSampleTimes(SimStruct* S) {
  const double period = parameter_value(S, P2);
  ssSetModelReferenceSampleTimeInheritanceRule(S, kInheritanceRule);
  ssSetSampleTime(S, 0, period);
}

void mdlSetInputPortWidth(SimStruct* S, int, int) { set_all_widths(S); }

void mdlSetDefaultPortDimensionInfo(SimStruct* S) { set_all_widths(S); }

void mdlSetOutputPortWidth(SimStruct* S, int, int) { set_output_widths(S); }

void mdlSetInputPortDataType(SimStruct* S, int, int type) { ssSetInputPortDataType(S, 0, type); }

void mdlSetOutputPortDataType(SimStruct* S, int, int type) { ssSetOutputPortDataType(S, 0, type); }

void mdlSetDefaultPortDataTypes(SimStruct* S) {
  ssSetInputPortDataType(S, 0, SS_DOUBLE);
  ssSetOutputPortDataType(S, 0, SS_DOUBLE);
}

void mdlSetInputPortFrameData(SimStruct* S, int port, int frame) {
  if (port >= 0 && port < ssGetNumInputPorts(S)) ssSetInputPortFrameData(S, port, frame);
}

void mdlSetWorkWidths(SimStruct* S) {
  static const char* names[kParameterCount] = {"P1", "P2", "P3"};
  ssRegAllTunableParamsAsRunTimeParams(S, names);
}

}  // namespace corvel
