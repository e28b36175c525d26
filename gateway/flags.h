// The host's method flags of a dispatch call (nlhs < 0).
#ifndef CORVEL_GATEWAY_FLAGS_H
#define CORVEL_GATEWAY_FLAGS_H

namespace corvel::flags {

enum MethodFlag : int {
  kInitializeSizes = 0,  // the registration and command-line entry
  kInitializeSampleTimes = 101,
  kInitializeConditions = 102,
  kGetTimeOfNextVarHit = 103,
  kOutputs = 104,
  kUpdate = 105,
  kTerminate = 107,
  kZeroCrossings = 108,
  kSetWorkWidths = 111,
  kCheckParameters = 112,
  kSetInputPortDataType = 113,
  kSetOutputPortDataType = 114,
  kSetInputPortWidth = 115,
  kSetOutputPortWidth = 116,
  kSetInputPortComplexSignal = 120,
  kSetOutputPortComplexSignal = 121,
  kSetInputPortSampleTime = 122,
  kSetOutputPortSampleTime = 123,
  kSetInputPortDimensionInfo = 126,
  kSetOutputPortDimensionInfo = 127,
  kSetInputPortFrameData = 128,
  kSetDefaultPortDimensionInfo = 131,
  kSetDefaultPortDataTypes = 132,
  kSetDefaultPortComplexSignals = 133,
  kInitializePropagationPass = 142,
  kGetSimState = 144,
  kSetSimState = 145,
  kSetInputPortSymbolicDimensions = 149,
  kSetOutputPortSymbolicDimensions = 150,
};

}  // namespace corvel::flags

#endif
